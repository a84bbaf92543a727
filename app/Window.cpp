#include "app/Window.h"

#include "app/ErrorReport.h"
#include "app/Fonts.h"
#include "platform/SystemLibrary.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>
#include <string>
#include <utility>

namespace velmo {
namespace {

constexpr wchar_t kPictureBoxClass[] = L"VelmoPictureBox";
// A tool window with a close box only: no minimise, no maximise, no sizing frame.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_TOOLWINDOW;
constexpr int kDefaultDpi = 96;
// Space between a push button's edge and its caption, at 96 DPI: some systems'
// own measure of a button allows less, and the caption then touches its frame.
constexpr int kButtonTextMargin = 3;

// ---- the control kinds as Win32 windows, in this one place

struct ChildClass {
    const wchar_t* name; // nullptr: drawn on the main window, no window of its own
    DWORD style;
};

ChildClass ChildClassOf(ControlKind kind) {
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

bool HasWindow(ControlKind kind) {
    return ChildClassOf(kind).name != nullptr;
}

// The windowed controls that take part in Tab navigation, by tab index.
const std::vector<ControlId>& TabOrder() {
    static const std::vector<ControlId> order = [] {
        std::vector<const Control*> list;
        for (const Control& c : kControls)
            if (HasWindow(c.kind) && c.tabIndex >= 0)
                list.push_back(&c);
        std::sort(list.begin(), list.end(),
                  [](const Control* a, const Control* b) { return a->tabIndex < b->tabIndex; });
        std::vector<ControlId> ids;
        for (const Control* c : list)
            ids.push_back(c->id);
        return ids;
    }();
    return order;
}

COLORREF ToColorRef(std::int32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// ---- functions that older systems lack, looked up at run time

struct DpiFunctions {
    decltype(&GetDpiForWindow) getDpiForWindow =
        VELMO_SYSTEM_FUNCTION(L"user32.dll", GetDpiForWindow);
    decltype(&AdjustWindowRectExForDpi) adjustWindowRectExForDpi =
        VELMO_SYSTEM_FUNCTION(L"user32.dll", AdjustWindowRectExForDpi);
};

const DpiFunctions& Dpi() {
    static const DpiFunctions functions;
    return functions;
}

int DpiOf(HWND hwnd) {
    if (Dpi().getDpiForWindow)
        if (UINT dpi = Dpi().getDpiForWindow(hwnd))
            return static_cast<int>(dpi);
    WindowDc dc(hwnd);
    const int dpi = dc.Get() ? GetDeviceCaps(dc.Get(), LOGPIXELSY) : kDefaultDpi;
    return dpi > 0 ? dpi : kDefaultDpi;
}

RECT WindowRectFor(int clientWidth, int clientHeight, int dpi) {
    RECT rect{0, 0, clientWidth, clientHeight};
    if (Dpi().adjustWindowRectExForDpi)
        Dpi().adjustWindowRectExForDpi(&rect, kWindowStyle, FALSE, kWindowExStyle,
                                       static_cast<UINT>(dpi));
    else
        AdjustWindowRectEx(&rect, kWindowStyle, FALSE, kWindowExStyle);
    return rect;
}

// Visual styles draw check boxes in the theme's text colour and ignore the one
// the parent sets; without a theme the control draws in the parent's colours.
void DrawWithoutTheme(HWND control) {
    static const auto setWindowTheme = VELMO_SYSTEM_FUNCTION(L"uxtheme.dll", SetWindowTheme);
    if (setWindowTheme)
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
    {
        PictureDecoder decoder(instance_);
        for (const Control& c : kControls)
            if (c.picture)
                sources_[c.id] = decoder.Decode(c.picture);
    }

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
        MemoryDc surface(reinterpret_cast<HDC>(wParam), surface_.handle.Get());
        BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, surface_.pixels.width, surface_.pixels.height,
               surface.Get(), 0, 0, SRCCOPY);
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
        OnCommand(HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
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
    CreateChildren();
    Layout(DpiOf(hwnd_), nullptr);
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
    std::vector<const Control*> stack;
    for (const Control& c : kControls)
        if (children_[c.id])
            stack.push_back(&c);
    std::sort(stack.begin(), stack.end(),
              [](const Control* a, const Control* b) { return a->stacking < b->stacking; });
    HWND above = HWND_TOP;
    for (const Control* c : stack) {
        SetWindowPos(children_[c->id], above, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
        above = children_[c->id];
    }
}

RECT MainWindow::PixelRect(const Control& c) const {
    const int left = TwipsToPixels(c.left, dpi_);
    const int top = TwipsToPixels(c.top, dpi_);
    return {left, top, left + TwipsToPixels(c.width, dpi_), top + TwipsToPixels(c.height, dpi_)};
}

void MainWindow::Layout(int dpi, const POINT* topLeft) {
    dpi_ = dpi;
    BuildPictures();

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
        const RECT r = PixelRect(c);
        SetWindowPos(child, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The old fonts live until every control has its new one.
    std::array<AutoFont, kFontCount> oldFonts = std::move(fonts_);
    CreateFonts();
    // The first surface is drawn once start-up has settled what is visible.
    if (surface_.handle)
        BuildSurface();
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// Each font at the size the table gives, or, where a caption in it would not fit
// its control (a substitute face is wider than the one the layout was made for,
// and its hinting grows faster than the rectangles), a pixel smaller at a time
// until every caption in it fits, down to two thirds of that size.
void MainWindow::CreateFonts() {
    for (int font = 0; font < kFontCount; ++font) {
        const FontDef def = FontOf(static_cast<FontId>(font));
        if (def.hundredthsOfPoint <= 0)
            continue;
        const int nominal = PixelHeight(def, dpi_);
        for (int height = nominal;; --height) {
            fonts_[font] = MakeFont(def, height);
            if (CaptionsFit(static_cast<FontId>(font)) || height * 3 <= nominal * 2)
                break;
        }
    }
}

// Gives the controls in `font` that font and tells whether each caption fits.
bool MainWindow::CaptionsFit(FontId font) {
    bool fit = true;
    WindowDc screen(nullptr);
    Selection selected(screen.Get(), Font(font));
    for (const Control& c : kControls) {
        if (c.font != font)
            continue;
        const RECT r = PixelRect(c);
        const int width = r.right - r.left, height = r.bottom - r.top;
        const std::wstring text = Widen(std::string(c.text));
        SIZE extent{};
        GetTextExtentPoint32W(screen.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
        int needed = extent.cx;
        HWND child = children_[c.id];
        if (child)
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(Font(font)), FALSE);
        if (c.kind == ControlKind::CommandButton)
            needed += 2 * MulDiv(kButtonTextMargin, dpi_, kDefaultDpi);
        if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::CommandButton) {
            // The control's own measure: its caption with the box or the frame and
            // margins it draws beside it.
            SIZE ideal{};
            if (child && SendMessageW(child, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)))
                needed = std::max<int>(needed, ideal.cx);
        }
        // The notice has its own way to fit its lines (PaintTextBox).
        if (c.kind != ControlKind::TextBox && (needed > width || extent.cy > height))
            fit = false;
    }
    return fit;
}

// A picture box shows its picture at the picture's own size (in pixels at 96
// DPI, so it grows with the DPI like the box) from the top-left corner, on the
// box's background. Images are stretched to their rectangles by BuildSurface.
void MainWindow::BuildPictures() {
    for (const Control& c : kControls) {
        const PixelImage& source = sources_[c.id];
        if (source.pixels.empty())
            continue;
        const RECT r = PixelRect(c);
        if (c.kind == ControlKind::Image)
            continue; // stretched when first drawn: a hidden image never is
        Bitmap face = MakeBitmap(std::max(1L, r.right - r.left), std::max(1L, r.bottom - r.top));
        Fill(face.pixels, OpaquePixel(c.backColour == kDefaultColour ? kBlack : c.backColour));
        const int width = MulDiv(source.width, dpi_, kDefaultDpi);
        const int height = MulDiv(source.height, dpi_, kDefaultDpi);
        if (width == source.width && height == source.height)
            Blend(face.pixels, source, 0, 0);
        else
            Blend(face.pixels, Stretch(source, width, height), 0, 0);
        pictures_[c.id] = std::move(face);
    }
}

// The window's own surface: black, with the visible images and labels on it.
void MainWindow::BuildSurface() {
    const int width = TwipsToPixels(kClientWidthTwips, dpi_);
    const int height = TwipsToPixels(kClientHeightTwips, dpi_);
    if (surface_.pixels.width != width || surface_.pixels.height != height)
        surface_ = MakeBitmap(width, height);
    Fill(surface_.pixels, OpaquePixel(kBlack));
    for (const Control& c : kControls) {
        if (c.kind != ControlKind::Image || !starter_[c.id].visible)
            continue;
        const RECT r = PixelRect(c);
        PixelImage& image = stretched_[c.id];
        if (image.width != r.right - r.left || image.height != r.bottom - r.top)
            image = Stretch(sources_[c.id], r.right - r.left, r.bottom - r.top);
        Blend(surface_.pixels, image, r.left, r.top);
    }

    MemoryDc dc(nullptr, surface_.handle.Get());
    SetBkMode(dc.Get(), TRANSPARENT);
    for (const Control& c : kControls) {
        if (c.kind != ControlKind::Label || !starter_[c.id].visible)
            continue;
        Selection font(dc.Get(), Font(c.font));
        SetTextColor(dc.Get(), ToColorRef(c.textColour));
        RECT r = PixelRect(c);
        const std::wstring text = Widen(std::string(c.text));
        // Sized to the caption: a substitute font a little wider still shows it whole.
        DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    }
    GdiFlush();
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
    if (!surface_.handle) {
        FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    } else {
        MemoryDc surface(dc, surface_.handle.Get());
        const RECT& r = paint.rcPaint;
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, surface.Get(), r.left, r.top,
               SRCCOPY);
    }
    EndPaint(hwnd_, &paint);
}

void MainWindow::PaintPictureBox(HWND box, HDC dc) {
    const Control* c = ControlOfChild(box);
    if (!c)
        return;
    RECT client;
    GetClientRect(box, &client);
    const Bitmap& face = pictures_[c->id];
    if (face.handle) {
        MemoryDc picture(dc, face.handle.Get());
        BitBlt(dc, 0, 0, face.pixels.width, face.pixels.height, picture.Get(), 0, 0, SRCCOPY);
    } else {
        FillRect(dc, &client, BrushFor(c->backColour));
    }
    if (GetFocus() == box && !FocusCuesHidden(box))
        DrawFocusRect(dc, &client);
}

void MainWindow::PaintTextBox(HWND box, HDC dc) {
    const Control* control = ControlOfChild(box);
    if (!control)
        return;
    const Control& c = *control;
    RECT client;
    GetClientRect(box, &client);
    FillRect(dc, &client, BrushFor(c.backColour == kDefaultColour ? kBlack : c.backColour));
    Selection font(dc, Font(c.font));
    SetTextColor(dc, ToColorRef(c.textColour == kDefaultColour ? 0xFFFFFF : c.textColour));
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);

    // One text line per line of the text, each centred. A line wider than the
    // box has its letters moved closer together until it fits; the font keeps
    // its size.
    const std::wstring text = Widen(std::string(c.text));
    const int width = client.right - client.left;
    int y = 0;
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find(L"\r\n", begin);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(begin, end - begin);
        begin = end + 2;
        while (!line.empty() && line.back() == L' ')
            line.pop_back();
        const int length = static_cast<int>(line.size());
        SIZE size{};
        SetTextCharacterExtra(dc, 0);
        GetTextExtentPoint32W(dc, line.c_str(), length, &size);
        if (size.cx > width && length > 1) {
            SetTextCharacterExtra(dc, -((size.cx - width + length - 2) / (length - 1)));
            GetTextExtentPoint32W(dc, line.c_str(), length, &size);
        }
        TextOutW(dc, (width - size.cx) / 2, y, line.c_str(), length);
        y += metrics.tmHeight;
    }
    SetTextCharacterExtra(dc, 0);
}

HBRUSH MainWindow::BrushFor(std::int32_t colour) {
    if (colour == kDefaultColour)
        return GetSysColorBrush(COLOR_BTNFACE);
    for (const auto& [rgb, brush] : brushes_)
        if (rgb == colour)
            return brush.Get();
    AutoBrush brush(CreateSolidBrush(ToColorRef(colour)));
    if (!brush)
        throw LastError("");
    brushes_.emplace_back(colour, std::move(brush));
    return brushes_.back().second.Get();
}

// Text and background colours of the windowed controls, from the table. Around a
// push button the window's own black shows; its face keeps the system colours.
LRESULT MainWindow::OnCtlColor(HDC dc, HWND child, bool button) {
    const Control* control = ControlOfChild(child);
    if (!control)
        return DefWindowProcW(hwnd_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(child));
    const Control& c = *control;
    if (button)
        return reinterpret_cast<LRESULT>(BrushFor(kBlack));
    const UINT message = c.kind == ControlKind::TextBox && IsWindowEnabled(child)
                             ? WM_CTLCOLOREDIT
                             : WM_CTLCOLORSTATIC;
    if (c.textColour == kDefaultColour && c.backColour == kDefaultColour)
        return DefWindowProcW(hwnd_, message, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(child));
    if (c.textColour != kDefaultColour)
        SetTextColor(dc, ToColorRef(c.textColour));
    const std::int32_t back = c.backColour == kDefaultColour ? kBlack : c.backColour;
    SetBkColor(dc, ToColorRef(back));
    return reinterpret_cast<LRESULT>(BrushFor(back));
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
        const RECT r = PixelRect(c);
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

// Tab and Shift+Tab (and the arrow keys) follow the tab indexes of the table,
// not the stacking order that dialog navigation would follow; Enter clicks the
// focused push button.
bool MainWindow::TranslateKeyboard(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || !hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd)))
        return false;
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
    const std::vector<ControlId>& order = TabOrder();
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
    for (ControlId id : TabOrder()) {
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

void MainWindow::OnDestroy() {
    PostQuitMessage(0);
}

} // namespace velmo
