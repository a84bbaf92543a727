// The operating-system services the launcher uses, behind one narrow interface:
// the file services and, beyond them, programs, dialogs, message boxes and the
// registry.
//
// Everything here is portable: no Windows header is included, so the event
// procedures, the registry reader and the conversion build and run natively
// against a fake. Text is UTF-8; file contents are raw bytes in std::string.
#pragma once

#include "platform/FileServices.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmo {

// Registry handles and values as the narrow registry functions see them.
using RegKey = std::uint32_t;
inline constexpr RegKey HkeyLocalMachine = 0x80000002u;
namespace reg {
inline constexpr std::uint32_t KeyQueryValue = 0x0001;
inline constexpr std::uint32_t KeyWow64_64Key = 0x0100;
inline constexpr std::uint32_t KeyWow64_32Key = 0x0200;
inline constexpr std::uint32_t Sz = 1;
inline constexpr std::uint32_t ExpandSz = 2;
inline constexpr std::uint32_t Binary = 3;
inline constexpr std::uint32_t Dword = 4;
} // namespace reg

// Message box styles and answers used by the launcher.
namespace mb {
inline constexpr int Ok = 0;
inline constexpr int OkCritical = 16;    // OK button with the critical-stop icon
inline constexpr int YesNoCritical = 20; // Yes/No buttons (4) + critical-stop icon (16)
inline constexpr int AnswerOk = 1;
inline constexpr int AnswerYes = 6;
inline constexpr int AnswerNo = 7;
} // namespace mb

// Window style handed to started programs: maximized, with the input focus.
inline constexpr int ShowMaximized = 3;

// The open-file dialog's settings; one instance lives as long as the window and
// keeps its settings between uses. ShowOpen sets FileName to the chosen file's
// full path, or to the empty text when the user cancels. With MultiSelect the
// user may choose several files in one folder: FileNames then holds every
// chosen file's full path (FileName the first); it holds FileName alone when
// one file was chosen, and nothing on cancel.
struct CommonDialog {
    std::string FileName;
    std::string Filter;
    int FilterIndex = 0;
    std::string InitDir;
    bool MultiSelect = false;
    std::vector<std::string> FileNames;
};

class Platform : public FileServices {
  public:
    virtual ~Platform() = default;

    // ---- programs
    // Starts exactly the program file `program` with the command line made of
    // its quoted path and `arguments`, in `workingDir`, with the window style;
    // returns at once and keeps no handle.
    virtual void StartProcess(const std::string& program, const std::string& arguments,
                              const std::string& workingDir, int showStyle) = 0;
    // Ends the program: no further event procedure runs.
    virtual void End() = 0;

    // ---- user interface
    virtual void ShowOpen(CommonDialog& dialog) = 0;
    // Returns the button pressed. An empty title means the program's own title.
    virtual int MsgBox(const std::string& text, int style, const std::string& title) = 0;
    // From BeginBusy to the matching EndBusy the program shows that it works and
    // takes no input (the wait cursor): for blocking work on the one window
    // thread. Message boxes shown meanwhile keep their own pointer. Never fails;
    // where there is no pointer it does nothing.
    virtual void BeginBusy() noexcept {}
    virtual void EndBusy() noexcept {}

    // ---- registry, as the narrow registry functions: each returns a status
    virtual std::int32_t RegOpenKeyExA(RegKey root, const std::string& subKey,
                                       std::uint32_t options, std::uint32_t access,
                                       RegKey& opened) = 0;
    // With data == nullptr only type and size are learned. size is in/out.
    virtual std::int32_t RegQueryValueExA(RegKey key, const std::string& valueName,
                                          std::uint32_t& type, unsigned char* data,
                                          std::uint32_t& size) = 0;
    virtual std::int32_t RegCloseKey(RegKey key) = 0;

    // Text read through the narrow registry functions, from the system's ANSI
    // code page into UTF-8 (NUL bytes stay characters).
    virtual std::string FromAnsi(const std::string& bytes) = 0;
};

// Busy for as long as this lives.
class BusyScope {
  public:
    explicit BusyScope(Platform& platform) noexcept : platform_(platform) { platform_.BeginBusy(); }
    ~BusyScope() { platform_.EndBusy(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    Platform& platform_;
};

} // namespace velmo
