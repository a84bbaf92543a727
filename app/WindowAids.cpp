#include "app/WindowAids.h"

#include "app/Accessibility.h"
#include "app/Layout.h"
#include "platform/DynamicCalls.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

namespace velmo {
namespace {

static_assert(kNumberPadZero == VK_NUMPAD0);

// The commands of the accelerator table: this base plus the ControlId, apart
// from the child windows' IDs.
constexpr WORD kKeyCommandBase = 2000;

bool ShiftOnly() {
    return GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0;
}
bool NoModifier() {
    return GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0;
}

// A drawn picture's tool: its rectangle on the window. Its text is asked for
// when it shows (TTN_GETDISPINFOW).
TOOLINFOW ToolOf(HWND window, ControlId id, int dpi) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = window;
    tool.uId = static_cast<UINT_PTR>(id);
    tool.rect = PixelRect(ControlOf(id), dpi);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    return tool;
}

// The standard controls with a tooltip: the two conversion buttons, which
// also take dropped files and folders, and the two check boxes.
constexpr ControlId kToolWindows[] = {UmlauteWeg, UmlauteZurueck, Meldung, Sicherung};

// How wide a tooltip may grow before its text wraps, at 96 DPI.
constexpr int kTipWidth = 420;

} // namespace

void WindowAids::Attach(HWND window, HINSTANCE instance,
                        const std::array<HWND, kControlCount>& children,
                        const std::function<bool(ControlId)>& shown, int dpi,
                        std::function<std::string(ControlId)> tip) {
    tip_ = std::move(tip);
    window_->window = window;
    // A screen reader hears what the tooltip's lines after the name say.
    window_->description = [this](ControlId id) {
        const std::string text = tip_ ? tip_(id) : std::string();
        const std::size_t lineEnd = text.find('\n');
        return lineEnd == std::string::npos ? std::string() : text.substr(lineEnd + 1);
    };
    window_->children = children;
    window_->dpi = dpi;
    for (const Control& c : kControls)
        window_->shown[c.id] = shown(c.id);

    std::vector<ACCEL> table;
    for (const KeyBinding& binding : KeyBindings())
        if (window_->shown[binding.control])
            table.push_back({static_cast<BYTE>(FVIRTKEY | (binding.shift ? FSHIFT : 0)),
                             static_cast<WORD>(binding.virtualKey),
                             static_cast<WORD>(kKeyCommandBase + binding.control)});
    keys_.Reset();
    if (!table.empty()) {
        keys_.Reset(CreateAcceleratorTableW(table.data(), static_cast<int>(table.size())));
        if (!keys_)
            throw LastError("");
    }

    if (tooltips_)
        DestroyWindow(tooltips_);
    if (const auto init = dynamic::InitCommonControlsEx()) {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};
        init(&classes);
    }
    // Shown whether or not the window is active, after the system's delays.
    tooltips_ =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr, instance, nullptr);
    if (!tooltips_)
        throw LastError("");
    for (const SpokenControl& spoken : kSpokenControls) {
        if (spoken.role != SpokenRole::PushButton || !window_->shown[spoken.id])
            continue;
        TOOLINFOW tool = ToolOf(window, spoken.id, dpi);
        if (!SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)))
            throw MakeError(ERROR_NOT_ENOUGH_MEMORY, "");
    }
    for (const ControlId id : kToolWindows) {
        if (!children[id] || !window_->shown[id])
            continue;
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window;
        tool.uId = reinterpret_cast<UINT_PTR>(children[id]);
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        if (!SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)))
            throw MakeError(ERROR_NOT_ENOUGH_MEMORY, "");
    }
    // Lines break at "\n" and where the text is wider than this.
    SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0, MulDiv(kTipWidth, dpi, 96));
}

bool WindowAids::OnNotify(LPARAM lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (!tooltips_ || !header || header->hwndFrom != tooltips_ || header->code != TTN_GETDISPINFOW)
        return false;
    auto* asked = reinterpret_cast<NMTTDISPINFOW*>(lParam);
    std::optional<ControlId> id;
    if (asked->uFlags & TTF_IDISHWND) {
        for (const ControlId tool : kToolWindows)
            if (reinterpret_cast<UINT_PTR>(window_->children[tool]) == header->idFrom)
                id = tool;
    } else if (header->idFrom < kControlCount) {
        id = static_cast<ControlId>(header->idFrom);
    }
    // Read now, as the tooltip comes up: a game mode's line tells the debugger
    // library's state on the disk at this moment.
    tipText_ = id && tip_ ? Widen(tip_(*id)) : std::wstring();
    asked->lpszText = tipText_.data();
    asked->szText[0] = L'\0';
    asked->hinst = nullptr;
    return true;
}

void WindowAids::Layout(int dpi) {
    window_->dpi = dpi;
    if (!tooltips_)
        return;
    for (const SpokenControl& spoken : kSpokenControls)
        if (spoken.role == SpokenRole::PushButton && window_->shown[spoken.id]) {
            TOOLINFOW tool = ToolOf(window_->window, spoken.id, dpi);
            SendMessageW(tooltips_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0, MulDiv(kTipWidth, dpi, 96));
}

void WindowAids::Detach() {
    window_->window = nullptr;
    window_->description = nullptr; // it reads this object, which may go first
    tooltips_ = nullptr;
    keys_.Reset();
}

bool WindowAids::TranslateKeys(const MSG& msg) {
    HWND window = window_->window;
    if (!keys_ || !window || msg.message != WM_KEYDOWN ||
        (msg.hwnd != window && !IsChild(window, msg.hwnd)))
        return false;
    // A key held down sends WM_KEYDOWN again and again: the picture is pressed
    // once, and the repeats go nowhere else either.
    constexpr LPARAM kRepeated = 1 << 30;
    if (msg.lParam & kRepeated) {
        const bool shift = ShiftOnly();
        if (!shift && !NoModifier())
            return false;
        const std::optional<ControlId> control = ControlOfKey(static_cast<int>(msg.wParam), shift);
        return control && window_->shown[*control];
    }
    return TranslateAcceleratorW(window, keys_.Get(), const_cast<MSG*>(&msg)) != 0;
}

std::optional<ControlId> WindowAids::PressedByKey(WPARAM wParam, LPARAM lParam) {
    const int index = static_cast<int>(LOWORD(wParam)) - kKeyCommandBase;
    if (HIWORD(wParam) != 1 || lParam != 0 || index < 0 || index >= kControlCount)
        return std::nullopt;
    return static_cast<ControlId>(index);
}

std::optional<HighContrast> ReadHighContrast() {
    HIGHCONTRASTW setting{};
    setting.cbSize = sizeof setting;
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof setting, &setting, 0) ||
        !(setting.dwFlags & HCF_HIGHCONTRASTON))
        return std::nullopt;
    return HighContrast{FromColorRef(GetSysColor(COLOR_WINDOWTEXT)),
                        FromColorRef(GetSysColor(COLOR_WINDOW))};
}

} // namespace velmo
