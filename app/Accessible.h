// The window as screen readers see it (Active Accessibility): the client area
// of the main window lists every shown control in reading order; the drawn
// pictures that start something are push buttons whose default action presses
// them, the drawn captions and the edition names are static text, the logos
// graphics; the standard controls answer for themselves through the system's
// own objects of their windows.
#pragma once

#include "app/Controls.h"
#include "platform/WinApi.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmo {

// What the accessible objects read of the window. The window keeps it up to
// date; `window` is null once the window is gone, and objects that a screen
// reader still holds then answer that they are no longer connected.
struct AccessibleWindow {
    HWND window = nullptr;
    std::array<HWND, kControlCount> children{}; // by control; null for none
    std::array<bool, kControlCount> shown{};
    int dpi = 96;
    // What a drawn push button does beyond its name (a game mode: its
    // debugger library), as its tooltip says it at this moment; empty for none.
    std::function<std::string(ControlId)> description;
};

// Posted to the window when a screen reader presses a drawn picture: wParam is
// its ControlId. Posted, so that the screen reader's call returns at once and
// the click runs in the message loop like a mouse click, whatever it shows.
inline constexpr UINT kPressDrawnMessage = WM_APP + 1;

// The answer to WM_GETOBJECT for the client area of the main window (`box`
// nullopt) or of the picture box `box`; 0 for any other object, or where the
// system has no Active Accessibility, so that the window procedure's default
// answers.
LRESULT AnswerGetObject(const std::shared_ptr<const AccessibleWindow>& window,
                        std::optional<ControlId> box, WPARAM wParam, LPARAM lParam);

} // namespace velmo
