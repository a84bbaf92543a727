// The anchor of the Windows batch figures: the least a durable conversion of a
// map folder must do. It reads each script below FOLDER and writes its bytes
// to a new file beside it, made durable with one FlushFileBuffers: what the
// companion does for a script, without deciding, converting, backing up or
// renaming.
//
//   durable_copy FOLDER
#include "platform/WinApi.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::size_t copied = 0;

bool EndsWith(const std::wstring& name, const std::wstring& end) {
    return name.size() >= end.size() &&
           _wcsicmp(name.c_str() + name.size() - end.size(), end.c_str()) == 0;
}

[[noreturn]] void Fail(const std::wstring& what) {
    std::fwprintf(stderr, L"durable_copy: %ls (error %lu)\n", what.c_str(), GetLastError());
    std::exit(1);
}

void CopyScript(const std::wstring& path, std::vector<char>& buffer) {
    HANDLE in = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        Fail(L"cannot open " + path);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(in, &size))
        Fail(L"no size of " + path);
    buffer.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!buffer.empty() &&
        (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ||
         got != buffer.size()))
        Fail(L"cannot read " + path);
    CloseHandle(in);
    const std::wstring copy = path + L".kopie";
    HANDLE out = CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        Fail(L"cannot make " + copy);
    DWORD put = 0;
    if ((!buffer.empty() &&
         (!WriteFile(out, buffer.data(), static_cast<DWORD>(buffer.size()), &put, nullptr) ||
          put != buffer.size())) ||
        !FlushFileBuffers(out))
        Fail(L"cannot write " + copy);
    CloseHandle(out);
    ++copied;
}

void CopyTree(const std::wstring& folder, std::vector<char>& buffer) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        Fail(L"cannot list " + folder);
    std::vector<std::wstring> folders, scripts;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            folders.push_back(folder + L"\\" + name);
        else if (EndsWith(name, L".lua"))
            scripts.push_back(folder + L"\\" + name);
    } while (FindNextFileW(search, &data));
    FindClose(search);
    for (const std::wstring& script : scripts)
        CopyScript(script, buffer);
    for (const std::wstring& sub : folders)
        CopyTree(sub, buffer);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: durable_copy FOLDER\n");
        return 2;
    }
    std::vector<char> buffer;
    CopyTree(argv[1], buffer);
    std::printf("copied=%zu\n", copied);
    return 0;
}
