// Files and folders dropped from Explorer (or, under Wine, from any X program
// that drags file names) onto a window: the window is marked to take them
// (WS_EX_ACCEPTFILES, so everywhere else the pointer shows that no drop is
// possible) and the paths of each drop are handed on as UTF-8.
#pragma once

#include "platform/WinApi.h"

#include <functional>
#include <string>
#include <vector>

namespace velmo {

using DropHandler = std::function<void(std::vector<std::string> paths)>;

// From now on `window` takes drops and `onDrop` gets their paths, on the
// window's thread. While its top-level window takes no input (a batch, a box
// or a dialog is open) it refuses drops with the no-drop pointer; a drop the
// protocol took just before is kept and handed on once the window takes input
// again. Exceptions that escape `onDrop` are reported there. The handler
// lives until the window is destroyed. Throws PlatformError.
void AcceptDrops(HWND window, DropHandler onDrop);

} // namespace velmo
