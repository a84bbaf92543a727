#include "app/BatchWindow.h"

#include "app/BatchSummary.h"
#include "app/Controls.h"
#include "app/ErrorReport.h"
#include "batch/Batch.h"
#include "batch/Undo.h"
#include "platform/DynamicCalls.h"
#include "platform/Handle.h"
#include "platform/Win32Error.h"
#include "platform/Win32Files.h"
#include "platform/Win32Text.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace velmo {
namespace {

// What the worker thread posts or sends to the progress window.
constexpr UINT kNews = WM_APP + 1; // the current script or the count changed
constexpr UINT kAsk = WM_APP + 2;  // lParam: the guard-word scripts; returns 1 to convert them
constexpr UINT kDone = WM_APP + 3; // the batch has ended
constexpr UINT_PTR kShowTimer = 1;
// Looks whether the worker is done also without its message (a full queue).
constexpr UINT_PTR kPollTimer = 2;
constexpr UINT kPollMs = 250;
// A batch done sooner than this shows no progress window at all.
constexpr UINT kShowAfterMs = 300;

constexpr int kTitleId = 100, kScriptId = 101, kCountId = 102, kBarId = 103;

std::wstring Title() {
    return Widen(std::string(kWindowTitle));
}

// The batch's state as the worker leaves it for the window, under the lock.
struct News {
    std::mutex lock;
    std::string current;
    bool found = false; // the walk is done
    ProgressView view;
    bool posted = false; // a kNews is on its way: no second one is needed
};

// The taskbar button's progress, where the system offers it (not every Wine does).
class TaskbarProgress {
  public:
    TaskbarProgress() {
        void* list = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ITaskbarList3, &list))) {
            list_ = static_cast<ITaskbarList3*>(list);
            if (FAILED(list_->HrInit()))
                Drop();
        }
    }
    ~TaskbarProgress() { Drop(); }
    TaskbarProgress(const TaskbarProgress&) = delete;
    TaskbarProgress& operator=(const TaskbarProgress&) = delete;

    void Show(HWND window, std::size_t done, std::size_t total) noexcept {
        if (list_ && total > 0)
            list_->SetProgressValue(window, done, total);
    }
    void Paused(HWND window) noexcept {
        if (list_)
            list_->SetProgressState(window, TBPF_PAUSED);
    }
    void End(HWND window) noexcept {
        if (list_)
            list_->SetProgressState(window, TBPF_NOPROGRESS);
    }

  private:
    void Drop() noexcept {
        if (list_)
            std::exchange(list_, nullptr)->Release();
    }
    ITaskbarList3* list_ = nullptr;
};

// The DPI a window is shown at.
int DpiOf(HWND window) {
    if (const auto getDpi = dynamic::GetDpiForWindow())
        if (window)
            if (const UINT dpi = getDpi(window))
                return static_cast<int>(dpi);
    return 96;
}

// The system's message font at `dpi`. To a program aware of DPIs the system
// gives its metrics at the system's DPI: asked for `dpi` where it can be,
// else scaled from the screen's DPI. Null where there are no metrics (the
// controls keep the system font).
AutoFont MessageFont(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (const auto forDpi = dynamic::SystemParametersInfoForDpi();
        forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return AutoFont(CreateFontIndirectW(&metrics.lfMessageFont));
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return AutoFont();
    const WindowDc screen(nullptr);
    const int system = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    metrics.lfMessageFont.lfHeight =
        MulDiv(metrics.lfMessageFont.lfHeight, dpi, system > 0 ? system : 96);
    return AutoFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

// What text needs in a font: a line's height and a caption's width.
class TextSize {
  public:
    explicit TextSize(HFONT font)
        : screen_(nullptr), selection_(screen_.Get(), font ? static_cast<HGDIOBJ>(font)
                                                           : GetStockObject(SYSTEM_FONT)) {
        if (!screen_.Get() || !GetTextMetricsW(screen_.Get(), &metrics_))
            throw LastError("");
    }
    int LineHeight() const { return metrics_.tmHeight + metrics_.tmExternalLeading; }
    int Width(const std::wstring& text) const {
        SIZE size{};
        if (!GetTextExtentPoint32W(screen_.Get(), text.c_str(), static_cast<int>(text.size()),
                                   &size))
            throw LastError("");
        return size.cx;
    }

  private:
    WindowDc screen_;
    Selection selection_;
    TEXTMETRICW metrics_{};
};

// Puts a box in the middle of the launcher's window, within the work area of
// the screen it is on (a box taller than that begins at its top).
void CentreOn(HWND box, HWND over) {
    RECT boxRect{}, overRect{};
    if (!over || !GetWindowRect(box, &boxRect) || !GetWindowRect(over, &overRect))
        return;
    const int width = boxRect.right - boxRect.left, height = boxRect.bottom - boxRect.top;
    int x = overRect.left + (overRect.right - overRect.left - width) / 2;
    int y = overRect.top + (overRect.bottom - overRect.top - height) / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(over, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        x = std::max(work.left, std::min<LONG>(x, work.right - width));
        y = std::max(work.top, std::min<LONG>(y, work.bottom - height));
    }
    SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// While it lives, every box this thread opens (the guard-word question, the
// summary, an error) comes up in the middle of the launcher's window: the
// system puts a message box in the middle of the screen, and some put a task
// dialog where a window that is gone or hidden was. A box is placed once,
// when it first becomes active, so that one the user moved stays there.
class BoxesCentredOn {
  public:
    explicit BoxesCentredOn(HWND over) : previous_(over_) {
        over_ = over;
        hook_.Reset(SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId()));
    }
    ~BoxesCentredOn() {
        hook_.Reset();
        over_ = previous_;
    }
    BoxesCentredOn(const BoxesCentredOn&) = delete;
    BoxesCentredOn& operator=(const BoxesCentredOn&) = delete;

  private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_DESTROYWND)
            RemovePropW(reinterpret_cast<HWND>(wParam), kPlaced);
        if (code == HCBT_ACTIVATE && over_) {
            HWND box = reinterpret_cast<HWND>(wParam);
            wchar_t name[8] = {};
            GetClassNameW(box, name, 8);
            if (std::wstring_view(name) == L"#32770" && !GetPropW(box, kPlaced)) {
                SetPropW(box, kPlaced, reinterpret_cast<HANDLE>(1));
                CentreOn(box, over_);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static constexpr wchar_t kPlaced[] = L"VelmoBoxPlaced";
    static inline thread_local HWND over_ = nullptr;
    HWND previous_;
    AutoHook hook_;
};

// What the engine tells, on the worker thread: the outcome is recorded for the
// summary, the progress goes to the window by a posted message, the guard-word
// question is sent to the window's thread and waited for.
class WorkerEvents final : public BatchRecorder {
  public:
    WorkerEvents(News& news, HWND window, const std::atomic<bool>& stop)
        : news_(news), window_(window), stop_(stop) {}

    void Found(std::size_t total) override {
        const std::lock_guard<std::mutex> hold(news_.lock);
        news_.found = true;
        batch::BatchProgress none;
        none.total = total;
        try {
            news_.view = ViewOf(none);
        } catch (const std::bad_alloc&) {
            news_.view = {};
        }
        Post();
    }
    void Started(std::size_t, const std::string& path) override {
        const std::lock_guard<std::mutex> hold(news_.lock);
        try {
            news_.current = path;
        } catch (const std::bad_alloc&) {
            news_.current.clear(); // only the name is not shown
        }
        Post();
    }
    void Advanced(const batch::BatchProgress& where) override {
        const std::lock_guard<std::mutex> hold(news_.lock);
        try {
            news_.view = ViewOf(where);
            // While a round is saved, the script its part begins with.
            if (!where.saving.empty())
                news_.current = where.saving;
        } catch (const std::bad_alloc&) {
            news_.view.count.clear(); // only the words are not shown
        }
        Post();
    }
    bool ConvertGuarded(const std::vector<std::string>& scripts) override {
        return SendMessageW(window_, kAsk, 0, reinterpret_cast<LPARAM>(&scripts)) == 1;
    }
    bool StopRequested() override { return stop_.load(); }

  private:
    void Post() noexcept {
        if (!news_.posted)
            news_.posted = PostMessageW(window_, kNews, 0, 0) != FALSE;
    }
    News& news_;
    HWND window_;
    const std::atomic<bool>& stop_;
};

// The modal progress window: what is being converted, the current script, the
// bar, the count and "Abbrechen".
class ProgressWindow {
  public:
    // `heading`, where given, says what runs instead of the conversion.
    ProgressWindow(HINSTANCE instance, HWND owner, Direction direction, News& news,
                   const std::string& heading = {})
        : owner_(owner), news_(news) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        windowClass.lpszClassName = kProgressWindowClass;
        if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            throw LastError("");

        // Every line as tall as the font's letters need, the underscore's
        // and the descenders' room included; the button as wide as its
        // caption with room for the focus rectangle inside its frame.
        const int dpi = DpiOf(owner);
        auto px = [dpi](int at96) { return MulDiv(at96, dpi, 96); };
        font_ = MessageFont(dpi);
        const TextSize measure(font_.Get());
        // A line's control keeps two pixels below the descenders, so that
        // nothing it shows touches its edge.
        const int line = measure.LineHeight() + px(2);
        const int margin = px(12), width = px(440), inner = width - 2 * margin;
        const int buttonWidth = std::max(px(88), measure.Width(L"Abbrechen") + px(28));
        const int buttonHeight = std::max(px(23), line + px(10));
        const int titleTop = margin, scriptTop = titleTop + line + px(6);
        const int barTop = scriptTop + line + px(10), barHeight = px(16);
        const int buttonTop = barTop + barHeight + px(12);
        const int countTop = buttonTop + (buttonHeight - line) / 2;

        RECT frame{0, 0, width, buttonTop + buttonHeight + margin};
        constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
        const int frameWidth = frame.right - frame.left, frameHeight = frame.bottom - frame.top;
        RECT ownerRect{};
        if (owner)
            GetWindowRect(owner, &ownerRect);
        const int x = ownerRect.left + (ownerRect.right - ownerRect.left - frameWidth) / 2;
        const int y = ownerRect.top + (ownerRect.bottom - ownerRect.top - frameHeight) / 2;
        window_.Reset(CreateWindowExW(exStyle, kProgressWindowClass, Title().c_str(), style, x, y,
                                      frameWidth, frameHeight, owner, nullptr, instance, this));
        if (!window_)
            throw LastError("");
        HWND hwnd = window_.Get();

        const std::string what = !heading.empty() ? heading
                                 : direction == Direction::ToTwoCharacterForm
                                     ? "Umlaute f\xC3\xBCr Velmo werden umgewandelt \xE2\x80\xA6"
                                     : "Umlaute f\xC3\xBCr mich werden umgewandelt \xE2\x80\xA6";
        Child(L"STATIC", Widen(what), SS_LEFT | SS_NOPREFIX, kTitleId, margin, titleTop, inner,
              line);
        script_ = Child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, kScriptId, margin,
                        scriptTop, inner, line);
        bar_ = Child(PROGRESS_CLASSW, L"", PBS_SMOOTH, kBarId, margin, barTop, inner, barHeight);
        count_ = Child(L"STATIC", L"Skripte werden gesucht \u2026", SS_LEFT | SS_NOPREFIX, kCountId,
                       margin, countTop, inner - buttonWidth - px(12), line);
        cancel_ = Child(L"BUTTON", L"Abbrechen", BS_DEFPUSHBUTTON | WS_TABSTOP, IDCANCEL,
                        width - margin - buttonWidth, buttonTop, buttonWidth, buttonHeight);
        SetTimer(hwnd, kShowTimer, kShowAfterMs, nullptr);
        SetTimer(hwnd, kPollTimer, kPollMs, nullptr);
        // Modal: the launcher's window takes no input until the batch ends.
        if (owner_)
            EnableWindow(owner_, FALSE);
    }
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;
    ~ProgressWindow() {
        taskbar_.End(window_.Get());
        // The owner takes input again before this window goes, so that the
        // system gives it the activation back rather than another program.
        if (owner_)
            EnableWindow(owner_, TRUE);
    }

    HWND Handle() const { return window_.Get(); }
    const std::atomic<bool>& StopFlag() const { return stop_; }
    // Set by the worker as its last step.
    std::atomic<bool> workerDone{false};

    // "Abbrechen": the batch stops at its next safe point.
    void RequestStop() {
        if (stop_.exchange(true))
            return;
        EnableWindow(cancel_, FALSE);
        SetWindowTextW(count_, L"Wird abgebrochen \u2026");
        taskbar_.Paused(window_.Get());
    }

    // Runs messages until the worker says it is done. A WM_QUIT meanwhile
    // stops the batch at its next safe point and is posted again afterwards.
    void RunUntilDone() {
        std::optional<WPARAM> quit;
        while (!finished_) {
            MSG msg{};
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got == 0 || got == -1) {
                quit = got == 0 ? msg.wParam : 1;
                RequestStop();
                // Only the worker's messages are waited for now.
                while (!finished_ && GetMessageW(&msg, window_.Get(), 0, 0) > 0)
                    DispatchMessageW(&msg);
                break;
            }
            if (IsDialogMessageW(window_.Get(), &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (quit)
            PostQuitMessage(static_cast<int>(*quit));
    }

  private:
    HWND Child(const wchar_t* windowClass, const std::wstring& text, DWORD style, int id, int x,
               int y, int width, int height) {
        HWND child = CreateWindowExW(
            0, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height,
            window_.Get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_.Get(), GWLP_HINSTANCE)), nullptr);
        if (!child)
            throw LastError("");
        if (font_)
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
        return child;
    }

    void ShowNow() {
        KillTimer(window_.Get(), kShowTimer);
        if (IsWindowVisible(window_.Get()))
            return;
        ShowWindow(window_.Get(), SW_SHOW);
        SetFocus(cancel_);
    }

    void ShowNews() {
        std::string current;
        bool found = false;
        ProgressView view;
        {
            const std::lock_guard<std::mutex> hold(news_.lock);
            news_.posted = false;
            current = news_.current;
            found = news_.found;
            view = news_.view;
        }
        SetWindowTextW(script_, Widen(current).c_str());
        if (!found)
            return;
        SendMessageW(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(view.range));
        SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(view.position), 0);
        if (!stop_.load()) {
            SetWindowTextW(count_, Widen(view.count).c_str());
            taskbar_.Show(window_.Get(), view.position, view.range);
        }
    }

    // The guard-word question, once for the batch, in front of the progress.
    LRESULT Ask(const std::vector<std::string>& scripts) {
        if (stop_.load())
            return 0;
        ShowNow();
        const int answer =
            MessageBoxW(window_.Get(), Widen(GuardQuestion(scripts)).c_str(), L"Achtung",
                        MB_YESNO | MB_ICONSTOP | MB_DEFBUTTON2 | MB_SETFOREGROUND);
        // No box could be shown: nothing was agreed to, so they stay.
        return answer == IDYES ? 1 : 0;
    }

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(
                                  reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self)
            return DefWindowProcW(hwnd, message, wParam, lParam);
        try {
            switch (message) {
            case kNews:
                self->ShowNews();
                return 0;
            case kAsk:
                return self->Ask(*reinterpret_cast<const std::vector<std::string>*>(lParam));
            case kDone:
                self->finished_ = true;
                return 0;
            case WM_TIMER:
                if (wParam == kShowTimer)
                    self->ShowNow();
                else if (wParam == kPollTimer && self->workerDone.load())
                    self->finished_ = true;
                return 0;
            case WM_COMMAND:
                if (LOWORD(wParam) == IDCANCEL)
                    self->RequestStop();
                return 0;
            case WM_CLOSE: // the close box and Alt+F4 stop like "Abbrechen"
                self->RequestStop();
                return 0;
            case WM_NCDESTROY:
                SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
                break;
            }
        } catch (...) {
            // Showing failed (memory): the batch goes on; a question not asked
            // is answered "Nein".
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    HWND owner_;
    News& news_;
    AutoFont font_; // outlives the window whose controls show it
    AutoWindow window_;
    HWND script_ = nullptr, bar_ = nullptr, count_ = nullptr, cancel_ = nullptr;
    TaskbarProgress taskbar_;
    std::atomic<bool> stop_{false};
    bool finished_ = false;
};

// The summary's width in dialog units, where it has details: wide enough
// for a path on a line or two.
constexpr UINT kSummaryWidth = 320;

// The room the summary's details have so that the whole box, expanded, fits
// on the screen `over` is on: what the screen's work area holds in lines of
// the message font, less the headline, the counts, the buttons and the frame;
// and the characters a line of the box's width holds.
DetailsRoom RoomForDetails(HWND over, const SummaryText& summary) {
    DetailsRoom room{20, 60};
    const AutoFont font = MessageFont(over ? DpiOf(over) : 96);
    int line = 0;
    try {
        line = TextSize(font.Get()).LineHeight();
    } catch (const PlatformError&) {
        return room;
    }
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (line <= 0 || !GetMonitorInfoW(MonitorFromWindow(over, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return room;
    const long lines = (monitor.rcWork.bottom - monitor.rcWork.top) / line;
    const long counts =
        static_cast<long>(std::count(summary.counts.begin(), summary.counts.end(), '\n'));
    // The headline (a larger font), the buttons, the expander, the caption
    // and the margins take about fourteen lines of the message font.
    room.lines = static_cast<std::size_t>(std::max(5L, lines - counts - 14));
    // A dialog unit across is a quarter of the font's average character;
    // the icon and the margins take about 40 of them. Names run wider than
    // the average: a fifth more.
    room.charactersALine = std::max<std::size_t>(20, (kSummaryWidth - 40) / 4 * 5 / 6);
    return room;
}

// Where the summary is, and that it stays there: in the middle of the
// launcher's window once it is laid out, and within the screen's work area
// as it grows downwards with its details shown.
HRESULT CALLBACK SummaryEvents(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR owner) {
    if (notification == TDN_CREATED)
        CentreOn(dialog, reinterpret_cast<HWND>(owner));
    if (notification == TDN_EXPANDO_BUTTON_CLICKED) {
        RECT box{};
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        if (GetWindowRect(dialog, &box) &&
            GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor) &&
            box.bottom > monitor.rcWork.bottom) {
            const LONG up =
                std::min(box.bottom - monitor.rcWork.bottom, box.top - monitor.rcWork.top);
            if (up > 0)
                SetWindowPos(dialog, nullptr, box.left, box.top - up, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    return S_OK;
}

constexpr int kUndoButtonId = 1001;

// The summary: a task dialog with the headline, the counts and the details to
// expand; a message box where there is no task dialog. With `offerUndo` it has
// the button "Rückgängig machen" beside OK (the message box asks instead);
// true when that was chosen.
bool ShowSummary(HWND owner, const SummaryText& summary, bool offerUndo = false) {
    const std::wstring headline = Widen(summary.headline), counts = Widen(summary.counts),
                       details = Widen(summary.details), title = Title();
    if (const auto taskDialog = dynamic::TaskDialogIndirect()) {
        TASKDIALOGCONFIG config{};
        config.cbSize = sizeof config;
        config.hwndParent = owner;
        config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
        config.dwCommonButtons = TDCBF_OK_BUTTON;
        const std::wstring undoText = Widen(kUndoButton);
        const TASKDIALOG_BUTTON undoButton{kUndoButtonId, undoText.c_str()};
        if (offerUndo) {
            config.pButtons = &undoButton;
            config.cButtons = 1;
            config.nDefaultButton = IDOK;
        }
        config.pszWindowTitle = title.c_str();
        config.pszMainIcon = summary.error ? TD_ERROR_ICON : TD_INFORMATION_ICON;
        config.pszMainInstruction = headline.c_str();
        config.pszContent = counts.c_str();
        config.pfCallback = SummaryEvents;
        config.lpCallbackData = reinterpret_cast<LONG_PTR>(owner);
        if (!details.empty()) {
            config.cxWidth = kSummaryWidth;
            config.pszExpandedInformation = details.c_str();
            config.pszCollapsedControlText = L"Einzelheiten anzeigen";
            config.pszExpandedControlText = L"Einzelheiten ausblenden";
        }
        int button = 0;
        if (SUCCEEDED(taskDialog(&config, &button, nullptr, nullptr)))
            return button == kUndoButtonId;
    }
    // A message box shows the first lines of the details.
    std::wstring text = headline + L"\n\n" + counts;
    if (!details.empty()) {
        constexpr std::size_t kMostDetails = 2000;
        text += L"\n\n" + details.substr(0, kMostDetails);
        if (details.size() > kMostDetails)
            text += L"\n\u2026";
    }
    if (offerUndo)
        text += L"\n\n" + Widen(kUndoQuestion);
    const int answer =
        MessageBoxW(owner, text.c_str(), title.c_str(),
                    (offerUndo ? MB_YESNO | MB_DEFBUTTON2 : MB_OK) | MB_SETFOREGROUND |
                        (summary.error ? MB_ICONSTOP : MB_ICONINFORMATION));
    if (answer <= 0)
        throw LastError("");
    return answer == IDYES;
}

// What the undo tells, on the worker thread: recorded for its summary, the
// progress posted to the window.
class UndoWorkerEvents final : public UndoRecorder {
  public:
    UndoWorkerEvents(News& news, HWND window, const std::atomic<bool>& stop)
        : news_(news), window_(window), stop_(stop) {}

    void Started(std::size_t, const std::string& path) override {
        const std::lock_guard<std::mutex> hold(news_.lock);
        try {
            news_.current = path;
        } catch (const std::bad_alloc&) {
            news_.current.clear();
        }
        Post();
    }
    void Progress(std::size_t done, std::size_t total) override {
        const std::lock_guard<std::mutex> hold(news_.lock);
        try {
            news_.view = UndoViewOf(done, total, putBack);
        } catch (const std::bad_alloc&) {
            news_.view.count.clear(); // only the words are not shown
        }
        Post();
    }
    bool StopRequested() override { return stop_.load(); }

  private:
    void Post() noexcept {
        if (!news_.posted)
            news_.posted = PostMessageW(window_, kNews, 0, 0) != FALSE;
    }
    News& news_;
    HWND window_;
    const std::atomic<bool>& stop_;
};

// Takes the batch just run back, behind the same progress window, and shows
// the undo's own summary.
void RunUndo(HINSTANCE instance, HWND owner, Direction direction,
             const std::vector<batch::RunBackup>& backups) {
    News news;
    news.found = true;
    news.view = UndoViewOf(0, backups.size(), 0);
    std::optional<ProgressWindow> progress;
    progress.emplace(instance, owner, direction, news,
                     "Die Umwandlung wird r\xC3\xBC"
                     "ckg\xC3\xA4ngig gemacht \xE2\x80\xA6");
    HWND window = progress->Handle();
    UndoWorkerEvents events(news, window, progress->StopFlag());
    batch::UndoResult result;
    std::exception_ptr failure;
    std::thread worker([&, window] {
        try {
            Win32Files files;
            result = batch::UndoRun(files, backups, false, events);
        } catch (...) {
            failure = std::current_exception();
        }
        progress->workerDone = true;
        PostMessageW(window, kDone, 0, 0);
    });
    try {
        progress->RunUntilDone();
    } catch (...) {
        progress->RequestStop();
        while (!progress->workerDone.load())
            Sleep(10);
        worker.join();
        throw;
    }
    worker.join();
    progress.reset();
    if (failure)
        std::rethrow_exception(failure);
    const SummaryText summary = SummarizeUndo(events, result.scripts, result.stopped);
    // The details within the screen, as the batch's summary has them.
    ShowSummary(owner, SummarizeUndo(events, result.scripts, result.stopped,
                                     RoomForDetails(owner, summary)));
}

} // namespace

void BatchWindow::RunBatch(const BatchOrder& order) {
    // A drop while a batch runs is not taken: one batch at a time.
    if (running_)
        return;
    running_ = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{running_};

    batch::BatchRequest request;
    request.paths = order.paths;
    request.direction = order.direction;
    request.backup = order.backup;
    request.guardWord = batch::GuardWord::AskOnce;
    // Two threads read, decide on and stage scripts where there are two cores,
    // as the companion does; the file services take calls from both at once.
    request.threads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;

    // Every box of the batch, and an error that ends it, in the middle of
    // the launcher's window.
    const BoxesCentredOn centred(owner_);
    try {
        Run(order, request);
    } catch (...) {
        ReportCurrentException(owner_);
    }
}

void BatchWindow::Run(const BatchOrder& order, const batch::BatchRequest& request) {
    News news;
    std::optional<ProgressWindow> progress;
    progress.emplace(instance_, owner_, order.direction, news);
    HWND window = progress->Handle();
    WorkerEvents events(news, window, progress->StopFlag());
    batch::BatchResult result;
    std::exception_ptr failure;
    // Nothing thrown leaves the worker: it is handed to this thread, which
    // reports it once the progress window is gone.
    std::thread worker([&, window] {
        try {
            Win32Files files;
            result = batch::RunBatch(files, files, request, events);
        } catch (...) {
            failure = std::current_exception();
        }
        progress->workerDone = true;
        PostMessageW(window, kDone, 0, 0);
    });
    try {
        progress->RunUntilDone();
    } catch (...) {
        // The batch never outlives what it tells: it is stopped and waited
        // for before the error goes on.
        progress->RequestStop();
        // A question the worker waits on is answered meanwhile ("Nein").
        while (!progress->workerDone.load()) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
            MSG sent;
            PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        worker.join();
        throw;
    }
    worker.join();
    progress.reset();
    if (failure)
        std::rethrow_exception(failure);

    SummaryText summary = Summarize(events, result.scripts, result.stopped);
    if (!summary.alwaysShown && !order.reportDone)
        return;
    // The details within the screen: made again with as many lines as fit.
    summary = Summarize(events, result.scripts, result.stopped, RoomForDetails(owner_, summary));
    if (ShowSummary(owner_, summary, !events.backups.empty()))
        RunUndo(instance_, owner_, order.direction, events.backups);
}

} // namespace velmo
