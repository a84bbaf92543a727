// The second anchor of the start-up figure: the launcher's window without its
// pictures. The same frame and manifest (common controls 6, visual styles, DPI
// awareness), the same child controls from the control table with the same
// fonts, built the same way as the launcher: what any program with these
// controls pays, so that what is the launcher's own shows against it. Like the
// bare window it closes itself after its first paint when
// VELMO_EXIT_AFTER_FIRST_PAINT=1 is in its environment.
#include "app/Controls.h"
#include "app/Fonts.h"
#include "platform/SystemLibrary.h"
#include "platform/Win32Text.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <array>
#include <string>

namespace {

using namespace velmo;

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW;
bool exitAfterFirstPaint = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(window, &paint);
        if (exitAfterFirstPaint)
            PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 255, 255));
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 0));
        return reinterpret_cast<LRESULT>(GetStockObject(BLACK_BRUSH));
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

const wchar_t* ClassOf(ControlKind kind, DWORD& style) {
    switch (kind) {
    case ControlKind::TextBox:
        style = ES_MULTILINE | WS_TABSTOP;
        return L"EDIT";
    case ControlKind::CheckBox:
        style = BS_AUTOCHECKBOX | WS_TABSTOP;
        return L"BUTTON";
    case ControlKind::CommandButton:
        style = BS_PUSHBUTTON | WS_TABSTOP;
        return L"BUTTON";
    case ControlKind::PictureBox:
        style = WS_TABSTOP;
        return L"VelmoSkeletonBox";
    default:
        return nullptr;
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    wchar_t flag[2] = {};
    exitAfterFirstPaint =
        GetEnvironmentVariableW(L"VELMO_EXIT_AFTER_FIRST_PAINT", flag, 2) == 1 && flag[0] == L'1';
    if (auto setDefault = VELMO_SYSTEM_FUNCTION(L"kernel32.dll", SetDefaultDllDirectories))
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (auto init = VELMO_SYSTEM_FUNCTION(L"comctl32.dll", InitCommonControlsEx)) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        init(&controls);
    }

    WNDCLASSEXW main{};
    main.cbSize = sizeof main;
    main.lpfnWndProc = WindowProc;
    main.hInstance = instance;
    main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    main.lpszClassName = L"VelmoSkeleton";
    WNDCLASSEXW box = main;
    box.lpfnWndProc = DefWindowProcW;
    box.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    box.lpszClassName = L"VelmoSkeletonBox";
    if (!RegisterClassExW(&main) || !RegisterClassExW(&box))
        return 1;
    HWND window =
        CreateWindowExW(kExStyle, main.lpszClassName, Widen(std::string(kWindowTitle)).c_str(),
                        kStyle, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;

    const int dpi = [&] {
        auto getDpi = VELMO_SYSTEM_FUNCTION(L"user32.dll", GetDpiForWindow);
        const UINT found = getDpi ? getDpi(window) : 0;
        return found ? static_cast<int>(found) : 96;
    }();
    std::array<AutoFont, kFontCount> fonts;
    for (int font = 1; font < kFontCount; ++font) {
        const FontDef def = FontOf(static_cast<FontId>(font));
        fonts[font] = MakeFont(def, PixelHeight(def, dpi));
    }
    static const auto setWindowTheme = VELMO_SYSTEM_FUNCTION(L"uxtheme.dll", SetWindowTheme);
    for (const Control& c : kControls) {
        DWORD style = 0;
        const wchar_t* windowClass = ClassOf(c.kind, style);
        if (!windowClass)
            continue;
        style |= WS_CHILD | WS_CLIPSIBLINGS | (c.visible ? WS_VISIBLE : 0) |
                 (c.enabled ? 0 : WS_DISABLED);
        HWND child = CreateWindowExW(
            0, windowClass, Widen(std::string(c.text)).c_str(), style, TwipsToPixels(c.left, dpi),
            TwipsToPixels(c.top, dpi), TwipsToPixels(c.width, dpi), TwipsToPixels(c.height, dpi),
            window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ChildIdOf(c.id))), instance,
            nullptr);
        if (!child)
            return 1;
        if (c.font != FontId::None)
            SendMessageW(child, WM_SETFONT,
                         reinterpret_cast<WPARAM>(fonts[static_cast<int>(c.font)].Get()), FALSE);
        if (c.kind == ControlKind::CheckBox) {
            SendMessageW(child, BM_SETCHECK, BST_CHECKED, 0);
            if (setWindowTheme)
                setWindowTheme(child, L"", L"");
        }
    }

    RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
