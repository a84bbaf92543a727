// Stands in for the programs the launcher starts: the game, the map editor and
// Notepad++. The end-to-end tests and the demo installation copy this one file
// under each of those names.
//
// On start it appends one line to the file named by VELMO_STANDIN_LOG (if set),
// tab-separated and UTF-8:
//   module path, full command line, current directory, show state, process id
// where the show state is STARTUPINFO's wShowWindow when STARTF_USESHOWWINDOW is
// set and -1 otherwise.
//
// With VELMO_STANDIN_LOAD set it first loads the library of that name with the
// default search order, as a program would that does not restrict it (the
// security test's control case).
//
// Then, with VELMO_STANDIN_STAY set it stays running until it is killed; with only
// VELMO_STANDIN_LOG set it ends at once; with neither (the demo) it shows a window
// saying in German how it was started, in the show state it was asked for.
#include "platform/WinApi.h"

#include <string>

namespace {

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring CurrentDirectory() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(n, L'\0');
    dir.resize(GetCurrentDirectoryW(n, dir.data()));
    return dir;
}

std::wstring Environment(const wchar_t* name) {
    const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0)
        return {};
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), n));
    return value;
}

bool HasEnvironment(const wchar_t* name) {
    SetLastError(ERROR_SUCCESS);
    return GetEnvironmentVariableW(name, nullptr, 0) != 0 ||
           GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

int RequestedShowState() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// Appends the line in one write. Several stand-ins may start at once, so the file
// is shared and a sharing violation is retried for a while.
void AppendLine(const std::wstring& logPath, const std::string& line) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
            return;
        Sleep(10);
    }
}

// The command line without the program's own name (quoted or not) and the blanks after it.
std::wstring ArgumentsOf(const std::wstring& commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        i = commandLine.find(L'"', 1);
        i = i == std::wstring::npos ? commandLine.size() : i + 1;
    } else {
        while (i < commandLine.size() && commandLine[i] != L' ' && commandLine[i] != L'\t')
            ++i;
    }
    while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t'))
        ++i;
    return commandLine.substr(i);
}

std::wstring ShowStateText(int state) {
    switch (state) {
    case -1:
        return L"keiner angegeben";
    case SW_HIDE:
        return L"0 (versteckt)";
    case SW_SHOWNORMAL:
        return L"1 (normal)";
    case SW_SHOWMINIMIZED:
        return L"2 (minimiert)";
    case SW_SHOWMAXIMIZED:
        return L"3 (maximiert)";
    default:
        return std::to_wstring(state);
    }
}

std::wstring g_report; // what the demo window shows

LRESULT CALLBACK DemoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        InflateRect(&area, -16, -16);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, g_report.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

int ShowDemoWindow(HINSTANCE instance, int showCommand, const std::wstring& program,
                   const std::wstring& commandLine, const std::wstring& directory, int showState) {
    const std::wstring arguments = ArgumentsOf(commandLine);
    g_report = L"Dieses Programm steht in der Demo-Installation f\u00fcr das echte Programm.\n\n"
               L"Programm:\n    " +
               program +
               L"\n\n"
               L"Argumente:\n    " +
               (arguments.empty() ? L"(keine)" : arguments) +
               L"\n\n"
               L"Arbeitsverzeichnis:\n    " +
               directory +
               L"\n\n"
               L"Fensterstil:\n    " +
               ShowStateText(showState);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DemoProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"VelmoStandin";
    RegisterClassW(&windowClass);

    const std::wstring name = program.substr(program.find_last_of(L"\\/") + 1);
    const std::wstring title = name + L" (Demo)";
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 560, 320, nullptr, nullptr,
                                  instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const std::wstring program = ModulePath();
    const std::wstring commandLine = GetCommandLineW();
    const std::wstring directory = CurrentDirectory();
    const int showState = RequestedShowState();

    if (const std::wstring library = Environment(L"VELMO_STANDIN_LOAD"); !library.empty())
        LoadLibraryW(library.c_str());

    const std::wstring logPath = Environment(L"VELMO_STANDIN_LOG");
    if (!logPath.empty()) {
        AppendLine(logPath, Utf8(program) + '\t' + Utf8(commandLine) + '\t' + Utf8(directory) +
                                '\t' + std::to_string(showState) + '\t' +
                                std::to_string(GetCurrentProcessId()) + "\r\n");
    }

    if (HasEnvironment(L"VELMO_STANDIN_STAY")) {
        Sleep(INFINITE);
        return 0;
    }
    if (!logPath.empty())
        return 0;
    return ShowDemoWindow(instance, showCommand, program, commandLine, directory, showState);
}
