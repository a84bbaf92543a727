// The platform interface with real POSIX file services (PosixFiles), for
// measuring the launcher's load, convert and save path natively. Everything else
// (programs, registry) is not available here; the open-file dialog answers
// with a path set beforehand and message boxes are recorded and answered Yes/OK.
#pragma once

#include "platform/Platform.h"
#include "platform/PosixFiles.h"

#include <string>
#include <vector>

namespace velmo::bench {

class PosixPlatform : public Platform {
  public:
    std::string dialogAnswer;          // what the next ShowOpen picks
    std::vector<std::string> messages; // the texts of the message boxes shown

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
    PosixFiles files_;
};

} // namespace velmo::bench
