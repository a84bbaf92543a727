// The launcher's main window on Win32: builds the controls from the table in
// app/Controls.h, draws the labels and images on its own surface, turns clicks
// into VelmoStarter's event procedures, moves the focus by the table's tab order
// and follows the window's DPI.
#pragma once

#include "app/Controls.h"
#include "app/Painting.h"
#include "app/Pictures.h"
#include "app/Pixels.h"
#include "app/VelmoStarter.h"
#include "app/WindowAids.h"
#include "platform/Handle.h"
#include "platform/WinApi.h"

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace velmo {

inline constexpr wchar_t kMainWindowClass[] = L"VelmoStarter";

class MainWindow {
  public:
    MainWindow(HINSTANCE instance, VelmoStarter& starter);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Decodes the pictures and creates the window with all its controls, hidden,
    // in the state the table gives. Throws PlatformError.
    void Create();
    HWND Handle() const noexcept { return hwnd_; }
    // Shows, hides, enables and checks the controls as the starter's state says.
    void ApplyControlState();
    // Centres the window on its screen, shows it and focuses the first control
    // in the tab order.
    void Show();
    // Destroys the window; the message loop then ends.
    void Close();
    // Runs until the window is gone; returns the program's exit code.
    int RunMessageLoop();

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // The window procedure of a child window whose messages `Handler` of the
    // parent's MainWindow handles; exceptions stop here.
    template <LRESULT (MainWindow::*Handler)(HWND, UINT, WPARAM, LPARAM)>
    static LRESULT CALLBACK ChildProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static MainWindow* FromHandle(HWND hwnd);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandlePictureBox(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleTextBox(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
    bool PaintChild(HWND box, UINT message, WPARAM wParam, void (MainWindow::*paint)(HWND, HDC));

    // ---- messages of the main window
    void OnCreate();
    void OnPaint();
    void OnLButtonDown(POINT at);
    void OnLButtonUp(POINT at);
    void OnCommand(int code, HWND child);
    LRESULT OnCtlColor(HDC dc, HWND child, bool button);
    void OnDpiChanged(int dpi, const RECT& suggested);
    bool OnActivate(bool active);
    void OnSetFocus();
    void OnDestroy();
    void OnColoursChanged();
    // A drawn picture pressed by its key or by a screen reader: the same click
    // as the mouse's, while the picture is shown.
    void PressDrawn(ControlId id);

    // ---- building and drawing
    void CreateChildren();
    void Layout(int dpi, const POINT* topLeft);
    void BuildSurface();
    void PaintPictureBox(HWND box, HDC dc);
    void PaintTextBox(HWND box, HDC dc);
    HFONT Font(FontId font) const { return fonts_[static_cast<int>(font)].Get(); }
    // The control whose child window `child` is; null for any other window.
    const Control* ControlOfChild(HWND child) const;

    // ---- keyboard and focus
    bool TranslateKeyboard(const MSG& msg);
    void MoveFocus(int step);
    HWND FirstFocusable() const;
    int ImageAt(POINT at) const;

    HINSTANCE instance_;
    VelmoStarter& starter_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    std::array<HWND, kControlCount> children_{};
    Artwork artwork_;                          // picture boxes' faces and the surface
    std::array<AutoFont, kFontCount> fonts_{}; // by FontId
    ControlPainter painter_;
    std::optional<HighContrast> highContrast_;
    WindowAids aids_; // keys, tooltips, screen readers
    WNDPROC textBoxProc_ = nullptr;
    HWND lastFocus_ = nullptr;
    int pressedImage_ = -1;
    std::exception_ptr createError_;
};

} // namespace velmo
