#include "app/DropTarget.h"

#include "app/ErrorReport.h"
#include "platform/DynamicCalls.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <memory>
#include <utility>

namespace velmo {
namespace {

// The window's own procedure and the handler, kept with the window.
constexpr wchar_t kDropProperty[] = L"VelmoDropTarget";

struct DropTarget {
    WNDPROC previous = nullptr;
    DropHandler onDrop;
};

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
            // While the window is disabled (a box, a dialog or a batch of its
            // own runs) it takes no drop, as it takes no click.
            if (!paths.empty() && IsWindowEnabled(GetAncestor(window, GA_ROOT)))
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
    if (!SetPropW(window, kDropProperty, target.get()))
        throw LastError("");
    SetLastError(ERROR_SUCCESS);
    target->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DropProc)));
    if (!target->previous) {
        const PlatformError error = LastError("");
        RemovePropW(window, kDropProperty);
        throw error;
    }
    target.release();
    // What DragAcceptFiles does, without loading the shell for it.
    SetWindowLongPtrW(window, GWL_EXSTYLE,
                      GetWindowLongPtrW(window, GWL_EXSTYLE) | WS_EX_ACCEPTFILES);
}

} // namespace velmo
