// The program file's protection: ASLR and DEP are on, it imports only libraries
// Windows itself provides, and libraries planted beside it are never loaded.
#include "Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace velmo::e2e {
namespace {

// ---- the PE file format, as far as the checks need it

constexpr std::uint16_t kDynamicBase = 0x0040; // IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE
constexpr std::uint16_t kNxCompat = 0x0100;    // IMAGE_DLLCHARACTERISTICS_NX_COMPAT
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint16_t kMachineI386 = 0x14C;

struct PeFacts {
    std::uint16_t machine = 0;
    std::uint16_t magic = 0;
    std::uint16_t dllCharacteristics = 0;
    std::uint32_t relocationBytes = 0;
    std::vector<std::string> imports;      // loaded with the program, in lower case
    std::vector<std::string> delayImports; // loaded on first use, in lower case
};

class PeReader {
  public:
    explicit PeReader(std::string bytes) : bytes_(std::move(bytes)) {}

    PeFacts Read() {
        PeFacts facts;
        if (U16(0) != 0x5A4D)
            Bad("no MZ header");
        const std::uint32_t pe = U32(0x3C);
        if (U32(pe) != 0x00004550)
            Bad("no PE signature");
        const std::uint32_t coff = pe + 4;
        facts.machine = U16(coff);
        const std::uint16_t sectionCount = U16(coff + 2);
        const std::uint16_t optionalSize = U16(coff + 16);
        const std::uint32_t optional = coff + 20;
        facts.magic = U16(optional);
        if (facts.magic != kPe32 && facts.magic != kPe32Plus)
            Bad("unknown optional header");
        const bool plus = facts.magic == kPe32Plus;
        facts.dllCharacteristics = U16(optional + 70);
        imageBase_ = plus ? U64(optional + 24) : U32(optional + 28);
        const std::uint32_t directoryCount = U32(optional + (plus ? 108 : 92));
        const std::uint32_t directories = optional + (plus ? 112 : 96);

        for (std::uint32_t i = 0; i < sectionCount; ++i) {
            const std::uint32_t s = optional + optionalSize + i * 40;
            sections_.push_back({U32(s + 12), std::max(U32(s + 8), U32(s + 16)), U32(s + 20)});
        }
        auto directory = [&](std::uint32_t index) -> std::pair<std::uint32_t, std::uint32_t> {
            if (index >= directoryCount)
                return {0, 0};
            return {U32(directories + index * 8), U32(directories + index * 8 + 4)};
        };

        facts.relocationBytes = directory(5).second;
        if (const auto [rva, size] = directory(1); rva && size) {
            for (std::uint32_t d = Offset(rva);; d += 20) {
                const std::uint32_t name = U32(d + 12);
                if (name == 0 && U32(d + 16) == 0)
                    break;
                facts.imports.push_back(Lower(String(Offset(name))));
            }
        }
        if (const auto [rva, size] = directory(13); rva && size) {
            for (std::uint32_t d = Offset(rva);; d += 32) {
                const std::uint32_t attributes = U32(d);
                std::uint64_t name = U32(d + 4);
                if (name == 0)
                    break;
                if (!(attributes & 1))
                    name -= imageBase_; // old style: addresses, not RVAs
                facts.delayImports.push_back(
                    Lower(String(Offset(static_cast<std::uint32_t>(name)))));
            }
        }
        return facts;
    }

  private:
    struct Section {
        std::uint32_t address, size, fileOffset;
    };

    [[noreturn]] static void Bad(const std::string& why) {
        throw HarnessError("not a valid program file: " + why);
    }
    void Need(std::uint64_t offset, std::uint64_t size) const {
        if (offset + size > bytes_.size())
            Bad("truncated");
    }
    std::uint16_t U16(std::uint64_t at) const {
        Need(at, 2);
        std::uint16_t v;
        std::memcpy(&v, bytes_.data() + at, 2);
        return v;
    }
    std::uint32_t U32(std::uint64_t at) const {
        Need(at, 4);
        std::uint32_t v;
        std::memcpy(&v, bytes_.data() + at, 4);
        return v;
    }
    std::uint64_t U64(std::uint64_t at) const {
        Need(at, 8);
        std::uint64_t v;
        std::memcpy(&v, bytes_.data() + at, 8);
        return v;
    }
    std::string String(std::uint32_t at) const {
        Need(at, 1);
        const auto end = bytes_.find('\0', at);
        if (end == std::string::npos)
            Bad("unterminated name");
        return bytes_.substr(at, end - at);
    }
    std::uint32_t Offset(std::uint32_t rva) const {
        for (const Section& s : sections_)
            if (rva >= s.address && rva < s.address + s.size)
                return rva - s.address + s.fileOffset;
        Bad("address outside every section");
    }
    static std::string Lower(std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    std::string bytes_;
    std::vector<Section> sections_;
    std::uint64_t imageBase_ = 0;
};

// Libraries Windows maps from System32 for every process, whatever lies beside the
// program (the KnownDLLs list), and ntdll. Only these may be imported directly:
// the program's own code, and with it SetDefaultDllDirectories, runs only after
// its imports are loaded.
const std::set<std::string> kKnownDlls = {
    "advapi32.dll", "clbcatq.dll",  "combase.dll",  "comdlg32.dll", "coml2.dll",    "difxapi.dll",
    "gdi32.dll",    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",    "kernel32.dll", "msctf.dll",
    "msvcrt.dll",   "normaliz.dll", "nsi.dll",      "ntdll.dll",    "ole32.dll",    "oleaut32.dll",
    "psapi.dll",    "rpcrt4.dll",   "sechost.dll",  "setupapi.dll", "shcore.dll",   "shell32.dll",
    "shlwapi.dll",  "user32.dll",   "wldap32.dll",  "ws2_32.dll"};

// Further Windows libraries a program may load on first use, after the search
// has been restricted to System32.
const std::set<std::string> kOtherSystemDlls = {"comctl32.dll", "dwmapi.dll",  "msimg32.dll",
                                                "uxtheme.dll",  "version.dll", "windowscodecs.dll",
                                                "ucrtbase.dll"};

bool IsApiSet(const std::string& name) {
    return name.rfind("api-ms-win-", 0) == 0 || name.rfind("ext-ms-win-", 0) == 0;
}

struct ProgramFile {
    const char* name;
    std::wstring (*path)();
    bool thirtyTwoBit; // the shipped product: must be 32-bit x86
};

void PrintTo(const ProgramFile& file, std::ostream* out) {
    *out << file.name;
}

class ProgramFileTest : public ::testing::TestWithParam<ProgramFile> {};

TEST_P(ProgramFileTest, HasAslrAndDepAndImportsOnlySystemLibraries) {
    const std::wstring path = GetParam().path();
    if (!FileExists(path))
        GTEST_SKIP() << Narrow(path) << " is not built (cmake --build --preset win32 builds it)";
    const PeFacts facts = PeReader(ReadFileBytes(path)).Read();

    if (GetParam().thirtyTwoBit) {
        EXPECT_EQ(facts.magic, kPe32);
        EXPECT_EQ(facts.machine, kMachineI386);
    }
    EXPECT_TRUE(facts.dllCharacteristics & kDynamicBase) << "ASLR (DYNAMIC_BASE) is off";
    EXPECT_TRUE(facts.dllCharacteristics & kNxCompat) << "DEP (NX_COMPAT) is off";
    // Without relocations Windows cannot move the image, whatever the flag says.
    EXPECT_GT(facts.relocationBytes, 0u) << "no relocations: ASLR cannot move the image";

    // The table was found at all: every program imports kernel32.
    ASSERT_TRUE(std::count(facts.imports.begin(), facts.imports.end(), "kernel32.dll"));
    for (const std::string& dll : facts.imports)
        EXPECT_TRUE(kKnownDlls.count(dll) || IsApiSet(dll))
            << dll
            << " is imported directly, but Windows would look for it beside the program "
               "first (it is no KnownDLL); load it after restricting the search instead";
    for (const std::string& dll : facts.delayImports)
        EXPECT_TRUE(kKnownDlls.count(dll) || kOtherSystemDlls.count(dll) || IsApiSet(dll))
            << dll << " (loaded on first use) is no Windows library";
}

INSTANTIATE_TEST_SUITE_P(SecurityE2E, ProgramFileTest,
                         ::testing::Values(ProgramFile{"ThisBuild", &LauncherExe, false},
                                           ProgramFile{"Shipped32Bit", &Launcher32Exe, true}),
                         [](const auto& info) { return std::string(info.param.name); });

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
        RunToEnd(careless, L"\"" + careless + L"\"", temp.Path());
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
        Launcher launcher(program, temp.Path());
        launcher.StartAndWaitForWindow();
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
