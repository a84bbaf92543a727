#include "ConvertSteps.h"

#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <chrono>

namespace velmo::e2e {
namespace {

constexpr int kMessageBoxTextId = 0xFFFF; // the static text of every message box

bool IsMessageBox(HWND dialog) {
    return GetDlgItem(dialog, kMessageBoxTextId) != nullptr;
}

std::wstring WithCarriageReturns(std::wstring text) {
    for (std::size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;)
        text.erase(at + 1, 1);
    return text;
}

ShownBox Shown(HWND box) {
    MessageBoxInfo info = Launcher::ReadMessageBox(box);
    info.text = WithCarriageReturns(std::move(info.text));
    return {box, std::move(info)};
}

bool FitsInFileName(wchar_t c) {
    return c >= 32 && std::wstring_view(L"<>:\"/\\|?*.").find(c) == std::wstring_view::npos;
}

ULONGLONG Ticks(const SYSTEMTIME& time) {
    FILETIME file;
    if (!SystemTimeToFileTime(&time, &file))
        throw HarnessError("SystemTimeToFileTime failed");
    return (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

SYSTEMTIME FromTicks(ULONGLONG ticks) {
    FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time;
    if (!FileTimeToSystemTime(&file, &time))
        throw HarnessError("FileTimeToSystemTime failed");
    return time;
}

constexpr ULONGLONG kTicksPerSecond = 10'000'000;

} // namespace

// ---- bytes

bool IsUmlautByte(unsigned char byte) {
    return std::any_of(std::begin(kUmlautBytes), std::end(kUmlautBytes),
                       [byte](const UmlautBytes& u) { return u.single == byte; });
}

namespace {

// Whether the byte at `i` begins a UTF-8 character that "für Velmo" keeps: E4
// with two bytes 80-BF behind it, C4 or D6 with one, DF or DC with one in a
// text that is all UTF-8 (as Windows' own decoder judges it).
bool KeptAsUtf8(std::string_view bytes, std::size_t i, bool utf8) {
    auto continuation = [&](std::size_t at) {
        return at < bytes.size() && (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80;
    };
    switch (static_cast<unsigned char>(bytes[i])) {
    case 0xE4:
        return continuation(i + 1) && continuation(i + 2);
    case 0xC4:
    case 0xD6:
        return continuation(i + 1);
    case 0xDF:
    case 0xDC:
        return utf8 && continuation(i + 1);
    }
    return false;
}

bool IsUtf8(std::string_view bytes) {
    return bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

} // namespace

std::string WithUmlautPairs(std::string_view bytes) {
    const char* pairs[256] = {};
    for (const UmlautBytes& u : kUmlautBytes)
        pairs[u.single] = u.pair;
    const bool utf8 = IsUtf8(bytes);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (const char* pair = pairs[static_cast<unsigned char>(c)];
            pair && !KeptAsUtf8(bytes, i, utf8))
            out.append(pair, 2);
        else
            out += c;
    }
    return out;
}

std::size_t KeptAsUtf8Count(std::string_view bytes) {
    const bool utf8 = IsUtf8(bytes);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        kept += KeptAsUtf8(bytes, i, utf8);
    return kept;
}

std::uint64_t Fingerprint(std::string_view bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ull;
    }
    return hash;
}

std::string FirstDifference(std::string_view expected, std::string_view actual) {
    const std::size_t n = std::min(expected.size(), actual.size());
    std::size_t at = 0;
    while (at < n && expected[at] == actual[at])
        ++at;
    if (at == n && expected.size() == actual.size())
        return "same";
    char text[160];
    auto byteAt = [](std::string_view s, std::size_t i) {
        return i < s.size() ? static_cast<int>(static_cast<unsigned char>(s[i])) : -1;
    };
    snprintf(text, sizeof text,
             "sizes %zu (expected) and %zu; first difference at byte %zu: "
             "expected %d, found %d (-1: none)",
             expected.size(), actual.size(), at, byteAt(expected, at), byteAt(actual, at));
    return text;
}

// ---- what the launcher shows

std::optional<ShownBox> NextMessageBox(const Launcher& launcher, Duration limit) {
    HWND main = launcher.MainWindow();
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (HWND dialog : launcher.Dialogs())
            if (IsMessageBox(dialog))
                return Shown(dialog);
        if (!launcher.IsRunning())
            throw HarnessError("the launcher has ended");
        // The launcher's one thread answers a sent message only from a message
        // loop: its own once the action has ended, or that of a modal box or
        // dialog, which disables the main window first. So an answer while the
        // window is enabled and no dialog exists means the action is over. A
        // box still being made or a dialog being taken down exists hidden, and
        // Wine may answer while it makes one: hidden ones count too.
        DWORD_PTR ignored = 0;
        if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 250, &ignored) &&
            IsWindowEnabled(main) && launcher.AllDialogs().empty())
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= end)
            throw HarnessError("the launcher neither showed a message box nor finished within " +
                               std::to_string(limit.count()) + " ms");
        Sleep(25);
    }
}

void Answer(HWND box, int buttonId) {
    Launcher::PressDialogButton(box, buttonId);
    if (!WaitUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }))
        throw HarnessError("the box stayed open after pressing button " + std::to_string(buttonId));
}

std::wstring SystemText(DWORD code) {
    return Widen(velmo::SystemErrorText(code));
}

std::wstring ErrorReportStart(DWORD code) {
    return L"Fehler " + std::to_wstring(code) + L": " + SystemText(code);
}

::testing::AssertionResult IsErrorReport(const ShownBox& shown, DWORD code) {
    const std::wstring start = ErrorReportStart(code);
    if (shown.info.title != kProgramTitle || shown.info.text.rfind(start, 0) != 0)
        return ::testing::AssertionFailure()
               << "the box \"" << Narrow(shown.info.title) << "\" says \""
               << Narrow(shown.info.text) << "\", not the report beginning \"" << Narrow(start)
               << "\" under the title \"" << Narrow(kProgramTitle) << "\"";
    if (!shown.HasButton(IDOK) || shown.HasButton(IDYES) || shown.HasButton(IDNO) ||
        shown.HasButton(IDCANCEL))
        return ::testing::AssertionFailure() << "the error report has other buttons than OK";
    return ::testing::AssertionSuccess();
}

// ---- conversions

HWND OpenConversionDialog(Launcher& launcher, ControlId button) {
    launcher.ClickButton(button);
    return launcher.WaitForFileDialog();
}

void ConvertThroughDialog(Launcher& launcher, ControlId button, const std::wstring& path) {
    Launcher::ChooseFile(OpenConversionDialog(launcher, button), path);
}

void RunConversion(Launcher& launcher, ControlId button, const std::wstring& path, bool expectDone,
                   Duration limit) {
    ConvertThroughDialog(launcher, button, path);
    std::optional<ShownBox> shown = NextMessageBox(launcher, limit);
    if (expectDone) {
        ASSERT_TRUE(shown) << "no \"Fertig\" after converting " << Narrow(path);
        EXPECT_EQ(shown->info.text, kDoneText);
        EXPECT_EQ(shown->info.title, kProgramTitle);
        EXPECT_TRUE(shown->HasButton(IDOK) && !shown->HasButton(IDCANCEL));
        Answer(shown->box, IDOK);
        shown = NextMessageBox(launcher);
    }
    EXPECT_FALSE(shown) << "unexpected box \"" << Narrow(shown->info.title)
                        << "\": " << Narrow(shown->info.text);
}

::testing::AssertionResult StillServing(Launcher& launcher) {
    if (!launcher.IsRunning())
        return ::testing::AssertionFailure() << "the launcher has ended";
    try {
        Launcher::CancelDialog(OpenConversionDialog(launcher, UmlauteZurueck));
        if (const auto shown = NextMessageBox(launcher))
            return ::testing::AssertionFailure()
                   << "cancelling the dialog showed \"" << Narrow(shown->info.title)
                   << "\": " << Narrow(shown->info.text);
    } catch (const HarnessError& e) {
        return ::testing::AssertionFailure() << "the launcher does not serve: " << e.what();
    }
    if (!IsWindowVisible(launcher.MainWindow()))
        return ::testing::AssertionFailure() << "the main window is hidden";
    return ::testing::AssertionSuccess();
}

void SetCheck(Launcher& launcher, ControlId id, bool checked) {
    const int wanted = checked ? BST_CHECKED : BST_UNCHECKED;
    if (launcher.CheckState(id) == wanted)
        return;
    launcher.ClickButton(id);
    if (!WaitUntil([&] { return launcher.CheckState(id) == wanted; }))
        throw HarnessError("clicking " + std::string(ControlOf(id).name) +
                           " did not change its state");
}

// ---- files

std::vector<std::wstring> Entries(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> Added(const std::vector<std::wstring>& before,
                                const std::vector<std::wstring>& after) {
    std::vector<std::wstring> added;
    for (const std::wstring& name : after)
        if (std::find(before.begin(), before.end(), name) == before.end())
            added.push_back(name);
    return added;
}

void SetReadOnly(const std::wstring& path, bool readOnly) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !SetFileAttributesW(path.c_str(), readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                                                   : (attributes & ~FILE_ATTRIBUTE_READONLY)))
        throw HarnessError("cannot change the read-only attribute of " + Narrow(path));
}

ExclusiveHold::ExclusiveHold(const std::wstring& path)
    : file_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (file_ == INVALID_HANDLE_VALUE)
        throw HarnessError("cannot open " + Narrow(path) + " without sharing: error " +
                           std::to_string(GetLastError()));
}

ExclusiveHold::~ExclusiveHold() {
    CloseHandle(file_);
}

// ---- time and backup names

SYSTEMTIME LocalNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    now.wMilliseconds = 0;
    return now;
}

std::wstring BackupNameAt(const std::wstring& scriptName, const SYSTEMTIME& at, int counter) {
    wchar_t date[128] = {};
    wchar_t time[128] = {};
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &at, nullptr, date, 128) ||
        !GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &at, nullptr, time, 128))
        throw HarnessError("GetDateFormatW/GetTimeFormatW failed");
    std::wstring name = scriptName + L"_" + date + L"_" + time;
    for (wchar_t& c : name)
        if (!FitsInFileName(c))
            c = L'_';
    if (counter > 1)
        name += L"_" + std::to_wstring(counter);
    return name + L".bak";
}

std::vector<std::wstring> BackupNamesBetween(const std::wstring& scriptName, const SYSTEMTIME& from,
                                             const SYSTEMTIME& to, int counter) {
    std::vector<std::wstring> names;
    for (ULONGLONG t = Ticks(from), last = Ticks(to); t <= last; t += kTicksPerSecond)
        names.push_back(BackupNameAt(scriptName, FromTicks(t), counter));
    return names;
}

} // namespace velmo::e2e
