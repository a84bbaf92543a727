// Start-up time of Windows programs, measured the same way for each in one
// run: from creating the process until its window has been shown and painted.
//
//   startup_timer RUNS PROGRAM...
//
// The programs are started with VELMO_EXIT_AFTER_FIRST_PAINT=1 in their
// environment and are expected to close themselves after their first paint;
// the time then runs until the process has ended. When a program does not end
// by itself (a probe run of each decides), every program is instead timed
// until it has a visible window and waits for input, and is then closed.
// The programs take turns, RUNS rounds; prints per program its median and its
// times in milliseconds.
#include "platform/WinApi.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kExitTimeoutMs = 10000;

double Now() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return static_cast<double>(ticks.QuadPart) / ticksPerMs;
}

struct Search {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}

enum class Until { Exit, Shown };

// One start of `program`; the milliseconds until it was done, or -1 when it
// did not get there (with Until::Exit: did not end by itself in time).
double TimeOneStart(const std::wstring& program, Until until) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const double began = Now();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start %ls (error %lu)\n", program.c_str(), GetLastError());
        return -1;
    }
    double took = -1;
    if (until == Until::Exit) {
        if (WaitForSingleObject(process.hProcess, kExitTimeoutMs) == WAIT_OBJECT_0)
            took = Now() - began;
    } else {
        Search search{process.dwProcessId, nullptr};
        while (Now() - began < kExitTimeoutMs) {
            WaitForInputIdle(process.hProcess, kExitTimeoutMs);
            EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
            if (search.window) {
                took = Now() - began;
                break;
            }
            if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0)
                break;
        }
        if (search.window)
            PostMessageW(search.window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return took;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? -1 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_timer RUNS PROGRAM...\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    std::vector<std::wstring> programs(argv + 2, argv + argc);
    SetEnvironmentVariableW(L"VELMO_EXIT_AFTER_FIRST_PAINT", L"1");

    // The probe runs also bring each program's files into the cache.
    Until until = Until::Exit;
    for (const std::wstring& program : programs) {
        if (TimeOneStart(program, Until::Exit) < 0) {
            std::printf(
                "note: %ls does not end after its first paint; timing until shown and idle\n",
                program.c_str());
            until = Until::Shown;
        }
    }
    if (until == Until::Shown)
        SetEnvironmentVariableW(L"VELMO_EXIT_AFTER_FIRST_PAINT", nullptr);

    std::vector<std::vector<double>> times(programs.size());
    for (int run = 0; run < runs; ++run) {
        // Alternate which goes first, so that neither always follows the other.
        for (std::size_t k = 0; k < programs.size(); ++k) {
            const std::size_t which = run % 2 ? programs.size() - 1 - k : k;
            const double took = TimeOneStart(programs[which], until);
            if (took >= 0)
                times[which].push_back(took);
        }
    }
    for (std::size_t k = 0; k < programs.size(); ++k) {
        std::printf("program=%ls method=%s runs=%zu median_ms=%.1f times_ms=", programs[k].c_str(),
                    until == Until::Exit ? "exit-after-first-paint" : "shown-and-idle",
                    times[k].size(), Median(times[k]));
        for (double t : times[k])
            std::printf("%.1f,", t);
        std::printf("\n");
    }
    return 0;
}
