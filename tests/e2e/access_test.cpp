// Every start of the real launcher without the mouse, and the pictures named:
// the keys of the drawn pictures pressed as the keyboard presses them, whatever
// control has the focus, and doing nothing for a hidden picture; the tooltips
// shown when the mouse rests on a picture; the window's Active Accessibility
// tree read from this process, as a screen reader reads it, and its default
// actions; the focus rectangle once the keyboard is used.
#include "Harness.h"
#include "app/Accessibility.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <objbase.h>
#include <oleacc.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace velmo::e2e {
namespace {

// ---- input as the devices give it

// A key pressed `downs` times without being let go (the keyboard's repeat),
// then let go, with Umschalt held around it when asked; the launcher, in front,
// receives it.
void SendKey(WORD virtualKey, bool shift, int downs = 1) {
    std::vector<INPUT> inputs;
    auto add = [&](WORD key, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (shift)
        add(VK_SHIFT, false);
    for (int i = 0; i < downs; ++i)
        add(virtualKey, false);
    add(virtualKey, true);
    if (shift)
        add(VK_SHIFT, true);
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
        throw HarnessError("SendInput failed: " + std::to_string(GetLastError()));
}

// Keys from the keyboard go to the window in front: the launcher's, which a
// window that appeared meanwhile (the display's first) may have covered.
void BringToFront(HWND window) {
    if (GetForegroundWindow() != window)
        SetForegroundWindow(window);
    if (!WaitUntil([&] { return GetForegroundWindow() == window; }, 2s))
        throw HarnessError("the launcher's window does not come to the front");
}

// The mouse pointer moved to a point of the screen.
void MoveMouse(POINT to) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = MulDiv(to.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = MulDiv(to.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    if (SendInput(1, &input, sizeof input) != 1)
        throw HarnessError("SendInput (mouse) failed: " + std::to_string(GetLastError()));
}

POINT ScreenCentre(const Launcher& launcher, ControlId id) {
    const RECT r = launcher.ControlRect(id);
    POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(launcher.MainWindow(), &centre);
    return centre;
}

// Tab until `id` has the focus.
void FocusByTab(Launcher& launcher, ControlId id) {
    HWND target = launcher.Control(id);
    for (int step = 0; step < 16 && launcher.FocusedWindow() != target; ++step) {
        HWND before = launcher.FocusedWindow();
        launcher.PressKey(VK_TAB);
        WaitUntil([&] { return launcher.FocusedWindow() != before; }, 2s);
    }
    ASSERT_EQ(launcher.FocusedWindow(), target) << "Tab never reached " << ControlOf(id).name;
}

// Asked of the window itself: GetWindowText gives only the caption a window of
// another process was created with, and a tooltip's text is its current tip.
std::wstring WindowText(HWND window) {
    wchar_t text[256] = L"";
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, &length);
    return text;
}

// The launcher's shown tooltip window; null while none is shown.
struct TooltipSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindShownTooltip(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<TooltipSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = L"";
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    if (owner == search->processId && IsWindowVisible(window) &&
        std::wstring(name) == L"tooltips_class32") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND ShownTooltip(DWORD processId) {
    TooltipSearch search{processId, nullptr};
    EnumWindows(FindShownTooltip, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring SpokenNameOf(ControlId id) {
    const SpokenControl* spoken = SpokenControlOf(id);
    return spoken ? Widen(SpokenName(*spoken)) : std::wstring();
}

// ---- the launcher on an installation

class AccessE2E : public ::testing::Test {
  protected:
    void TearDown() override { launcher.reset(); }

    // Both editions with all their programs, and Notepad++.
    void StartComplete() {
        game.emplace(temp / L"Velmoria", Library::On, Library::Off);
        MakeNotepadInstall(temp / L"Notepad++");
        registry.emplace(game->GamePath(), temp / L"Notepad++");
        launcher.emplace();
        launcher->StartAndWaitForWindow();
    }

    // The program a picture starts on the complete installation.
    std::wstring ProgramOf(ControlId id) const {
        switch (id) {
        case Notepad:
            return temp / L"Notepad++\\Notepad++.exe";
        case EisenmarkEditor:
            return game->MapEditor(Edition::Eisenmark);
        case SturmtalEditor:
            return game->MapEditor(Edition::Sturmtal);
        default:
            break;
        }
        const bool eisenmark =
            id == EisenmarkNormal || id == EisenmarkDebug || id == EisenmarkGeschlossen;
        return game->Game(eisenmark ? Edition::Eisenmark : Edition::Sturmtal);
    }

    // Runs `press` and returns the one start it caused.
    template <class Press> StandinStart StartOf(Press press) {
        const std::size_t before = log.Read().size();
        press();
        return log.WaitForCount(before + 1).at(before);
    }

    TempDir temp{L"velmo-access"};
    StandinLog log{temp / L"starts.log"};
    std::optional<GameInstall> game;
    std::optional<LauncherRegistry> registry;
    std::optional<Launcher> launcher;
};

// ---- keys

struct KeyCase {
    WORD key;
    bool shift;
    ControlId starts;
    ControlId focused; // the control that has the focus meanwhile
};

constexpr KeyCase kKeyCases[] = {
    {'1', false, EisenmarkNormal, Command1},
    {'2', false, EisenmarkDebug, Meldung},
    {'3', false, EisenmarkGeschlossen, UmlauteZurueck},
    {'4', false, EisenmarkEditor, Eisenmark},
    {'1', true, SturmtalNormal, Sicherung},
    {'2', true, SturmtalDebug, UmlauteWeg},
    {'3', true, SturmtalGeschlossen, Picture3},
    {'4', true, SturmtalEditor, Picture7},
    {VK_NUMPAD2, false, EisenmarkDebug, Sturmtal},
    {VK_NUMPAD4, true, SturmtalEditor, Meldung},
    {'N', false, Notepad, Sicherung},
};

// Each key starts what a click on its picture starts, and leaves the focus and
// the check boxes as they were.
TEST_F(AccessE2E, EachKeyStartsItsPictureWhateverHasTheFocus) {
    StartComplete();
    for (const KeyCase& c : kKeyCases) {
        SCOPED_TRACE(std::string(ControlOf(c.starts).name) + " by key " + std::to_string(c.key) +
                     (c.shift ? " with Umschalt" : "") + ", focus on " +
                     std::string(ControlOf(c.focused).name));
        FocusByTab(*launcher, c.focused);
        BringToFront(launcher->MainWindow());
        const StandinStart start = StartOf([&] { SendKey(c.key, c.shift); });
        EXPECT_TRUE(SamePath(start.program, ProgramOf(c.starts))) << start;
        const bool debugScript = c.starts == EisenmarkNormal || c.starts == EisenmarkDebug ||
                                 c.starts == EisenmarkGeschlossen || c.starts == SturmtalDebug;
        EXPECT_EQ(start.Arguments(), debugScript ? L"-debugscript" : L"") << start;
        EXPECT_EQ(launcher->FocusedWindow(), launcher->Control(c.focused));
        EXPECT_EQ(launcher->CheckState(Meldung), BST_CHECKED);
        EXPECT_EQ(launcher->CheckState(Sicherung), BST_CHECKED);
    }
    Sleep(300);
    EXPECT_EQ(log.Read().size(), std::size(kKeyCases));
    EXPECT_TRUE(launcher->IsRunning());
}

// Only Eisenmark's game is installed, without its library, and Notepad++ is
// not: the keys of Sturmtal, of Eisenmark's Geschlossen and Editor and N do
// nothing; a key held down starts its program once.
TEST_F(AccessE2E, KeysOfHiddenPicturesDoNothingAndAHeldKeyStartsOnce) {
    const std::wstring gamePath = temp / L"Velmoria";
    const std::wstring eisenmarkGame = gamePath + L"\\extra1\\bin\\Velmoria.exe";
    CopyFileTo(StandinExe(), eisenmarkGame);
    registry.emplace(gamePath, std::nullopt);
    launcher.emplace();
    launcher->StartAndWaitForWindow();
    ASSERT_TRUE(launcher->IsRunning());

    BringToFront(launcher->MainWindow());
    for (WORD key : {'1', '2', '3', '4'})
        SendKey(key, true);
    SendKey(VK_NUMPAD1, true);
    for (WORD key : {'3', '4', 'N'})
        SendKey(key, false);
    SendKey('2', false, 3); // held down: the keyboard repeats it
    SendKey('1', false);

    // The input is handled in order: once the last key's start is logged, every
    // key before it has been handled.
    const std::vector<StandinStart> starts = log.WaitForCount(2);
    Sleep(300);
    ASSERT_EQ(log.Read().size(), 2u);
    EXPECT_TRUE(SamePath(starts[0].program, eisenmarkGame)) << starts[0];
    EXPECT_TRUE(SamePath(starts[1].program, eisenmarkGame)) << starts[1];
    EXPECT_TRUE(launcher->Dialogs().empty()) << "a key of a hidden picture showed a message";
}

// ---- tooltips

// What each tooltip says on the complete installation (Eisenmark's debugger
// library switched on, Sturmtal's off): a picture its name and key and, for a
// game mode, what it does with the library and the library's state; the
// conversion buttons that files and folders can be dropped on them; the
// check boxes what they do.
const struct {
    ControlId id;
    const char* tip;
} kTips[] = {
    {EisenmarkNormal, "Eisenmark \xE2\x80\x93 Normal starten (Taste 1)\n"
                      "schaltet LuaDebugger.dll aus (jetzt: eingeschaltet)"},
    {EisenmarkDebug, "Eisenmark \xE2\x80\x93 Debug starten (Taste 2)\n"
                     "schaltet LuaDebugger.dll aus (jetzt: eingeschaltet)"},
    {EisenmarkGeschlossen, "Eisenmark \xE2\x80\x93 Geschlossen starten (Taste 3)\n"
                           "schaltet LuaDebugger.dll ein (jetzt: eingeschaltet)"},
    {EisenmarkEditor, "Eisenmark \xE2\x80\x93 Editor starten (Taste 4)"},
    {SturmtalNormal, "Sturmtal \xE2\x80\x93 Normal starten (Taste Umschalt+1)\n"
                     "schaltet LuaDebugger.dll aus (jetzt: ausgeschaltet)"},
    {SturmtalDebug, "Sturmtal \xE2\x80\x93 Debug starten (Taste Umschalt+2)\n"
                    "schaltet LuaDebugger.dll aus (jetzt: ausgeschaltet)"},
    {SturmtalGeschlossen, "Sturmtal \xE2\x80\x93 Geschlossen starten (Taste Umschalt+3)\n"
                          "schaltet LuaDebugger.dll ein (jetzt: ausgeschaltet)"},
    {SturmtalEditor, "Sturmtal \xE2\x80\x93 Editor starten (Taste Umschalt+4)"},
    {Notepad, "Notepad++ starten (Taste N)"},
    {UmlauteWeg, "Umlaute f\xC3\xBCr Velmo umwandeln \xE2\x80\x93 Skript w\xC3\xA4hlen, oder "
                 "Dateien und Ordner hierher ziehen"},
    {UmlauteZurueck, "Umlaute f\xC3\xBCr mich umwandeln \xE2\x80\x93 Skript w\xC3\xA4hlen, oder "
                     "Dateien und Ordner hierher ziehen"},
    {Meldung, "Am Ende \xE2\x80\x9E"
              "Fertig\xE2\x80\x9C zeigen (Fehler zeigt der Starter immer)"},
    {Sicherung, "Vor dem Umwandeln den alten Text neben dem Skript sichern (Name mit Datum und "
                "Uhrzeit, .bak)"},
};

// What a tooltip says after its first line (a screen reader's description).
std::wstring AfterName(const std::string& tip) {
    const std::size_t lineEnd = tip.find('\n');
    return lineEnd == std::string::npos ? std::wstring() : Widen(tip.substr(lineEnd + 1));
}

// Resting on a control shows its tooltip; each shown picture that starts
// something has one, and so have the conversion buttons and check boxes. A
// game mode's state line follows the library renamed by another program while
// the launcher is open, and nothing else of the window changes. Screenshots
// of two go to the build directory.
TEST_F(AccessE2E, TooltipsSayWhatEachControlDoes) {
    StartComplete();
    RECT frame;
    GetWindowRect(launcher->MainWindow(), &frame);
    const POINT away{frame.right + 40, frame.bottom + 40}; // beside the window
    const auto shows = [&](ControlId id, const std::wstring& expected, const wchar_t* screenshot) {
        MoveMouse(away);
        EXPECT_TRUE(WaitUntil([&] { return !ShownTooltip(launcher->ProcessId()); }, 5s))
            << "the tooltip stays when the mouse has left";
        MoveMouse(ScreenCentre(*launcher, id));
        std::wstring shown;
        EXPECT_TRUE(WaitUntil(
            [&] {
                HWND tip = ShownTooltip(launcher->ProcessId());
                shown = tip ? WindowText(tip) : L"";
                return shown == expected;
            },
            5s))
            << "shown: \"" << Narrow(shown) << "\", expected \"" << Narrow(expected) << "\"";
        if (!screenshot)
            return;
        Sleep(200); // drawn
        HWND tip = ShownTooltip(launcher->ProcessId());
        RECT tipRect{};
        GetWindowRect(tip, &tipRect);
        RECT both;
        UnionRect(&both, &frame, &tipRect);
        SaveBmp(CaptureScreen(both), WindowsPath(VELMO_SCREENSHOT_DIR) + L"\\" + screenshot);
    };
    for (const auto& c : kTips) {
        SCOPED_TRACE(ControlOf(c.id).name);
        shows(c.id, Widen(c.tip),
              c.id == EisenmarkGeschlossen ? L"e2e-tooltip.bmp"
              : c.id == UmlauteWeg         ? L"e2e-tooltip-button.bmp"
                                           : nullptr);
    }
    // Every picture that starts something has its row.
    for (const SpokenControl& spoken : kSpokenControls) {
        if (spoken.role == SpokenRole::PushButton) {
            EXPECT_TRUE(std::any_of(std::begin(kTips), std::end(kTips), [&](const auto& c) {
                return c.id == spoken.id;
            })) << ControlOf(spoken.id).name;
        }
    }

    // Another program switches Eisenmark's library off meanwhile: the next
    // tooltip says so, and the launcher renames nothing for it.
    ASSERT_TRUE(MoveFileW(game->LibraryOn(Edition::Eisenmark).c_str(),
                          game->LibraryOff(Edition::Eisenmark).c_str()));
    shows(EisenmarkGeschlossen,
          L"Eisenmark \u2013 Geschlossen starten (Taste 3)\n"
          L"schaltet LuaDebugger.dll ein (jetzt: ausgeschaltet)",
          nullptr);
    shows(EisenmarkNormal,
          L"Eisenmark \u2013 Normal starten (Taste 1)\n"
          L"schaltet LuaDebugger.dll aus (jetzt: ausgeschaltet)",
          nullptr);
    EXPECT_EQ(game->LibraryState(Edition::Eisenmark), Library::Off);
    EXPECT_EQ(game->LibraryState(Edition::Sturmtal), Library::Off);
    EXPECT_TRUE(log.Read().empty()) << "a tooltip started something";
    MoveMouse(away);
}

// ---- screen readers

class ComApartment {
  public:
    ComApartment() { result_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }

  private:
    HRESULT result_;
};

template <class Interface> class ComPtr {
  public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_)
            p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    Interface** Out() { return &p_; }
    Interface* operator->() const { return p_; }
    Interface* Get() const { return p_; }

  private:
    Interface* p_ = nullptr;
};

VARIANT ChildId(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring Take(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"";
    SysFreeString(text);
    return result;
}

std::wstring NameOf(IAccessible* object, long child) {
    BSTR name = nullptr;
    object->get_accName(ChildId(child), &name);
    return Take(name);
}

long RoleOf(IAccessible* object, long child) {
    VARIANT role;
    VariantInit(&role);
    if (FAILED(object->get_accRole(ChildId(child), &role)) || role.vt != VT_I4)
        return -1;
    return role.lVal;
}

RECT LocationOf(IAccessible* object, long child) {
    long left = 0, top = 0, width = 0, height = 0;
    object->accLocation(&left, &top, &width, &height, ChildId(child));
    return {left, top, left + width, top + height};
}

// The window read from this process, as a screen reader reads it: every shown
// control in the table's order, the standard ones as their own windows, the
// drawn ones and the picture boxes with their names, roles and places; the
// default action of a portrait starts its mode.
TEST_F(AccessE2E, ScreenReadersReadEveryControlAndPressThePictures) {
    StartComplete();
    ComApartment com;
    HWND main = launcher->MainWindow();
    ComPtr<IAccessible> root;
    ASSERT_EQ(AccessibleObjectFromWindow(main, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(root.Out())),
              S_OK);
    ASSERT_NE(root.Get(), nullptr);
    EXPECT_EQ(NameOf(root.Get(), CHILDID_SELF), L"Velmo-Starter");
    EXPECT_EQ(RoleOf(root.Get(), CHILDID_SELF), ROLE_SYSTEM_CLIENT);

    std::vector<ControlId> expected;
    for (const Control& c : kControls)
        if (c.kind != ControlKind::Dialog && c.id != Nixda)
            expected.push_back(c.id);
    long count = 0;
    ASSERT_EQ(root->get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, static_cast<long>(expected.size()));
    std::vector<VARIANT> children(count);
    long got = 0;
    ASSERT_EQ(AccessibleChildren(root.Get(), 0, count, children.data(), &got), S_OK);
    ASSERT_EQ(got, count);

    for (long i = 0; i < count; ++i) {
        const Control& c = ControlOf(expected[i]);
        SCOPED_TRACE(c.name);
        VARIANT& child = children[i];
        if (c.kind == ControlKind::Label || c.kind == ControlKind::Image) {
            // A drawn control: a simple element the client area describes.
            ASSERT_EQ(child.vt, VT_I4);
            ASSERT_EQ(child.lVal, i + 1);
            EXPECT_EQ(NameOf(root.Get(), i + 1), SpokenNameOf(c.id));
            const bool button = c.kind == ControlKind::Image;
            EXPECT_EQ(RoleOf(root.Get(), i + 1),
                      button ? ROLE_SYSTEM_PUSHBUTTON : ROLE_SYSTEM_STATICTEXT);
            BSTR action = nullptr;
            root->get_accDefaultAction(ChildId(i + 1), &action);
            EXPECT_EQ(Take(action), button ? L"Dr\u00FCcken" : L"");
            // A game mode's description is its tooltip's line on the library.
            std::wstring description;
            for (const auto& tip : kTips)
                if (tip.id == c.id)
                    description = AfterName(tip.tip);
            BSTR described = nullptr;
            root->get_accDescription(ChildId(i + 1), &described);
            EXPECT_EQ(Take(described), description);
            RECT expectedRect = launcher->ControlRect(c.id);
            MapWindowPoints(main, HWND_DESKTOP, reinterpret_cast<POINT*>(&expectedRect), 2);
            const RECT location = LocationOf(root.Get(), i + 1);
            EXPECT_TRUE(EqualRect(&location, &expectedRect))
                << location.left << "," << location.top << " " << location.right << ","
                << location.bottom;
            const POINT centre = ScreenCentre(*launcher, c.id);
            VARIANT hit;
            VariantInit(&hit);
            EXPECT_EQ(root->accHitTest(centre.x, centre.y, &hit), S_OK);
            EXPECT_TRUE(hit.vt == VT_I4 && hit.lVal == i + 1) << "hit test";
            VariantClear(&hit);
            continue;
        }
        // A control with a window of its own: an object of its own.
        ASSERT_EQ(child.vt, VT_DISPATCH);
        ComPtr<IAccessible> object;
        ASSERT_EQ(child.pdispVal->QueryInterface(__uuidof(IAccessible),
                                                 reinterpret_cast<void**>(object.Out())),
                  S_OK);
        HWND window = launcher->Control(c.id);
        if (c.kind == ControlKind::PictureBox) {
            const SpokenControl* spoken = SpokenControlOf(c.id);
            EXPECT_EQ(NameOf(object.Get(), CHILDID_SELF), SpokenNameOf(c.id));
            EXPECT_EQ(RoleOf(object.Get(), CHILDID_SELF), spoken->role == SpokenRole::Graphic
                                                              ? ROLE_SYSTEM_GRAPHIC
                                                              : ROLE_SYSTEM_STATICTEXT);
            // Asked of its own window, as when it gets the focus, it says the same.
            ComPtr<IAccessible> own;
            ASSERT_EQ(AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                                 reinterpret_cast<void**>(own.Out())),
                      S_OK);
            EXPECT_EQ(NameOf(own.Get(), CHILDID_SELF), SpokenNameOf(c.id));
        } else {
            // The system's object of the control's window, which names it by
            // its caption.
            ComPtr<IOleWindow> oleWindow;
            ASSERT_EQ(object->QueryInterface(__uuidof(IOleWindow),
                                             reinterpret_cast<void**>(oleWindow.Out())),
                      S_OK);
            HWND answered = nullptr;
            oleWindow->GetWindow(&answered);
            EXPECT_EQ(answered, window);
            ComPtr<IAccessible> client;
            ASSERT_EQ(AccessibleObjectFromWindow(window, OBJID_CLIENT, __uuidof(IAccessible),
                                                 reinterpret_cast<void**>(client.Out())),
                      S_OK);
            EXPECT_EQ(NameOf(client.Get(), CHILDID_SELF), Widen(c.text));
        }
        VariantClear(&child);
    }

    // Pressed by the screen reader: the same start as a click.
    for (ControlId id : {EisenmarkDebug, SturmtalEditor, Notepad}) {
        SCOPED_TRACE(ControlOf(id).name);
        long position = 0;
        for (long i = 0; i < count; ++i)
            if (expected[i] == id)
                position = i + 1;
        const StandinStart start =
            StartOf([&] { EXPECT_EQ(root->accDoDefaultAction(ChildId(position)), S_OK); });
        EXPECT_TRUE(SamePath(start.program, ProgramOf(id))) << start;
    }
    // A label has no default action.
    EXPECT_NE(root->accDoDefaultAction(ChildId(3)), S_OK);
}

// While the launcher shows a message box, the window takes no input: neither a
// key nor a screen reader starts anything then, nor afterwards.
TEST_F(AccessE2E, NothingStartsWhileAMessageIsShown) {
    game.emplace(temp / L"Velmoria", Library::On, Library::Off);
    registry.emplace(game->GamePath(), temp / L"Notepad++"); // registered, not there
    launcher.emplace();
    launcher->StartAndWaitForWindow();
    ComApartment com;
    ComPtr<IAccessible> root;
    ASSERT_EQ(AccessibleObjectFromWindow(launcher->MainWindow(), OBJID_CLIENT,
                                         __uuidof(IAccessible),
                                         reinterpret_cast<void**>(root.Out())),
              S_OK);
    long eisenmarkNormal = 0; // its place among the shown controls
    for (const Control& c : kControls)
        if (c.id <= EisenmarkNormal && c.kind != ControlKind::Dialog && c.id != Nixda)
            ++eisenmarkNormal;

    BringToFront(launcher->MainWindow());
    SendKey('N', false); // the missing Notepad++: an error report
    HWND box = launcher->WaitForMessageBox();
    EXPECT_EQ(root->accDoDefaultAction(ChildId(eisenmarkNormal)), E_FAIL);
    VARIANT state;
    VariantInit(&state);
    root->get_accState(ChildId(eisenmarkNormal), &state);
    EXPECT_TRUE(state.vt == VT_I4 && (state.lVal & STATE_SYSTEM_UNAVAILABLE));
    PostMessageW(launcher->MainWindow(), WM_KEYDOWN, '1', 1);
    Launcher::PressDialogButton(box, IDOK);
    launcher->WaitForNoDialog();

    Sleep(500);
    EXPECT_TRUE(log.Read().empty());
    EXPECT_TRUE(launcher->IsRunning());
    // Afterwards the screen reader's press works again.
    EXPECT_EQ(NameOf(root.Get(), eisenmarkNormal), SpokenNameOf(EisenmarkNormal));
    const StandinStart start =
        StartOf([&] { EXPECT_EQ(root->accDoDefaultAction(ChildId(eisenmarkNormal)), S_OK); });
    EXPECT_TRUE(SamePath(start.program, game->Game(Edition::Eisenmark))) << start;
}

// ---- keyboard cues

// The system's setting "always show keyboard cues" for programs started while
// this lives (they read it when they start); the old setting comes back after.
class ScopedKeyboardCues {
  public:
    explicit ScopedKeyboardCues(BOOL always) {
        SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &previous_, 0);
        Set(always);
    }
    ~ScopedKeyboardCues() { Set(previous_); }

  private:
    static void Set(BOOL always) {
        SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(INT_PTR{always}),
                              SPIF_UPDATEINIFILE);
    }
    BOOL previous_ = FALSE;
};

// With the cues shown only on demand (Windows' default): hidden while the
// mouse is in use, shown from the first key on. Wine shows them always.
TEST_F(AccessE2E, TheFocusRectangleShowsOnceTheKeyboardIsUsed) {
    ScopedKeyboardCues onDemand(FALSE);
    StartComplete();
    HWND exit = launcher->Control(Command1);
    auto focusHidden = [&] {
        return (SendMessageW(exit, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0;
    };
    // As after a click: the rectangle is hidden...
    SendMessageW(launcher->MainWindow(), WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
    if (!WaitUntil(focusHidden, 2s) && RunningUnderWine())
        GTEST_SKIP() << "Wine keeps no window's keyboard cues (WM_QUERYUISTATE answers 0 "
                        "whatever was set): every focused control shows its focus rectangle";
    ASSERT_TRUE(focusHidden());
    // ...until a key is pressed, even one that does nothing.
    launcher->PressKey(VK_F5);
    EXPECT_TRUE(WaitUntil([&] { return !focusHidden(); }, 2s));
    EXPECT_EQ(launcher->FocusedWindow(), exit);
}

} // namespace
} // namespace velmo::e2e
