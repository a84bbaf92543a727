// What the script-conversion tests do in the real launcher's window, on top of
// the shared harness: run a conversion through the open-file dialog, learn what
// the launcher shows afterwards (or that it shows nothing), the names a backup
// may get, the bytes a conversion must give, and the Windows error reports.
#pragma once

#include "Harness.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::e2e {

// ---- bytes

// The seven characters as single Windows-1252 bytes and as their UTF-8 pairs.
struct UmlautBytes {
    unsigned char single;
    const char* pair;
};
inline constexpr UmlautBytes kUmlautBytes[] = {
    {0xE4, "\xC3\xA4"}, {0xF6, "\xC3\xB6"}, {0xFC, "\xC3\xBC"}, {0xDF, "\xC3\x9F"},
    {0xC4, "\xC3\x84"}, {0xD6, "\xC3\x96"}, {0xDC, "\xC3\x9C"},
};
bool IsUmlautByte(unsigned char byte);
// The bytes after "Umlaute für Velmo umwandeln": each of the seven as its pair,
// except where it begins a UTF-8 character the conversion keeps.
std::string WithUmlautPairs(std::string_view bytes);
// How many bytes of the seven that conversion keeps.
std::size_t KeptAsUtf8Count(std::string_view bytes);

// FNV-1a, 64 bit: a short fingerprint of large contents for failure messages.
std::uint64_t Fingerprint(std::string_view bytes);
// Where two byte strings first differ, for failure messages ("same" when equal).
std::string FirstDifference(std::string_view expected, std::string_view actual);

// ---- what the launcher shows

struct ShownBox {
    HWND box = nullptr;
    MessageBoxInfo info; // text with CR LF turned into CR, as the program gave it
    bool HasButton(int id) const { return GetDlgItem(box, id) != nullptr; }
};

// Waits until the launcher shows a message box (returned) or has finished what
// it was doing with no box or dialog open (nullopt). A box owned by the
// open-file dialog (the dialog's own complaint) counts as a message box too.
std::optional<ShownBox> NextMessageBox(const Launcher& launcher, Duration limit = kDefaultWait);
// Presses a button of a box or dialog and waits until it has gone.
void Answer(HWND box, int buttonId);

// The warning shown before a script that mentions the guard word is converted.
inline constexpr wchar_t kWarningTitle[] = L"Achtung";
inline constexpr wchar_t kWarningText[] =
    L"Wenn die Funktion Umlaute gebraucht wird,\rgibt das nur \u00c4rger.\r\r"
    L" M\u00f6chtest Du trotzdem weiter machen?";
inline constexpr wchar_t kProgramTitle[] = L"Velmo-Starter";
inline constexpr wchar_t kDoneText[] = L"Fertig";

// The system's text for a Windows error, as FormatMessage gives it, without its line end.
std::wstring SystemText(DWORD code);
// How the launcher's error report begins: "Fehler <code>: <system text>".
std::wstring ErrorReportStart(DWORD code);
// A message box is the launcher's error report for `code`: its title, the text's
// beginning and a single OK button.
::testing::AssertionResult IsErrorReport(const ShownBox& shown, DWORD code);

// ---- conversions

// Clicks a conversion button and waits for the open-file dialog it opens.
HWND OpenConversionDialog(Launcher& launcher, ControlId button);
// Clicks a conversion button and picks `path` in the open-file dialog.
void ConvertThroughDialog(Launcher& launcher, ControlId button, const std::wstring& path);
// Runs a conversion with no guard word: picks the file and expects "Fertig"
// when `expectDone`, pressing OK on it, and then nothing more.
void RunConversion(Launcher& launcher, ControlId button, const std::wstring& path,
                   bool expectDone = true, Duration limit = kDefaultWait);
// The launcher still runs and serves: a conversion button opens the dialog,
// cancelling it shows nothing, and the window is enabled again.
::testing::AssertionResult StillServing(Launcher& launcher);

// Ticks or unticks a check box by clicking it, and checks the state it shows.
void SetCheck(Launcher& launcher, ControlId id, bool checked);

// ---- files

// The names of the files and folders directly in `dir`, sorted.
std::vector<std::wstring> Entries(const std::wstring& dir);
// The names in `after` that are not in `before`.
std::vector<std::wstring> Added(const std::vector<std::wstring>& before,
                                const std::vector<std::wstring>& after);
void SetReadOnly(const std::wstring& path, bool readOnly);

// A file opened with no sharing at all, as another program may hold it.
class ExclusiveHold {
  public:
    explicit ExclusiveHold(const std::wstring& path);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

  private:
    HANDLE file_;
};

// ---- time and backup names

// The local time now, to the second.
SYSTEMTIME LocalNow();
// The backup file name (without folder) a save of the script `scriptName` at
// `at` gets under the user's regional settings: the script's name, the short
// date and the long time joined by "_", every "." ":" and character a file name
// cannot hold turned into "_", then "_<counter>" when counter > 1, then ".bak".
std::wstring BackupNameAt(const std::wstring& scriptName, const SYSTEMTIME& at, int counter = 1);
// The names for every second from `from` to `to`.
std::vector<std::wstring> BackupNamesBetween(const std::wstring& scriptName, const SYSTEMTIME& from,
                                             const SYSTEMTIME& to, int counter = 1);

} // namespace velmo::e2e
