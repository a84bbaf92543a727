#include "app/ErrorReport.h"

#include "app/Controls.h"
#include "app/VelmoStarter.h"
#include "platform/Win32Text.h"

#include <array>
#include <exception>
#include <string>

namespace velmo {
namespace {

// The program's title for the box, made from the one constant at compile time,
// so the report can show it without memory to spare.
constexpr auto kWideTitle = [] {
    std::array<wchar_t, kWindowTitle.size() + 1> wide{};
    for (std::size_t i = 0; i < kWindowTitle.size(); ++i) {
        if (static_cast<unsigned char>(kWindowTitle[i]) >= 0x80)
            throw "the title is widened character by character, so it must be ASCII";
        wide[i] = static_cast<wchar_t>(kWindowTitle[i]);
    }
    return wide;
}();

} // namespace

void ReportCurrentException(HWND owner) noexcept {
    std::string text;
    try {
        throw;
    } catch (const PlatformError& error) {
        text = ErrorReportText(error);
    } catch (const std::exception& error) {
        text = std::string("Fehler: ") + error.what();
    } catch (...) {
        text = "Unbekannter Fehler";
    }
    try {
        MessageBoxW(owner, Widen(text).c_str(), kWideTitle.data(), MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxW(owner, L"Unbekannter Fehler", kWideTitle.data(), MB_OK | MB_ICONERROR);
    }
}

} // namespace velmo
