// Program start: DLL search hardening, COM and common controls, then the window:
// created hidden, Form_Load, shown, and the message loop until it is gone.
#include "app/BatchWindow.h"
#include "app/ErrorReport.h"
#include "app/VelmoStarter.h"
#include "app/Window.h"
#include "platform/DynamicCalls.h"
#include "platform/Win32Platform.h"

#include <objbase.h>

namespace {

// No DLL is ever loaded from the program's folder or the current directory,
// where a planted copy could stand in for a system one: only System32 is
// searched.
void RestrictDllSearch() {
    if (auto setDefault = velmo::dynamic::SetDefaultDllDirectories())
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

// Common controls 6 (chosen by the manifest) are loaded here rather than
// imported, so the program file's import table names only system DLLs that
// Windows always takes from System32.
void InitCommonControlsV6() {
    if (auto init = velmo::dynamic::InitCommonControlsEx()) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        init(&controls);
    }
}

class ComApartment {
  public:
    ComApartment()
        : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    HRESULT result_;
};

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearch();
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    ComApartment com;
    InitCommonControlsV6();

    try {
        velmo::Win32Platform platform{std::string(velmo::kWindowTitle)};
        velmo::VelmoStarter starter(platform);
        velmo::BatchWindow batches(instance);
        starter.Batches = &batches;
        velmo::MainWindow window(instance, starter);
        window.Create();
        platform.SetOwner(window.Handle());
        batches.SetOwner(window.Handle());
        platform.onEnd = [&window] { window.Close(); };

        // Form_Load runs before the window is first shown; when it fails the
        // report has been shown and the window never appears.
        if (!starter.Load())
            return 1;
        window.ApplyControlState();
        window.Show();
        return window.RunMessageLoop();
    } catch (...) {
        velmo::ReportCurrentException(nullptr);
        return 1;
    }
}
