#include "app/Accessibility.h"

namespace velmo {

const SpokenControl* SpokenControlOf(ControlId id) {
    for (const SpokenControl& spoken : kSpokenControls)
        if (spoken.id == id)
            return &spoken;
    return nullptr;
}

std::string KeyText(const SpokenControl& spoken) {
    if (!spoken.key)
        return {};
    return (spoken.shift ? "Umschalt+" : "") + std::string(1, spoken.key);
}

std::string SpokenName(const SpokenControl& spoken) {
    std::string name(spoken.name);
    if (spoken.role == SpokenRole::PushButton) {
        name += " starten";
        if (spoken.key)
            name += " (Taste " + KeyText(spoken) + ")";
    }
    return name;
}

std::vector<KeyBinding> KeyBindings() {
    std::vector<KeyBinding> bindings;
    for (const SpokenControl& spoken : kSpokenControls) {
        if (!spoken.key)
            continue;
        bindings.push_back({spoken.key, spoken.shift, spoken.id});
        if (spoken.key >= '0' && spoken.key <= '9')
            bindings.push_back({kNumberPadZero + (spoken.key - '0'), spoken.shift, spoken.id});
    }
    return bindings;
}

std::optional<ControlId> ControlOfKey(int virtualKey, bool shift) {
    for (const KeyBinding& binding : KeyBindings())
        if (binding.virtualKey == virtualKey && binding.shift == shift)
            return binding.control;
    return std::nullopt;
}

} // namespace velmo
