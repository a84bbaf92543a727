#include "app/Window.h"

#include "app/DropTarget.h"
#include "app/ErrorReport.h"
#include "app/Fonts.h"
#include "app/Layout.h"
#include "platform/DynamicCalls.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <string>
#include <utility>

namespace velmo {
namespace {

constexpr wchar_t kPictureBoxClass[] = L"VelmoPictureBox";
// A tool window with a close box only: no minimise, no maximise, no sizing frame.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_TOOLWINDOW;

// ---- the control kinds as Win32 windows, in this one place

struct ChildClass {
    const wchar_t* name; // nullptr: drawn on the main window, no window of its own
    DWORD style;
};

constexpr ChildClass ChildClassOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::TextBox:
        return {L"EDIT", ES_MULTILINE | WS_TABSTOP};
    case ControlKind::CheckBox:
        return {L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP};
    case ControlKind::CommandButton:
        return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP};
    case ControlKind::PictureBox:
        return {kPictureBoxClass, WS_TABSTOP};
    case ControlKind::Label:
    case ControlKind::Image:
    case ControlKind::Dialog:
        break;
    }
    return {nullptr, 0};
}

static_assert([] {
    for (const Control& c : kControls)
        if (HasOwnWindow(c.kind) != (ChildClassOf(c.kind).name != nullptr))
            return false;
    return true;
}());

const std::vector<ControlId>& Tabs() {
    static const std::vector<ControlId> order = TabOrder();
    return order;
}

int DpiOf(HWND hwnd) {
    if (const auto getDpiForWindow = dynamic::GetDpiForWindow())
        if (UINT dpi = getDpiForWindow(hwnd))
            return static_cast<int>(dpi);
    WindowDc dc(hwnd);
    const int dpi = dc.Get() ? GetDeviceCaps(dc.Get(), LOGPIXELSY) : kDefaultDpi;
    return dpi > 0 ? dpi : kDefaultDpi;
}

RECT WindowRectFor(int clientWidth, int clientHeight, int dpi) {
    RECT rect{0, 0, clientWidth, clientHeight};
    if (const auto adjust = dynamic::AdjustWindowRectExForDpi())
        adjust(&rect, kWindowStyle, FALSE, kWindowExStyle, static_cast<UINT>(dpi));
    else
        AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
    return rect;
}

// Visual styles draw check boxes in the theme's text colour and ignore the one
// the parent sets; without a theme the control draws in the parent's colours.
void DrawWithoutTheme(HWND control) {
    if (const auto setWindowTheme = dynamic::SetWindowTheme())
        setWindowTheme(control, L"", L"");
}

POINT PointOf(LPARAM lParam) {
    return {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

bool FocusCuesHidden(HWND hwnd) {
    return (SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0;
}

} // namespace

// ---- lifetime

MainWindow::MainWindow(HINSTANCE instance, VelmoStarter& starter)
    : instance_(instance), starter_(starter) {}

MainWindow::~MainWindow() {
    if (hwnd_)
        DestroyWindow(hwnd_);
}

void MainWindow::Create() {
    artwork_.Decode(instance_);

    WNDCLASSEXW main{};
    main.cbSize = sizeof main;
    main.lpfnWndProc = WindowProc;
    main.hInstance = instance_;
    main.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VELMO), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXICON),
                                               GetSystemMetrics(SM_CYICON), LR_SHARED));
    main.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VELMO), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    main.lpszClassName = kMainWindowClass;
    WNDCLASSEXW box{};
    box.cbSize = sizeof box;
    box.lpfnWndProc = ChildProc<&MainWindow::HandlePictureBox>;
    box.hInstance = instance_;
    box.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    box.lpszClassName = kPictureBoxClass;
    for (const WNDCLASSEXW* windowClass : {&main, &box})
        if (!RegisterClassExW(windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            throw LastError("");

    // Created where the primary screen begins, so it gets that screen's DPI;
    // WM_CREATE sizes it and Show centres it.
    CreateWindowExW(kWindowExStyle, kMainWindowClass, Widen(std::string(kWindowTitle)).c_str(),
                    kWindowStyle, 0, 0, 0, 0, nullptr, nullptr, instance_, this);
    if (!hwnd_) {
        if (createError_)
            std::rethrow_exception(std::exchange(createError_, nullptr));
        throw LastError("");
    }
}

void MainWindow::Close() {
    if (hwnd_)
        DestroyWindow(hwnd_);
}

int MainWindow::RunMessageLoop() {
    MSG msg{};
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(msg.wParam);
        if (got == -1)
            return 1;
        if (TranslateKeyboard(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// ---- window procedures: one switch each, exceptions stop here

MainWindow* MainWindow::FromHandle(HWND hwnd) {
    return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    MainWindow* self = FromHandle(hwnd);
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        if (message == WM_CREATE) {
            self->createError_ = std::current_exception();
            return -1;
        }
        ReportCurrentException(hwnd);
        return 0;
    }
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers every pixel
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_PRINTCLIENT: {
        const Bitmap& surface = artwork_.Surface();
        MemoryDc from(reinterpret_cast<HDC>(wParam), surface.handle.Get());
        BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, surface.pixels.width, surface.pixels.height,
               from.Get(), 0, 0, SRCCOPY);
        return 0;
    }
    case WM_LBUTTONDOWN:
        OnLButtonDown(PointOf(lParam));
        return 0;
    case WM_LBUTTONUP:
        OnLButtonUp(PointOf(lParam));
        return 0;
    case WM_CAPTURECHANGED:
        pressedImage_ = -1;
        return 0;
    case WM_COMMAND:
        if (const std::optional<ControlId> pressed = WindowAids::PressedByKey(wParam, lParam))
            PressDrawn(*pressed);
        else
            OnCommand(HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case kPressDrawnMessage:
        if (wParam < kControlCount)
            PressDrawn(static_cast<ControlId>(wParam));
        return 0;
    case WM_GETOBJECT:
        if (const LRESULT object = aids_.OnGetObject(std::nullopt, wParam, lParam))
            return object;
        break;
    case WM_NOTIFY:
        if (aids_.OnNotify(lParam))
            return 0;
        break;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        OnColoursChanged();
        break;
    case WM_CTLCOLORSTATIC:
        return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), false);
    case WM_CTLCOLOREDIT:
        return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), false);
    case WM_CTLCOLORBTN:
        return OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), true);
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_ACTIVATE:
        if (OnActivate(LOWORD(wParam) != WA_INACTIVE))
            return 0;
        break;
    case WM_SETFOCUS:
        OnSetFocus();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY: {
        aids_.Detach();
        HWND hwnd = std::exchange(hwnd_, nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        children_.fill(nullptr);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

template <LRESULT (MainWindow::*Handler)(HWND, UINT, WPARAM, LPARAM)>
LRESULT CALLBACK MainWindow::ChildProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindow* self = FromHandle(GetParent(hwnd));
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    try {
        return (self->*Handler)(hwnd, message, wParam, lParam);
    } catch (...) {
        ReportCurrentException(self->hwnd_);
        return 0;
    }
}

// Child windows we paint ourselves: the painting messages go to `paint`.
// True when the message was one of them.
bool MainWindow::PaintChild(HWND box, UINT message, WPARAM wParam,
                            void (MainWindow::*paint)(HWND, HDC)) {
    switch (message) {
    case WM_ERASEBKGND: // the painter covers every pixel
        return true;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(box, &ps);
        (this->*paint)(box, dc);
        EndPaint(box, &ps);
        return true;
    }
    case WM_PRINTCLIENT:
        (this->*paint)(box, reinterpret_cast<HDC>(wParam));
        return true;
    }
    return false;
}

LRESULT MainWindow::HandlePictureBox(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (PaintChild(box, message, wParam, &MainWindow::PaintPictureBox))
        return message == WM_ERASEBKGND ? 1 : 0;
    switch (message) {
    case WM_LBUTTONDOWN:
        SetFocus(box);
        return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
        InvalidateRect(box, nullptr, FALSE);
        break;
    case WM_GETOBJECT:
        if (const Control* c = ControlOfChild(box))
            if (const LRESULT object = aids_.OnGetObject(c->id, wParam, lParam))
                return object;
        break;
    }
    return DefWindowProcW(box, message, wParam, lParam);
}

// A disabled edit control paints its text in the system's grey whatever colour
// its parent sets, so a disabled text box is painted here in its own colours.
LRESULT MainWindow::HandleTextBox(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsWindowEnabled(box) && PaintChild(box, message, wParam, &MainWindow::PaintTextBox))
        return message == WM_ERASEBKGND ? 1 : 0;
    return CallWindowProcW(textBoxProc_, box, message, wParam, lParam);
}

// ---- building the window from the table

void MainWindow::OnCreate() {
    highContrast_ = ReadHighContrast();
    painter_.SetHighContrast(highContrast_);
    CreateChildren();
    Layout(DpiOf(hwnd_), nullptr);
    // Files and folders dropped on a conversion button are converted as one batch.
    for (const Control& c : kControls)
        if (children_[c.id] && VelmoStarter::TakesDrops(c.id))
            AcceptDrops(children_[c.id], [this, id = c.id](std::vector<std::string> paths) {
                starter_.Drop(id, std::move(paths));
            });
}

void MainWindow::CreateChildren() {
    for (const Control& c : kControls) {
        const ChildClass windowClass = ChildClassOf(c.kind);
        if (!windowClass.name)
            continue;
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | windowClass.style;
        if (c.visible)
            style |= WS_VISIBLE;
        if (!c.enabled)
            style |= WS_DISABLED;
        HWND child = CreateWindowExW(
            0, windowClass.name, Widen(std::string(c.text)).c_str(), style, 0, 0, 0, 0, hwnd_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(ChildIdOf(c.id))), instance_, nullptr);
        if (!child)
            throw LastError(std::string(c.name));
        children_[c.id] = child;
        if (c.kind == ControlKind::CheckBox) {
            SendMessageW(child, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
            if (c.textColour != kDefaultColour)
                DrawWithoutTheme(child);
        }
        if (c.kind == ControlKind::TextBox)
            textBoxProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
                child, GWLP_WNDPROC,
                reinterpret_cast<LONG_PTR>(ChildProc<&MainWindow::HandleTextBox>)));
    }
    // Front to back as the table's stacking ranks say; the tab order is separate.
    HWND above = HWND_TOP;
    for (ControlId id : StackingOrder()) {
        if (!children_[id])
            continue;
        SetWindowPos(children_[id], above, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        above = children_[id];
    }
}

void MainWindow::Layout(int dpi, const POINT* topLeft) {
    dpi_ = dpi;
    artwork_.BuildFaces(dpi);

    const RECT frame = WindowRectFor(TwipsToPixels(kClientWidthTwips, dpi),
                                     TwipsToPixels(kClientHeightTwips, dpi), dpi);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (!topLeft)
        flags |= SWP_NOMOVE;
    SetWindowPos(hwnd_, nullptr, topLeft ? topLeft->x : 0, topLeft ? topLeft->y : 0,
                 frame.right - frame.left, frame.bottom - frame.top, flags);

    for (const Control& c : kControls) {
        HWND child = children_[c.id];
        if (!child)
            continue;
        const RECT r = PixelRect(c, dpi_);
        SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The old fonts live until every control has its new one.
    std::array<AutoFont, kFontCount> oldFonts = std::move(fonts_);
    fonts_ = FittedFonts(dpi_, children_);
    // The first surface is drawn once start-up has settled what is visible.
    if (artwork_.Surface().handle)
        BuildSurface();
    aids_.Layout(dpi_);
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::BuildSurface() {
    artwork_.BuildSurface(
        dpi_, [this](ControlId id) { return starter_[id].visible; }, fonts_, highContrast_);
}

void MainWindow::ApplyControlState() {
    for (const Control& c : kControls) {
        HWND child = children_[c.id];
        if (!child)
            continue;
        const ControlState& state = starter_[c.id];
        EnableWindow(child, state.enabled);
        ShowWindow(child, state.visible ? SW_SHOWNA : SW_HIDE);
        if (c.kind == ControlKind::CheckBox)
            SendMessageW(child, BM_SETCHECK, state.value == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    BuildSurface();
    InvalidateRect(hwnd_, nullptr, FALSE);
    aids_.Attach(
        hwnd_, instance_, children_, [this](ControlId id) { return starter_[id].visible; }, dpi_,
        [this](ControlId id) { return starter_.Tip(id); });
}

void MainWindow::Show() {
    RECT frame;
    GetWindowRect(hwnd_, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The focus is placed before the window appears, so it is never seen
    // without a focused control.
    lastFocus_ = FirstFocusable();
    if (lastFocus_)
        SetFocus(lastFocus_);
    // Focus rectangles show when the window was started from the keyboard.
    SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, 0), 0);
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    if (lastFocus_ && GetFocus() != lastFocus_)
        SetFocus(lastFocus_);
    UpdateWindow(hwnd_);
}

// ---- drawing

void MainWindow::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd_, &paint);
    if (!artwork_.Surface().handle) {
        FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    } else {
        MemoryDc surface(dc, artwork_.Surface().handle.Get());
        const RECT& r = paint.rcPaint;
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, surface.Get(), r.left, r.top,
               SRCCOPY);
    }
    EndPaint(hwnd_, &paint);
}

void MainWindow::PaintPictureBox(HWND box, HDC dc) {
    if (const Control* c = ControlOfChild(box))
        painter_.PaintPictureBox(box, dc, *c, artwork_.Face(c->id),
                                 GetFocus() == box && !FocusCuesHidden(box));
}

void MainWindow::PaintTextBox(HWND box, HDC dc) {
    if (const Control* c = ControlOfChild(box))
        painter_.PaintTextBox(box, dc, *c, Font(c->font));
}

// Text and background colours of the windowed controls, from the table.
LRESULT MainWindow::OnCtlColor(HDC dc, HWND child, bool button) {
    const Control* c = ControlOfChild(child);
    if (HBRUSH brush = c ? painter_.ColoursFor(dc, *c, button) : nullptr)
        return reinterpret_cast<LRESULT>(brush);
    const UINT message = c && c->kind == ControlKind::TextBox && IsWindowEnabled(child)
                             ? WM_CTLCOLOREDIT
                             : WM_CTLCOLORSTATIC;
    return DefWindowProcW(hwnd_, message, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(child));
}

// ---- input

const Control* MainWindow::ControlOfChild(HWND child) const {
    const Control* c = child ? ControlOfChildId(GetDlgCtrlID(child)) : nullptr;
    return c && children_[c->id] == child ? c : nullptr;
}

int MainWindow::ImageAt(POINT at) const {
    // Every window of its own lies above the window's surface.
    for (HWND child : children_)
        if (child && IsWindowVisible(child)) {
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<POINT*>(&r), 2);
            if (PtInRect(&r, at))
                return -1;
        }
    for (const Control& c : kControls) {
        if (c.kind != ControlKind::Image || !starter_[c.id].visible)
            continue;
        const RECT r = PixelRect(c, dpi_);
        if (PtInRect(&r, at))
            return c.id;
    }
    return -1;
}

void MainWindow::OnLButtonDown(POINT at) {
    pressedImage_ = ImageAt(at);
    if (pressedImage_ >= 0)
        SetCapture(hwnd_);
}

void MainWindow::OnLButtonUp(POINT at) {
    const int pressed = std::exchange(pressedImage_, -1);
    if (GetCapture() == hwnd_)
        ReleaseCapture();
    if (pressed >= 0 && ImageAt(at) == pressed)
        starter_.Click(static_cast<ControlId>(pressed));
}

void MainWindow::PressDrawn(ControlId id) {
    // While a message box or the open-file dialog is up the window takes no
    // input; a press a screen reader posted meanwhile is dropped like a click.
    if (ControlOf(id).kind == ControlKind::Image && starter_[id].visible && IsWindowEnabled(hwnd_))
        starter_.Click(id);
}

void MainWindow::OnCommand(int code, HWND child) {
    const Control* control = ControlOfChild(child);
    if (code != BN_CLICKED || !control)
        return;
    const Control& c = *control;
    if (c.kind == ControlKind::CheckBox)
        starter_[c.id].value = SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    else if (c.kind == ControlKind::CommandButton)
        starter_.Click(c.id);
}

// The keys of the drawn pictures press them whatever has the focus. Tab and
// Shift+Tab (and the arrow keys) follow the tab indexes of the table, not the
// stacking order that dialog navigation would follow; Enter clicks the focused
// push button.
bool MainWindow::TranslateKeyboard(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || !hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd)))
        return false;
    // Whatever the key, the keyboard is in use: the focused control shows its
    // focus rectangle from now on.
    if (FocusCuesHidden(hwnd_))
        SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    if (aids_.TranslateKeys(msg))
        return true;
    switch (msg.wParam) {
    case VK_TAB:
        if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0)
            return false;
        MoveFocus(GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
        return true;
    case VK_LEFT:
    case VK_UP:
        MoveFocus(-1);
        return true;
    case VK_RIGHT:
    case VK_DOWN:
        MoveFocus(1);
        return true;
    case VK_RETURN: {
        HWND focus = GetFocus();
        const Control* c = ControlOfChild(focus);
        if (!c || c->kind != ControlKind::CommandButton)
            return false;
        SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(ChildIdOf(c->id), BN_CLICKED),
                     reinterpret_cast<LPARAM>(focus));
        return true;
    }
    }
    return false;
}

void MainWindow::MoveFocus(int step) {
    const std::vector<ControlId>& order = Tabs();
    const int count = static_cast<int>(order.size());
    HWND focus = GetFocus();
    int position = step > 0 ? -1 : count;
    for (int i = 0; i < count; ++i)
        if (children_[order[i]] == focus)
            position = i;
    for (int n = 1; n <= count; ++n) {
        const int i = ((position + step * n) % count + count) % count;
        HWND candidate = children_[order[i]];
        if (candidate && IsWindowVisible(candidate) && IsWindowEnabled(candidate)) {
            SetFocus(candidate);
            SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
            return;
        }
    }
}

HWND MainWindow::FirstFocusable() const {
    for (ControlId id : Tabs()) {
        HWND candidate = children_[id];
        if (candidate && (GetWindowLongW(candidate, GWL_STYLE) & WS_VISIBLE) &&
            IsWindowEnabled(candidate))
            return candidate;
    }
    return nullptr;
}

// The focus returns to the control that had it when the window is activated again.
bool MainWindow::OnActivate(bool active) {
    if (!active) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus))
            lastFocus_ = focus;
        return false;
    }
    if (IsIconic(hwnd_))
        return false;
    OnSetFocus();
    return true;
}

void MainWindow::OnSetFocus() {
    HWND target = lastFocus_ && IsWindow(lastFocus_) && IsWindowVisible(lastFocus_) &&
                          IsWindowEnabled(lastFocus_)
                      ? lastFocus_
                      : FirstFocusable();
    if (target)
        SetFocus(target);
}

void MainWindow::OnDpiChanged(int dpi, const RECT& suggested) {
    const POINT topLeft{suggested.left, suggested.top};
    Layout(dpi, &topLeft);
}

// High contrast switched on or off, or the system's colours changed.
void MainWindow::OnColoursChanged() {
    std::optional<HighContrast> now = ReadHighContrast();
    if (now.has_value() == highContrast_.has_value() &&
        (!now ||
         (now->text == highContrast_->text && now->background == highContrast_->background)))
        return;
    highContrast_ = now;
    painter_.SetHighContrast(highContrast_);
    if (artwork_.Surface().handle)
        BuildSurface();
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void MainWindow::OnDestroy() {
    PostQuitMessage(0);
}

} // namespace velmo
