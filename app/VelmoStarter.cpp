#include "app/VelmoStarter.h"

#include "convert/Umlaute.h"
#include "registry/Module1.h"

#include <new>

namespace velmo {
namespace {

constexpr int kErrorBoxStyle = 16; // OK button with the critical-stop icon

// ---- what the edition controls do
enum class LibraryStep { None, SwitchOff, SwitchOn };

struct LaunchMode {
    ControlId control;
    std::string_view editionDir; // below GamePath
    LibraryStep library;
    std::string_view program;
    bool debugScript; // passes " -debugscript"
};

constexpr std::string_view kEisenmarkDir = "\\extra1\\bin";
constexpr std::string_view kSturmtalDir = "\\extra2\\bin";
constexpr std::string_view kGame = "\\Velmoria.exe";
constexpr std::string_view kMapEditor = "\\VelmoriaMapEditor.exe";
constexpr std::string_view kLibraryOn = "\\LuaDebugger.dll";
constexpr std::string_view kLibraryOff = "\\LuaDebugger.dll.off";
constexpr std::string_view kDebugScript = " -debugscript";

// Eisenmark's game gets " -debugscript" in all three modes, Sturmtal's only in Debug.
constexpr LaunchMode kLaunchModes[] = {
    {SturmtalNormal, kSturmtalDir, LibraryStep::SwitchOff, kGame, false},
    {SturmtalDebug, kSturmtalDir, LibraryStep::SwitchOff, kGame, true},
    {SturmtalGeschlossen, kSturmtalDir, LibraryStep::SwitchOn, kGame, false},
    {SturmtalEditor, kSturmtalDir, LibraryStep::None, kMapEditor, false},
    {EisenmarkNormal, kEisenmarkDir, LibraryStep::SwitchOff, kGame, true},
    {EisenmarkDebug, kEisenmarkDir, LibraryStep::SwitchOff, kGame, true},
    {EisenmarkGeschlossen, kEisenmarkDir, LibraryStep::SwitchOn, kGame, true},
    {EisenmarkEditor, kEisenmarkDir, LibraryStep::None, kMapEditor, false},
};

std::string Join(const std::string& base, std::string_view a, std::string_view b = {}) {
    std::string path = base;
    path += a;
    path += b;
    return path;
}

// Controls hidden when the game is not registered, in the order they are hidden.
constexpr ControlId kEditionControls[] = {
    Eisenmark,      EisenmarkGeschlossen, Geschlossen,         EisenmarkEditor,
    EisenmarkNormal, EisenmarkDebug,      Sturmtal,            SturmtalGeschlossen,
    SturmtalEditor, SturmtalNormal,       SturmtalDebug,       Editor};

} // namespace

std::string RefusalText(const std::string& path, ScriptKind kind) {
    std::string_view reason;
    switch (kind) {
    case ScriptKind::Text: return {};
    case ScriptKind::CompiledChunk: reason = kRefusedChunk; break;
    case ScriptKind::Utf16: reason = kRefusedUtf16; break;
    case ScriptKind::Utf32: reason = kRefusedUtf32; break;
    }
    return path + "\r\r" + std::string(reason);
}

std::string ErrorReportText(const PlatformError& error) {
    std::string text = "Fehler " + std::to_string(error.Code()) + ": " + error.Text();
    if (!error.Subject().empty()) text += "\r\r" + error.Subject();
    return text;
}

VelmoStarter::VelmoStarter(Platform& platform) : platform_(platform) {
    for (const Control& c : kControls) controls[c.id] = {c.visible, c.enabled, c.checked ? 1 : 0};
}

template <class F> bool VelmoStarter::Guarded(F&& procedure) {
    auto report = [this](const PlatformError& error) {
        try {
            platform_.MsgBox(ErrorReportText(error), kErrorBoxStyle, std::string(kWindowTitle));
        } catch (const PlatformError&) {
            // Nothing is left to report with; the procedure has stopped either way.
        }
    };
    try {
        procedure();
        return true;
    } catch (const PlatformError& error) {
        report(error);
    } catch (const std::bad_alloc&) {
        // A script too large for memory ends the action like any other failure.
        report(platform_.Error(win_error::NotEnoughMemory, ""));
    }
    return false;
}

bool VelmoStarter::Load() { return Guarded([this] { Form_Load(); }); }

bool VelmoStarter::HasClickProcedure(ControlId id) {
    switch (id) {
    case Command1: case Notepad: case UmlauteWeg: case UmlauteZurueck:
        return true;
    default:
        for (const LaunchMode& mode : kLaunchModes)
            if (mode.control == id) return true;
        return false;
    }
}

void VelmoStarter::Click(ControlId id) {
    Guarded([this, id] {
        switch (id) {
        case Command1: Command1_Click(); break;
        case Notepad: Notepad_Click(); break;
        case UmlauteWeg: UmlauteWeg_Click(); break;
        case UmlauteZurueck: UmlauteZurueck_Click(); break;
        default:
            if (HasClickProcedure(id)) Launch(id);
            break;
        }
    });
}

// ---- start-up detection

void VelmoStarter::Form_Load() {
    FileSystem = &platform_;

    if (auto path = LookUpDirectory(platform_, "SOFTWARE\\Quarzwerk\\Velmoria", "InstallPath")) {
        GamePath = *path;
        auto exists = [&](std::string_view dir, std::string_view file) {
            return FileSystem->FileExists(Join(GamePath, dir, file));
        };
        const bool HasEisenmarkGame = exists(kEisenmarkDir, kGame);
        const bool HasSturmtalGame = exists(kSturmtalDir, kGame);
        const bool HasEisenmarkEditor = exists(kEisenmarkDir, kMapEditor);
        const bool HasSturmtalEditor = exists(kSturmtalDir, kMapEditor);
        // Both names are always probed, the switched-off one first.
        const bool eisenmarkOff = exists(kEisenmarkDir, kLibraryOff);
        const bool HasEisenmarkDebugger = exists(kEisenmarkDir, kLibraryOn) || eisenmarkOff;
        const bool sturmtalOff = exists(kSturmtalDir, kLibraryOff);
        const bool HasSturmtalDebugger = exists(kSturmtalDir, kLibraryOn) || sturmtalOff;

        if (!HasEisenmarkGame && !HasEisenmarkEditor) Hide(Eisenmark);
        if (!HasEisenmarkDebugger && !HasSturmtalDebugger) Hide(Geschlossen);
        if (!HasEisenmarkDebugger) Hide(EisenmarkGeschlossen);
        if (!HasEisenmarkEditor) Hide(EisenmarkEditor);
        if (!HasEisenmarkGame) {
            Hide(EisenmarkNormal);
            Hide(EisenmarkDebug);
            Hide(EisenmarkGeschlossen);
        }
        if (!HasEisenmarkEditor && !HasSturmtalEditor) Hide(Editor);
        if (!HasSturmtalGame && !HasSturmtalEditor) Hide(Sturmtal);
        if (!HasSturmtalDebugger) Hide(SturmtalGeschlossen);
        if (!HasSturmtalEditor) Hide(SturmtalEditor);
        if (!HasSturmtalGame) {
            Hide(SturmtalNormal);
            Hide(SturmtalDebug);
            Hide(SturmtalGeschlossen);
        }
    } else {
        for (ControlId id : kEditionControls) Hide(id);
        controls[Nixda].visible = true;
    }

    if (auto path = LookUpDirectory(platform_, "SOFTWARE\\Notepad++", ""))
        NotepadPath = *path;
    else
        Hide(Notepad);
}

// ---- launch actions

void VelmoStarter::Launch(ControlId id) {
    for (const LaunchMode& mode : kLaunchModes) {
        if (mode.control != id) continue;
        const std::string dir = Join(GamePath, mode.editionDir);
        if (mode.library != LibraryStep::None) {
            const bool on = mode.library == LibraryStep::SwitchOn;
            const std::string source = Join(dir, on ? kLibraryOff : kLibraryOn);
            // Renaming never replaces: with both names present the rename fails
            // and the game is not started.
            if (FileSystem->FileExists(source))
                platform_.MoveFile(source, Join(dir, on ? kLibraryOn : kLibraryOff), false);
        }
        platform_.StartProcess(Join(dir, mode.program),
                               mode.debugScript ? std::string(kDebugScript.substr(1)) : "", dir,
                               ShowMaximized);
        return;
    }
}

void VelmoStarter::SturmtalNormal_Click() { Launch(SturmtalNormal); }
void VelmoStarter::SturmtalDebug_Click() { Launch(SturmtalDebug); }
void VelmoStarter::SturmtalGeschlossen_Click() { Launch(SturmtalGeschlossen); }
void VelmoStarter::SturmtalEditor_Click() { Launch(SturmtalEditor); }
void VelmoStarter::EisenmarkNormal_Click() { Launch(EisenmarkNormal); }
void VelmoStarter::EisenmarkDebug_Click() { Launch(EisenmarkDebug); }
void VelmoStarter::EisenmarkGeschlossen_Click() { Launch(EisenmarkGeschlossen); }
void VelmoStarter::EisenmarkEditor_Click() { Launch(EisenmarkEditor); }

void VelmoStarter::Notepad_Click() {
    platform_.StartProcess(NotepadPath + "\\Notepad++.exe", "", NotepadPath, ShowMaximized);
}

void VelmoStarter::Command1_Click() { platform_.End(); }

// ---- script conversion

void VelmoStarter::OpenTextFile(const std::string& path) { LoadScript(platform_, path, texts); }

void VelmoStarter::SaveTextFile(const std::string& path) {
    SaveScript(platform_, path, texts, controls[Sicherung].value == 1);
}

void VelmoStarter::UmlauteWeg_Click() { ConvertScript(Direction::ToTwoCharacterForm); }
void VelmoStarter::UmlauteZurueck_Click() { ConvertScript(Direction::ToSingleCharacter); }

void VelmoStarter::ConvertScript(Direction direction) {
    CommonDialog1.FileName.clear();
    CommonDialog1.Filter = std::string(kLuaFilter);
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.InitDir = DialogInitDir;
    platform_.ShowOpen(CommonDialog1);
    if (CommonDialog1.FileName.empty()) return;

    OpenTextFile(CommonDialog1.FileName);
    // Whatever happens next, the script's text is not kept in memory past this action.
    struct Release {
        ScriptTexts& texts;
        ~Release() { texts.ScriptText = std::make_shared<const std::string>(); }
    } release{texts};

    // Only single-byte text is converted: the bytes of a compiled chunk or of
    // UTF-16/UTF-32 text would be changed at random and the file destroyed.
    if (const std::string refusal =
            RefusalText(CommonDialog1.FileName, ClassifyScript(*texts.ScriptText));
        !refusal.empty()) {
        platform_.MsgBox(refusal, kErrorBoxStyle, std::string(kWindowTitle));
        return;
    }

    if (ContainsGuardWord(*texts.ScriptText) &&
        platform_.MsgBox(std::string(kGuardWarning), mb::YesNoCritical,
                         std::string(kGuardTitle)) != mb::AnswerYes)
        return;

    texts.ScriptText = std::make_shared<const std::string>(
        direction == Direction::ToTwoCharacterForm ? UmlauteToTwoCharacterForm(*texts.ScriptText)
                                                   : UmlauteToSingleCharacter(*texts.ScriptText));
    SaveTextFile(CommonDialog1.FileName);

    if (controls[Meldung].value == 1) platform_.MsgBox(std::string(kDoneMessage), mb::Ok, "");
}

} // namespace velmo
