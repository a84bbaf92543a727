// The launcher's window as the user's actions see it: the controls' run-time
// state, the module-level values and every event procedure. Portable: the Win32
// window code feeds it clicks and shows what it decides; tests drive it directly.
#pragma once

#include "app/Controls.h"
#include "convert/ScriptDecision.h"
#include "convert/ScriptFile.h"
#include "platform/Platform.h"

#include <array>
#include <string>
#include <vector>

namespace velmo {

struct ControlState {
    bool visible;
    bool enabled;
    int value; // check boxes: 1 checked, 0 unchecked
};

// Many scripts at once: the files chosen together in the open-file dialog, or
// the files and folders dropped on a conversion button.
struct BatchOrder {
    std::vector<std::string> paths;
    Direction direction = Direction::ToTwoCharacterForm;
    bool backup = true;     // "Orginal-File sichern"
    bool reportDone = true; // "Meldung wenn fertig": the summary also when all went well
};

// Who runs such a batch: the window with its progress window and its summary.
// Errors it cannot tell in its summary it throws, as a procedure does, or
// reports itself as the launcher reports a procedure's (the window does, so
// that the box comes up over the launcher's window as the batch's others do).
class BatchRunner {
  public:
    virtual ~BatchRunner() = default;
    virtual void RunBatch(const BatchOrder& order) = 0;
};

class VelmoStarter {
  public:
    explicit VelmoStarter(Platform& platform);

    // ---- event dispatch, with the one top-level error report
    // Runs Form_Load. False when it failed: the report has been shown and the
    // program must end without showing the window.
    bool Load();
    // Runs the procedure wired to a click on `id`, if any. An error that escapes
    // it is reported and the launcher stays open.
    void Click(ControlId id);
    // Whether a click on `id` runs a procedure; the same wiring Click follows.
    static bool HasClickProcedure(ControlId id);
    // Files and folders dropped on `id`: converted as a batch when `id` is one
    // of the two conversion buttons. False when `id` takes no drop.
    bool Drop(ControlId id, std::vector<std::string> paths);
    static bool TakesDrops(ControlId id);

    // ---- event procedures
    void Form_Load();
    void Command1_Click();
    void Notepad_Click();
    void SturmtalNormal_Click();
    void SturmtalDebug_Click();
    void SturmtalGeschlossen_Click();
    void SturmtalEditor_Click();
    void EisenmarkNormal_Click();
    void EisenmarkDebug_Click();
    void EisenmarkGeschlossen_Click();
    void EisenmarkEditor_Click();
    void UmlauteWeg_Click();
    void UmlauteZurueck_Click();

    // ---- the window's own operations
    void OpenTextFile(const std::string& path);
    void SaveTextFile(const std::string& path);

    // ---- state
    std::array<ControlState, kControlCount> controls;
    ControlState& operator[](ControlId id) { return controls[id]; }
    const ControlState& operator[](ControlId id) const { return controls[id]; }

    // The window's file-system object: the platform's services (files, programs,
    // dialogs, registry), held for the window's lifetime. Every procedure reaches
    // the platform through it.
    Platform* FileSystem;
    std::string GamePath;
    std::string NotepadPath;
    ScriptTexts texts; // ScriptText and OriginalText
    // Up to which size a script is held whole; a bigger one is converted a
    // piece at a time (tests make it small).
    ScriptLimits limits;
    const std::string DialogInitDir;
    CommonDialog CommonDialog1;
    // Runs the batches of several scripts; none: only one script at a time.
    BatchRunner* Batches = nullptr;

  private:
    void ConvertScript(Direction direction);
    void ConvertMany(std::vector<std::string> paths, Direction direction);
    void Launch(ControlId id);
    void Hide(ControlId id) { controls[id].visible = false; }
    // Runs `procedure` and reports any platform error; false when one occurred.
    template <class F> bool Guarded(F&& procedure);
};

// The text of the top-level error report.
std::string ErrorReportText(const PlatformError& error);

inline constexpr std::string_view kGuardWarning = "Wenn die Funktion Umlaute gebraucht wird,\r"
                                                  "gibt das nur \xC3\x84rger.\r\r"
                                                  " M\xC3\xB6"
                                                  "chtest Du trotzdem weiter machen?";
inline constexpr std::string_view kGuardTitle = "Achtung";
inline constexpr std::string_view kDoneMessage = "Fertig";
inline constexpr std::string_view kLuaFilter = "Lua-Datei (LUA)|*.lua";

// The message for a script of `kind` at `path`, its reason below the path;
// empty for text, which is converted.
std::string RefusalText(const std::string& path, ScriptKind kind);

} // namespace velmo
