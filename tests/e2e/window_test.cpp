// The main window of the real launcher after start-up, seen from outside: its
// frame and client size, which controls start-up left visible for each kind of
// installation, what is drawn where (read back from the screen), the notice, the
// stacking and tab orders, clicks that must do nothing, and captions that fit
// their controls at every DPI.
#include "Harness.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmo::e2e {
namespace {

// ---- pixels

bool IsBlack(std::uint32_t rgb) {
    return (rgb & 0xFFFFFF) == 0;
}
bool IsCyan(std::uint32_t rgb) {
    return rgb == 0x00FFFF;
}
int Green(std::uint32_t rgb) {
    return (rgb >> 8) & 0xFF;
}

int CountPixels(const Pixels& pixels, const RECT& r,
                const std::function<bool(std::uint32_t)>& test) {
    int count = 0;
    for (int y = std::max(0L, r.top); y < std::min<long>(r.bottom, pixels.height); ++y)
        for (int x = std::max(0L, r.left); x < std::min<long>(r.right, pixels.width); ++x)
            count += test(pixels.At(x, y)) ? 1 : 0;
    return count;
}

bool Intersect(const RECT& a, const RECT& b) {
    RECT common;
    return IntersectRect(&common, &a, &b) != 0;
}

std::wstring ScreenshotPath(const char* name) {
    return WindowsPath(VELMO_SCREENSHOT_DIR) + L"\\e2e-window-" + Widen(name) + L".bmp";
}

// The window as it is on the screen once it has painted: the check box
// captions are cyan and two captures in a row agree.
Pixels CapturePainted(const Launcher& launcher, std::optional<RECT> checkBox = std::nullopt) {
    const RECT caption = checkBox ? *checkBox : launcher.ControlRect(Meldung);
    Pixels last;
    const bool painted = WaitUntil(
        [&] {
            Pixels now = launcher.CaptureClient();
            const bool stable = now.data == last.data && CountPixels(now, caption, IsCyan) > 0;
            last = std::move(now);
            return stable;
        },
        5s);
    EXPECT_TRUE(painted) << "the window did not finish painting";
    return last;
}

// The name of the control whose child window `window` is.
std::string_view NameOf(HWND window) {
    const Control* c = ControlOfChildId(GetDlgCtrlID(window));
    return c ? c->name : "(not a control)";
}

// ---- what start-up leaves visible

constexpr ControlId kEditionControls[] = {
    Eisenmark,           EisenmarkNormal, EisenmarkDebug, EisenmarkGeschlossen,
    EisenmarkEditor,     Sturmtal,        SturmtalNormal, SturmtalDebug,
    SturmtalGeschlossen, SturmtalEditor,  Geschlossen,    Editor};

struct LayoutCase {
    const char* name;
    bool registered;                   // InstallPath is set
    std::vector<const wchar_t*> files; // below the game directory; empty files suffice
    bool notepad;                      // Notepad++ is registered
    std::set<ControlId> hidden;        // what start-up hides (Nixda aside)
};

const LayoutCase kLayouts[] = {
    {"not-registered",
     false,
     {},
     true,
     std::set<ControlId>(std::begin(kEditionControls), std::end(kEditionControls))},
    {"complete",
     true,
     {L"extra1\\bin\\Velmoria.exe", L"extra1\\bin\\VelmoriaMapEditor.exe",
      L"extra1\\bin\\LuaDebugger.dll.off", L"extra2\\bin\\Velmoria.exe",
      L"extra2\\bin\\VelmoriaMapEditor.exe", L"extra2\\bin\\LuaDebugger.dll"},
     true,
     {}},
    {"eisenmark-only",
     true,
     {L"extra1\\bin\\Velmoria.exe", L"extra1\\bin\\VelmoriaMapEditor.exe",
      L"extra1\\bin\\LuaDebugger.dll.off"},
     true,
     {Sturmtal, SturmtalNormal, SturmtalDebug, SturmtalGeschlossen, SturmtalEditor}},
    // Eisenmark has only its map editor (and a library), Sturmtal only its game.
    {"editor-here-game-there",
     true,
     {L"extra1\\bin\\VelmoriaMapEditor.exe", L"extra1\\bin\\LuaDebugger.dll",
      L"extra2\\bin\\Velmoria.exe"},
     false,
     {EisenmarkNormal, EisenmarkDebug, EisenmarkGeschlossen, SturmtalGeschlossen, SturmtalEditor,
      Notepad}},
};

void PrintTo(const LayoutCase& layout, std::ostream* out) {
    *out << layout.name;
}

// Tab visits these, in this order, when they are shown.
constexpr ControlId kTabOrder[] = {Command1,  Picture7,  UmlauteWeg, UmlauteZurueck, Meldung,
                                   Sicherung, Eisenmark, Sturmtal,   Picture3,       Nixda};

// Front to back among the controls with a window of their own.
constexpr ControlId kStacking[] = {Nixda,   Picture3,       Sturmtal,   Eisenmark, Sicherung,
                                   Meldung, UmlauteZurueck, UmlauteWeg, Picture7,  Command1};

class WindowE2E : public ::testing::Test {
  protected:
    void StartLauncher(const LayoutCase& layout) {
        const std::wstring gamePath = temp / L"Velmoria";
        for (const wchar_t* file : layout.files)
            WriteFileBytes(gamePath + L"\\" + file, "");
        registry.emplace(layout.registered ? std::optional(gamePath) : std::nullopt,
                         layout.notepad ? std::optional(temp / L"Notepad++") : std::nullopt);
        launcher.StartAndWaitForWindow();
    }

    bool Shown(const LayoutCase& layout, ControlId id) const {
        if (id == Nixda)
            return !layout.registered;
        return layout.hidden.count(id) == 0;
    }

    TempDir temp{L"velmo-window"};
    std::optional<LauncherRegistry> registry;
    Launcher launcher;
};

class WindowLayoutE2E : public WindowE2E, public ::testing::WithParamInterface<LayoutCase> {};
class WindowClickE2E : public WindowE2E, public ::testing::WithParamInterface<LayoutCase> {};

std::string CaseName(const ::testing::TestParamInfo<LayoutCase>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == '-')
            c = '_';
    return name;
}

TEST_P(WindowLayoutE2E, ShowsWhatStartUpLeftVisible) {
    const LayoutCase& layout = GetParam();
    StartLauncher(layout);
    HWND main = launcher.MainWindow();
    const int dpi = launcher.Dpi();
    const Pixels pixels = CapturePainted(launcher);
    SaveBmp(pixels, ScreenshotPath(layout.name));

    // The frame: a fixed tool window with a close box, the client area from the table.
    wchar_t title[64] = {};
    GetWindowTextW(main, title, 64);
    EXPECT_STREQ(title, L"Velmo-Starter");
    const LONG style = GetWindowLongW(main, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_TRUE(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_EQ(GetMenu(main), nullptr);
    EXPECT_EQ(pixels.width, TwipsToPixels(kClientWidthTwips, dpi));
    EXPECT_EQ(pixels.height, TwipsToPixels(kClientHeightTwips, dpi));
    if (dpi == 96) { // 11865 x 6390 twips
        EXPECT_EQ(pixels.width, 791);
        EXPECT_EQ(pixels.height, 426);
    }

    // Windowed controls: shown as start-up decided; only the notice is disabled.
    for (const Control& c : kControls) {
        HWND child = launcher.FindControl(c.id);
        if (c.kind == ControlKind::Label || c.kind == ControlKind::Image ||
            c.kind == ControlKind::Dialog) {
            EXPECT_EQ(child, nullptr) << c.name << " must be drawn, not a window";
            continue;
        }
        ASSERT_NE(child, nullptr) << c.name;
        EXPECT_EQ(IsWindowVisible(child) != 0, Shown(layout, c.id)) << c.name;
        EXPECT_EQ(IsWindowEnabled(child) != 0, c.id != Nixda) << c.name;
    }
    EXPECT_EQ(launcher.CheckState(Meldung), BST_CHECKED);
    EXPECT_EQ(launcher.CheckState(Sicherung), BST_CHECKED);

    // Headings, portraits and pictures: something is drawn where one is shown,
    // plain black where one is hidden. Under a shown notice only the notice counts.
    const RECT notice = launcher.ControlRect(Nixda);
    for (const Control& c : kControls) {
        if (c.kind != ControlKind::Label && c.kind != ControlKind::Image &&
            c.kind != ControlKind::PictureBox)
            continue;
        const RECT r = launcher.ControlRect(c.id);
        if (Shown(layout, Nixda) && Intersect(r, notice))
            continue;
        const int drawn = CountPixels(pixels, r, [](std::uint32_t p) { return !IsBlack(p); });
        if (Shown(layout, c.id)) {
            EXPECT_GT(drawn, 0) << c.name << " is shown but nothing is drawn";
        } else {
            EXPECT_EQ(drawn, 0) << c.name << " is hidden but something is drawn";
        }
        if (c.kind == ControlKind::Label && Shown(layout, c.id)) {
            EXPECT_GT(CountPixels(pixels, r, IsCyan), 0) << c.name << " caption is not cyan";
        }
    }

    // The notice: its text is always there; when shown it covers its whole
    // rectangle (logo, "Starter", headings) with its own colours: no green at all.
    wchar_t text[128] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(launcher.Control(Nixda), WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &length);
    EXPECT_EQ(Narrow(text), kNixdaText);
    if (Shown(layout, Nixda)) {
        EXPECT_EQ(CountPixels(pixels, notice, [](std::uint32_t p) { return Green(p) != 0; }), 0);
        EXPECT_GT(CountPixels(pixels, notice, [](std::uint32_t p) { return p == 0xC000C0; }), 1000);
    }

    // The stacking order follows the table, whatever the tab order says.
    std::vector<std::string_view> stacking;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        stacking.push_back(NameOf(child));
    std::vector<std::string_view> expectedStacking;
    for (ControlId id : kStacking)
        expectedStacking.push_back(ControlOf(id).name);
    EXPECT_EQ(stacking, expectedStacking);

    // The focus starts on "Beenden"; Tab goes round the shown controls by tab index.
    std::vector<std::string_view> visited{ControlOf(Command1).name}, expected;
    ASSERT_EQ(launcher.FocusedWindow(), launcher.Control(Command1));
    for (ControlId id : kTabOrder)
        if (Shown(layout, id) && id != Nixda)
            expected.push_back(ControlOf(id).name);
    expected.push_back(ControlOf(Command1).name);
    for (std::size_t step = 1; step < expected.size(); ++step) {
        HWND before = launcher.FocusedWindow();
        launcher.PressKey(VK_TAB);
        WaitUntil([&] { return launcher.FocusedWindow() != before; }, 2s);
        HWND focus = launcher.FocusedWindow();
        visited.push_back(focus ? NameOf(focus) : "(none)");
    }
    EXPECT_EQ(visited, expected);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WindowLayoutE2E, ::testing::ValuesIn(kLayouts), CaseName);

// Clicks on a heading, the picture boxes, the notice or the empty background run
// nothing. Notepad++ is registered but missing, so a click on the notepad picture
// that comes last shows an error report: it must be the only message box, and
// the launcher stays open after it.
TEST_P(WindowClickE2E, ClicksOutsideTheWiredControlsDoNothing) {
    StartLauncher(GetParam());
    HWND main = launcher.MainWindow();
    auto click = [](HWND window, POINT at) {
        const LPARAM where = MAKELPARAM(at.x, at.y);
        PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
        PostMessageW(window, WM_LBUTTONUP, 0, where);
    };
    auto centre = [](const RECT& r) {
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };

    click(main, {TwipsToPixels(kClientWidthTwips, launcher.Dpi()) - 4, 4}); // background
    click(main, centre(launcher.ControlRect(Normal))); // a heading, or the notice
    click(main, centre(launcher.ControlRect(Debug)));
    for (ControlId box : {Picture7, Picture3, Eisenmark, Sturmtal})
        if (HWND child = launcher.FindControl(box); child && IsWindowVisible(child)) {
            RECT r;
            GetClientRect(child, &r);
            click(child, centre(r));
        }
    launcher.ClickImage(Notepad);

    const MessageBoxInfo report = Launcher::ReadMessageBox(launcher.WaitForMessageBox());
    EXPECT_EQ(report.title, L"Velmo-Starter");
    EXPECT_EQ(report.text.rfind(L"Fehler ", 0), 0u) << Narrow(report.text);
    Sleep(300);
    EXPECT_EQ(launcher.Dialogs().size(), 1u) << "more than the one report";
    Launcher::PressDialogButton(launcher.WaitForMessageBox(), IDOK);
    launcher.WaitForNoDialog();
    EXPECT_TRUE(launcher.IsRunning());
}

// With the notice shown, and with the picture boxes of both editions shown.
INSTANTIATE_TEST_SUITE_P(Layouts, WindowClickE2E, ::testing::Values(kLayouts[0], kLayouts[1]),
                         CaseName);

// ---- captions at every DPI

class CaptionsE2E : public WindowE2E, public ::testing::WithParamInterface<int> {};

// Whatever face stands in for the one the layout was made for: the check boxes'
// and buttons' captions fit inside them, and no heading spills out of its
// rectangle (headings are drawn unclipped, so a spill shows on the black beside
// them).
TEST_P(CaptionsE2E, EveryCaptionFitsItsControl) {
    const int dpi = GetParam();
    const SystemDpi systemDpi(dpi);
    StartLauncher(kLayouts[1]); // everything shown
    // The launcher's DPI as its window shows it: its client area is the table's
    // at that DPI. (Asked from another process, the system may answer with the
    // asking program's DPI.)
    RECT client;
    GetClientRect(launcher.MainWindow(), &client);
    if (client.right != TwipsToPixels(kClientWidthTwips, dpi) ||
        client.bottom != TwipsToPixels(kClientHeightTwips, dpi))
        GTEST_SKIP() << "the launcher's client area is " << client.right << " x " << client.bottom
                     << ", not that at " << dpi << " DPI: here the system's DPI changes only "
                     << "with a new session";
    auto rectOf = [dpi](ControlId id) {
        const Control& c = ControlOf(id);
        const long left = TwipsToPixels(c.left, dpi), top = TwipsToPixels(c.top, dpi);
        return RECT{left, top, left + TwipsToPixels(c.width, dpi),
                    top + TwipsToPixels(c.height, dpi)};
    };
    const Pixels pixels = CapturePainted(launcher, rectOf(Meldung));
    SaveBmp(pixels, ScreenshotPath(("dpi-" + std::to_string(dpi)).c_str()));

    for (ControlId id : {Meldung, Sicherung, UmlauteWeg, UmlauteZurueck, Command1}) {
        RECT client;
        GetClientRect(launcher.Control(id), &client);
        const SIZE ideal = IdealSize(launcher, launcher.Control(id));
        EXPECT_GT(ideal.cx, 0) << ControlOf(id).name;
        EXPECT_LE(ideal.cx, client.right) << ControlOf(id).name << " at " << dpi << " DPI";
    }
    // As drawn: a check box's caption ends before the control does (a clipped one
    // runs into its last column); a button's caption keeps clear of its frame.
    auto columns = [&](const RECT& r, const std::function<bool(std::uint32_t)>& test) {
        std::pair<long, long> found{-1, -1}; // leftmost and rightmost column with a hit
        for (long x = r.left; x < std::min<long>(r.right, pixels.width); ++x)
            if (CountPixels(pixels, RECT{x, r.top, x + 1, r.bottom}, test) > 0) {
                if (found.first < 0)
                    found.first = x;
                found.second = x;
            }
        return found;
    };
    for (ControlId id : {Meldung, Sicherung}) {
        const RECT r = rectOf(id);
        const auto [first, last] = columns(r, IsCyan);
        EXPECT_GE(first, r.left) << ControlOf(id).name << ": no caption drawn";
        EXPECT_LT(last, r.right - 1) << ControlOf(id).name << " is cut off at " << dpi << " DPI";
    }
    auto dark = [](std::uint32_t p) {
        return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 96;
    };
    for (ControlId id : {UmlauteWeg, UmlauteZurueck}) {
        const RECT r = rectOf(id);
        const long height = r.bottom - r.top;
        // Inside the frame's two outer columns, across the middle of the caption.
        const RECT inner{r.left + 2, r.top + height / 4, r.right - 2, r.bottom - height / 4};
        const auto [first, last] = columns(inner, dark);
        const long clear = MulDiv(2, dpi, 96);
        EXPECT_GE(first, r.left + clear) << ControlOf(id).name << " at " << dpi << " DPI";
        EXPECT_LE(last, r.right - 1 - clear) << ControlOf(id).name << " at " << dpi << " DPI";
    }

    const Control* const headings[] = {&ControlOf(Normal), &ControlOf(Debug),
                                       &ControlOf(Geschlossen), &ControlOf(Editor)};
    for (const Control* heading : headings) {
        const RECT r = rectOf(heading->id);
        // The black beside and below it, as far as the space to the next control.
        const RECT beside{r.right, r.top, r.right + TwipsToPixels(90, dpi), r.bottom};
        const RECT below{r.left, r.bottom, r.right, r.bottom + TwipsToPixels(90, dpi)};
        EXPECT_GT(CountPixels(pixels, r, IsCyan), 0) << heading->name;
        for (const RECT& outside : {beside, below})
            EXPECT_EQ(CountPixels(pixels, outside, [](std::uint32_t p) { return !IsBlack(p); }), 0)
                << heading->name << " spills out of its rectangle at " << dpi << " DPI";
    }
}

INSTANTIATE_TEST_SUITE_P(Dpi, CaptionsE2E, ::testing::Values(96, 120, 144, 192),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param);
                         });

} // namespace
} // namespace velmo::e2e
