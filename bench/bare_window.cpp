// The anchor of the start-up figure: the least a Win32 program does to show a
// window of the launcher's size, built the same way as the launcher. Like the
// launcher, it closes itself once its window has been painted for the first
// time when VELMO_EXIT_AFTER_FIRST_PAINT=1 is in its environment.
#include "app/Controls.h"
#include "platform/WinApi.h"

namespace {

bool exitAfterFirstPaint = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        if (exitAfterFirstPaint)
            PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    wchar_t flag[2] = {};
    exitAfterFirstPaint =
        GetEnvironmentVariableW(L"VELMO_EXIT_AFTER_FIRST_PAINT", flag, 2) == 1 && flag[0] == L'1';
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = L"VelmoBareWindow";
    if (!RegisterClassExW(&windowClass))
        return 1;

    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, velmo::TwipsToPixels(velmo::kClientWidthTwips, 96),
               velmo::TwipsToPixels(velmo::kClientHeightTwips, 96)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Bare window", kStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
