// Which colours the window shows its own texts in. Normally the table's; when
// the system's high-contrast mode is on, the system's text and background
// colours for everything the window draws text on, so that a person who needs
// high contrast can read it. Portable: the window code reads the system's
// setting and asks this.
#pragma once

#include "app/Controls.h"

#include <cstdint>
#include <optional>

namespace velmo {

// The system's colours for text and its background (0xRRGGBB) while high
// contrast is on; the window code passes nullopt while it is off.
struct HighContrast {
    std::int32_t text;
    std::int32_t background;
};

struct ShownColours {
    std::int32_t text; // kDefaultColour: the system's own
    std::int32_t background;
};

// The window's background: the table's black, or high contrast's background.
std::int32_t WindowBackground(const std::optional<HighContrast>& highContrast);

// The colours a control is shown in. Without high contrast the table's. With
// it, the labels, the check boxes and the notice take the system's text on the
// system's background, and what the table sets black around a push button
// becomes that background; picture boxes and images keep their pictures.
ShownColours ShownColoursOf(const Control& c, const std::optional<HighContrast>& highContrast);

} // namespace velmo
