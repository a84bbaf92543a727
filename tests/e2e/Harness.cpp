#include "Harness.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <ostream>
#include <utility>

namespace velmo::e2e {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw HarnessError(what);
}

[[noreturn]] void FailWithLastError(const std::string& what, const std::wstring& subject = {}) {
    const DWORD code = GetLastError();
    std::string message = what;
    if (!subject.empty())
        message += " (" + Narrow(subject) + ")";
    message += ": Windows error " + std::to_string(code);
    Fail(message);
}

std::string Millis(Duration d) {
    return std::to_string(d.count()) + " ms";
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    bool visibleOnly;
    std::vector<HWND> found;
};

// A named callback, not a lambda: 32-bit Windows calls it with the stdcall convention.
BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    auto& s = *reinterpret_cast<WindowSearch*>(data);
    if (ProcessOf(window) != s.processId)
        return TRUE;
    if (s.visibleOnly && !IsWindowVisible(window))
        return TRUE;
    if (ClassOf(window) == s.className)
        s.found.push_back(window);
    return TRUE;
}

// Top-level windows of one process with the class name, visible ones only if asked.
std::vector<HWND> TopLevelWindows(DWORD processId, const wchar_t* className, bool visibleOnly) {
    WindowSearch search{processId, className, visibleOnly, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The box that holds the file name in an open-file dialog: the edit control of
// combo box cmb13 (Windows), or that control itself, or edit control edt1.
HWND FileNameBox(HWND dialog) {
    constexpr int kCmb13 = 0x47C;
    constexpr int kEdt1 = 0x480;
    if (HWND box = GetDlgItem(dialog, kCmb13)) {
        if (ClassOf(box) == L"Edit")
            return box;
        if (HWND edit = FindWindowExW(box, nullptr, L"Edit", nullptr))
            return edit;
        if (HWND combo = FindWindowExW(box, nullptr, L"ComboBox", nullptr))
            if (HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr))
                return edit;
    }
    return GetDlgItem(dialog, kEdt1);
}

constexpr int kMessageBoxTextId = 0xFFFF;

bool IsMessageBox(HWND dialog) {
    return GetDlgItem(dialog, kMessageBoxTextId) != nullptr;
}
bool IsFileDialog(HWND dialog) {
    return !IsMessageBox(dialog) && FileNameBox(dialog) != nullptr;
}

std::wstring LowerCase(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring FromBuildPath(const char* path) {
    return WindowsPath(path);
}

} // namespace

std::wstring TextOf(HWND window) {
    // WM_GETTEXT through a timeout, so a hung window cannot hang the test.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &got);
    text.resize(got);
    return text;
}

// ---- text and paths

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(std::wstring_view text) {
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring WindowsPath(std::string_view path) {
    std::wstring out = Widen(path);
    std::replace(out.begin(), out.end(), L'/', L'\\');
    if (!path.empty() && path.front() == '/')
        out = L"Z:" + out;
    return out;
}

std::wstring LauncherExe() {
    return FromBuildPath(VELMO_STARTER_EXE);
}
std::wstring StandinExe() {
    return FromBuildPath(VELMO_STANDIN_EXE);
}
std::wstring PlantedDll() {
    return FromBuildPath(VELMO_PLANTED_DLL);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return LowerCase(a) == LowerCase(b);
}

ScopedEnvironment::ScopedEnvironment(std::wstring name, std::optional<std::wstring> value)
    : name_(std::move(name)) {
    const DWORD n = GetEnvironmentVariableW(name_.c_str(), nullptr, 0);
    if (n > 0) {
        std::wstring old(n, L'\0');
        old.resize(GetEnvironmentVariableW(name_.c_str(), old.data(), n));
        previous_ = std::move(old);
    }
    SetEnvironmentVariableW(name_.c_str(), value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

// ---- registry

namespace {

REGSAM ViewFlag(RegView view) {
    return view == RegView::Wow32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

bool KeyExists(HKEY root, const std::wstring& subKey, RegView view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_READ | ViewFlag(view), &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::optional<std::wstring> ReadSz(HKEY root, const std::wstring& subKey, const std::wstring& name,
                                   RegView view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(view), &key) !=
        ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    std::optional<std::wstring> result;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS) {
            text.resize(size / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
            result = std::move(text);
        }
    }
    RegCloseKey(key);
    return result;
}

void WriteSz(HKEY root, const std::wstring& subKey, const std::wstring& name, RegView view,
             const std::wstring& text) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE | ViewFlag(view), nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        Fail("RegCreateKeyExW " + Narrow(subKey) + ": error " + std::to_string(status));
    status =
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        Fail("RegSetValueExW " + Narrow(subKey) + ": error " + std::to_string(status));
}

void DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name, RegView view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_SET_VALUE | ViewFlag(view), &key) !=
        ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

} // namespace

ScopedRegValue::ScopedRegValue(HKEY root, std::wstring subKey, std::wstring valueName, RegView view,
                               std::optional<std::wstring> text)
    : root_(root), subKey_(std::move(subKey)), valueName_(std::move(valueName)), view_(view) {
    previous_ = ReadSz(root_, subKey_, valueName_, view_);
    if (!text) {
        DeleteValue(root_, subKey_, valueName_, view_);
        return;
    }
    // Remember which keys on the way are new, to delete them again at the end.
    for (std::size_t pos = subKey_.find(L'\\');; pos = subKey_.find(L'\\', pos + 1)) {
        const std::wstring prefix = subKey_.substr(0, pos);
        if (!KeyExists(root_, prefix, view_))
            createdKeys_.push_back(prefix);
        if (pos == std::wstring::npos)
            break;
    }
    WriteSz(root_, subKey_, valueName_, view_, *text);
}

ScopedRegValue::ScopedRegValue(ScopedRegValue&& other) noexcept
    : root_(other.root_), subKey_(std::move(other.subKey_)),
      valueName_(std::move(other.valueName_)), view_(other.view_),
      active_(std::exchange(other.active_, false)), previous_(std::move(other.previous_)),
      createdKeys_(std::move(other.createdKeys_)) {}

ScopedRegValue::~ScopedRegValue() {
    if (!active_)
        return;
    try {
        if (previous_)
            WriteSz(root_, subKey_, valueName_, view_, *previous_);
        else
            DeleteValue(root_, subKey_, valueName_, view_);
        for (auto it = createdKeys_.rbegin(); it != createdKeys_.rend(); ++it)
            RegDeleteKeyExW(root_, it->c_str(), ViewFlag(view_), 0);
    } catch (const HarnessError&) {
        // Restoring is best effort; the next test sets what it needs itself.
    }
}

LauncherRegistry::LauncherRegistry(std::optional<std::wstring> gamePath,
                                   std::optional<std::wstring> notepadDir, RegView notepadView) {
    // Clear first: where there is only one view, setting must come last.
    values_.reserve(4);
    const RegView otherView = notepadView == RegView::Wow32 ? RegView::Wow64 : RegView::Wow32;
    values_.emplace_back(HKEY_LOCAL_MACHINE, kGameKey, kGameValue, RegView::Wow64, std::nullopt);
    values_.emplace_back(HKEY_LOCAL_MACHINE, kNotepadKey, L"", otherView, std::nullopt);
    values_.emplace_back(HKEY_LOCAL_MACHINE, kGameKey, kGameValue, RegView::Wow32,
                         std::move(gamePath));
    values_.emplace_back(HKEY_LOCAL_MACHINE, kNotepadKey, L"", notepadView, std::move(notepadDir));
}

LauncherRegistry::~LauncherRegistry() {
    while (!values_.empty())
        values_.pop_back(); // restore in reverse order
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

WineNativeFirst::WineNativeFirst(const std::wstring& programName, const std::wstring& dllName) {
    if (!RunningUnderWine())
        return;
    const std::wstring stem = dllName.substr(0, dllName.find(L'.'));
    value_.emplace(HKEY_CURRENT_USER,
                   L"Software\\Wine\\AppDefaults\\" + programName + L"\\DllOverrides", stem,
                   RegView::Wow64, L"native,builtin");
}

// ---- fake installations

const char* ToString(Edition edition) {
    return edition == Edition::Eisenmark ? "Eisenmark" : "Sturmtal";
}

const char* ToString(Library library) {
    switch (library) {
    case Library::None:
        return "none";
    case Library::On:
        return "LuaDebugger.dll";
    case Library::Off:
        return "LuaDebugger.dll.off";
    case Library::Both:
        return "both names";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, Edition edition) {
    return out << ToString(edition);
}
std::ostream& operator<<(std::ostream& out, Library library) {
    return out << ToString(library);
}

GameInstall::GameInstall(std::wstring gamePath, Library eisenmark, Library sturmtal)
    : gamePath_(std::move(gamePath)) {
    for (Edition edition : {Edition::Eisenmark, Edition::Sturmtal}) {
        CopyFileTo(StandinExe(), Game(edition));
        CopyFileTo(StandinExe(), MapEditor(edition));
        SetLibrary(edition, edition == Edition::Eisenmark ? eisenmark : sturmtal);
    }
}

std::wstring GameInstall::EditionDir(Edition edition) const {
    return gamePath_ + (edition == Edition::Eisenmark ? L"\\extra1\\bin" : L"\\extra2\\bin");
}
std::wstring GameInstall::Game(Edition edition) const {
    return EditionDir(edition) + L"\\Velmoria.exe";
}
std::wstring GameInstall::MapEditor(Edition edition) const {
    return EditionDir(edition) + L"\\VelmoriaMapEditor.exe";
}
std::wstring GameInstall::LibraryOn(Edition edition) const {
    return EditionDir(edition) + L"\\LuaDebugger.dll";
}
std::wstring GameInstall::LibraryOff(Edition edition) const {
    return EditionDir(edition) + L"\\LuaDebugger.dll.off";
}

Library GameInstall::LibraryState(Edition edition) const {
    const bool on = FileExists(LibraryOn(edition));
    const bool off = FileExists(LibraryOff(edition));
    return on && off ? Library::Both : on ? Library::On : off ? Library::Off : Library::None;
}

void GameInstall::SetLibrary(Edition edition, Library state) const {
    RemoveFile(LibraryOn(edition));
    RemoveFile(LibraryOff(edition));
    if (state == Library::On || state == Library::Both)
        WriteFileBytes(LibraryOn(edition), LibraryContent(edition, Library::On));
    if (state == Library::Off || state == Library::Both)
        WriteFileBytes(LibraryOff(edition), LibraryContent(edition, Library::Off));
}

std::string GameInstall::LibraryContent(Edition edition, Library name) {
    return std::string("debugger library of ") + ToString(edition) + ", created as " +
           ToString(name) + "\r\n";
}

std::wstring MakeNotepadInstall(const std::wstring& dir) {
    const std::wstring program = dir + L"\\Notepad++.exe";
    CopyFileTo(StandinExe(), program);
    return program;
}

// ---- what the stand-ins report

namespace {
// Where the program's name ends on a command line, by the rules Windows uses for argv[0].
std::size_t ProgramTokenEnd(const std::wstring& line) {
    if (!line.empty() && line[0] == L'"') {
        const auto close = line.find(L'"', 1);
        return close == std::wstring::npos ? line.size() : close + 1;
    }
    std::size_t i = 0;
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t')
        ++i;
    return i;
}
} // namespace

std::wstring StandinStart::Arguments() const {
    std::size_t i = ProgramTokenEnd(commandLine);
    while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t'))
        ++i;
    return commandLine.substr(i);
}

std::wstring StandinStart::ProgramToken() const {
    std::wstring token = commandLine.substr(0, ProgramTokenEnd(commandLine));
    if (token.size() >= 2 && token.front() == L'"' && token.back() == L'"')
        token = token.substr(1, token.size() - 2);
    return token;
}

std::ostream& operator<<(std::ostream& out, const StandinStart& start) {
    return out << "{program " << Narrow(start.program) << ", command line ["
               << Narrow(start.commandLine) << "], directory " << Narrow(start.directory)
               << ", show state " << start.showState << ", process " << start.processId << "}";
}

StandinLog::StandinLog(std::wstring path)
    : path_(std::move(path)), variable_(L"VELMO_STANDIN_LOG", path_) {
    RemoveFile(path_);
}

std::vector<StandinStart> StandinLog::Read() const {
    std::vector<StandinStart> starts;
    if (!FileExists(path_))
        return starts;
    const std::string bytes = ReadFileBytes(path_);
    std::size_t lineStart = 0;
    // Only complete lines: a stand-in may be writing the next one right now.
    for (std::size_t end; (end = bytes.find('\n', lineStart)) != std::string::npos;
         lineStart = end + 1) {
        std::string line = bytes.substr(lineStart, end - lineStart);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        for (std::size_t pos = 0;;) {
            const auto tab = line.find('\t', pos);
            fields.push_back(line.substr(pos, tab - pos));
            if (tab == std::string::npos)
                break;
            pos = tab + 1;
        }
        if (fields.size() < 5)
            Fail("stand-in log line with too few fields: " + line);
        StandinStart start;
        start.program = Widen(fields[0]);
        start.commandLine = Widen(fields[1]);
        start.directory = Widen(fields[2]);
        start.showState = std::stoi(fields[3]);
        start.processId = static_cast<DWORD>(std::stoul(fields[4]));
        starts.push_back(std::move(start));
    }
    return starts;
}

std::vector<StandinStart> StandinLog::WaitForCount(std::size_t count, Duration limit) const {
    std::vector<StandinStart> starts;
    if (WaitUntil([&] { return (starts = Read()).size() >= count; }, limit))
        return starts;
    Fail("waited " + Millis(limit) + " for " + std::to_string(count) + " stand-in start(s), but " +
         std::to_string(starts.size()) + " were logged in " + Narrow(path_));
}

void StandinLog::Clear() const {
    RemoveFile(path_);
}

DWORD RunToEnd(const std::wstring& application, std::wstring commandLine,
               const std::wstring& directory, std::optional<WORD> showState, Duration limit) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (showState) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = *showState;
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(),
                        nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        FailWithLastError("CreateProcessW", commandLine);
    CloseHandle(info.hThread);
    const DWORD waited = WaitForSingleObject(info.hProcess, static_cast<DWORD>(limit.count()));
    if (waited != WAIT_OBJECT_0)
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    if (waited != WAIT_OBJECT_0)
        Fail("[" + Narrow(commandLine) + "] still ran after " + Millis(limit));
    return info.dwProcessId;
}

void TerminateProcesses(const std::vector<DWORD>& processIds) {
    for (DWORD id : processIds) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process)
            continue;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

bool IsProcessRunning(DWORD processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

// ---- pictures

Pixels CaptureClient(HWND window) {
    RECT client;
    if (!GetClientRect(window, &client))
        FailWithLastError("GetClientRect");
    if (client.right <= 0 || client.bottom <= 0)
        Fail("the window has an empty client area");
    MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    return CaptureScreen(client);
}

Pixels CaptureScreen(const RECT& area) {
    const POINT origin{area.left, area.top};
    Pixels pixels;
    pixels.width = area.right - area.left;
    pixels.height = area.bottom - area.top;
    if (pixels.width <= 0 || pixels.height <= 0)
        Fail("an empty part of the screen");

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = pixels.width;
    info.bmiHeader.biHeight = -pixels.height; // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // From the screen, so the picture is what the user sees, however the window paints.
    const BOOL copied =
        BitBlt(memory, 0, 0, pixels.width, pixels.height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    if (copied) {
        const auto* source = static_cast<const std::uint32_t*>(bits);
        pixels.data.assign(source, source + static_cast<std::size_t>(pixels.width) * pixels.height);
        for (auto& p : pixels.data)
            p &= 0x00FFFFFF;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied)
        FailWithLastError("BitBlt from the screen");
    return pixels;
}

void SaveBmp(const Pixels& pixels, const std::wstring& path) {
    const int rowBytes = (pixels.width * 3 + 3) & ~3;
    const DWORD imageBytes = static_cast<DWORD>(rowBytes) * pixels.height;
    BITMAPFILEHEADER fileHeader{};
    BITMAPINFOHEADER infoHeader{};
    fileHeader.bfType = 0x4D42; // "BM"
    fileHeader.bfOffBits = sizeof fileHeader + sizeof infoHeader;
    fileHeader.bfSize = fileHeader.bfOffBits + imageBytes;
    infoHeader.biSize = sizeof infoHeader;
    infoHeader.biWidth = pixels.width;
    infoHeader.biHeight = pixels.height; // rows from the bottom
    infoHeader.biPlanes = 1;
    infoHeader.biBitCount = 24;
    infoHeader.biCompression = BI_RGB;
    infoHeader.biSizeImage = imageBytes;

    std::string bytes(reinterpret_cast<const char*>(&fileHeader), sizeof fileHeader);
    bytes.append(reinterpret_cast<const char*>(&infoHeader), sizeof infoHeader);
    std::string row(static_cast<std::size_t>(rowBytes), '\0');
    for (int y = pixels.height - 1; y >= 0; --y) {
        for (int x = 0; x < pixels.width; ++x) {
            const std::uint32_t p = pixels.At(x, y);
            row[x * 3 + 0] = static_cast<char>(p & 0xFF);
            row[x * 3 + 1] = static_cast<char>((p >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<char>((p >> 16) & 0xFF);
        }
        bytes += row;
    }
    WriteFileBytes(path, bytes);
}

// ---- the launcher

Launcher::Launcher(std::wstring exe, std::wstring workingDir, bool managedWindows)
    : exe_(std::move(exe)), workingDir_(std::move(workingDir)), managedWindows_(managedWindows) {}

Launcher::~Launcher() {
    if (process_) {
        Terminate();
        CloseHandle(process_);
    }
}

void Launcher::Start() {
    if (process_)
        Fail("the launcher was started already");
    if (!FileExists(exe_))
        Fail("the launcher is missing: " + Narrow(exe_));
    if (!managedWindows_ && RunningUnderWine())
        unmanaged_.emplace(HKEY_CURRENT_USER,
                           L"Software\\Wine\\AppDefaults\\" + FileNameOf(exe_) + L"\\X11 Driver",
                           L"Managed", RegView::Wow64, L"N");
    std::wstring commandLine = L"\"" + exe_ + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDir_.empty() ? nullptr : workingDir_.c_str(), &startup, &info))
        FailWithLastError("CreateProcessW", exe_);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    threadId_ = info.dwThreadId;
}

HWND Launcher::StartAndWaitForWindow(Duration limit) {
    Start();
    return WaitForMainWindow(limit);
}

HWND Launcher::WaitForMainWindow(Duration limit) {
    if (!process_)
        Fail("the launcher was not started");
    HWND found = nullptr;
    bool ended = false;
    WaitUntil(
        [&] {
            const auto windows = TopLevelWindows(processId_, L"VelmoStarter", true);
            if (!windows.empty())
                found = windows.front();
            ended = WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
            return found || ended;
        },
        limit);
    if (found) {
        main_ = found;
        threadId_ = GetWindowThreadProcessId(found, nullptr);
        return found;
    }
    std::string why = "the launcher's main window did not appear within " + Millis(limit);
    if (ended) {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        why += "; the launcher ended with exit code " + std::to_string(code);
    }
    for (HWND box : Dialogs())
        if (IsMessageBox(box)) {
            const MessageBoxInfo info = ReadMessageBox(box);
            why += "; it shows a message box \"" + Narrow(info.title) + "\": " + Narrow(info.text);
        }
    Fail(why);
}

HWND Launcher::MainWindow() const {
    if (!main_)
        Fail("the launcher's main window is not known yet (WaitForMainWindow)");
    return main_;
}

HWND Launcher::FindControl(ControlId id) const {
    return GetDlgItem(MainWindow(), ChildIdOf(id));
}

HWND Launcher::Control(ControlId id) const {
    HWND control = FindControl(id);
    if (!control)
        Fail("the launcher's window has no child window for control " +
             std::string(ControlOf(id).name) + " (ID " + std::to_string(ChildIdOf(id)) + ")");
    return control;
}

int Launcher::Dpi() const {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi)
        if (const UINT dpi = getDpi(MainWindow()))
            return static_cast<int>(dpi);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

RECT Launcher::ControlRect(ControlId id) const {
    const velmo::Control& c = ControlOf(id);
    const int dpi = Dpi();
    RECT r;
    r.left = TwipsToPixels(c.left, dpi);
    r.top = TwipsToPixels(c.top, dpi);
    r.right = TwipsToPixels(c.left + c.width, dpi);
    r.bottom = TwipsToPixels(c.top + c.height, dpi);
    return r;
}

void Launcher::ClickImage(ControlId id) {
    const RECT r = ControlRect(id);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    HWND main = MainWindow();
    if (!PostMessageW(main, WM_MOUSEMOVE, 0, at) ||
        !PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, at) ||
        !PostMessageW(main, WM_LBUTTONUP, 0, at))
        FailWithLastError("PostMessageW (click on " + std::string(ControlOf(id).name) + ")");
}

void Launcher::ClickButton(ControlId id) {
    if (!PostMessageW(Control(id), BM_CLICK, 0, 0))
        FailWithLastError("PostMessageW BM_CLICK (" + std::string(ControlOf(id).name) + ")");
}

int Launcher::CheckState(ControlId id) const {
    DWORD_PTR state = 0;
    if (!SendMessageTimeoutW(Control(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state))
        FailWithLastError("BM_GETCHECK (" + std::string(ControlOf(id).name) + ")");
    return static_cast<int>(state);
}

HWND Launcher::FocusedWindow() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(MainWindow(), nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

void Launcher::PressKey(WORD virtualKey) {
    HWND target = nullptr;
    if (!WaitUntil([&] { return (target = FocusedWindow()) != nullptr; }, 2s))
        Fail("no window of the launcher has the keyboard focus");
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = down | (1L << 30) | (1UL << 31);
    // The launcher's message loop translates the key into its character itself.
    if (!PostMessageW(target, WM_KEYDOWN, virtualKey, down) ||
        !PostMessageW(target, WM_KEYUP, virtualKey, up))
        FailWithLastError("PostMessageW (key " + std::to_string(virtualKey) + ")");
}

std::vector<HWND> Launcher::Dialogs() const {
    return TopLevelWindows(processId_, L"#32770", true);
}

std::vector<HWND> Launcher::AllDialogs() const {
    return TopLevelWindows(processId_, L"#32770", false);
}

HWND Launcher::WaitForMessageBox(Duration limit) const {
    HWND found = nullptr;
    if (WaitUntil(
            [&] {
                for (HWND box : Dialogs())
                    if (IsMessageBox(box))
                        found = box;
                return found != nullptr;
            },
            limit))
        return found;
    Fail("no message box of the launcher appeared within " + Millis(limit) +
         (IsRunning() ? "" : " (the launcher has ended)"));
}

MessageBoxInfo Launcher::ReadMessageBox(HWND box) {
    return {TextOf(box), TextOf(GetDlgItem(box, kMessageBoxTextId))};
}

void Launcher::PressDialogButton(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    if (!button)
        Fail("the dialog has no button with ID " + std::to_string(buttonId));
    if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                      reinterpret_cast<LPARAM>(button)))
        FailWithLastError("PostMessageW WM_COMMAND to the dialog");
}

HWND Launcher::WaitForFileDialog(Duration limit) const {
    HWND found = nullptr;
    if (WaitUntil(
            [&] {
                for (HWND dialog : Dialogs())
                    if (IsFileDialog(dialog))
                        found = dialog;
                return found != nullptr;
            },
            limit))
        return found;
    Fail("no open-file dialog of the launcher appeared within " + Millis(limit) +
         (IsRunning() ? "" : " (the launcher has ended)"));
}

void Launcher::ChooseFile(HWND dialog, const std::wstring& path) {
    HWND box = FileNameBox(dialog);
    if (!box)
        Fail("the open-file dialog has no file name box");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                             SMTO_ABORTIFHUNG, 5000, &result))
        FailWithLastError("WM_SETTEXT into the file name box");
    PressDialogButton(dialog, IDOK);
}

void Launcher::CancelDialog(HWND dialog) {
    PressDialogButton(dialog, IDCANCEL);
}

void Launcher::WaitForNoDialog(Duration limit) const {
    if (!WaitUntil([&] { return Dialogs().empty(); }, limit))
        Fail("a dialog of the launcher is still open after " + Millis(limit));
}

Pixels Launcher::CaptureClient() const {
    return e2e::CaptureClient(MainWindow());
}

bool Launcher::IsRunning() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD Launcher::WaitForExit(Duration limit) {
    if (!process_)
        Fail("the launcher was not started");
    if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
        Fail("the launcher still runs after " + Millis(limit));
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
}

void Launcher::Terminate() {
    if (!IsRunning())
        return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
}

// ---- the system's DPI

namespace {
constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
constexpr wchar_t kLogPixels[] = L"LogPixels";
} // namespace

SystemDpi::SystemDpi(int dpi) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kDesktopKey, 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr) != ERROR_SUCCESS)
        throw HarnessError("cannot open HKCU\\Control Panel\\Desktop");
    DWORD size = sizeof previous_, type = 0;
    hadValue_ = RegQueryValueExW(key_, kLogPixels, nullptr, &type,
                                 reinterpret_cast<BYTE*>(&previous_), &size) == ERROR_SUCCESS &&
                type == REG_DWORD;
    Set(static_cast<DWORD>(dpi));
}

SystemDpi::~SystemDpi() {
    if (hadValue_)
        Set(previous_);
    else
        RegDeleteValueW(key_, kLogPixels);
    RegCloseKey(key_);
}

void SystemDpi::Set(DWORD dpi) {
    RegSetValueExW(key_, kLogPixels, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    // Wine's desktop takes the setting again when told that it changed.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"WindowMetrics"), SMTO_ABORTIFHUNG, 3000,
                        &ignored);
}

SIZE IdealSize(const Launcher& launcher, HWND button) {
    HANDLE process = launcher.Process();
    void* remote =
        VirtualAllocEx(process, nullptr, sizeof(SIZE), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote)
        throw HarnessError("VirtualAllocEx: Windows error " + std::to_string(GetLastError()));
    SIZE size{};
    DWORD_PTR answered = 0;
    const bool asked =
        WriteProcessMemory(process, remote, &size, sizeof size, nullptr) &&
        SendMessageTimeoutW(button, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(remote),
                            SMTO_ABORTIFHUNG, 5000, &answered) &&
        ReadProcessMemory(process, remote, &size, sizeof size, nullptr);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    if (!asked || !answered)
        throw HarnessError("BCM_GETIDEALSIZE was not answered");
    return size;
}

} // namespace velmo::e2e
