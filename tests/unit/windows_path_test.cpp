// The "\\?\" form the Win32 file services hand every path over in, worked out
// by plain text: relative paths, separators, "." and "..", drives and shares,
// and the device names that must stay file names.
#include "platform/WindowsPath.h"

#include <gtest/gtest.h>

#include <string>

namespace velmo {
namespace {

TEST(WindowsPath, ExtendedForm) {
    const struct {
        const char* path;
        const char* currentDir;
        const char* expected;
    } cases[] = {
        // Device names are names like any other.
        {R"(C:\Karte\con.lua)", R"(D:\x)", R"(\\?\C:\Karte\con.lua)"},
        {R"(nul.lua)", R"(C:\Karte)", R"(\\?\C:\Karte\nul.lua)"},
        {R"(Karte\COM1.lua)", R"(C:\)", R"(\\?\C:\Karte\COM1.lua)"},
        {R"(C:lpt1.lua)", R"(C:\Karte)", R"(\\?\C:\Karte\lpt1.lua)"},
        // Relative to the working folder, on its drive or share.
        {R"(a\b.lua)", R"(C:\Work)", R"(\\?\C:\Work\a\b.lua)"},
        {R"(\a\b.lua)", R"(D:\Work\deep)", R"(\\?\D:\a\b.lua)"},
        {R"(a.lua)", R"(\\server\share\dir)", R"(\\?\UNC\server\share\dir\a.lua)"},
        {R"(\a.lua)", R"(\\server\share\dir)", R"(\\?\UNC\server\share\a.lua)"},
        {R"(a.lua)", R"(\\?\C:\Work)", R"(\\?\C:\Work\a.lua)"},
        {R"(a.lua)", R"(\\?\UNC\server\share\dir)", R"(\\?\UNC\server\share\dir\a.lua)"},
        {R"(a.lua)", R"(C:/Work/)", R"(\\?\C:\Work\a.lua)"},
        // Drive-relative: the working folder when on that drive, else the root.
        {R"(d:a.lua)", R"(D:\Work)", R"(\\?\D:\Work\a.lua)"},
        {R"(D:a.lua)", R"(C:\Work)", R"(\\?\D:\a.lua)"},
        {R"(D:)", R"(D:\Work)", R"(\\?\D:\Work)"},
        {R"(D:)", R"(C:\Work)", R"(\\?\D:\)"},
        // Separators, ".", "..", never above the drive or share.
        {R"(C:/a//b\\\c.lua)", R"(D:\x)", R"(\\?\C:\a\b\c.lua)"},
        {R"(C:\a\.\b\..\c.lua)", R"(D:\x)", R"(\\?\C:\a\c.lua)"},
        {R"(..\..\..\a.lua)", R"(C:\x\y)", R"(\\?\C:\a.lua)"},
        {R"(\\server\share\..\..\a.lua)", R"(C:\x)", R"(\\?\UNC\server\share\a.lua)"},
        {R"(//server/share/dir/a.lua)", R"(C:\x)", R"(\\?\UNC\server\share\dir\a.lua)"},
        {R"(\\.\C:\a\..\b.lua)", R"(D:\x)", R"(\\?\C:\b.lua)"},
        {R"(c:\a.lua)", R"(D:\x)", R"(\\?\C:\a.lua)"},
        // A final separator stays, so a root stays the root folder.
        {R"(C:\)", R"(D:\x)", R"(\\?\C:\)"},
        {R"(C:\a\..)", R"(D:\x)", R"(\\?\C:\)"},
        {R"(C:\a\b\)", R"(D:\x)", R"(\\?\C:\a\b\)"},
        {R"(C:\a\b\.)", R"(D:\x)", R"(\\?\C:\a\b)"},
        {R"(.)", R"(C:\)", R"(\\?\C:\)"},
        {R"(.)", R"(C:\Work)", R"(\\?\C:\Work)"},
        {R"(\\server\share)", R"(C:\x)", R"(\\?\UNC\server\share)"},
        {R"(\\server\share\)", R"(C:\x)", R"(\\?\UNC\server\share\)"},
        // The pattern a folder listing searches with.
        {R"(Karte\*)", R"(C:\Work)", R"(\\?\C:\Work\Karte\*)"},
        // Left as they are: the long form already, nothing, or no working folder.
        {R"(\\?\C:\a\..\b/c)", R"(D:\x)", R"(\\?\C:\a\..\b/c)"},
        {"", R"(C:\x)", ""},
        {R"(a.lua)", "", R"(a.lua)"},
        {R"(a.lua)", R"(relative\dir)", R"(a.lua)"},
        // Names beyond ASCII pass byte for byte (UTF-8).
        {"C:\\Gr\xC3\xBC\xC3\x9F"
         "e\\..\\K\xC3\xA4rtchen.lua",
         R"(D:\x)", "\\\\?\\C:\\K\xC3\xA4rtchen.lua"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " in " + c.currentDir);
        EXPECT_EQ(ExtendedPath(c.path, c.currentDir), c.expected);
    }
}

} // namespace
} // namespace velmo
