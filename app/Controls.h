// The main window as data: its 24 controls with kind, text, picture, rectangle
// in twips, initial state, tab index, font, colours and stacking. Layout,
// painting, tab order, start-up detection and the tests all read this table.
#pragma once

#include "resources/resource_ids.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

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
    std::string_view text; // caption or text, UTF-8
    int picture;           // resource number, 0 for none
    int left, top, width, height; // twips, relative to the client area
    bool visible, enabled, checked;
    int tabIndex;  // -1: no place in the tab order
    FontId font;
    std::int32_t textColour, backColour;
    int stacking; // among controls with a window of their own, 0 is frontmost; -1: drawn on the window
};

inline constexpr std::string_view kNixdaText = "Kein Velmoria \r\nVelmo\r\ninstalliert\r\n";

// clang-format off
inline constexpr std::array<Control, kControlCount> kControls = {{
    {Picture7, "Picture7", ControlKind::PictureBox, "", IDP_TITLE, 480, 240, 4935, 1695, true, true, false, 1, FontId::None, kDefaultColour, kBlack, 8},
    {Picture3, "Picture3", ControlKind::PictureBox, "", IDP_STARTER, 6600, 480, 3555, 1245, true, true, false, 12, FontId::None, kDefaultColour, kBlack, 1},
    {Normal, "Normal", ControlKind::Label, "Normal", 0, 3120, 2280, 1290, 435, true, true, false, 6, FontId::Heading, kCyan, kBlack, -1},
    {Debug, "Debug", ControlKind::Label, "Debug", 0, 5400, 2280, 1170, 435, true, true, false, 7, FontId::Heading, kCyan, kBlack, -1},
    {Geschlossen, "Geschlossen", ControlKind::Label, "Geschl.", 0, 7800, 2280, 1335, 435, true, true, false, 8, FontId::Heading, kCyan, kBlack, -1},
    {Editor, "Editor", ControlKind::Label, "Editor", 0, 10200, 2280, 1065, 435, true, true, false, 9, FontId::Heading, kCyan, kBlack, -1},
    {Eisenmark, "Eisenmark", ControlKind::PictureBox, "", IDP_EISENMARK, 120, 3000, 2670, 690, true, true, false, 10, FontId::None, kDefaultColour, kBlack, 3},
    {EisenmarkNormal, "EisenmarkNormal", ControlKind::Image, "", IDP_EISENMARK_NORMAL, 3240, 2880, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {EisenmarkDebug, "EisenmarkDebug", ControlKind::Image, "", IDP_EISENMARK_DEBUG, 5520, 2880, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {EisenmarkGeschlossen, "EisenmarkGeschlossen", ControlKind::Image, "", IDP_EISENMARK_GESCHLOSSEN, 7920, 2880, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {EisenmarkEditor, "EisenmarkEditor", ControlKind::Image, "", IDP_EISENMARK_EDITOR, 10320, 2880, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {Sturmtal, "Sturmtal", ControlKind::PictureBox, "", IDP_STURMTAL, 120, 3960, 2355, 795, true, true, false, 11, FontId::None, kDefaultColour, kBlack, 2},
    {SturmtalNormal, "SturmtalNormal", ControlKind::Image, "", IDP_STURMTAL_NORMAL, 3240, 3840, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {SturmtalDebug, "SturmtalDebug", ControlKind::Image, "", IDP_STURMTAL_DEBUG, 5520, 3840, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {SturmtalGeschlossen, "SturmtalGeschlossen", ControlKind::Image, "", IDP_STURMTAL_GESCHLOSSEN, 7920, 3840, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {SturmtalEditor, "SturmtalEditor", ControlKind::Image, "", IDP_STURMTAL_EDITOR, 10320, 3840, 915, 900, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {Meldung, "Meldung", ControlKind::CheckBox, "Meldung wenn fertig", 0, 480, 5040, 2535, 375, true, true, true, 4, FontId::CheckBox, kCyan, kBlack, 5},
    {Sicherung, "Sicherung", ControlKind::CheckBox, "Orginal-File sichern", 0, 3960, 5040, 2535, 375, true, true, true, 5, FontId::CheckBox, kCyan, kBlack, 4},
    {UmlauteWeg, "UmlauteWeg", ControlKind::CommandButton, "Umlaute für Velmo umwandeln", 0, 480, 5760, 3015, 375, true, true, false, 2, FontId::ConvertButton, kDefaultColour, kDefaultColour, 7},
    {UmlauteZurueck, "UmlauteZurueck", ControlKind::CommandButton, "Umlaute für mich umwandeln", 0, 3960, 5760, 3015, 375, true, true, false, 3, FontId::ConvertButton, kDefaultColour, kDefaultColour, 6},
    {Notepad, "Notepad", ControlKind::Image, "", IDP_NOTEPAD, 7920, 5280, 975, 870, true, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
    {Command1, "Command1", ControlKind::CommandButton, "Beenden", 0, 9840, 5640, 1455, 495, true, true, false, 0, FontId::ExitButton, kDefaultColour, kBlack, 9},
    {Nixda, "Nixda", ControlKind::TextBox, kNixdaText, 0, 480, 0, 10695, 5055, false, false, false, 13, FontId::Notice, kNoticeColour, kBlack, 0},
    {CommonDialog1, "CommonDialog1", ControlKind::Dialog, "", 0, 0, 0, 0, 0, false, true, false, -1, FontId::None, kDefaultColour, kDefaultColour, -1},
}};
// clang-format on

inline constexpr FontDef FontOf(FontId font) {
    switch (font) {
    case FontId::Notice: return {"Courier New", 7200, true};
    case FontId::Heading: return {"MS Sans Serif", 1800, true};
    case FontId::CheckBox: return {"MS Sans Serif", 975, true};
    case FontId::ConvertButton: return {"MS Sans Serif", 825, true};
    case FontId::ExitButton: return {"MS Sans Serif", 1200, true};
    case FontId::None: break;
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

constexpr const Control& ControlOf(ControlId id) { return kControls[id]; }

// Child window IDs on Win32: kChildIdBase + ControlId, so GetDlgItem finds every
// control with a window of its own. The window and the tests that find its
// controls both use these.
inline constexpr int kChildIdBase = 1000;
constexpr int ChildIdOf(ControlId id) { return kChildIdBase + id; }
// The control whose child window has the ID `childId`; null for any other ID.
constexpr const Control* ControlOfChildId(int childId) {
    const int index = childId - kChildIdBase;
    return index >= 0 && index < kControlCount ? &kControls[index] : nullptr;
}

} // namespace velmo
