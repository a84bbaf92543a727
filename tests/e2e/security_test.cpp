// Libraries planted beside the program file are never loaded. (Its header's
// protection, ASLR and DEP, and its imports are checked by tools/pe-check.)
#include "Harness.h"

#include <gtest/gtest.h>

namespace velmo::e2e {
namespace {

// ---- planted libraries

// Libraries the launcher uses by name: a copy of the planted library is put
// beside a copy of the launcher under each name in turn. Under Wine some are loaded by Wine's own
// system libraries, which the program cannot prevent; for those the reason is given and the case is
// skipped there (on Windows every case runs).
struct PlantedCase {
    const char* dll;
    const char* loadedByWineItself; // null: Wine loads it only when the program asks
};

const PlantedCase kPlantedCases[] = {
    {"version.dll", "Wine's own user32.dll imports version.dll, so it is loaded with the "
                    "program's imports, before the program runs (Windows' user32 does not "
                    "import it)"},
    {"msimg32.dll", "Wine's own uxtheme.dll delay-loads msimg32.dll when it first draws, and "
                    "Wine resolves that without the program's SetDefaultDllDirectories"},
    {"uxtheme.dll", "Wine's own user32.dll loads uxtheme.dll while the process starts, before "
                    "the program runs"},
    {"windowscodecs.dll", nullptr},
    {"comdlg32.dll", nullptr},
    {"dwmapi.dll", nullptr},
    {"oleacc.dll", nullptr},
};

// The mark the checks below look for: the planted library leaves it whenever it is loaded.
TEST(SecurityE2E, PlantedLibraryLeavesAMarkWhenLoaded) {
    TempDir temp{L"velmo-planted"};
    const std::wstring marker = temp / L"geladen.txt";
    ScopedEnvironment markerVariable(L"VELMO_PLANTED_MARKER", marker);
    HMODULE library = LoadLibraryW(PlantedDll().c_str());
    ASSERT_NE(library, nullptr) << "error " << GetLastError();
    FreeLibrary(library);
    ASSERT_TRUE(FileExists(marker));
    EXPECT_NE(ReadFileBytes(marker).find("planted_dll.dll"), std::string::npos);
}

void PrintTo(const PlantedCase& c, std::ostream* out) {
    *out << c.dll;
}

class PlantedLibraryTest : public ::testing::TestWithParam<PlantedCase> {};

TEST_P(PlantedLibraryTest, IsNeverLoaded) {
    const std::string dllName = GetParam().dll;
    if (GetParam().loadedByWineItself && RunningUnderWine())
        GTEST_SKIP() << "Under Wine a planted " << dllName
                     << " is loaded whatever the program does: " << GetParam().loadedByWineItself;

    TempDir temp{L"velmo-planted"};
    const std::wstring program = temp / L"Velmo-Starter.exe";
    const std::wstring marker = temp / L"geladen.txt";
    CopyFileTo(LauncherExe(), program);
    CopyFileTo(PlantedDll(), temp / Widen(dllName));
    ScopedEnvironment markerVariable(L"VELMO_PLANTED_MARKER", marker);
    // Under Wine, both programs below look for the library as Windows would.
    WineNativeFirst launcherOrder(L"Velmo-Starter.exe", Widen(dllName));
    WineNativeFirst carelessOrder(L"Careless.exe", Widen(dllName));

    // The trap works: a program beside it that loads the library by name with the
    // default search gets the planted one.
    {
        const std::wstring careless = temp / L"Careless.exe";
        CopyFileTo(StandinExe(), careless);
        StandinLog log(temp / L"careless.log");
        ScopedEnvironment load(L"VELMO_STANDIN_LOAD", Widen(dllName));
        RunToEnd(careless, L"\"" + careless + L"\"", temp.WidePath());
        ASSERT_TRUE(FileExists(marker))
            << "a program loading " << dllName << " by name did not get the planted copy";
        RemoveFile(marker);
    }

    // A full installation, so the window loads and draws everything it has.
    GameInstall game(temp / L"Spiele\\Velmoria", Library::On, Library::Off);
    const std::wstring notepadDir = temp / L"Notepad++";
    MakeNotepadInstall(notepadDir);
    LauncherRegistry registry(game.GamePath(), notepadDir);
    {
        // Started in its own folder, so the current directory holds the library too.
        Launcher launcher(program, temp.WidePath());
        launcher.StartAndWaitForWindow();
        // A screen reader asking for the window's accessible object.
        DWORD_PTR object = 0;
        SendMessageTimeoutW(launcher.MainWindow(), WM_GETOBJECT, 0, OBJID_CLIENT, SMTO_ABORTIFHUNG,
                            5000, &object);
        EXPECT_NE(object, 0u) << "the window gave no accessible object";
        // The conversion's open-file dialog loads the most libraries.
        launcher.ClickButton(UmlauteWeg);
        Launcher::CancelDialog(launcher.WaitForFileDialog());
        launcher.WaitForNoDialog();
        launcher.ClickButton(Command1);
        EXPECT_EQ(launcher.WaitForExit(), 0u);
    }
    EXPECT_FALSE(FileExists(marker)) << "loaded: " << ReadFileBytes(marker);
}

INSTANTIATE_TEST_SUITE_P(SecurityE2E, PlantedLibraryTest, ::testing::ValuesIn(kPlantedCases),
                         [](const auto& info) {
                             const std::string name = info.param.dll;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
} // namespace velmo::e2e
