// The keys, the spoken names and the high-contrast colours of the window, as
// the window code builds its accelerator table, tooltips, accessible objects
// and painting from them.
#include "app/Accessibility.h"
#include "app/Contrast.h"
#include "app/VelmoStarter.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>

namespace velmo {
namespace {

// What the user reads in a tooltip and hears from a screen reader.
TEST(Accessibility, NamesSayWhatEachPictureStartsAndItsKey) {
    const std::pair<ControlId, const char*> expected[] = {
        {EisenmarkNormal, "Eisenmark \xE2\x80\x93 Normal starten (Taste 1)"},
        {EisenmarkDebug, "Eisenmark \xE2\x80\x93 Debug starten (Taste 2)"},
        {EisenmarkGeschlossen, "Eisenmark \xE2\x80\x93 Geschlossen starten (Taste 3)"},
        {EisenmarkEditor, "Eisenmark \xE2\x80\x93 Editor starten (Taste 4)"},
        {SturmtalNormal, "Sturmtal \xE2\x80\x93 Normal starten (Taste Umschalt+1)"},
        {SturmtalDebug, "Sturmtal \xE2\x80\x93 Debug starten (Taste Umschalt+2)"},
        {SturmtalGeschlossen, "Sturmtal \xE2\x80\x93 Geschlossen starten (Taste Umschalt+3)"},
        {SturmtalEditor, "Sturmtal \xE2\x80\x93 Editor starten (Taste Umschalt+4)"},
        {Notepad, "Notepad++ starten (Taste N)"},
        {Geschlossen, "Geschlossen"},
        {Eisenmark, "Eisenmark"},
        {Picture7, "Velmoria"},
    };
    for (const auto& [id, name] : expected) {
        const SpokenControl* spoken = SpokenControlOf(id);
        ASSERT_NE(spoken, nullptr) << ControlOf(id).name;
        EXPECT_EQ(SpokenName(*spoken), name);
    }
}

// Every control drawn on the window, and every picture box, is spoken, once and
// in the table's order; a control with a standard window speaks for itself.
// Exactly the controls whose click runs a procedure are push buttons.
TEST(Accessibility, EveryDrawnControlAndPictureBoxIsSpokenInTableOrder) {
    int previous = -1;
    std::set<ControlId> spoken;
    for (const SpokenControl& s : kSpokenControls) {
        EXPECT_GT(static_cast<int>(s.id), previous) << ControlOf(s.id).name;
        previous = s.id;
        spoken.insert(s.id);
        EXPECT_EQ(s.role == SpokenRole::PushButton, VelmoStarter::HasClickProcedure(s.id))
            << ControlOf(s.id).name;
        EXPECT_EQ(s.role == SpokenRole::PushButton, s.key != 0) << ControlOf(s.id).name;
    }
    for (const Control& c : kControls) {
        const bool drawnOrPicture = c.kind == ControlKind::Label || c.kind == ControlKind::Image ||
                                    c.kind == ControlKind::PictureBox;
        EXPECT_EQ(spoken.count(c.id) == 1, drawnOrPicture) << c.name;
    }
}

TEST(Accessibility, EachKeyPressesOnePictureAndTheNumberPadDoesTheSame) {
    std::map<std::pair<int, bool>, ControlId> seen;
    for (const KeyBinding& b : KeyBindings())
        EXPECT_TRUE(seen.emplace(std::pair(b.virtualKey, b.shift), b.control).second)
            << "key " << b.virtualKey << " twice";
    struct Case {
        int key;
        bool shift;
        std::optional<ControlId> pressed;
    };
    const Case cases[] = {
        {'1', false, EisenmarkNormal},  {'4', false, EisenmarkEditor},
        {'1', true, SturmtalNormal},    {'3', true, SturmtalGeschlossen},
        {0x61, false, EisenmarkNormal}, {0x62, false, EisenmarkDebug},
        {0x64, true, SturmtalEditor},   {'N', false, Notepad},
        {'N', true, std::nullopt},      {'5', false, std::nullopt},
        {0x65, false, std::nullopt},    {'0', false, std::nullopt},
        {'n', false, std::nullopt}, // a character code, never a virtual key here
    };
    for (const Case& c : cases)
        EXPECT_EQ(ControlOfKey(c.key, c.shift), c.pressed) << c.key << (c.shift ? "+shift" : "");
    EXPECT_EQ(seen.size(), 17u); // 8 digits, 8 number-pad digits, N
}

// ---- high contrast

constexpr HighContrast kBlackOnWhite{0x000000, 0xFFFFFF};
constexpr HighContrast kYellowOnBlue{0xFFFF00, 0x000080};

TEST(Contrast, WithoutHighContrastEveryControlKeepsTheTablesColours) {
    EXPECT_EQ(WindowBackground(std::nullopt), kBlack);
    for (const Control& c : kControls) {
        const ShownColours shown = ShownColoursOf(c, std::nullopt);
        EXPECT_EQ(shown.text, c.textColour) << c.name;
        EXPECT_EQ(shown.background, c.backColour) << c.name;
    }
}

// The window's own texts take the system's colours; the pictures, the buttons'
// faces and what the system draws keep theirs.
TEST(Contrast, HighContrastGivesTheWindowsOwnTextsTheSystemsColours) {
    struct Case {
        ControlId id;
        ShownColours expected;
    };
    for (const HighContrast& hc : {kBlackOnWhite, kYellowOnBlue}) {
        EXPECT_EQ(WindowBackground(hc), hc.background);
        const Case cases[] = {
            {Normal, {hc.text, hc.background}},          // a drawn caption
            {Meldung, {hc.text, hc.background}},         // a check box
            {Nixda, {hc.text, hc.background}},           // the notice
            {Command1, {kDefaultColour, hc.background}}, // around its face
            {UmlauteWeg, {kDefaultColour, kDefaultColour}},
            {Picture7, {kDefaultColour, kBlack}},
            {EisenmarkDebug, {kDefaultColour, kDefaultColour}},
        };
        for (const Case& c : cases) {
            const ShownColours shown = ShownColoursOf(ControlOf(c.id), hc);
            EXPECT_EQ(shown.text, c.expected.text) << ControlOf(c.id).name;
            EXPECT_EQ(shown.background, c.expected.background) << ControlOf(c.id).name;
        }
    }
}

} // namespace
} // namespace velmo
