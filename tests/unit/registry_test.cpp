// The registry reader and the clean-up of a looked-up directory.
#include "platform/FakePlatform.h"
#include "registry/Module1.h"

#include <gtest/gtest.h>

#include <string>

namespace velmo {
namespace {

using namespace std::string_literals;

constexpr char kKey[] = "SOFTWARE\\Quarzwerk\\Velmoria";

FakePlatform::RegValue Sz(std::string bytes) {
    return {reg::Sz, std::move(bytes)};
}

TEST(ReadRegistryValue, StringValueKeepsTerminatorAndOneBlankBehindIt) {
    FakePlatform fake;
    fake.SetRegValue(kKey, "InstallPath", Sz("C:\\Spiele\\Velmoria\0"s));
    RegistryResult result;
    EXPECT_EQ(ReadRegistryValue(fake, HkeyLocalMachine, kKey, "InstallPath", result), 0);
    EXPECT_EQ(std::get<std::string>(result), "C:\\Spiele\\Velmoria\0 "s);
    // Read-only access, the opened key closed, the predefined root never.
    EXPECT_EQ(fake.calls.front(), "RegOpenKeyExA SOFTWARE\\Quarzwerk\\Velmoria | 0 | 1");
    EXPECT_EQ(fake.openKeys, 0);
    for (RegKey closed : fake.closedKeys)
        EXPECT_NE(closed, HkeyLocalMachine);
}

TEST(ReadRegistryValue, SecondQueryGetsTheSizeLearnedNotTheBufferSize) {
    FakePlatform fake;
    fake.SetRegValue(kKey, "InstallPath", Sz("abc\0"s));
    RegistryResult result;
    ReadRegistryValue(fake, HkeyLocalMachine, kKey, "InstallPath", result);
    EXPECT_EQ(fake.calls[1], "RegQueryValueExA InstallPath | 0");
    EXPECT_EQ(fake.calls[2], "RegQueryValueExA InstallPath | 4 | data");
}

TEST(ReadRegistryValue, TypesDecideWhatTheHolderGets) {
    struct Case {
        const char* name;
        FakePlatform::RegValue value;
        RegistryResult expected;
    };
    const RegistryResult before = std::string("vorher");
    const Case cases[] = {
        {"dword", {reg::Dword, "\x2A\x00\x00\x00"s}, std::int32_t{42}},
        {"negative dword", {reg::Dword, "\xFF\xFF\xFF\xFF"s}, std::int32_t{-1}},
        {"expand string is not read", {reg::ExpandSz, "C:\\x\0"s}, before},
        {"binary is not read", {reg::Binary, "\x01\x02"s}, before},
        {"empty string", {reg::Sz, ""}, std::string(" ")},
        {"string without terminator", {reg::Sz, "C:\\Spiel"}, std::string("C:\\Spiel ")},
    };
    for (const Case& c : cases) {
        FakePlatform fake;
        fake.SetRegValue(kKey, "v", c.value);
        RegistryResult result = before;
        EXPECT_EQ(ReadRegistryValue(fake, HkeyLocalMachine, kKey, "v", result), 0) << c.name;
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(fake.openKeys, 0) << c.name;
    }
}

TEST(ReadRegistryValue, FirstFailingCallGivesTheStatusAndLeavesTheHolder) {
    // Each registry call of a string read, failed in turn.
    for (std::size_t failing = 0; failing < 4; ++failing) {
        FakePlatform fake;
        fake.SetRegValue(kKey, "InstallPath", Sz("C:\\Spiel\0"s));
        fake.failCallIndex = failing;
        fake.failCode = 1234;
        RegistryResult result = std::int32_t{7};
        EXPECT_EQ(ReadRegistryValue(fake, HkeyLocalMachine, kKey, "InstallPath", result), 1234)
            << "call " << failing;
        // A failed close comes after the value was read: then the holder has it.
        if (failing < 3) {
            EXPECT_EQ(result, RegistryResult{std::int32_t{7}}) << "call " << failing;
        }
        if (failing > 0 && failing < 3) {
            EXPECT_EQ(fake.openKeys, 0) << "key left open";
        }
    }
    FakePlatform huge;
    huge.SetRegValue(kKey, "InstallPath", Sz(std::string((1u << 20) + 1, 'x')));
    RegistryResult unchanged = std::int32_t{7};
    EXPECT_EQ(ReadRegistryValue(huge, HkeyLocalMachine, kKey, "InstallPath", unchanged),
              static_cast<std::int32_t>(win_error::MoreData));
    EXPECT_EQ(unchanged, RegistryResult{std::int32_t{7}});
    EXPECT_EQ(huge.openKeys, 0);

    FakePlatform fake;
    RegistryResult result;
    EXPECT_EQ(ReadRegistryValue(fake, HkeyLocalMachine, kKey, "InstallPath", result),
              static_cast<std::int32_t>(win_error::FileNotFound));
    fake.AddRegKey(kKey);
    EXPECT_EQ(ReadRegistryValue(fake, HkeyLocalMachine, kKey, "InstallPath", result),
              static_cast<std::int32_t>(win_error::FileNotFound));
    EXPECT_EQ(result, RegistryResult{});
}

TEST(CleanUpDirectory, Cases) {
    struct Case {
        RegistryResult value;
        std::string expected;
    };
    const Case cases[] = {
        {"C:\\Spiel\0 "s, "C:\\Spiel"},              // stored with its terminator
        {"C:\\Spiel "s, "C:\\Spiel"},                // without: the last character stays
        {" C:\\Spiel \0 "s, "C:\\Spiel "},           // leading blank goes, trailing stays
        {"C:\\Spiel\\\0 "s, "C:\\Spiel\\"},          // an ending backslash is kept
        {"C:\\Spiel\0M\xC3\xBCll\0 "s, "C:\\Spiel"}, // nothing behind a NUL
        {" "s, ""},
        {"\0 "s, ""},
        {std::int32_t{1234}, "1234"},
        {RegistryResult{}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CleanUpDirectory(c.value), c.expected);
}

TEST(LookUpDirectory, FallsBackToThe64BitViewOnlyWhenThe32BitViewFails) {
    FakePlatform fake;
    fake.AddRegKey("SOFTWARE\\Notepad++"); // key without a value
    fake.SetRegValue("SOFTWARE\\Notepad++", "", Sz("C:\\Programme\\Notepad++\0"s), true);
    EXPECT_EQ(LookUpDirectory(fake, "SOFTWARE\\Notepad++", ""), "C:\\Programme\\Notepad++");

    FakePlatform both;
    both.SetRegValue(kKey, "InstallPath", Sz("C:\\32\0"s));
    both.SetRegValue(kKey, "InstallPath", Sz("C:\\64\0"s), true);
    EXPECT_EQ(LookUpDirectory(both, kKey, "InstallPath"), "C:\\32");

    FakePlatform empty;
    empty.SetRegValue(kKey, "InstallPath", Sz("  \0"s));
    EXPECT_EQ(LookUpDirectory(empty, kKey, "InstallPath"), std::nullopt);
    EXPECT_EQ(LookUpDirectory(empty, "SOFTWARE\\Fehlt", "x"), std::nullopt);
}

} // namespace
} // namespace velmo
