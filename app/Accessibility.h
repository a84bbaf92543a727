// What the window tells people who do not use the mouse, as data beside the
// control table: the key that presses each drawn picture that starts something,
// the name tooltips and screen readers give every drawn control and picture
// box, and the part each one plays. The window code builds its accelerator
// table, tooltips and accessible objects from it; tests read it.
#pragma once

#include "app/Controls.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// What a screen reader says a control is.
enum class SpokenRole { PushButton, StaticText, Graphic };

struct SpokenControl {
    ControlId id;
    SpokenRole role;
    std::string_view name; // push buttons: what they start
    char key = 0;          // push buttons: the digit or capital letter that presses it
    bool shift = false;    // ... together with Umschalt
};

// Every drawn control and picture box, in the table's order (the window's
// reading order). The controls with a standard window (buttons, check boxes,
// the notice) speak for themselves.
// clang-format off
inline constexpr std::array<SpokenControl, 17> kSpokenControls = {{
    {Picture7, SpokenRole::Graphic, "Velmoria"},
    {Picture3, SpokenRole::Graphic, "Starter"},
    {Normal, SpokenRole::StaticText, "Normal"},
    {Debug, SpokenRole::StaticText, "Debug"},
    {Geschlossen, SpokenRole::StaticText, "Geschlossen"},
    {Editor, SpokenRole::StaticText, "Editor"},
    {Eisenmark, SpokenRole::StaticText, "Eisenmark"},
    {EisenmarkNormal, SpokenRole::PushButton, "Eisenmark \xE2\x80\x93 Normal", '1'},
    {EisenmarkDebug, SpokenRole::PushButton, "Eisenmark \xE2\x80\x93 Debug", '2'},
    {EisenmarkGeschlossen, SpokenRole::PushButton, "Eisenmark \xE2\x80\x93 Geschlossen", '3'},
    {EisenmarkEditor, SpokenRole::PushButton, "Eisenmark \xE2\x80\x93 Editor", '4'},
    {Sturmtal, SpokenRole::StaticText, "Sturmtal"},
    {SturmtalNormal, SpokenRole::PushButton, "Sturmtal \xE2\x80\x93 Normal", '1', true},
    {SturmtalDebug, SpokenRole::PushButton, "Sturmtal \xE2\x80\x93 Debug", '2', true},
    {SturmtalGeschlossen, SpokenRole::PushButton, "Sturmtal \xE2\x80\x93 Geschlossen", '3', true},
    {SturmtalEditor, SpokenRole::PushButton, "Sturmtal \xE2\x80\x93 Editor", '4', true},
    {Notepad, SpokenRole::PushButton, "Notepad++", 'N'},
}};
// clang-format on

// The entry of `id`; null for a control with a standard window of its own.
const SpokenControl* SpokenControlOf(ControlId id);

// The key as the user reads it: "2", "Umschalt+2", "N"; empty for none.
std::string KeyText(const SpokenControl& spoken);

// The name a tooltip shows and a screen reader says: for a push button what it
// starts and its key, "Eisenmark – Debug starten (Taste 2)"; otherwise the name.
std::string SpokenName(const SpokenControl& spoken);

// Virtual-key codes as Windows numbers them: a digit or capital letter is its
// own character code; the number pad's digits follow from 0x60.
inline constexpr int kNumberPadZero = 0x60;

struct KeyBinding {
    int virtualKey;
    bool shift;
    ControlId control;
};

// Every key that presses a picture: each push button's key, and for a digit
// the same digit on the number pad.
std::vector<KeyBinding> KeyBindings();

// The control the key presses; nullopt for any other key.
std::optional<ControlId> ControlOfKey(int virtualKey, bool shift);

} // namespace velmo
