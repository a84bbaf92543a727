#include "app/VelmoStarter.h"

#include "app/Accessibility.h"
#include "registry/Module1.h"

#include <iterator>
#include <new>

namespace velmo {
namespace {

// ---- what the edition controls do
enum class LibraryStep { None, SwitchOff, SwitchOn };

enum class EditionId { Eisenmark, Sturmtal };

struct Edition {
    ControlId name;             // the picture of the edition's name
    std::string_view directory; // below GamePath
};

// In the order start-up probes them.
constexpr Edition kEditions[] = {{Eisenmark, "\\extra1\\bin"}, {Sturmtal, "\\extra2\\bin"}};

constexpr const Edition& EditionOf(EditionId id) {
    return kEditions[static_cast<int>(id)];
}

struct LaunchMode {
    ControlId control;
    EditionId edition;
    LibraryStep library;
    std::string_view program;
    bool debugScript; // passes " -debugscript"
};

constexpr std::string_view kGame = "\\Velmoria.exe";
constexpr std::string_view kMapEditor = "\\VelmoriaMapEditor.exe";
constexpr std::string_view kLibraryOn = "\\LuaDebugger.dll";
constexpr std::string_view kLibraryOff = "\\LuaDebugger.dll.off";
// The game's switch, which the command line gets after a blank.
constexpr std::string_view kDebugScript = "-debugscript";

// Eisenmark's game gets " -debugscript" in all three modes, Sturmtal's only in Debug.
constexpr LaunchMode kLaunchModes[] = {
    {SturmtalNormal, EditionId::Sturmtal, LibraryStep::SwitchOff, kGame, false},
    {SturmtalDebug, EditionId::Sturmtal, LibraryStep::SwitchOff, kGame, true},
    {SturmtalGeschlossen, EditionId::Sturmtal, LibraryStep::SwitchOn, kGame, false},
    {SturmtalEditor, EditionId::Sturmtal, LibraryStep::None, kMapEditor, false},
    {EisenmarkNormal, EditionId::Eisenmark, LibraryStep::SwitchOff, kGame, true},
    {EisenmarkDebug, EditionId::Eisenmark, LibraryStep::SwitchOff, kGame, true},
    {EisenmarkGeschlossen, EditionId::Eisenmark, LibraryStep::SwitchOn, kGame, true},
    {EisenmarkEditor, EditionId::Eisenmark, LibraryStep::None, kMapEditor, false},
};

// The event wiring: which procedure a click on which control runs. Controls not
// listed run nothing when clicked.
struct ClickProcedure {
    ControlId control;
    void (VelmoStarter::*procedure)();
};

constexpr ClickProcedure kClickProcedures[] = {
    {Command1, &VelmoStarter::Command1_Click},
    {Notepad, &VelmoStarter::Notepad_Click},
    {EisenmarkNormal, &VelmoStarter::EisenmarkNormal_Click},
    {EisenmarkDebug, &VelmoStarter::EisenmarkDebug_Click},
    {EisenmarkGeschlossen, &VelmoStarter::EisenmarkGeschlossen_Click},
    {EisenmarkEditor, &VelmoStarter::EisenmarkEditor_Click},
    {SturmtalNormal, &VelmoStarter::SturmtalNormal_Click},
    {SturmtalDebug, &VelmoStarter::SturmtalDebug_Click},
    {SturmtalGeschlossen, &VelmoStarter::SturmtalGeschlossen_Click},
    {SturmtalEditor, &VelmoStarter::SturmtalEditor_Click},
    {UmlauteWeg, &VelmoStarter::UmlauteWeg_Click},
    {UmlauteZurueck, &VelmoStarter::UmlauteZurueck_Click},
};

const ClickProcedure* ClickProcedureOf(ControlId id) {
    for (const ClickProcedure& wired : kClickProcedures)
        if (wired.control == id)
            return &wired;
    return nullptr;
}

std::string Join(const std::string& base, std::string_view a, std::string_view b = {}) {
    std::string path = base;
    path += a;
    path += b;
    return path;
}

// Controls hidden when the game is not registered, in the order they are hidden.
constexpr ControlId kEditionControls[] = {Eisenmark,       EisenmarkGeschlossen, Geschlossen,
                                          EisenmarkEditor, EisenmarkNormal,      EisenmarkDebug,
                                          Sturmtal,        SturmtalGeschlossen,  SturmtalEditor,
                                          SturmtalNormal,  SturmtalDebug,        Editor};

} // namespace

std::string RefusalText(const std::string& path, ScriptKind kind) {
    const std::string_view reason = WindowRefusal(kind);
    return reason.empty() ? std::string() : path + "\r\r" + std::string(reason);
}

std::string ErrorReportText(const PlatformError& error) {
    // Not the system's error, so no number: the script and what happened.
    if (error.Cause() == ErrorCause::ChangedMeanwhile)
        return error.Subject() + "\r\r" + error.Text() + ".";
    std::string text = "Fehler " + std::to_string(error.Code()) + ": " + error.Text();
    if (!error.Subject().empty())
        text += "\r\r" + error.Subject();
    return text;
}

VelmoStarter::VelmoStarter(Platform& platform) : FileSystem(&platform) {
    for (const Control& c : kControls)
        controls[c.id] = {c.visible, c.enabled, c.checked ? 1 : 0};
}

template <class F> bool VelmoStarter::Guarded(F&& procedure) {
    auto report = [this](const PlatformError& error) {
        try {
            FileSystem->MsgBox(ErrorReportText(error), mb::OkCritical, std::string(kWindowTitle));
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
        report(FileSystem->Error(win_error::NotEnoughMemory, ""));
    }
    return false;
}

bool VelmoStarter::Load() {
    return Guarded([this] { Form_Load(); });
}

bool VelmoStarter::HasClickProcedure(ControlId id) {
    return ClickProcedureOf(id) != nullptr;
}

bool VelmoStarter::TakesDrops(ControlId id) {
    return id == UmlauteWeg || id == UmlauteZurueck;
}

bool VelmoStarter::Drop(ControlId id, std::vector<std::string> paths) {
    if (!TakesDrops(id))
        return false;
    Guarded([&] {
        ConvertMany(std::move(paths), id == UmlauteWeg ? Direction::ToTwoCharacterForm
                                                       : Direction::ToSingleCharacter);
    });
    return true;
}

void VelmoStarter::Click(ControlId id) {
    Guarded([this, id] {
        if (const ClickProcedure* wired = ClickProcedureOf(id))
            (this->*wired->procedure)();
    });
}

// ---- start-up detection

void VelmoStarter::Form_Load() {
    // The file-system object is the platform the window was made with; it is
    // held in FileSystem from then on.
    if (auto path = LookUpDirectory(*FileSystem, "SOFTWARE\\Quarzwerk\\Velmoria", "InstallPath")) {
        GamePath = *path;
        auto exists = [&](const Edition& edition, std::string_view file) {
            return FileSystem->FileExists(Join(GamePath, edition.directory, file));
        };
        // Probed in this order: both games, both map editors, then each
        // edition's library under both its names, the switched-off one first.
        struct Found {
            bool game, mapEditor, debugger;
        };
        Found found[std::size(kEditions)] = {};
        for (std::size_t e = 0; e < std::size(kEditions); ++e)
            found[e].game = exists(kEditions[e], kGame);
        for (std::size_t e = 0; e < std::size(kEditions); ++e)
            found[e].mapEditor = exists(kEditions[e], kMapEditor);
        for (std::size_t e = 0; e < std::size(kEditions); ++e) {
            const bool off = exists(kEditions[e], kLibraryOff);
            found[e].debugger = exists(kEditions[e], kLibraryOn) || off;
        }

        // A launch control needs its program; Geschlossen also needs the library
        // it switches on.
        for (const LaunchMode& mode : kLaunchModes) {
            const Found& has = found[static_cast<int>(mode.edition)];
            const bool program = mode.program == kGame ? has.game : has.mapEditor;
            if (!program || (mode.library == LibraryStep::SwitchOn && !has.debugger))
                Hide(mode.control);
        }
        // An edition's name stays while its game or its map editor exists; the
        // headings Geschlossen and Editor while some edition has a library or a
        // map editor. Normal and Debug always stay.
        bool anyDebugger = false, anyMapEditor = false;
        for (std::size_t e = 0; e < std::size(kEditions); ++e) {
            if (!found[e].game && !found[e].mapEditor)
                Hide(kEditions[e].name);
            anyDebugger = anyDebugger || found[e].debugger;
            anyMapEditor = anyMapEditor || found[e].mapEditor;
        }
        if (!anyDebugger)
            Hide(Geschlossen);
        if (!anyMapEditor)
            Hide(Editor);
    } else {
        for (ControlId id : kEditionControls)
            Hide(id);
        controls[Nixda].visible = true;
    }

    if (auto path = LookUpDirectory(*FileSystem, "SOFTWARE\\Notepad++", ""))
        NotepadPath = *path;
    else
        Hide(Notepad);
}

// ---- launch actions

void VelmoStarter::Launch(ControlId id) {
    for (const LaunchMode& mode : kLaunchModes) {
        if (mode.control != id)
            continue;
        const std::string dir = Join(GamePath, EditionOf(mode.edition).directory);
        if (mode.library != LibraryStep::None) {
            const bool on = mode.library == LibraryStep::SwitchOn;
            const std::string source = Join(dir, on ? kLibraryOff : kLibraryOn);
            // Renaming never replaces: with both names present the rename fails
            // and the game is not started.
            if (FileSystem->FileExists(source))
                FileSystem->MoveFile(source, Join(dir, on ? kLibraryOn : kLibraryOff), false);
        }
        FileSystem->StartProcess(Join(dir, mode.program),
                                 mode.debugScript ? std::string(kDebugScript) : "", dir,
                                 ShowMaximized);
        return;
    }
}

// ---- what tooltips say

std::string VelmoStarter::Tip(ControlId id) const {
    switch (id) {
    case UmlauteWeg:
    case UmlauteZurueck:
        return std::string(ControlOf(id).text) + " \xE2\x80\x93 " + std::string(kConvertTip);
    case Meldung:
        return std::string(kMeldungTip);
    case Sicherung:
        return std::string(kSicherungTip);
    default:
        break;
    }
    const SpokenControl* spoken = SpokenControlOf(id);
    if (!spoken || spoken->role != SpokenRole::PushButton)
        return {};
    const std::string said = DebuggerTip(id);
    return SpokenName(*spoken) + (said.empty() ? "" : "\n" + said);
}

std::string VelmoStarter::DebuggerTip(ControlId id) const {
    for (const LaunchMode& mode : kLaunchModes) {
        if (mode.control != id || mode.library == LibraryStep::None)
            continue;
        // The library's state as the disk has it now: another program (or
        // the other edition's button) may have renamed it since start-up.
        const std::string dir = Join(GamePath, EditionOf(mode.edition).directory);
        const bool on = FileSystem->FileExists(Join(dir, kLibraryOn));
        const bool off = FileSystem->FileExists(Join(dir, kLibraryOff));
        const std::string_view state = on && off ? kDebuggerBothNames
                                       : on      ? kDebuggerOn
                                       : off     ? kDebuggerOff
                                                 : kDebuggerMissing;
        return std::string(mode.library == LibraryStep::SwitchOn ? kSwitchesOn : kSwitchesOff) +
               " (jetzt: " + std::string(state) + ")";
    }
    return {};
}

void VelmoStarter::SturmtalNormal_Click() {
    Launch(SturmtalNormal);
}
void VelmoStarter::SturmtalDebug_Click() {
    Launch(SturmtalDebug);
}
void VelmoStarter::SturmtalGeschlossen_Click() {
    Launch(SturmtalGeschlossen);
}
void VelmoStarter::SturmtalEditor_Click() {
    Launch(SturmtalEditor);
}
void VelmoStarter::EisenmarkNormal_Click() {
    Launch(EisenmarkNormal);
}
void VelmoStarter::EisenmarkDebug_Click() {
    Launch(EisenmarkDebug);
}
void VelmoStarter::EisenmarkGeschlossen_Click() {
    Launch(EisenmarkGeschlossen);
}
void VelmoStarter::EisenmarkEditor_Click() {
    Launch(EisenmarkEditor);
}

void VelmoStarter::Notepad_Click() {
    FileSystem->StartProcess(NotepadPath + "\\Notepad++.exe", "", NotepadPath, ShowMaximized);
}

void VelmoStarter::Command1_Click() {
    FileSystem->End();
}

// ---- script conversion

void VelmoStarter::OpenTextFile(const std::string& path) {
    LoadScript(*FileSystem, path, texts, limits);
}

void VelmoStarter::SaveTextFile(const std::string& path) {
    SaveScript(*FileSystem, path, texts, controls[Sicherung].value == 1);
}

void VelmoStarter::UmlauteWeg_Click() {
    ConvertScript(Direction::ToTwoCharacterForm);
}
void VelmoStarter::UmlauteZurueck_Click() {
    ConvertScript(Direction::ToSingleCharacter);
}

void VelmoStarter::ConvertScript(Direction direction) {
    CommonDialog1.FileName.clear();
    CommonDialog1.Filter = std::string(kLuaFilter);
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.InitDir = DialogInitDir;
    CommonDialog1.MultiSelect = Batches != nullptr;
    FileSystem->ShowOpen(CommonDialog1);
    if (CommonDialog1.FileNames.size() > 1) {
        ConvertMany(CommonDialog1.FileNames, direction);
        return;
    }
    if (CommonDialog1.FileName.empty())
        return;
    // Reading, converting and writing block the window until the action ends.
    const BusyScope busy(*FileSystem);

    OpenTextFile(CommonDialog1.FileName);
    // Whatever happens next, the converted text is not kept in memory past this
    // action. OriginalText, the text as read, stays until the next conversion
    // reads another script: at most 2 MiB, since a bigger script is held as its
    // file's name.
    struct Release {
        ScriptTexts& texts;
        ~Release() { texts.ScriptText = ScriptContent(); }
    } release{texts};

    // Only text is converted: the bytes of a compiled chunk or of UTF-16/UTF-32
    // text would be changed at random and the file destroyed.
    ContentDecision decision = DecideContent(*FileSystem, texts.ScriptText, direction);
    if (decision.Refused()) {
        FileSystem->MsgBox(RefusalText(CommonDialog1.FileName, decision.kind), mb::OkCritical,
                           std::string(kWindowTitle));
        return;
    }

    if (decision.guardWord && FileSystem->MsgBox(std::string(kGuardWarning), mb::YesNoCritical,
                                                 std::string(kGuardTitle)) != mb::AnswerYes)
        return;

    if (decision.Changes())
        texts.ScriptText = std::move(decision.text);
    SaveTextFile(CommonDialog1.FileName);

    // Characters left as UTF-8 are named under "Fertig", so that the user can
    // look at them.
    if (controls[Meldung].value == 1) {
        std::string done(kDoneMessage);
        if (!decision.keptSentence.empty())
            done += "\r" + decision.keptSentence;
        FileSystem->MsgBox(done, mb::Ok, "");
    }
}

void VelmoStarter::ConvertMany(std::vector<std::string> paths, Direction direction) {
    if (paths.empty() || !Batches)
        return;
    BatchOrder order;
    order.paths = std::move(paths);
    order.direction = direction;
    order.backup = controls[Sicherung].value == 1;
    order.reportDone = controls[Meldung].value == 1;
    Batches->RunBatch(order);
}

} // namespace velmo
