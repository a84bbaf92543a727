#include "app/DropTarget.h"

#include "app/ErrorReport.h"
#include "platform/DynamicCalls.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <deque>
#include <memory>
#include <utility>

namespace velmo {
namespace {

// The window's own procedure and the handler, kept with the window.
constexpr wchar_t kDropProperty[] = L"VelmoDropTarget";
// The top-level window's own procedure and the windows taking drops in it.
constexpr wchar_t kRootProperty[] = L"VelmoDropRoot";
// Posted to a drop window: run the drops it keeps, now that the window is free.
constexpr UINT kRunKeptDrops = WM_APP + 0x2D0;

struct DropTarget {
    WNDPROC previous = nullptr;
    DropHandler onDrop;
    // Drops the protocol had already taken when the window became busy (a
    // second drop right after the first): run one after the other once the
    // window takes input again.
    std::deque<std::vector<std::string>> kept;
};

struct DropRoot {
    WNDPROC previous = nullptr;
    std::vector<HWND> targets;
};

// While its top-level window takes no input (a batch, a box or a dialog is
// open) a drop window is not marked to take drops, so the pointer over it
// shows that none is possible, as anywhere else; afterwards it is again.
void TakeDrops(HWND window, bool take) {
    auto* target = static_cast<DropTarget*>(GetPropW(window, kDropProperty));
    if (!target)
        return;
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
    SetWindowLongPtrW(window, GWL_EXSTYLE,
                      take ? style | WS_EX_ACCEPTFILES : style & ~LONG_PTR{WS_EX_ACCEPTFILES});
    if (take && !target->kept.empty())
        PostMessageW(window, kRunKeptDrops, 0, 0);
}

bool RootTakesInput(HWND window) {
    return IsWindowEnabled(GetAncestor(window, GA_ROOT)) != FALSE;
}

LRESULT CALLBACK RootProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* root = static_cast<DropRoot*>(GetPropW(window, kRootProperty));
    if (!root)
        return DefWindowProcW(window, message, wParam, lParam);
    const WNDPROC previous = root->previous;
    if (message == WM_ENABLE) {
        for (HWND target : root->targets)
            TakeDrops(target, wParam != FALSE);
    } else if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropW(window, kRootProperty);
        delete root;
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

// Puts `procedure` in front of the window's own, keeping `data` under
// `property`; the previous procedure is returned. Throws PlatformError.
template <class Data>
WNDPROC Subclass(HWND window, const wchar_t* property, Data* data, WNDPROC procedure) {
    if (!SetPropW(window, property, data))
        throw LastError("");
    SetLastError(ERROR_SUCCESS);
    const auto previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
    if (!previous) {
        const PlatformError error = LastError("");
        RemovePropW(window, property);
        throw error;
    }
    return previous;
}

// The top-level window of `window` learns to tell its drop windows when it
// takes input and when not.
void WatchRoot(HWND window) {
    HWND top = GetAncestor(window, GA_ROOT);
    if (!top || top == window)
        return;
    auto* root = static_cast<DropRoot*>(GetPropW(top, kRootProperty));
    if (!root) {
        auto made = std::make_unique<DropRoot>();
        made->previous = Subclass(top, kRootProperty, made.get(), RootProc);
        root = made.release();
    }
    root->targets.push_back(window);
}

// The paths of a drop; the drop's memory is given back here whatever happens.
std::vector<std::string> DroppedPaths(HDROP drop) {
    const auto query = dynamic::DragQueryFileW();
    const auto finish = dynamic::DragFinish();
    struct Finish {
        HDROP drop;
        decltype(dynamic::DragFinish()) finish;
        ~Finish() {
            if (finish)
                finish(drop);
        }
    } finished{drop, finish};
    std::vector<std::string> paths;
    if (!query)
        return paths;
    const UINT count = query(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = query(drop, i, nullptr, 0);
        if (length == 0)
            continue;
        std::wstring path(length + 1, L'\0');
        if (query(drop, i, path.data(), length + 1) == 0)
            continue;
        path.resize(length);
        paths.push_back(Narrow(path));
    }
    return paths;
}

LRESULT CALLBACK DropProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* target = static_cast<DropTarget*>(GetPropW(window, kDropProperty));
    if (!target)
        return DefWindowProcW(window, message, wParam, lParam);
    const WNDPROC previous = target->previous;
    if (message == WM_DROPFILES) {
        try {
            std::vector<std::string> paths = DroppedPaths(reinterpret_cast<HDROP>(wParam));
            // A drop the protocol took before the window became busy (a box,
            // a dialog or a batch of its own is open) is never lost: it waits
            // for the window to be free, behind any that wait already.
            if (!paths.empty()) {
                target->kept.push_back(std::move(paths));
                PostMessageW(window, kRunKeptDrops, 0, 0);
            }
        } catch (...) {
            ReportCurrentException(GetAncestor(window, GA_ROOT));
        }
        return 0;
    }
    if (message == kRunKeptDrops) {
        // One at a time, each once the one before has ended.
        if (target->kept.empty() || !RootTakesInput(window))
            return 0;
        std::vector<std::string> paths = std::move(target->kept.front());
        target->kept.pop_front();
        if (!target->kept.empty())
            PostMessageW(window, kRunKeptDrops, 0, 0);
        try {
            target->onDrop(std::move(paths));
        } catch (...) {
            ReportCurrentException(GetAncestor(window, GA_ROOT));
        }
        return 0;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropW(window, kDropProperty);
        delete target;
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

} // namespace

void AcceptDrops(HWND window, DropHandler onDrop) {
    auto target = std::make_unique<DropTarget>();
    target->onDrop = std::move(onDrop);
    target->previous = Subclass(window, kDropProperty, target.get(), DropProc);
    target.release();
    WatchRoot(window);
    // What DragAcceptFiles does, without loading the shell for it; not while
    // the window is busy.
    TakeDrops(window, RootTakesInput(window));
}

} // namespace velmo
