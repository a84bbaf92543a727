// The main window as data: its 24 controls with kind, text, picture, rectangle
// in twips, initial state, tab index, font, colours and stacking. Layout,
// painting, tab order, start-up detection and the tests all read this table.
#pragma once

#include "resources/resource_ids.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace velmo {

enum class ControlKind { TextBox, CheckBox, CommandButton, PictureBox, Label, Image, Dialog };

enum class FontId { None, Notice, Heading, CheckBox, ConvertButton, ExitButton };
inline constexpr int kFontCount = static_cast<int>(FontId::ExitButton) + 1;

struct FontDef {
    std::string_view face;
    int hundredthsOfPoint; // 9.75 pt is 975
    bool bold;
};

// Colour as 0xRRGGBB; kDefaultColour leaves the platform's own.
inline constexpr std::int32_t kDefaultColour = -1;
inline constexpr std::int32_t kBlack = 0x000000;
inline constexpr std::int32_t kCyan = 0x00FFFF;
inline constexpr std::int32_t kNoticeColour = 0xC000C0;

enum ControlId : int {
    Picture7,
    Picture3,
    Normal,
    Debug,
    Geschlossen,
    Editor,
    Eisenmark,
    EisenmarkNormal,
    EisenmarkDebug,
    EisenmarkGeschlossen,
    EisenmarkEditor,
    Sturmtal,
    SturmtalNormal,
    SturmtalDebug,
    SturmtalGeschlossen,
    SturmtalEditor,
    Meldung,
    Sicherung,
    UmlauteWeg,
    UmlauteZurueck,
    Notepad,
    Command1,
    Nixda,
    CommonDialog1,
    kControlCount
};

struct Control {
    ControlId id;
    std::string_view name;
    ControlKind kind;
    std::string_view text = "";   // caption or text, UTF-8
    int picture = 0;              // resource number, 0 for none
    int left, top, width, height; // twips, relative to the client area
    bool visible = true, enabled = true, checked = false;
    int tabIndex = -1; // -1: no place in the tab order
    FontId font = FontId::None;
    std::int32_t textColour = kDefaultColour, backColour = kDefaultColour;
    // Among controls with a window of their own, 0 is frontmost; -1: drawn on the window.
    int stacking = -1;
};

inline constexpr std::string_view kNixdaText = "Kein Velmoria \r\nVelmo\r\ninstalliert\r\n";

// One row per control, each field named: the content, the rectangle, then the
// state and looks where they differ from the defaults in Control.
// clang-format off
inline constexpr std::array<Control, kControlCount> kControls = {{
    {.id = Picture7, .name = "Picture7", .kind = ControlKind::PictureBox, .picture = IDP_TITLE,
     .left = 480, .top = 240, .width = 4935, .height = 1695,
     .tabIndex = 1, .backColour = kBlack, .stacking = 8},
    {.id = Picture3, .name = "Picture3", .kind = ControlKind::PictureBox, .picture = IDP_STARTER,
     .left = 6600, .top = 480, .width = 3555, .height = 1245,
     .tabIndex = 12, .backColour = kBlack, .stacking = 1},
    {.id = Normal, .name = "Normal", .kind = ControlKind::Label, .text = "Normal",
     .left = 3120, .top = 2280, .width = 1290, .height = 435,
     .tabIndex = 6, .font = FontId::Heading, .textColour = kCyan, .backColour = kBlack},
    {.id = Debug, .name = "Debug", .kind = ControlKind::Label, .text = "Debug",
     .left = 5400, .top = 2280, .width = 1170, .height = 435,
     .tabIndex = 7, .font = FontId::Heading, .textColour = kCyan, .backColour = kBlack},
    {.id = Geschlossen, .name = "Geschlossen", .kind = ControlKind::Label, .text = "Geschl.",
     .left = 7800, .top = 2280, .width = 1335, .height = 435,
     .tabIndex = 8, .font = FontId::Heading, .textColour = kCyan, .backColour = kBlack},
    {.id = Editor, .name = "Editor", .kind = ControlKind::Label, .text = "Editor",
     .left = 10200, .top = 2280, .width = 1065, .height = 435,
     .tabIndex = 9, .font = FontId::Heading, .textColour = kCyan, .backColour = kBlack},
    {.id = Eisenmark, .name = "Eisenmark", .kind = ControlKind::PictureBox,
     .picture = IDP_EISENMARK,
     .left = 120, .top = 3000, .width = 2670, .height = 690,
     .tabIndex = 10, .backColour = kBlack, .stacking = 3},
    {.id = EisenmarkNormal, .name = "EisenmarkNormal", .kind = ControlKind::Image,
     .picture = IDP_EISENMARK_NORMAL,
     .left = 3240, .top = 2880, .width = 915, .height = 900},
    {.id = EisenmarkDebug, .name = "EisenmarkDebug", .kind = ControlKind::Image,
     .picture = IDP_EISENMARK_DEBUG,
     .left = 5520, .top = 2880, .width = 915, .height = 900},
    {.id = EisenmarkGeschlossen, .name = "EisenmarkGeschlossen", .kind = ControlKind::Image,
     .picture = IDP_EISENMARK_GESCHLOSSEN,
     .left = 7920, .top = 2880, .width = 915, .height = 900},
    {.id = EisenmarkEditor, .name = "EisenmarkEditor", .kind = ControlKind::Image,
     .picture = IDP_EISENMARK_EDITOR,
     .left = 10320, .top = 2880, .width = 915, .height = 900},
    {.id = Sturmtal, .name = "Sturmtal", .kind = ControlKind::PictureBox, .picture = IDP_STURMTAL,
     .left = 120, .top = 3960, .width = 2355, .height = 795,
     .tabIndex = 11, .backColour = kBlack, .stacking = 2},
    {.id = SturmtalNormal, .name = "SturmtalNormal", .kind = ControlKind::Image,
     .picture = IDP_STURMTAL_NORMAL,
     .left = 3240, .top = 3840, .width = 915, .height = 900},
    {.id = SturmtalDebug, .name = "SturmtalDebug", .kind = ControlKind::Image,
     .picture = IDP_STURMTAL_DEBUG,
     .left = 5520, .top = 3840, .width = 915, .height = 900},
    {.id = SturmtalGeschlossen, .name = "SturmtalGeschlossen", .kind = ControlKind::Image,
     .picture = IDP_STURMTAL_GESCHLOSSEN,
     .left = 7920, .top = 3840, .width = 915, .height = 900},
    {.id = SturmtalEditor, .name = "SturmtalEditor", .kind = ControlKind::Image,
     .picture = IDP_STURMTAL_EDITOR,
     .left = 10320, .top = 3840, .width = 915, .height = 900},
    {.id = Meldung, .name = "Meldung", .kind = ControlKind::CheckBox, .text = "Meldung wenn fertig",
     .left = 480, .top = 5040, .width = 2535, .height = 375,
     .checked = true, .tabIndex = 4, .font = FontId::CheckBox, .textColour = kCyan,
     .backColour = kBlack, .stacking = 5},
    {.id = Sicherung, .name = "Sicherung", .kind = ControlKind::CheckBox,
     .text = "Orginal-File sichern",
     .left = 3960, .top = 5040, .width = 2535, .height = 375,
     .checked = true, .tabIndex = 5, .font = FontId::CheckBox, .textColour = kCyan,
     .backColour = kBlack, .stacking = 4},
    {.id = UmlauteWeg, .name = "UmlauteWeg", .kind = ControlKind::CommandButton,
     .text = "Umlaute für Velmo umwandeln",
     .left = 480, .top = 5760, .width = 3015, .height = 375,
     .tabIndex = 2, .font = FontId::ConvertButton, .stacking = 7},
    {.id = UmlauteZurueck, .name = "UmlauteZurueck", .kind = ControlKind::CommandButton,
     .text = "Umlaute für mich umwandeln",
     .left = 3960, .top = 5760, .width = 3015, .height = 375,
     .tabIndex = 3, .font = FontId::ConvertButton, .stacking = 6},
    {.id = Notepad, .name = "Notepad", .kind = ControlKind::Image, .picture = IDP_NOTEPAD,
     .left = 7920, .top = 5280, .width = 975, .height = 870},
    {.id = Command1, .name = "Command1", .kind = ControlKind::CommandButton, .text = "Beenden",
     .left = 9840, .top = 5640, .width = 1455, .height = 495,
     .tabIndex = 0, .font = FontId::ExitButton, .backColour = kBlack, .stacking = 9},
    {.id = Nixda, .name = "Nixda", .kind = ControlKind::TextBox, .text = kNixdaText,
     .left = 480, .top = 0, .width = 10695, .height = 5055,
     .visible = false, .enabled = false, .tabIndex = 13, .font = FontId::Notice,
     .textColour = kNoticeColour, .backColour = kBlack, .stacking = 0},
    {.id = CommonDialog1, .name = "CommonDialog1", .kind = ControlKind::Dialog,
     .left = 0, .top = 0, .width = 0, .height = 0,
     .visible = false},
}};
// clang-format on

inline constexpr FontDef FontOf(FontId font) {
    switch (font) {
    case FontId::Notice:
        return {"Courier New", 7200, true};
    case FontId::Heading:
        return {"MS Sans Serif", 1800, true};
    case FontId::CheckBox:
        return {"MS Sans Serif", 975, true};
    case FontId::ConvertButton:
        return {"MS Sans Serif", 825, true};
    case FontId::ExitButton:
        return {"MS Sans Serif", 1200, true};
    case FontId::None:
        break;
    }
    return {"", 0, false};
}

// The window itself.
inline constexpr std::string_view kWindowTitle = "Velmo-Starter";
inline constexpr int kClientWidthTwips = 11865;
inline constexpr int kClientHeightTwips = 6390;
inline constexpr int kTwipsPerInch = 1440;

// Twips to device pixels at the given DPI, rounded to the nearest pixel.
constexpr int TwipsToPixels(int twips, int dpi) {
    return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

constexpr const Control& ControlOf(ControlId id) {
    return kControls[id];
}

// Child window IDs on Win32: kChildIdBase + ControlId, so GetDlgItem finds every
// control with a window of its own. The window and the tests that find its
// controls both use these.
inline constexpr int kChildIdBase = 1000;
constexpr int ChildIdOf(ControlId id) {
    return kChildIdBase + id;
}
// The control whose child window has the ID `childId`; null for any other ID.
constexpr const Control* ControlOfChildId(int childId) {
    const int index = childId - kChildIdBase;
    return index >= 0 && index < kControlCount ? &kControls[index] : nullptr;
}

// Controls with a window of their own; labels and images are drawn on the
// main window, and the dialog is no control on it.
constexpr bool HasOwnWindow(ControlKind kind) {
    return kind == ControlKind::TextBox || kind == ControlKind::CheckBox ||
           kind == ControlKind::CommandButton || kind == ControlKind::PictureBox;
}

// The controls that `take` keeps, ordered by the number `rank` gives each.
template <class Take, class Rank> std::vector<ControlId> ControlsBy(Take take, Rank rank) {
    std::vector<const Control*> list;
    for (const Control& c : kControls)
        if (take(c))
            list.push_back(&c);
    std::sort(list.begin(), list.end(),
              [&](const Control* a, const Control* b) { return rank(*a) < rank(*b); });
    std::vector<ControlId> ids;
    for (const Control* c : list)
        ids.push_back(c->id);
    return ids;
}

// The windowed controls that take part in Tab navigation, by tab index.
inline std::vector<ControlId> TabOrder() {
    return ControlsBy([](const Control& c) { return HasOwnWindow(c.kind) && c.tabIndex >= 0; },
                      [](const Control& c) { return c.tabIndex; });
}

// The windowed controls front to back, by stacking rank.
inline std::vector<ControlId> StackingOrder() {
    return ControlsBy([](const Control& c) { return HasOwnWindow(c.kind); },
                      [](const Control& c) { return c.stacking; });
}

} // namespace velmo
