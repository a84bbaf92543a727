// A save killed at any moment loses nothing: save_victim runs the conversion
// click on a large script and is ended with TerminateProcess at moments spread
// over its whole run. Afterwards the script holds its old or its new bytes in
// full, a backup (if there is one) holds the old bytes in full, and nothing but
// temporary "~...velmo-tmp" files is left besides; the next conversion of the
// script removes those.
#include "TestSupport.h"

#include "convert/Umlaute.h"
#include "platform/Handle.h"
#include "platform/Win32Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <thread>
#include <vector>

namespace velmo {
namespace {

using Clock = std::chrono::steady_clock;
using test::NamesIn;
using test::ReadRaw;
using test::TempDir;

constexpr int kRounds = 12;
constexpr int kRoundsBeforeWriting = 3; // while the script is read and converted
constexpr std::size_t kScriptBytes = 32u << 20;

// Lua text in Windows-1252 with umlauts on every line.
std::string LargeScript() {
    std::string text;
    text.reserve(kScriptBytes + 128);
    for (unsigned line = 0; text.size() < kScriptBytes; ++line) {
        text += "local gr\xF6\xDF"
                "e_" +
                std::to_string(line) +
                " = \"\xC4rger mit \xD6l, S\xFC\xDF"
                "es und \xE4hnlichem\" -- Z\xE4hler\r\n";
    }
    return text;
}

// Starts save_victim on the script; the process handle is returned.
AutoHandle StartVictim(const std::string& script) {
    const std::wstring program = Widen(test::ProgramDir() + "\\save_victim.exe");
    std::wstring commandLine = L"\"" + program + L"\" \"" + Widen(script) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        ADD_FAILURE() << "save_victim does not start: " << GetLastError();
        return AutoHandle();
    }
    CloseHandle(info.hThread);
    return AutoHandle(info.hProcess);
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Outcome {
    bool scriptNew = false;
    int backups = 0;
    int leftovers = 0; // temporary files left by the kill
};

// Checks the folder after a run; contents are compared whole, never printed.
Outcome Inspect(const std::string& dir, const std::string& scriptName, const std::string& oldText,
                const std::string& newText) {
    Outcome outcome;
    const std::optional<std::string> script = ReadRaw(dir + "\\" + scriptName);
    EXPECT_TRUE(script) << "script gone";
    if (script) {
        outcome.scriptNew = *script == newText;
        EXPECT_TRUE(*script == oldText || *script == newText)
            << "script holds neither its old nor its new bytes (" << script->size() << " bytes)";
    }
    for (const std::string& name : NamesIn(dir)) {
        if (name == scriptName)
            continue;
        if (EndsWith(name, ".bak")) {
            ++outcome.backups;
            const std::optional<std::string> backup = ReadRaw(dir + "\\" + name);
            EXPECT_TRUE(backup && *backup == oldText) << "incomplete backup " << name << " ("
                                                      << (backup ? backup->size() : 0) << " bytes)";
        } else if (name.rfind("~", 0) == 0 && EndsWith(name, ".velmo-tmp")) {
            ++outcome.leftovers;
        } else {
            ADD_FAILURE() << "unexpected file " << name;
        }
    }
    EXPECT_LE(outcome.backups, 1);
    // The backup is complete before the script is replaced.
    if (outcome.scriptNew) {
        EXPECT_EQ(outcome.backups, 1);
    }
    return outcome;
}

// Empties the folder and puts the old script back.
void Reset(const std::string& dir, const std::string& script, const std::string& oldText) {
    for (const std::string& name : NamesIn(dir)) {
        const std::wstring path = test::Extended(Widen(dir + "\\" + name));
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(DeleteFileW(path.c_str())) << name << ": " << GetLastError();
    }
    test::WriteRaw(script, oldText);
}

// Waits until the victim has begun writing (a temporary file shows in the
// folder); false when it ended first.
bool WaitForWriting(HANDLE victim, const std::string& dir) {
    const auto end = Clock::now() + std::chrono::minutes(2);
    while (WaitForSingleObject(victim, 0) == WAIT_TIMEOUT && Clock::now() < end) {
        for (const std::string& name : NamesIn(dir))
            if (EndsWith(name, ".velmo-tmp"))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

long long Milliseconds(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

TEST(KillDuringSave, ScriptAndBackupAreOldOrNewInFull) {
    TempDir dir("kill");
    const std::string scriptName = "gro\xC3\x9F"
                                   "e Karte.lua";
    const std::string script = dir / scriptName;
    const std::string oldText = LargeScript();
    const std::string newText = UmlauteToTwoCharacterForm(oldText);
    ASSERT_NE(oldText, newText);

    // One run to the end: it converts, and it shows how long the reading and
    // converting take (until the first temporary file appears) and how long the
    // writing takes from there. Kill moments are spread over both phases, most
    // of them over the writing, and those are counted from the moment the
    // writing is seen to begin, so that process start-up jitter does not move them.
    Reset(dir.Path(), script, oldText);
    const auto started = Clock::now();
    AutoHandle calibration = StartVictim(script);
    ASSERT_TRUE(calibration);
    const bool sawWriting = WaitForWriting(calibration.Get(), dir.Path());
    const auto reading = Clock::now() - started;
    ASSERT_EQ(WaitForSingleObject(calibration.Get(), 120000), WAIT_OBJECT_0);
    const auto writing = Clock::now() - started - reading;
    DWORD exitCode = 1;
    GetExitCodeProcess(calibration.Get(), &exitCode);
    ASSERT_EQ(exitCode, 0u) << "the unkilled save failed";
    ASSERT_TRUE(sawWriting) << "no temporary file seen during the save";
    const Outcome full = Inspect(dir.Path(), scriptName, oldText, newText);
    ASSERT_TRUE(full.scriptNew);
    ASSERT_EQ(full.backups, 1);
    ASSERT_EQ(full.leftovers, 0);

    int endedOld = 0, endedNew = 0, withBackup = 0, withLeftovers = 0, finished = 0, swept = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Reset(dir.Path(), script, oldText);
        AutoHandle victim = StartVictim(script);
        ASSERT_TRUE(victim);
        std::string when;
        if (round < kRoundsBeforeWriting) {
            const auto delay = reading * (2 * round + 1) / (2 * kRoundsBeforeWriting);
            std::this_thread::sleep_for(delay);
            when = std::to_string(Milliseconds(delay)) + " ms after the start";
        } else {
            const int n = kRounds - kRoundsBeforeWriting, i = round - kRoundsBeforeWriting;
            const auto delay = writing * (2 * i + 1) / (2 * n);
            if (WaitForWriting(victim.Get(), dir.Path()))
                std::this_thread::sleep_for(delay);
            when = std::to_string(Milliseconds(delay)) + " ms into the writing";
        }
        if (WaitForSingleObject(victim.Get(), 0) == WAIT_OBJECT_0)
            ++finished; // ran faster this time; still a valid end state
        else
            TerminateProcess(victim.Get(), 9);
        ASSERT_EQ(WaitForSingleObject(victim.Get(), 60000), WAIT_OBJECT_0);

        const Outcome o = Inspect(dir.Path(), scriptName, oldText, newText);
        (o.scriptNew ? endedNew : endedOld)++;
        withBackup += o.backups > 0;
        withLeftovers += o.leftovers > 0;
        std::cout << "[ KILL     ] round " << round << ", " << when << ": script "
                  << (o.scriptNew ? "new" : "old") << ", backup "
                  << (o.backups ? "complete" : "none") << ", temporary files " << o.leftovers
                  << "\n";
        if (o.leftovers > 0) {
            // The next conversion of the script takes the killed run's temporary file away.
            AutoHandle next = StartVictim(script);
            ASSERT_TRUE(next);
            ASSERT_EQ(WaitForSingleObject(next.Get(), 120000), WAIT_OBJECT_0);
            EXPECT_TRUE(ReadRaw(script) == newText) << "the next conversion did not convert";
            for (const std::string& name : NamesIn(dir.Path()))
                EXPECT_FALSE(EndsWith(name, ".velmo-tmp")) << name << " stayed";
            ++swept;
        }
    }
    std::cout << "[ KILL     ] " << kRounds << " kill rounds (reading " << Milliseconds(reading)
              << " ms, writing " << Milliseconds(writing) << " ms): " << endedOld
              << " ended with the old script, " << endedNew << " with the new one; " << withBackup
              << " with a backup, " << withLeftovers << " with temporary files left (" << swept
              << " removed by the next conversion), " << finished << " finished before the kill\n";
    RecordProperty("kill_rounds", kRounds);
    RecordProperty("ended_old", endedOld);
    RecordProperty("ended_new", endedNew);
}

} // namespace
} // namespace velmo
