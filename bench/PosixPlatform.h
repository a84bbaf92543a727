// The platform interface with real POSIX file services (PosixFiles), for
// measuring the launcher's load, convert and save path natively. Everything else
// (programs, registry) is not available here; the open-file dialog answers
// with a path set beforehand and message boxes are recorded and answered Yes/OK.
#pragma once

#include "platform/PlatformOnFiles.h"
#include "platform/PosixFiles.h"

#include <string>
#include <vector>

namespace velmo::bench {

class PosixPlatform : public PlatformOnFiles<PosixFiles> {
  public:
    std::string dialogAnswer;          // what the next ShowOpen picks
    std::vector<std::string> messages; // the texts of the message boxes shown

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
};

} // namespace velmo::bench
