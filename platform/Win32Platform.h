// The platform services on Windows itself.
#pragma once

#include "platform/Platform.h"
#include "platform/Win32Files.h"

#include "platform/WinApi.h"

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace velmo {

class Win32Platform : public Platform {
  public:
    // `programTitle` is the title of message boxes shown without one of their own.
    explicit Win32Platform(std::string programTitle = {}) : programTitle_(std::move(programTitle)) {}
    // The window that owns dialogs and message boxes (none until it exists).
    void SetOwner(HWND owner) { owner_ = owner; }
    // What End does; by default the process ends at once.
    std::function<void()> onEnd;

    bool FileExists(const std::string& path) override;
    std::string ReadWholeFile(const std::string& path) override;
    std::uint32_t FileAttributes(const std::string& path) override;
    void WriteNewFile(const std::string& path, const std::string& bytes,
                      std::uint32_t attributes) override;
    void KeepPermissions(const std::string& original, const std::string& copy) override;
    void FlushFiles(const std::vector<std::string>& paths) override;
    void LinkFile(const std::string& existing, const std::string& newName) override;
    void MoveFile(const std::string& from, const std::string& to, bool replaceExisting) override;
    void DeleteFile(const std::string& path) override;
    void SyncDirectories(const std::vector<std::string>& directories) override;
    void StartProcess(const std::string& program, const std::string& arguments,
                      const std::string& workingDir, int showStyle) override;
    void End() override;
    void ShowOpen(CommonDialog& dialog) override;
    int MsgBox(const std::string& text, int style, const std::string& title) override;
    std::int32_t RegOpenKeyExA(RegKey root, const std::string& subKey, std::uint32_t options,
                               std::uint32_t access, RegKey& opened) override;
    std::int32_t RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t& type,
                                  unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;
    std::string FromAnsi(const std::string& bytes) override;
    DateTimeTexts Now() override;
    PlatformError Error(std::uint32_t code, const std::string& subject) override;

  private:
    HKEY KeyOf(RegKey key) const;
    std::string programTitle_;
    Win32Files files_;
    HWND owner_ = nullptr;
    // Opened registry keys by the number handed out for them, so the interface's
    // 32-bit handles never depend on the pointer size.
    std::map<RegKey, HKEY> keys_;
    RegKey nextKey_ = 1;
};

// The command line CreateProcess gets: the program's path in quotes, then the
// arguments. Quotes inside a path cannot occur (Windows forbids them in names).
std::wstring CommandLineFor(const std::wstring& program, const std::wstring& arguments);

} // namespace velmo
