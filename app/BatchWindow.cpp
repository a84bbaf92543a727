#include "app/BatchWindow.h"

#include "app/BatchSummary.h"
#include "app/Controls.h"
#include "batch/Batch.h"
#include "batch/Undo.h"
#include "platform/DynamicCalls.h"
#include "platform/Handle.h"
#include "platform/Win32Error.h"
#include "platform/Win32Files.h"
#include "platform/Win32Text.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
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

constexpr int kScriptId = 101, kCountId = 102, kBarId = 103;

std::wstring Title() {
    return Widen(std::string(kWindowTitle));
}

// The batch's state as the worker leaves it for the window, under the lock.
struct News {
    std::mutex lock;
    std::string current;
    std::size_t done = 0;
    std::size_t total = 0;
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

// What the engine tells, on the worker thread: the outcome is recorded for the
// summary, the progress goes to the window by a posted message, the guard-word
// question is sent to the window's thread and waited for.
class WorkerEvents final : public BatchRecorder {
  public:
    WorkerEvents(News& news, HWND window, const std::atomic<bool>& stop)
        : news_(news), window_(window), stop_(stop) {}

    void Found(std::size_t total) override {
        const std::lock_guard<std::mutex> hold(news_.lock);
        news_.total = total;
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
    void Progress(std::size_t done, std::size_t total) override {
        const std::lock_guard<std::mutex> hold(news_.lock);
        news_.done = done;
        news_.total = total;
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

        const int dpi = DpiOf(owner);
        auto px = [dpi](int at96) { return MulDiv(at96, dpi, 96); };
        RECT frame{0, 0, px(440), px(132)};
        constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        constexpr DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
        const int width = frame.right - frame.left, height = frame.bottom - frame.top;
        RECT ownerRect{};
        if (owner)
            GetWindowRect(owner, &ownerRect);
        const int x = ownerRect.left + (ownerRect.right - ownerRect.left - width) / 2;
        const int y = ownerRect.top + (ownerRect.bottom - ownerRect.top - height) / 2;
        window_.Reset(CreateWindowExW(exStyle, kProgressWindowClass, Title().c_str(), style, x, y,
                                      width, height, owner, nullptr, instance, this));
        if (!window_)
            throw LastError("");
        HWND hwnd = window_.Get();

        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
            metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, 96);
            font_.Reset(CreateFontIndirectW(&metrics.lfMessageFont));
        }
        const std::string what = !heading.empty() ? heading
                                 : direction == Direction::ToTwoCharacterForm
                                     ? "Umlaute f\xC3\xBCr Velmo werden umgewandelt \xE2\x80\xA6"
                                     : "Umlaute f\xC3\xBCr mich werden umgewandelt \xE2\x80\xA6";
        Child(L"STATIC", Widen(what), SS_LEFT | SS_NOPREFIX, 0, px(12), px(12), px(416), px(18));
        script_ = Child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, kScriptId, px(12),
                        px(34), px(416), px(18));
        bar_ = Child(PROGRESS_CLASSW, L"", PBS_SMOOTH, kBarId, px(12), px(58), px(416), px(18));
        count_ =
            Child(L"STATIC", L"", SS_LEFT | SS_NOPREFIX, kCountId, px(12), px(94), px(280), px(18));
        cancel_ = Child(L"BUTTON", L"Abbrechen", BS_DEFPUSHBUTTON | WS_TABSTOP, IDCANCEL, px(332),
                        px(90), px(96), px(28));
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
    static int DpiOf(HWND window) {
        if (const auto getDpi = dynamic::GetDpiForWindow())
            if (window)
                if (const UINT dpi = getDpi(window))
                    return static_cast<int>(dpi);
        return 96;
    }

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
        std::size_t done = 0, total = 0;
        {
            const std::lock_guard<std::mutex> hold(news_.lock);
            news_.posted = false;
            current.swap(news_.current);
            news_.current = current;
            done = news_.done;
            total = news_.total;
        }
        SetWindowTextW(script_, Widen(current).c_str());
        SendMessageW(bar_, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
        SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(done), 0);
        if (!stop_.load()) {
            const std::string count = std::to_string(done) + " von " + std::to_string(total) +
                                      (total == 1 ? " Skript" : " Skripten");
            SetWindowTextW(count_, Widen(count).c_str());
            taskbar_.Show(window_.Get(), done, total);
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
    AutoWindow window_;
    AutoFont font_;
    HWND script_ = nullptr, bar_ = nullptr, count_ = nullptr, cancel_ = nullptr;
    TaskbarProgress taskbar_;
    std::atomic<bool> stop_{false};
    bool finished_ = false;
};

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
        if (!details.empty()) {
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
        news_.done = done;
        news_.total = total;
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
    news.total = backups.size();
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
    ShowSummary(owner, SummarizeUndo(events, result.scripts, result.stopped));
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

    const SummaryText summary = Summarize(events, result.scripts, result.stopped);
    if ((summary.alwaysShown || order.reportDone) &&
        ShowSummary(owner_, summary, !events.backups.empty()))
        RunUndo(instance_, owner_, order.direction, events.backups);
}

} // namespace velmo
