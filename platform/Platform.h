// The operating-system services the launcher uses, behind one narrow interface.
//
// Everything here is portable: no Windows header is included, so the event
// procedures, the registry reader and the conversion build and run natively
// against a fake. Text is UTF-8; file contents are raw bytes in std::string.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace velmo {

// Windows error numbers the portable code names itself.
namespace win_error {
inline constexpr std::uint32_t FileNotFound = 2;
inline constexpr std::uint32_t AccessDenied = 5;
inline constexpr std::uint32_t NotEnoughMemory = 8;
inline constexpr std::uint32_t SharingViolation = 32;
inline constexpr std::uint32_t FileExists = 80;
inline constexpr std::uint32_t AlreadyExists = 183;
inline constexpr std::uint32_t MoreData = 234;
} // namespace win_error

// A failed platform operation: the Windows error number, the system's text for
// it and, where one is known, the path it concerned. Event procedures never catch
// it; the top-level handler around event dispatch reports it.
class PlatformError : public std::runtime_error {
  public:
    PlatformError(std::uint32_t code, std::string text, std::string subject = {})
        : std::runtime_error(text), code_(code), text_(std::move(text)),
          subject_(std::move(subject)) {}
    std::uint32_t Code() const noexcept { return code_; }
    const std::string& Text() const noexcept { return text_; }
    const std::string& Subject() const noexcept { return subject_; }

  private:
    std::uint32_t code_;
    std::string text_;
    std::string subject_;
};

// File attribute bits as Windows defines them.
namespace file_attr {
inline constexpr std::uint32_t ReadOnly = 0x1;
inline constexpr std::uint32_t Normal = 0x80;
} // namespace file_attr

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
inline constexpr int YesNoCritical = 20; // Yes/No buttons (4) + critical-stop icon (16)
inline constexpr int AnswerOk = 1;
inline constexpr int AnswerYes = 6;
inline constexpr int AnswerNo = 7;
} // namespace mb

// Window style handed to started programs: maximized, with the input focus.
inline constexpr int ShowMaximized = 3;

// The open-file dialog's settings; one instance lives as long as the window and
// keeps its settings between uses. ShowOpen sets FileName to the chosen file's
// full path, or to the empty text when the user cancels.
struct CommonDialog {
    std::string FileName;
    std::string Filter;
    int FilterIndex = 0;
    std::string InitDir;
};

struct DateTimeTexts {
    std::string date; // the user's short date format
    std::string time; // the user's long time format
};

class Platform {
  public:
    virtual ~Platform() = default;

    // ---- files (paths are full paths; failures throw PlatformError)
    // True when a file (not a directory) exists at the path; never throws.
    virtual bool FileExists(const std::string& path) = 0;
    // The file's whole content, byte for byte.
    virtual std::string ReadWholeFile(const std::string& path) = 0;
    // The file's attribute bits.
    virtual std::uint32_t FileAttributes(const std::string& path) = 0;
    // Creates a file that must not exist yet, writes all bytes, gives it the
    // attributes and flushes it to disk. On failure nothing is left behind.
    virtual void WriteNewFile(const std::string& path, const std::string& bytes,
                              std::uint32_t attributes) = 0;
    // Renames a file. Without replaceExisting it fails when the target exists;
    // with it, the target is replaced in one step.
    virtual void MoveFile(const std::string& from, const std::string& to,
                          bool replaceExisting) = 0;
    virtual void DeleteFile(const std::string& path) = 0;

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

    // ---- time
    // Today's date and the time of day, both from the same moment.
    virtual DateTimeTexts Now() = 0;

    // The error a platform operation would raise for `code`, with the system's
    // text; for conditions the portable code detects itself.
    virtual PlatformError Error(std::uint32_t code, const std::string& subject) = 0;
};

} // namespace velmo
