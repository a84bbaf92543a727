#include "app/Contrast.h"

namespace velmo {

std::int32_t WindowBackground(const std::optional<HighContrast>& highContrast) {
    return highContrast ? highContrast->background : kBlack;
}

ShownColours ShownColoursOf(const Control& c, const std::optional<HighContrast>& highContrast) {
    const ShownColours table{c.textColour, c.backColour};
    if (!highContrast)
        return table;
    switch (c.kind) {
    case ControlKind::Label:
    case ControlKind::CheckBox:
    case ControlKind::TextBox:
        return {highContrast->text, highContrast->background};
    case ControlKind::CommandButton:
        return {c.textColour,
                c.backColour == kDefaultColour ? kDefaultColour : highContrast->background};
    case ControlKind::PictureBox:
    case ControlKind::Image:
    case ControlKind::Dialog:
        break;
    }
    return table;
}

} // namespace velmo
