// The windowed controls in the table's colours: the brushes, the colours the
// system's controls paint in, and the two kinds painted here, picture boxes
// and the notice while it is disabled.
#pragma once

#include "app/Contrast.h"
#include "app/Controls.h"
#include "app/Pictures.h"
#include "platform/Handle.h"
#include "platform/WinApi.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace velmo {

class ControlPainter {
  public:
    // A solid brush of the colour, made once; the system's button face for
    // kDefaultColour.
    HBRUSH BrushFor(std::int32_t colour);

    // The system's colours while high contrast is on (nullopt: the table's).
    void SetHighContrast(std::optional<HighContrast> highContrast) { highContrast_ = highContrast; }

    // For WM_CTLCOLOR*: sets the control's text and background colours on `dc`
    // and returns its background brush; null where the table leaves both to
    // the system. Around a push button the window's own background shows; its
    // face keeps the system colours.
    HBRUSH ColoursFor(HDC dc, const Control& c, bool button);

    // The picture box's face (or its background), with the focus rectangle when
    // `focused`.
    void PaintPictureBox(HWND box, HDC dc, const Control& c, const Bitmap& face, bool focused);
    // A disabled edit control paints its text in the system's grey whatever
    // colour its parent sets, so the notice is painted here: its lines centred,
    // in its own colours and font.
    void PaintTextBox(HWND box, HDC dc, const Control& c, HFONT font);

  private:
    std::vector<std::pair<std::int32_t, AutoBrush>> brushes_;
    std::optional<HighContrast> highContrast_;
};

} // namespace velmo
