// Loading and saving scripts with their backup, and the two conversion actions.
#include "app/VelmoStarter.h"
#include "convert/ScriptFile.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace velmo {
namespace {

using namespace std::string_literals;

constexpr char kScript[] = "C:\\Skripte\\karte.lua";
const DateTimeTexts kGerman{"08.12.2026", "21:59:53"};

TEST(BackupName, Cases) {
    struct Case {
        const char* path;
        DateTimeTexts now;
        int counter;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\Skripte\\karte.lua", kGerman, 1, "C:\\Skripte\\karte_lua_08_12_2026_21_59_53.bak"},
        {"C:\\Skripte\\karte.lua",
         {"8.12.2026", "21:59:53"},
         1,
         "C:\\Skripte\\karte_lua_8_12_2026_21_59_53.bak"},
        {"C:\\Skripte\\karte.lua",
         {"12/8/2026", "9:59:53 PM"},
         1,
         "C:\\Skripte\\karte_lua_12_8_2026_9_59_53 PM.bak"},
        {"C:\\Spiele.alt\\karte.lua", kGerman, 1,
         "C:\\Spiele.alt\\karte_lua_08_12_2026_21_59_53.bak"},
        {"\\\\server\\share.x\\karte.lua", kGerman, 1,
         "\\\\server\\share.x\\karte_lua_08_12_2026_21_59_53.bak"},
        {"C:\\Skripte\\karte.lua", kGerman, 2, "C:\\Skripte\\karte_lua_08_12_2026_21_59_53_2.bak"},
        {"C:\\Skripte\\a.lua",
         {"2026-12-08", "21<59>\"53?*|"},
         1,
         "C:\\Skripte\\a_lua_2026-12-08_21_59__53___.bak"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BackupName(c.path, c.now, c.counter), c.expected);
}

// Every name BackupName gives is recognised as the script's, and nothing of
// another script (one whose name differs only in letter case included).
TEST(BackupName, RecognisedForItsScriptOnly) {
    const struct {
        const char* name;
        bool ours;
    } cases[] = {
        {"karte_lua_08_12_2026_21_59_53.bak", true},
        {"karte_lua_08_12_2026_21_59_53_2.bak", true},
        {"karte_lua_12_8_2026_9_59_53 PM.bak", true},
        {"Karte_lua_08_12_2026_21_59_53.bak", false},
        {"karte_lua_08_12_2026_21_59_53.bak.txt", false},
        {"karte_lua_.bak", false},
        {"karte.lua", false},
        {"~karte.lua.1.velmo-tmp", false},
        {"insel_lua_08_12_2026_21_59_53.bak", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsBackupNameOf(kScript, c.name), c.ours) << c.name;
    for (int counter : {1, 2, 1000}) {
        const std::string full = BackupName(kScript, kGerman, counter);
        EXPECT_TRUE(IsBackupNameOf(kScript, full.substr(full.rfind('\\') + 1))) << full;
    }
}

TEST(SaveScript, BackupHoldsTheTextAsReadAndCollisionsGetACounter) {
    FakePlatform fake;
    fake.AddFile(kScript, "alt\r\n");
    ScriptTexts texts;
    LoadScript(fake, kScript, texts);
    texts.ScriptText = std::make_shared<const std::string>("neu\r\n");
    SaveScript(fake, kScript, texts, true);
    LoadScript(fake, kScript, texts);
    texts.ScriptText = std::make_shared<const std::string>("neuer\r\n");
    SaveScript(fake, kScript, texts, true); // same second
    EXPECT_EQ(fake.FindFile(kScript)->bytes, "neuer\r\n");
    EXPECT_EQ(fake.FindFile("C:\\Skripte\\karte_lua_08_12_2026_21_59_53.bak")->bytes, "alt\r\n");
    EXPECT_EQ(fake.FindFile("C:\\Skripte\\karte_lua_08_12_2026_21_59_53_2.bak")->bytes, "neu\r\n");
    EXPECT_EQ(fake.files.size(), 3u); // no temporary file left
}

TEST(SaveScript, WithoutBackupAndOnANewPath) {
    FakePlatform fake;
    ScriptTexts texts;
    texts.ScriptText = std::make_shared<const std::string>("x");
    SaveScript(fake, "C:\\neu.lua", texts, false);
    EXPECT_EQ(fake.FindFile("C:\\neu.lua")->bytes, "x");
    EXPECT_EQ(fake.files.size(), 1u);
}

TEST(SaveScript, KeepsAttributesAndRefusesReadOnly) {
    FakePlatform fake;
    fake.AddFile(kScript, "alt", 0x22); // hidden + archive
    ScriptTexts texts;
    LoadScript(fake, kScript, texts);
    texts.ScriptText = std::make_shared<const std::string>("neu");
    SaveScript(fake, kScript, texts, false);
    EXPECT_EQ(fake.FindFile(kScript)->attributes, 0x22u);

    fake.files.clear();
    fake.AddFile(kScript, "alt", file_attr::ReadOnly);
    try {
        SaveScript(fake, kScript, texts, true);
        FAIL() << "read-only script was replaced";
    } catch (const PlatformError& e) {
        EXPECT_EQ(e.Code(), win_error::AccessDenied);
    }
    EXPECT_EQ(fake.FindFile(kScript)->bytes, "alt");
    EXPECT_EQ(fake.files.size(), 1u); // no backup either
}

TEST(SaveScript, FailureAtEachStepLeavesOldOrNewAndACompleteOrNoBackup) {
    // Count the platform calls of a clean save, then fail each one in turn.
    auto run = [](std::optional<std::size_t> failing, FakePlatform& fake) {
        fake.AddFile(kScript, "alt");
        ScriptTexts texts;
        LoadScript(fake, kScript, texts);
        texts.ScriptText = std::make_shared<const std::string>("neu");
        fake.calls.clear();
        fake.failCallIndex = failing;
        try {
            SaveScript(fake, kScript, texts, true);
            return true;
        } catch (const PlatformError&) {
            return false;
        }
    };
    FakePlatform clean;
    ASSERT_TRUE(run(std::nullopt, clean));
    const std::size_t steps = clean.calls.size();
    ASSERT_GE(steps, 6u);
    for (std::size_t step = 0; step < steps; ++step) {
        FakePlatform fake;
        const bool saved = run(step, fake);
        const std::string& script = fake.FindFile(kScript)->bytes;
        EXPECT_TRUE(script == "alt" || script == "neu") << fake.calls[step];
        // FileExists answers "no" when failed: then the save goes on regardless. A
        // failure after the script was moved into place (making that rename durable)
        // is reported with the new bytes in place.
        const bool replaced = std::any_of(
            clean.calls.begin(), clean.calls.begin() + step, [](const std::string& call) {
                return call.rfind("MoveFile", 0) == 0 && call.ends_with("| replace");
            });
        if (!saved) {
            EXPECT_EQ(script, replaced ? "neu" : "alt") << fake.calls[step];
        }
        std::size_t backups = 0;
        for (const auto& [name, file] : fake.files) {
            EXPECT_EQ(name.find("velmo-tmp"), std::string::npos) << "left behind: " << name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".bak") {
                EXPECT_EQ(file.bytes, "alt") << fake.calls[step];
                ++backups;
            }
        }
        // A script left with its old bytes keeps no backup made for it: it holds
        // the same bytes, and on a full disk it would only take room. (Unless
        // its removal is the step that fails.)
        const bool removalFailed = fake.calls[step].rfind("DeleteFile", 0) == 0;
        if (script == "alt" && !removalFailed) {
            EXPECT_EQ(backups, 0u) << fake.calls[step];
        }
    }
}

// ---- the conversion actions, end to end against the fake

struct Converter {
    FakePlatform fake;
    VelmoStarter starter{fake};
    Converter(std::string content) { fake.AddFile(kScript, std::move(content)); }
    std::size_t Backups() const {
        std::size_t n = 0;
        for (const auto& [name, file] : fake.files)
            n += name.find(".bak") != std::string::npos;
        return n;
    }
};

// Another program writes a script between its reading and its replace, or
// holds its new text from being flushed: that script keeps what it holds, its
// backup and temporary file go, and the failures come in the order of the list
// whichever step they happened at.
TEST(CommitScripts, AScriptChangedMeanwhileIsNotReplaced) {
    for (const bool withB : {true, false}) {
        SCOPED_TRACE(withB ? "b replaced" : "nothing replaced");
        FakePlatform fake;
        std::vector<StagedScript> round;
        for (const char* path : {"C:\\a.lua", "C:\\b.lua", "C:\\c.lua"}) {
            if (!withB && std::string(path) == "C:\\b.lua")
                continue;
            fake.AddFile(path, "alt");
            const StampedBytes read = fake.ReadStampedFile(path);
            round.push_back(
                StageScript(fake, path, read.bytes, "neu", true, BackupBy::LinkOrCopy, read.stamp));
        }
        fake.AddFile("C:\\a.lua", "alt, von nebenan");
        fake.unflushable.insert("c:\\~c.lua.1.velmo-tmp");
        const std::vector<CommitFailure> failures = CommitScripts(fake, round);
        ASSERT_EQ(failures.size(), 2u);
        EXPECT_EQ(failures[0].index, 0u);
        EXPECT_EQ(failures[0].error.Cause(), ErrorCause::ChangedMeanwhile);
        EXPECT_EQ(failures[0].error.Subject(), "C:\\a.lua");
        EXPECT_EQ(failures[1].index, round.size() - 1);
        EXPECT_EQ(fake.FindFile("C:\\a.lua")->bytes, "alt, von nebenan");
        EXPECT_EQ(fake.FindFile("C:\\c.lua")->bytes, "alt");
        if (withB) {
            EXPECT_EQ(fake.FindFile("C:\\b.lua")->bytes, "neu");
        }
        // Only b's backup is left; no temporary file at all.
        std::size_t backups = 0;
        for (const auto& [key, file] : fake.files) {
            EXPECT_EQ(key.find("velmo-tmp"), std::string::npos) << key;
            backups += key.size() > 4 && key.compare(key.size() - 4, 4, ".bak") == 0;
        }
        EXPECT_EQ(backups, withB ? 1u : 0u);
    }
}

TEST(ConvertAction, ForwardWithBackupAndMessage) {
    Converter c("-- Gr\xFC\xDF"
                "e\r\nprint(\"\xC4rger\")\r\n");
    c.fake.dialogAnswers.push_back(kScript);
    c.starter.Click(UmlauteWeg);
    EXPECT_EQ(c.fake.FindFile(kScript)->bytes, "-- Gr\xC3\xBC\xC3\x9F"
                                               "e\r\nprint(\"\xC3\x84rger\")\r\n");
    EXPECT_EQ(c.Backups(), 1u);
    ASSERT_EQ(c.fake.boxes.size(), 1u);
    EXPECT_EQ(c.fake.boxes[0].text, "Fertig");
    EXPECT_EQ(c.fake.boxes[0].style, 0);
    EXPECT_EQ(c.fake.boxes[0].title, "");
    ASSERT_EQ(c.fake.dialogsShown.size(), 1u);
    EXPECT_EQ(c.fake.dialogsShown[0].Filter, "Lua-Datei (LUA)|*.lua");
    EXPECT_EQ(c.fake.dialogsShown[0].FilterIndex, 1);
    EXPECT_EQ(c.fake.dialogsShown[0].InitDir, "");
    EXPECT_EQ(c.fake.dialogsShown[0].FileName, "");
    EXPECT_TRUE(c.starter.texts.ScriptText->empty());

    c.fake.dialogAnswers.push_back(kScript);
    c.starter.Click(UmlauteZurueck);
    EXPECT_EQ(c.fake.FindFile(kScript)->bytes, "-- Gr\xFC\xDF"
                                               "e\r\nprint(\"\xC4rger\")\r\n");
}

// A script far bigger than what the window holds whole is never read or
// written whole: both conversions go a piece at a time, with the backup.
TEST(ConvertAction, ABigScriptIsNeverHeldWhole) {
    std::string single;
    while (single.size() < 3 * ScriptLimits().whole)
        single += "-- Gr\xFC\xDF"
                  "e\r\nprint(\"\xC4rger\")\r\n";
    const std::string pairs = UmlauteToTwoCharacterForm(single);
    Converter c(single);
    for (ControlId button : {UmlauteWeg, UmlauteZurueck}) {
        c.fake.dialogAnswers.push_back(kScript);
        c.starter.Click(button);
        EXPECT_TRUE(c.fake.FindFile(kScript)->bytes == (button == UmlauteWeg ? pairs : single));
    }
    EXPECT_EQ(c.Backups(), 2u);
    EXPECT_LE(c.fake.largestRead, ScriptLimits().whole);
    EXPECT_LE(c.fake.largestPieceWritten, 2 * ScriptLimits().piece);
}

TEST(ConvertAction, GuardWordAsks) {
    const std::string text = "Umlaute(\"\xE4\")";
    for (int answer : {mb::AnswerNo, mb::AnswerYes}) {
        Converter c(text);
        c.fake.dialogAnswers.push_back(kScript);
        c.fake.msgBoxAnswers.push_back(answer);
        c.starter.Click(UmlauteWeg);
        ASSERT_GE(c.fake.boxes.size(), 1u);
        EXPECT_EQ(c.fake.boxes[0].text,
                  "Wenn die Funktion Umlaute gebraucht wird,\rgibt das nur \xC3\x84rger.\r\r"
                  " M\xC3\xB6"
                  "chtest Du trotzdem weiter machen?");
        EXPECT_EQ(c.fake.boxes[0].style, 20);
        EXPECT_EQ(c.fake.boxes[0].title, "Achtung");
        if (answer == mb::AnswerNo) {
            EXPECT_EQ(c.fake.FindFile(kScript)->bytes, text);
            EXPECT_EQ(c.Backups(), 0u);
            EXPECT_EQ(c.fake.boxes.size(), 1u); // no "Fertig"
        } else {
            EXPECT_EQ(c.fake.FindFile(kScript)->bytes, "Umlaute(\"\xC3\xA4\")");
            EXPECT_EQ(c.fake.boxes.back().text, "Fertig");
        }
    }
}

TEST(ConvertAction, CancelAndUntickedBoxes) {
    Converter c("\xE4");
    c.starter.Click(UmlauteWeg); // cancelled: nothing read, written or shown
    EXPECT_EQ(c.fake.FindFile(kScript)->bytes, "\xE4");
    EXPECT_TRUE(c.fake.boxes.empty());
    EXPECT_EQ(std::count_if(c.fake.calls.begin(), c.fake.calls.end(),
                            [](const std::string& s) { return s != "ShowOpen"; }),
              0);

    c.starter[Meldung].value = 0;
    c.starter[Sicherung].value = 0;
    c.fake.dialogAnswers.push_back(kScript);
    c.starter.Click(UmlauteWeg);
    EXPECT_EQ(c.fake.FindFile(kScript)->bytes, "\xC3\xA4");
    EXPECT_EQ(c.Backups(), 0u);
    EXPECT_TRUE(c.fake.boxes.empty());
}

TEST(ConvertAction, CompiledChunksAndUtf16Or32AreRefusedUntouched) {
    // Each file holds umlaut bytes, pairs and the guard word: converting would change it.
    struct Case {
        std::string bytes, reason;
    };
    const Case cases[] = {
        {"\x1BLua\x54\0\x19\x93\xE4\xC3\xA4UMLAUTE\xDC"s,
         "Die Datei ist ein kompiliertes Lua-Skript (Bytecode) und wird nicht umgewandelt."},
        {"\xFF\xFE-\0-\0 \0\xE4\0\xC3\0\xA4\0U\0M\0L\0A\0U\0T\0E\0"s,
         "Die Datei ist in UTF-16 gespeichert und wird nicht umgewandelt."},
        {"\xFE\xFF\0\xE4\0\xC3\0\xA4"s,
         "Die Datei ist in UTF-16 gespeichert und wird nicht umgewandelt."},
        {"\xFF\xFE\0\0\xE4\0\0\0\xC3\0\0\0\xA4\0\0\0"s,
         "Die Datei ist in UTF-32 gespeichert und wird nicht umgewandelt."},
        {"\0\0\xFE\xFF\0\0\0\xE4"s,
         "Die Datei ist in UTF-32 gespeichert und wird nicht umgewandelt."},
    };
    for (const Case& c : cases)
        for (ControlId button : {UmlauteWeg, UmlauteZurueck}) {
            SCOPED_TRACE(::testing::PrintToString(c.bytes) + " " +
                         std::string(ControlOf(button).name));
            Converter conv(c.bytes);
            const auto filesBefore = conv.fake.files;
            conv.fake.dialogAnswers.push_back(kScript);
            conv.starter.Click(button);
            ASSERT_EQ(conv.fake.boxes.size(), 1u); // no warning asked, no "Fertig"
            EXPECT_EQ(conv.fake.boxes[0].text, kScript + "\r\r"s + c.reason);
            EXPECT_EQ(conv.fake.boxes[0].style, 16);
            EXPECT_EQ(conv.fake.boxes[0].title, "Velmo-Starter");
            for (const std::string& call : conv.fake.calls)
                for (const char* writing : {"WriteNewFile", "MoveFile", "DeleteFile"})
                    EXPECT_NE(call.rfind(writing, 0), 0u) << call;
            ASSERT_EQ(conv.fake.files.size(), filesBefore.size()); // no backup
            EXPECT_EQ(conv.fake.FindFile(kScript)->bytes, c.bytes);
            EXPECT_TRUE(conv.starter.texts.ScriptText->empty());

            // The launcher goes on: the next file is converted as ever.
            conv.fake.AddFile("C:\\Skripte\\text.lua", "\xE4");
            conv.fake.dialogAnswers.push_back("C:\\Skripte\\text.lua");
            conv.starter.Click(UmlauteWeg);
            EXPECT_EQ(conv.fake.FindFile("C:\\Skripte\\text.lua")->bytes, "\xC3\xA4");
            EXPECT_EQ(conv.fake.boxes.back().text, "Fertig");
        }
}

TEST(ConvertAction, LoadFailureIsReportedAndChangesNothing) {
    Converter c("alt");
    c.fake.FindFile(kScript);
    c.fake.files.begin()->second.locked = true;
    c.fake.dialogAnswers.push_back(kScript);
    c.starter.Click(UmlauteWeg);
    ASSERT_EQ(c.fake.boxes.size(), 1u);
    EXPECT_EQ(c.fake.boxes[0].text.rfind("Fehler 32: ", 0), 0u);
    EXPECT_EQ(c.fake.FindFile(kScript)->bytes, "alt");
    EXPECT_EQ(c.fake.files.size(), 1u);
}

// The wait cursor shows from the dialog's close until the action ends, however
// it ends; the questions and messages on the way keep it, the error report,
// shown once the action has ended, does not.
TEST(ConvertAction, BusyFromTheDialogsCloseUntilTheActionEnds) {
    struct Case {
        const char* what;
        std::string content;
        std::string pick; // "" cancels the dialog
        std::optional<int> answer;
        const char* failing; // operation made to fail
    };
    const Case cases[] = {
        {"converted with the message", "\xE4", kScript, std::nullopt, nullptr},
        {"cancelled", "\xE4", "", std::nullopt, nullptr},
        {"guard word answered no", "Umlaute(\"\xE4\")", kScript, mb::AnswerNo, nullptr},
        {"reading fails", "\xE4", kScript, std::nullopt, "ReadWholeFile"},
        {"writing fails", "\xE4", kScript, std::nullopt, "WriteNewFile"},
    };
    for (const Case& c : cases) {
        Converter conv(c.content);
        conv.fake.dialogAnswers.push_back(c.pick);
        if (c.answer)
            conv.fake.msgBoxAnswers.push_back(*c.answer);
        if (c.failing)
            conv.fake.failOperation[c.failing] = win_error::AccessDenied;
        conv.starter.Click(UmlauteWeg);

        const std::vector<std::string>& calls = conv.fake.calls;
        ASSERT_EQ(conv.fake.busyAtCall.size(), calls.size()) << c.what;
        ASSERT_FALSE(calls.empty()) << c.what;
        EXPECT_EQ(calls[0], "ShowOpen") << c.what;
        EXPECT_EQ(conv.fake.busyAtCall[0], 0) << c.what << ": busy while the dialog is open";
        for (std::size_t i = 1; i < calls.size(); ++i) {
            const bool report = calls[i].rfind("MsgBox Fehler ", 0) == 0;
            EXPECT_EQ(conv.fake.busyAtCall[i], report ? 0 : 1) << c.what << ": " << calls[i];
        }
        EXPECT_EQ(conv.fake.busy, 0) << c.what << ": still busy after the action";
    }
}

} // namespace
} // namespace velmo
