#include "platform/Win32Platform.h"

#include "platform/DynamicCalls.h"
#include "platform/Handle.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <new>
#include <vector>

namespace velmo {
namespace {

constexpr DWORD kDialogBufferChars = 32768;
// Several chosen files share one buffer: room for some thousands of names.
constexpr DWORD kMultiSelectBufferChars = 1u << 20;

// The files an open-file dialog hands back: one full path, or, when several
// were chosen, their folder and then their names, each ended by a NUL and the
// list by a second one.
std::vector<std::string> ChosenFiles(const std::vector<wchar_t>& buffer) {
    std::vector<std::wstring> parts;
    for (std::size_t at = 0; at < buffer.size() && buffer[at] != L'\0';) {
        const std::size_t end =
            std::find(buffer.begin() + at, buffer.end(), L'\0') - buffer.begin();
        parts.emplace_back(buffer.data() + at, end - at);
        at = end + 1;
    }
    std::vector<std::string> files;
    if (parts.size() == 1) {
        files.push_back(Narrow(parts[0]));
        return files;
    }
    std::wstring folder = parts.empty() ? std::wstring() : parts[0];
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    for (std::size_t i = 1; i < parts.size(); ++i)
        files.push_back(Narrow(folder + parts[i]));
    return files;
}

} // namespace

std::wstring CommandLineFor(const std::wstring& program, const std::wstring& arguments) {
    std::wstring line = L"\"" + program + L"\"";
    if (!arguments.empty())
        line += L" " + arguments;
    return line;
}

// ---- programs

void Win32Platform::StartProcess(const std::string& program, const std::string& arguments,
                                 const std::string& workingDir, int showStyle) {
    const std::wstring application = Widen(program);
    std::wstring commandLine = CommandLineFor(application, Widen(arguments));
    const std::wstring directory = Widen(workingDir);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showStyle);
    PROCESS_INFORMATION info{};
    // The application name is given, so the system never guesses the program
    // from a path with blanks (C:\Program.exe for C:\Program Files\...).
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, directory.empty() ? nullptr : directory.c_str(), &startup, &info))
        throw LastError(program);
    AutoHandle process(info.hProcess);
    AutoHandle thread(info.hThread);
}

void Win32Platform::End() {
    if (onEnd)
        onEnd();
    else
        ExitProcess(0);
}

// ---- user interface

void Win32Platform::ShowOpen(CommonDialog& dialog) {
    // "Description|pattern|..." becomes the double-NUL-terminated list Windows wants.
    std::wstring filter = Widen(dialog.Filter);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    filter.append(2, L'\0');
    const DWORD bufferChars = dialog.MultiSelect ? kMultiSelectBufferChars : kDialogBufferChars;
    std::vector<wchar_t> file(bufferChars, L'\0');
    const std::wstring initial = Widen(dialog.FileName);
    std::copy_n(initial.begin(), std::min<std::size_t>(initial.size(), file.size() - 1),
                file.begin());
    const std::wstring initDir = Widen(dialog.InitDir);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = dialog.Filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = static_cast<DWORD>(dialog.FilterIndex);
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = bufferChars;
    ofn.lpstrInitialDir = initDir.empty() ? nullptr : initDir.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                OFN_NOCHANGEDIR | OFN_DONTADDTORECENT;
    if (dialog.MultiSelect)
        ofn.Flags |= OFN_ALLOWMULTISELECT;

    const auto getOpenFileName = dynamic::GetOpenFileNameW();
    const auto extendedError = dynamic::CommDlgExtendedError();
    if (!getOpenFileName || !extendedError)
        throw LastError("comdlg32.dll");
    dialog.FileName.clear();
    dialog.FileNames.clear();
    if (getOpenFileName(&ofn)) {
        dialog.FileNames = ChosenFiles(file);
        if (!dialog.FileNames.empty())
            dialog.FileName = dialog.FileNames.front();
        dialog.FilterIndex = static_cast<int>(ofn.nFilterIndex);
    } else if (DWORD code = extendedError()) {
        throw PlatformError(code, "Der Dateiauswahl-Dialog konnte nicht angezeigt werden.");
    }
}

int Win32Platform::MsgBox(const std::string& text, int style, const std::string& title) {
    const std::wstring caption = Widen(title.empty() ? programTitle_ : title);
    const int answer = MessageBoxW(owner_, Widen(text).c_str(), caption.c_str(),
                                   static_cast<UINT>(style) | MB_SETFOREGROUND);
    // The box had its own pointer; the work it interrupted goes on.
    if (busy_ > 0)
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    // No box was shown (0 on Windows, -1 under Wine): no answer to hand back,
    // so a question is never taken as answered.
    if (answer <= 0) {
        const DWORD code = GetLastError();
        throw MakeError(code != ERROR_SUCCESS ? code : ERROR_CAN_NOT_COMPLETE, "");
    }
    return answer;
}

// Nothing but the pointer changes: the window takes no input meanwhile anyway,
// as its thread is busy.
void Win32Platform::BeginBusy() noexcept {
    if (busy_++ == 0)
        beforeBusy_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void Win32Platform::EndBusy() noexcept {
    if (busy_ > 0 && --busy_ == 0)
        SetCursor(beforeBusy_);
}

// ---- registry

HKEY Win32Platform::KeyOf(RegKey key) const {
    // Predefined keys are negative 32-bit values, sign-extended in 64-bit code.
    if (key >= 0x80000000u)
        return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<std::int32_t>(key)));
    auto it = keys_.find(key);
    return it == keys_.end() ? nullptr : it->second;
}

namespace {
// The registry's narrow functions take text in the system's ANSI code page.
std::string ToAnsi(const std::string& utf8) {
    return Narrow(Widen(utf8), CP_ACP);
}
} // namespace

std::int32_t Win32Platform::RegOpenKeyExA(RegKey root, const std::string& subKey,
                                          std::uint32_t options, std::uint32_t access,
                                          RegKey& opened) {
    HKEY key = nullptr;
    const LSTATUS status =
        ::RegOpenKeyExA(KeyOf(root), ToAnsi(subKey).c_str(), options, access, &key);
    if (status != ERROR_SUCCESS)
        return status;
    opened = nextKey_++;
    keys_[opened] = key;
    return ERROR_SUCCESS;
}

std::int32_t Win32Platform::RegQueryValueExA(RegKey key, const std::string& valueName,
                                             std::uint32_t& type, unsigned char* data,
                                             std::uint32_t& size) {
    DWORD valueType = 0;
    DWORD valueSize = size;
    const LSTATUS status = ::RegQueryValueExA(KeyOf(key), ToAnsi(valueName).c_str(), nullptr,
                                              &valueType, data, &valueSize);
    type = valueType;
    size = valueSize;
    return status;
}

std::int32_t Win32Platform::RegCloseKey(RegKey key) {
    auto it = keys_.find(key);
    if (it == keys_.end())
        return ERROR_INVALID_HANDLE;
    const LSTATUS status = ::RegCloseKey(it->second);
    keys_.erase(it);
    return status;
}

std::string Win32Platform::FromAnsi(const std::string& bytes) {
    return Narrow(Widen(bytes, CP_ACP));
}

} // namespace velmo
