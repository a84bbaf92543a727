// Helpers shared by every test that runs against the real Windows services, the
// platform tests and the end-to-end tests alike: private temporary folders, raw
// file access that does not go through the code under test (by UTF-8 paths,
// reporting to GoogleTest, and by wide paths, throwing HarnessError), the
// helper programs next to the test program, and waiting for the modal windows
// of this process.
#pragma once

#include "platform/FileServices.h"
#include "platform/WinApi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::test {

// Something a helper was asked for did not happen (in time). GoogleTest reports
// it as a failed test with its message.
class HarnessError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The "\\?\" form of a full path, for raw calls on paths of any length.
std::wstring Extended(const std::wstring& path);

// A new, empty folder below the system's temporary folder (in its long form, as
// programs started in it report their paths), removed with everything in it
// when the object goes. `name` becomes part of the folder name.
class TempDir {
  public:
    explicit TempDir(const std::string& name = "t");
    explicit TempDir(std::wstring_view name);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::wstring WidePath() const;
    // The full path of `relative` (which may hold backslashes) in this folder.
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }
    std::wstring operator/(std::wstring_view relative) const;

  private:
    std::string path_;
};

// ---- files by wide paths; a failure throws HarnessError

// The part of a full path after its last backslash, and the part before it.
std::wstring FileNameOf(const std::wstring& path);
std::wstring DirectoryOf(const std::wstring& path);
// Writes the bytes into a new or existing file, creating missing directories.
// Both take full paths in the "\\?\" form, so "con.lua" is the file of that name.
void WriteFileBytes(const std::wstring& path, std::string_view bytes);
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path); // a file, not a directory
bool DirectoryExists(const std::wstring& path);
void CreateDirectories(const std::wstring& path);
void CopyFileTo(const std::wstring& from, const std::wstring& to); // creates the directory
void RemoveFile(const std::wstring& path); // no error when it is already gone
// Removes a directory tree, retrying a little while files are still in use.
void RemoveTree(const std::wstring& path);

// Creates the folder and every missing parent (also beyond 260 characters).
void MakeDirs(const std::string& path);
// Deletes the folder and everything below it; read-only entries too.
void RemoveTree(const std::string& path);

// Writes the whole file with plain CreateFileW/WriteFile, replacing it.
void WriteRaw(const std::string& path, const std::string& bytes);
// Under Wine, on a Linux folder: writes a new file under exactly this name,
// also beside one whose name differs only in letter case (Wine looks names up
// without case; its "\\?\unix" form takes a Linux name as it is). False
// where that cannot be done (not under Wine).
bool WriteExactName(const std::string& path, const std::string& bytes);
// The whole file read with plain CreateFileW/ReadFile; nothing when it cannot be opened.
std::optional<std::string> ReadRaw(const std::string& path);
// The file's attributes, INVALID_FILE_ATTRIBUTES when it does not exist.
DWORD AttributesOf(const std::string& path);
// The names in a folder, without "." and "..", sorted.
std::vector<std::string> NamesIn(const std::string& dir);

// The folder holding the running test program, without a final backslash.
std::string ProgramDir();

// A unique text for names of folders and registry keys of one test.
std::string UniqueName(const std::string& stem);

// Sets the user's short date and long time formats (as the regional settings
// do) for the object's lifetime, and puts the old ones back.
class UserFormats {
  public:
    UserFormats(const wchar_t* shortDate, const wchar_t* longTime);
    ~UserFormats();
    UserFormats(const UserFormats&) = delete;
    UserFormats& operator=(const UserFormats&) = delete;
    // False when the system refused the formats.
    bool Ok() const { return ok_; }

  private:
    std::wstring oldDate_, oldTime_;
    bool ok_ = false;
};

// `when` as GetDateFormatW (short date) and GetTimeFormatW (long time) write it
// for the user: what the file services' Now() must give.
DateTimeTexts RegionalTexts(const SYSTEMTIME& when);

// Waits until a visible dialog window (class "#32770") of this process shows,
// polling; nullptr after the timeout.
HWND WaitForDialog(std::chrono::milliseconds timeout);
// The text of a window, read through WM_GETTEXT.
std::string WindowText(HWND window);

// Names outside Windows-1252 (UTF-8 in the source).
inline const std::string kGreek = "\xCE\xA3\xCE\xBA\xCF\x81\xCE\xB9\xCF\x80\xCF\x84"; // Σκριπτ
inline const std::string kJapanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";          // 日本語

// The platform error `action` raises; fails the test when it raises none.
template <class F> PlatformError ErrorOf(F&& action) {
    try {
        action();
    } catch (const PlatformError& e) {
        return e;
    }
    ADD_FAILURE() << "no PlatformError raised";
    return PlatformError(0, "");
}

// A new folder below `dir` whose full path is longer than 260 characters.
std::string LongFolder(const TempDir& dir);

} // namespace velmo::test
