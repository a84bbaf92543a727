// Many scripts from the launcher's window on Win32: the batch runs on a thread
// of its own while a small modal progress window shows the current script, a
// progress bar and "Abbrechen" (and the taskbar shows the progress); the
// guard-word question is asked once, and one summary ends it.
#pragma once

#include "app/VelmoStarter.h"
#include "batch/Batch.h"
#include "platform/WinApi.h"

namespace velmo {

inline constexpr wchar_t kProgressWindowClass[] = L"VelmoBatchProgress";

class BatchWindow final : public BatchRunner {
  public:
    explicit BatchWindow(HINSTANCE instance) : instance_(instance) {}
    // The window the progress window and the boxes belong to; it takes no
    // input while a batch runs.
    void SetOwner(HWND owner) { owner_ = owner; }
    // Runs the batch; returns when it has ended and its summary was shown. A
    // second batch asked for meanwhile (a drop) is not started. An error that
    // ends the batch is reported here, in a box over the launcher's window.
    void RunBatch(const BatchOrder& order) override;

  private:
    void Run(const BatchOrder& order, const batch::BatchRequest& request);
    HINSTANCE instance_;
    HWND owner_ = nullptr;
    bool running_ = false;
};

} // namespace velmo
