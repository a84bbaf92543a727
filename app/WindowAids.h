// What the main window offers beyond the mouse, on Win32: the keys that press
// the drawn pictures (an accelerator table in the message loop), tooltips
// naming them, the objects screen readers read, and the system's
// high-contrast setting. Built from app/Accessibility.h once start-up has
// settled which controls are shown.
#pragma once

#include "app/Accessible.h"
#include "app/Contrast.h"
#include "app/Controls.h"
#include "platform/Handle.h"
#include "platform/WinApi.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmo {

class WindowAids {
  public:
    // The keys and tooltips of the shown pictures, the tooltips of the
    // conversion buttons and check boxes, and what screen readers read of the
    // window and its controls. `tip` gives a control's tooltip when it comes
    // up (see VelmoStarter::Tip). Throws PlatformError.
    void Attach(HWND window, HINSTANCE instance, const std::array<HWND, kControlCount>& children,
                const std::function<bool(ControlId)>& shown, int dpi,
                std::function<std::string(ControlId)> tip);
    // The tooltips' rectangles and the screen readers' locations at a new DPI.
    void Layout(int dpi);
    // The window is gone: screen readers that still hold its objects are told so.
    void Detach();

    // The message loop's accelerator table: true when `msg` was the key of a
    // shown picture, which then has been pressed (WM_COMMAND to the window).
    // A key held down presses once.
    bool TranslateKeys(const MSG& msg);
    // The control a WM_COMMAND from the accelerator table presses; nullopt for
    // any other command.
    static std::optional<ControlId> PressedByKey(WPARAM wParam, LPARAM lParam);

    // WM_NOTIFY of the main window: a tooltip asking for its text. True when
    // answered.
    bool OnNotify(LPARAM lParam);

    // WM_GETOBJECT of the main window (`box` nullopt) or of a picture box.
    LRESULT OnGetObject(std::optional<ControlId> box, WPARAM wParam, LPARAM lParam) const {
        return AnswerGetObject(window_, box, wParam, lParam);
    }

  private:
    std::shared_ptr<AccessibleWindow> window_ = std::make_shared<AccessibleWindow>();
    AutoAccelerators keys_;
    HWND tooltips_ = nullptr; // owned by the window, destroyed with it
    std::function<std::string(ControlId)> tip_;
    std::wstring tipText_; // the text the tooltip shows now
};

// The system's text colours while its high-contrast mode is on; nullopt while
// it is off.
std::optional<HighContrast> ReadHighContrast();

} // namespace velmo
