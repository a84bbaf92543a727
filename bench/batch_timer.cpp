// A map folder converted from the launcher's window against the Windows
// companion and the durable copy on the same folder, taking turns in one run
// under Wine.
//
//   batch_timer RUNS LAUNCHER COMPANION ANCHOR SOURCE WORK DRAG-SOURCE
//
// Each timed run gets its own fresh copy of SOURCE below WORK. The companion
// runs as `velmo-umlaute fuer-velmo -q COPY` until it ends; the anchor
// (bench/durable_copy.cpp) as `durable_copy COPY`. The launcher is
// started, its window waited for, and then the copy is dropped onto "Umlaute
// für Velmo umwandeln" by DRAG-SOURCE (tests/e2e/xdnd_drop.py, an XDND source
// on the X screen, as a file manager drops): the time runs from starting the
// drag source until the summary box appears, so the drag itself is counted
// against the window. Both make backups; a guard-word question is answered
// "Nein", as the companion skips those scripts. Prints one line per run:
// "run=N window=SECONDS companion=SECONDS copy=SECONDS".
#include "app/Controls.h"
#include "platform/WinApi.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

double Seconds() {
    static const double ticksPerSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return static_cast<double>(ticks.QuadPart) / ticksPerSecond;
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "batch_timer: %s (error %lu)\n", what.c_str(), GetLastError());
    std::exit(1);
}

std::string Narrow(const std::wstring& wide) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr, nullptr);
    return text;
}

void CopyTree(const std::wstring& from, const std::wstring& to) {
    if (!CreateDirectoryW(to.c_str(), nullptr))
        Fail("cannot make " + Narrow(to));
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        Fail("cannot list " + Narrow(from));
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CopyTree(from + L"\\" + name, to + L"\\" + name);
        else if (!CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE))
            Fail("cannot copy " + Narrow(name));
    } while (FindNextFileW(search, &data));
    FindClose(search);
}

PROCESS_INFORMATION Start(const std::wstring& program, std::wstring commandLine,
                          const std::wstring& directory) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        Fail("cannot start " + Narrow(program));
    CloseHandle(info.hThread);
    return info;
}

struct Search {
    DWORD process;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<Search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process == search.process && IsWindowVisible(window) &&
        std::wstring(name) == search.className) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

HWND VisibleWindow(DWORD process, const wchar_t* className) {
    Search search{process, className, nullptr};
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(path.c_str()) : nullptr;
    if (!unix)
        Fail("no Unix path (not under Wine?)");
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

double TimeCompanion(const std::wstring& companion, const std::wstring& folder) {
    const double began = Seconds();
    PROCESS_INFORMATION run =
        Start(companion, L"\"" + companion + L"\" fuer-velmo -q \"" + folder + L"\"", {});
    WaitForSingleObject(run.hProcess, INFINITE);
    const double took = Seconds() - began;
    CloseHandle(run.hProcess);
    return took;
}

// The copy's bytes written out before the clock starts (`sync`, under Wine),
// so that none of the three waits for the disk on the copy's behalf.
void SyncEverything() {
    PROCESS_INFORMATION run = Start(L"Z:\\bin\\sync", L"sync", {});
    WaitForSingleObject(run.hProcess, INFINITE);
    CloseHandle(run.hProcess);
}

double TimeAnchor(const std::wstring& anchor, const std::wstring& folder) {
    const double began = Seconds();
    PROCESS_INFORMATION run = Start(anchor, L"\"" + anchor + L"\" \"" + folder + L"\"", {});
    WaitForSingleObject(run.hProcess, INFINITE);
    const double took = Seconds() - began;
    DWORD status = 1;
    GetExitCodeProcess(run.hProcess, &status);
    CloseHandle(run.hProcess);
    if (status != 0)
        Fail("the durable copy failed");
    return took;
}

double TimeWindow(const std::wstring& launcher, const std::wstring& folder,
                  const std::wstring& work, const std::wstring& dragSource) {
    PROCESS_INFORMATION run = Start(launcher, L"\"" + launcher + L"\"", work);
    HWND main = nullptr;
    for (int i = 0; i < 400 && !(main = VisibleWindow(run.dwProcessId, L"VelmoStarter")); ++i)
        Sleep(25);
    if (!main)
        Fail("the launcher's window did not appear");
    Sleep(500); // settled and painted
    RECT button;
    GetWindowRect(GetDlgItem(main, velmo::ChildIdOf(velmo::UmlauteWeg)), &button);

    const std::wstring request = work + L"\\drop-request.txt";
    DeleteFileW((request + L".answer").c_str());
    const std::string text = std::to_string((button.left + button.right) / 2) + " " +
                             std::to_string((button.top + button.bottom) / 2) + "\n" +
                             UnixPath(folder) + "\n";
    HANDLE file = CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);

    const double began = Seconds();
    // The work folder's path is ASCII: its Unix form is widened byte by byte.
    const std::string requestUnix = UnixPath(request);
    PROCESS_INFORMATION drag =
        Start(L"Z:\\usr\\bin\\python3",
              L"python3 \"" + dragSource + L"\" \"" +
                  std::wstring(requestUnix.begin(), requestUnix.end()) + L"\"",
              {});
    CloseHandle(drag.hProcess);
    double took = -1;
    for (;;) {
        if (HWND box = VisibleWindow(run.dwProcessId, L"#32770")) {
            wchar_t title[64] = {};
            GetWindowTextW(box, title, 64);
            if (std::wstring(title) == L"Achtung") {
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, IDNO)));
                Sleep(50);
                continue;
            }
            took = Seconds() - began;
            break;
        }
        if (WaitForSingleObject(run.hProcess, 5) == WAIT_OBJECT_0)
            Fail("the launcher ended during the batch");
    }
    TerminateProcess(run.hProcess, 0);
    WaitForSingleObject(run.hProcess, INFINITE);
    CloseHandle(run.hProcess);
    return took;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: batch_timer RUNS LAUNCHER COMPANION ANCHOR SOURCE WORK "
                             "DRAG-SOURCE\n");
        return 2;
    }
    const int runs = _wtoi(argv[1]);
    const std::wstring launcher = argv[2], companion = argv[3], anchor = argv[4], source = argv[5],
                       work = argv[6], dragSource = argv[7];
    // Wine waits for the window manager whenever a managed window is hidden;
    // the launcher's windows are left to Wine, as in the end-to-end tests.
    const std::wstring key = L"Software\\Wine\\AppDefaults\\" +
                             launcher.substr(launcher.find_last_of(L"\\/") + 1) + L"\\X11 Driver";
    RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Managed", REG_SZ, L"N", 4);
    CreateDirectoryW(work.c_str(), nullptr);
    const wchar_t* const names[] = {L"-fenster", L"-kommandozeile", L"-kopie"};
    for (int run = 1; run <= runs; ++run) {
        double took[3] = {};
        // Taking turns: each run starts with the next of the three.
        for (int turn = 0; turn < 3; ++turn) {
            const int which = (run + turn) % 3;
            const std::wstring copy = work + L"\\lauf-" + std::to_wstring(run) + names[which];
            CopyTree(source, copy);
            SyncEverything();
            if (which == 0)
                took[0] = TimeWindow(launcher, copy, work, dragSource);
            else if (which == 1)
                took[1] = TimeCompanion(companion, copy);
            else
                took[2] = TimeAnchor(anchor, copy);
        }
        std::printf("run=%d window=%.3f companion=%.3f copy=%.3f\n", run, took[0], took[1],
                    took[2]);
        std::fflush(stdout);
    }
    return 0;
}
