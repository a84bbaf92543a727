// The umlaut conversion of the real launcher, clicked in its window: the file is
// picked in the real open-file dialog, the launcher's message boxes are read and
// answered, and the script and its backups are checked byte for byte on disk.
#include "ConvertSteps.h"
#include "convert/Umlaute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace velmo::e2e {
namespace {

using namespace std::string_literals;

class ConvertE2E : public ::testing::Test {
  protected:
    void SetUp() override { launcher.StartAndWaitForWindow(); }

    // Writes a script with these bytes at `relative` below the test's folder.
    std::wstring Script(std::wstring_view relative, std::string_view bytes) {
        const std::wstring path = temp / relative;
        WriteFileBytes(path, bytes);
        return path;
    }

    // Clicks `button` on the script in Skripte\: afterwards it holds `left`,
    // and the one backup the conversion added holds `found`.
    void ConvertsTo(ControlId button, const std::wstring& script, const std::string& found,
                    const std::string& left);

    TempDir temp{L"velmo-convert"};
    // Neither the game nor Notepad++ is needed for converting.
    LauncherRegistry registry{std::nullopt, std::nullopt};
    Launcher launcher;
};

// The backups a conversion added to the script's folder.
std::vector<std::wstring> NewBackups(const std::vector<std::wstring>& before,
                                     const std::wstring& script) {
    return Added(before, Entries(DirectoryOf(script)));
}

void ConvertE2E::ConvertsTo(ControlId button, const std::wstring& script, const std::string& found,
                            const std::string& left) {
    const auto before = Entries(DirectoryOf(script));
    RunConversion(launcher, button, script);
    EXPECT_EQ(FirstDifference(left, ReadFileBytes(script)), "same");
    const auto backups = NewBackups(before, script);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(FirstDifference(found, ReadFileBytes(temp / (L"Skripte\\" + backups[0]))), "same");
}

// Every byte value but the seven umlauts, line ends of all kinds, NUL bytes, and
// 0xC3 alone or before bytes that make no pair: nothing for either direction.
std::string BytesWithoutUmlauts() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        if (!IsUmlautByte(static_cast<unsigned char>(b)))
            bytes += static_cast<char>(b);
    bytes += "\r\n-- Zeile mit CR LF\r\nnur LF\nnur CR\r\0\0\0mitten\0drin\r\n"s;
    bytes += "\xC3"
             "A \xC3\xC3 \xC3\xA5 \xA4\xB6\xBC\x9F\x84\x96\x9C \xC3";
    return bytes;
}

TEST_F(ConvertE2E, ScriptWithoutUmlautsComesBackByteForByteInBothDirections) {
    const std::string original = BytesWithoutUmlauts();
    const std::wstring script = Script(L"Skripte\\ohne.lua", original);
    for (ControlId button : {UmlauteWeg, UmlauteZurueck}) {
        SCOPED_TRACE(ControlOf(button).name);
        ConvertsTo(button, script, original, original);
    }
}

// E4 -> C3 A4 and DC -> C3 9C and the other five alike, every other byte in its
// place; a second run the same way changes nothing; the way back restores the
// file as it was. Each backup holds the file as that run found it.
TEST_F(ConvertE2E, BothButtonsChangeOnlyTheUmlautBytes) {
    const std::string single = "-- Gr\xFC\xDF"
                               "e\r\nlocal s = \"\xE4\xF6\xFC\xDF\xC4\xD6\xDC\"\r\n"
                               "\xE4\xDC\0\xE4x\xDC\r\nA\xC3"
                               "B \xC3"s;
    const std::string pairs = "-- Gr\xC3\xBC\xC3\x9F"
                              "e\r\nlocal s = \"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\x84\xC3\x96"
                              "\xC3\x9C\"\r\n\xC3\xA4\xC3\x9C\0\xC3\xA4x\xC3\x9C\r\nA\xC3"
                              "B \xC3"s;
    const std::wstring script = Script(L"Skripte\\karte.lua", single);

    struct Step {
        ControlId button;
        const std::string& found;
        const std::string& left;
    } steps[] = {
        {UmlauteWeg, single, pairs},
        {UmlauteWeg, pairs, pairs},
        {UmlauteZurueck, pairs, single},
        {UmlauteZurueck, single, single},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(ControlOf(step.button).name);
        ASSERT_EQ(ReadFileBytes(script), step.found);
        ConvertsTo(step.button, script, step.found, step.left);
    }
}

// A script far bigger than what the window holds whole goes a piece at a
// time through the same steps: converted, its backup the file as found, and
// back again.
TEST_F(ConvertE2E, ABigScriptConvertsBothWays) {
    std::string single;
    while (single.size() < (6u << 20))
        single += "-- Gr\xFC\xDF"
                  "e\r\nprint(\"\xC4rger \xF6\xE4\xDC\xD6\")\r\n";
    const std::string pairs = UmlauteToTwoCharacterForm(single);
    const std::wstring script = Script(L"Skripte\\gross.lua", single);
    for (ControlId button : {UmlauteWeg, UmlauteZurueck}) {
        SCOPED_TRACE(ControlOf(button).name);
        const bool forward = button == UmlauteWeg;
        ConvertsTo(button, script, forward ? single : pairs, forward ? pairs : single);
    }
}

// The word "Umlaute" in any letter case, in both directions: the warning comes
// first; No leaves everything as it was, Yes converts and reports "Fertig".
TEST_F(ConvertE2E, GuardWordAsksBeforeConverting) {
    struct Case {
        const char* what;
        ControlId button;
        std::string content;
        int answer;
        std::string converted; // the file after Yes
    } cases[] = {
        {"call, answered No", UmlauteWeg, "Umlaute(\"\xE4\")\r\n", IDNO, ""},
        {"comment in lower case, answered No", UmlauteZurueck, "-- umlaute\r\n\xC3\xA4", IDNO, ""},
        {"inside a longer word, answered Yes", UmlauteWeg, "-- UmLaUtEn: \xE4\xDC", IDYES,
         "-- UmLaUtEn: \xC3\xA4\xC3\x9C"},
        {"call in a comment, answered Yes", UmlauteZurueck, "x = 1 -- UMLAUTE()\r\n\xC3\x9C", IDYES,
         "x = 1 -- UMLAUTE()\r\n\xDC"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring dir = L"Fall" + std::to_wstring(++n);
        const std::wstring script = Script(dir + L"\\skript.lua", c.content);
        const auto before = Entries(temp / dir);

        ConvertThroughDialog(launcher, c.button, script);
        const std::optional<ShownBox> warning = NextMessageBox(launcher);
        ASSERT_TRUE(warning) << "no warning";
        EXPECT_EQ(warning->info.title, kWarningTitle);
        EXPECT_EQ(warning->info.text, kWarningText) << Narrow(warning->info.text);
        EXPECT_TRUE(warning->HasButton(IDYES) && warning->HasButton(IDNO));
        EXPECT_FALSE(warning->HasButton(IDOK) || warning->HasButton(IDCANCEL));
        Answer(warning->box, c.answer);

        std::optional<ShownBox> next = NextMessageBox(launcher);
        if (c.answer == IDNO) {
            EXPECT_FALSE(next) << "after No: " << Narrow(next->info.text);
            EXPECT_EQ(ReadFileBytes(script), c.content);
            EXPECT_EQ(Entries(temp / dir), before);
        } else {
            ASSERT_TRUE(next) << "no \"Fertig\" after Yes";
            EXPECT_EQ(next->info.text, kDoneText);
            Answer(next->box, IDOK);
            EXPECT_FALSE(NextMessageBox(launcher));
            EXPECT_EQ(ReadFileBytes(script), c.converted);
            const auto backups = Added(before, Entries(temp / dir));
            ASSERT_EQ(backups.size(), 1u);
            EXPECT_EQ(ReadFileBytes(temp / (dir + L"\\" + backups[0])), c.content);
        }
    }
}

// Cancelling, also right after a completed conversion: nothing is read (the last
// script is locked meanwhile, a read would be reported), written or shown.
TEST_F(ConvertE2E, CancellingTheDialogDoesNothing) {
    const std::wstring script = Script(L"Skripte\\letzte.lua", "\xE4");
    RunConversion(launcher, UmlauteWeg, script);
    const std::string converted = ReadFileBytes(script);
    ASSERT_EQ(converted, "\xC3\xA4");
    const auto before = Entries(DirectoryOf(script));
    {
        ExclusiveHold hold(script);
        for (ControlId button : {UmlauteWeg, UmlauteZurueck}) {
            SCOPED_TRACE(ControlOf(button).name);
            Launcher::CancelDialog(OpenConversionDialog(launcher, button));
            const std::optional<ShownBox> shown = NextMessageBox(launcher);
            EXPECT_FALSE(shown) << Narrow(shown->info.title) << ": " << Narrow(shown->info.text);
        }
    }
    EXPECT_EQ(ReadFileBytes(script), converted);
    EXPECT_EQ(Entries(DirectoryOf(script)), before);
}

// "Meldung wenn fertig" decides the "Fertig" box, "Orginal-File sichern" the
// backup; the script is converted either way.
TEST_F(ConvertE2E, CheckBoxesDecideMessageAndBackup) {
    ASSERT_EQ(launcher.CheckState(Meldung), BST_CHECKED);
    ASSERT_EQ(launcher.CheckState(Sicherung), BST_CHECKED);
    struct Case {
        bool meldung;
        bool sicherung;
    } cases[] = {{false, true}, {true, false}, {false, false}, {true, true}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("Meldung ") + (c.meldung ? "on" : "off") + ", Sicherung " +
                     (c.sicherung ? "on" : "off"));
        SetCheck(launcher, Meldung, c.meldung);
        SetCheck(launcher, Sicherung, c.sicherung);
        const std::wstring dir = temp / (L"Fall" + std::to_wstring(++n));
        const std::wstring script =
            Script(dir.substr(temp.WidePath().size() + 1) + L"\\s.lua", "\xD6l und \xDC");
        RunConversion(launcher, UmlauteWeg, script, c.meldung);
        EXPECT_EQ(ReadFileBytes(script), "\xC3\x96l und \xC3\x9C");
        EXPECT_EQ(Entries(dir).size(), c.sicherung ? 2u : 1u);
    }
}

// The backup lies beside the script, named from the script's name, the short date
// and the long time of the save with every "." ":" and character a name cannot
// hold turned into "_", and holds the bytes the script had. Dots in the folder's
// name stay where they are.
TEST_F(ConvertE2E, BackupIsNamedByDateAndTimeBesideTheScript) {
    const std::string original = "-- \xE4 \xF6 \xFC\r\n";
    const std::wstring script = Script(L"Skripte.alt\\karte.v2.lua", original);
    const auto siblings = Entries(temp.WidePath());

    const HWND dialog = OpenConversionDialog(launcher, UmlauteWeg);
    const SYSTEMTIME from = LocalNow();
    Launcher::ChooseFile(dialog, script);
    const std::optional<ShownBox> done = NextMessageBox(launcher);
    const SYSTEMTIME to = LocalNow();
    ASSERT_TRUE(done);
    Answer(done->box, IDOK);

    const auto backups = Added({L"karte.v2.lua"}, Entries(temp / L"Skripte.alt"));
    ASSERT_EQ(backups.size(), 1u);
    const auto expected = BackupNamesBetween(L"karte.v2.lua", from, to);
    EXPECT_NE(std::find(expected.begin(), expected.end(), backups[0]), expected.end())
        << "backup " << Narrow(backups[0]) << ", expected one of " << Narrow(expected.front())
        << " ... " << Narrow(expected.back());
    EXPECT_EQ(ReadFileBytes(temp / (L"Skripte.alt\\" + backups[0])), original);
    EXPECT_EQ(Entries(temp.WidePath()), siblings);
    RecordProperty("backup_name", Narrow(backups[0]));
}

// A second save within the same second must not replace the first backup: it gets
// "_2" before ".bak". Saves land in the same second only by timing, so the pair is
// tried a few times, each time starting just after a second has begun.
TEST_F(ConvertE2E, SecondBackupWithinTheSameSecondGetsItsOwnName) {
    SetCheck(launcher, Meldung, false); // one box less between the two saves
    bool sameSecond = false;
    for (int attempt = 1; attempt <= 6 && !sameSecond; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const std::wstring dir = L"Versuch" + std::to_wstring(attempt);
        const std::string first = "\xE4 erst";
        const std::wstring script = Script(dir + L"\\doppelt.lua", first);
        const std::string second = "\xC3\xA4 erst";

        HWND dialog = OpenConversionDialog(launcher, UmlauteWeg);
        // Pick the file just after a new second began, then convert back at once.
        WaitUntil([] {
            SYSTEMTIME now;
            GetLocalTime(&now);
            return now.wMilliseconds < 100;
        });
        const SYSTEMTIME from = LocalNow();
        Launcher::ChooseFile(dialog, script);
        ASSERT_FALSE(NextMessageBox(launcher));
        RunConversion(launcher, UmlauteZurueck, script, false);
        const SYSTEMTIME to = LocalNow();
        ASSERT_EQ(ReadFileBytes(script), first);

        const auto backups = Added({L"doppelt.lua"}, Entries(temp / dir));
        ASSERT_EQ(backups.size(), 2u);
        const auto firstNames = BackupNamesBetween(L"doppelt.lua", from, to);
        const auto secondNames = BackupNamesBetween(L"doppelt.lua", from, to, 2);
        for (const std::wstring& name : backups) {
            const std::string bytes = ReadFileBytes(temp / (dir + L"\\" + name));
            if (std::find(secondNames.begin(), secondNames.end(), name) != secondNames.end()) {
                sameSecond = true;
                EXPECT_EQ(bytes, second) << Narrow(name);
                // Its plain-named partner is the first backup, still as it was.
                const std::wstring partner = name.substr(0, name.size() - 6) + L".bak";
                EXPECT_EQ(ReadFileBytes(temp / (dir + L"\\" + partner)), first) << Narrow(partner);
            } else {
                EXPECT_NE(std::find(firstNames.begin(), firstNames.end(), name), firstNames.end())
                    << Narrow(name);
            }
        }
    }
    EXPECT_TRUE(sameSecond) << "no two saves landed in the same second in six attempts";
}

} // namespace
} // namespace velmo::e2e
