#include "platform/Console.h"

#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>

namespace velmo::console {
namespace {

HANDLE HandleOf(Stream stream) {
    return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

void WriteAll(HANDLE handle, std::string_view bytes, const char* name) {
    while (!bytes.empty()) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(handle, bytes.data(), want, &put, nullptr) || put == 0) {
            // The reading end of a pipe closed (`| head`): Windows says the
            // pipe is being closed, Wine that it is not connected.
            const DWORD error = GetLastError();
            if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ||
                error == ERROR_PIPE_NOT_CONNECTED)
                throw OutputClosed();
            throw LastError(name);
        }
        bytes.remove_prefix(put);
    }
}

std::atomic<int> g_interruption{0};
HANDLE g_stopped = nullptr; // set once the run has reached its safe point

BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        // A second Ctrl+C ends the program at once.
        if (g_interruption.exchange(2) == 2)
            return FALSE;
        return TRUE;
    case CTRL_BREAK_EVENT:
        g_interruption = 21;
        return TRUE;
    case CTRL_CLOSE_EVENT:
        // Windows ends the program when this returns (after at most 5 s): wait
        // for the run to reach its safe point first.
        g_interruption = 1;
        if (g_stopped)
            WaitForSingleObject(g_stopped, 4500);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void CatchInterruptions() {
    g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

int Interruption() {
    return g_interruption;
}

void Stopped() {
    if (g_stopped)
        SetEvent(g_stopped);
}

std::vector<std::string> Start(int argc, wchar_t** argv) {
    // Stdin and stdout carry script bytes unchanged: no CR/LF translation.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(Narrow(argv[i], static_cast<int>(wcslen(argv[i]))));
    return arguments;
}

bool IsTerminal(Stream stream) {
    DWORD mode = 0;
    return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

void Write(Stream stream, std::string_view utf8) {
    const HANDLE handle = HandleOf(stream);
    DWORD mode = 0;
    try {
        if (GetConsoleMode(handle, &mode)) {
            // A console shows characters, whatever its code page.
            const std::wstring wide = Widen(std::string(utf8));
            DWORD written = 0;
            if (!WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                               nullptr))
                throw LastError("(Konsole)");
        } else {
            WriteAll(handle, utf8, "(Ausgabe)");
        }
    } catch (const PlatformError&) {
        if (stream == Stream::Out)
            throw;
    } catch (const OutputClosed&) {
        if (stream == Stream::Out)
            throw;
    }
}

std::size_t ReadInput(char* buffer, std::size_t room) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // A console takes at most some 64 KiB a read; pipes and files any size
    // up to a DWORD.
    DWORD mode = 0;
    const std::size_t most = GetConsoleMode(input, &mode) ? (1u << 16) : (1u << 30);
    DWORD got = 0;
    if (!ReadFile(input, buffer, static_cast<DWORD>(std::min(room, most)), &got, nullptr)) {
        // The writing end of a pipe closed: the end of the input.
        if (GetLastError() == ERROR_BROKEN_PIPE)
            return 0;
        throw LastError("(Standardeingabe)");
    }
    return got;
}

void WriteOutput(std::string_view bytes) {
    WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), bytes, "(Standardausgabe)");
}

namespace {
constexpr const char* kScratchName = "(temporäre Datei)";
HANDLE ScratchHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}
} // namespace

ScratchFile::ScratchFile() {
    // Deleted when its handle closes, also when the program is ended: nothing
    // stays behind. Made under a new name (CREATE_NEW) rather than one
    // GetTempFileNameW makes first, which an end in between would leave; no
    // one else may open it meanwhile.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        throw LastError(kScratchName);
    const DWORD start = GetCurrentProcessId() * 7919u + GetTickCount();
    for (DWORD attempt = 0; attempt < 1000; ++attempt) {
        // A number other than 0 only names the file (vlmXXXX.tmp).
        const UINT unique = ((start + attempt) & 0xFFFFu) | 1u;
        wchar_t name[MAX_PATH];
        if (!GetTempFileNameW(folder, L"vlm", unique, name))
            throw LastError(kScratchName);
        const HANDLE file =
            CreateFileW(name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
            return;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            throw LastError(kScratchName);
    }
    throw LastError(kScratchName);
}

ScratchFile::~ScratchFile() {
    CloseHandle(ScratchHandle(handle_));
}

void ScratchFile::Append(std::string_view bytes) {
    WriteAll(ScratchHandle(handle_), bytes, kScratchName);
}

void ScratchFile::Rewind() {
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(ScratchHandle(handle_), start, nullptr, FILE_BEGIN))
        throw LastError(kScratchName);
}

std::size_t ScratchFile::Read(char* buffer, std::size_t room) {
    DWORD got = 0;
    if (!ReadFile(ScratchHandle(handle_), buffer,
                  static_cast<DWORD>(std::min<std::size_t>(room, 1u << 30)), &got, nullptr))
        throw LastError(kScratchName);
    return got;
}

} // namespace velmo::console
