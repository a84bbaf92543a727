// The platform services on Windows itself.
#pragma once

#include "platform/PlatformOnFiles.h"
#include "platform/Win32Files.h"

#include "platform/WinApi.h"

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace velmo {

// The launcher's platform on Windows; its files and clock are Win32Files'.
class Win32Platform : public PlatformOnFiles<Win32Files> {
  public:
    // `programTitle` is the title of message boxes shown without one of their own.
    explicit Win32Platform(std::string programTitle = {})
        : programTitle_(std::move(programTitle)) {}
    // The window that owns dialogs and message boxes (none until it exists).
    void SetOwner(HWND owner) { owner_ = owner; }
    // What End does; by default the process ends at once.
    std::function<void()> onEnd;

    void StartProcess(const std::string& program, const std::string& arguments,
                      const std::string& workingDir, int showStyle) override;
    void End() override;
    void ShowOpen(CommonDialog& dialog) override;
    int MsgBox(const std::string& text, int style, const std::string& title) override;
    void BeginBusy() noexcept override;
    void EndBusy() noexcept override;
    std::int32_t RegOpenKeyExA(RegKey root, const std::string& subKey, std::uint32_t options,
                               std::uint32_t access, RegKey& opened) override;
    std::int32_t RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t& type,
                                  unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;
    std::string FromAnsi(const std::string& bytes) override;

  private:
    HKEY KeyOf(RegKey key) const;
    std::string programTitle_;
    HWND owner_ = nullptr;
    int busy_ = 0;                 // BeginBusy calls not yet ended
    HCURSOR beforeBusy_ = nullptr; // the pointer shown before the first of them
    // Opened registry keys by the number handed out for them, so the interface's
    // 32-bit handles never depend on the pointer size.
    std::map<RegKey, HKEY> keys_;
    RegKey nextKey_ = 1;
};

// The command line CreateProcess gets: the program's path in quotes, then the
// arguments. Quotes inside a path cannot occur (Windows forbids them in names).
std::wstring CommandLineFor(const std::wstring& program, const std::wstring& arguments);

} // namespace velmo
