// The launcher's conversion click, once, on the script named on the command
// line: the real event procedure UmlauteWeg_Click with the real file services
// (load, conversion, backup and save through Win32Platform, "Sicherung" on).
// Only the two pieces of user interface are answered here: the open-file
// dialog picks the given script, and message boxes are written to the error
// output instead of shown. The kill-during-save test ends this program at
// chosen moments. Exit code 0: converted and saved; 1: an error was reported.
#include "app/VelmoStarter.h"
#include "platform/Win32Platform.h"
#include "platform/Win32Text.h"

#include <cstdio>

namespace {

class Unattended : public velmo::Win32Platform {
  public:
    explicit Unattended(std::string script) : script_(std::move(script)) {}
    void ShowOpen(velmo::CommonDialog& dialog) override { dialog.FileName = script_; }
    int MsgBox(const std::string& text, int style, const std::string& title) override {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        if (title == "Velmo-Starter")
            reported = true;
        return style == velmo::mb::YesNoCritical ? velmo::mb::AnswerYes : velmo::mb::AnswerOk;
    }
    bool reported = false;

  private:
    std::string script_;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: save_victim <script>\n");
        return 2;
    }
    Unattended platform(velmo::Narrow(argv[1]));
    velmo::VelmoStarter starter(platform);
    starter[velmo::Sicherung].value = 1;
    starter[velmo::Meldung].value = 0;
    starter.Click(velmo::UmlauteWeg);
    return platform.reported ? 1 : 0;
}
