#include "cli/Arguments.h"

#include "velmo_version.h"

#include <algorithm>
#include <string_view>

namespace velmo::cli {
namespace {

enum class FlagAction { Check, RunStamp, NoBackup, Anyway, Quiet, Help, Version, EndOfOptions };

struct Flag {
    FlagAction action;
    std::string_view shown; // the spellings --help shows, separated by |
    std::string_view also;  // a further spelling that is understood; may be empty
    std::string_view help;
};

constexpr Flag kFlags[] = {
#define VELMO_FLAG(action, shown, also, help, more) {FlagAction::action, shown, also, help},
#include "cli/Flags.def"
#undef VELMO_FLAG
};

struct Command {
    Direction direction;
    std::string_view name;
    std::string_view also;
    bool undo = false;
};

constexpr Command kCommands[] = {
    {Direction::ToTwoCharacterForm, "fuer-velmo", "für-velmo"},
    {Direction::ToSingleCharacter, "fuer-mich", "für-mich"},
    {Direction::ToTwoCharacterForm, "rueckgaengig", "rückgängig", true},
};

// Calls `each` with every spelling of a row ("-q|--leise" and its further one).
template <class Each>
void ForEachSpelling(std::string_view shown, std::string_view also, Each each) {
    for (std::size_t begin = 0; begin <= shown.size();) {
        const std::size_t end = std::min(shown.find('|', begin), shown.size());
        each(shown.substr(begin, end - begin));
        begin = end + 1;
    }
    if (!also.empty())
        each(also);
}

// A spelling without what --help shows of its value ("--lauf STEMPEL").
std::string_view Bare(std::string_view spelling) {
    return spelling.substr(0, spelling.find(' '));
}

const Flag* FlagNamed(std::string_view argument) {
    for (const Flag& flag : kFlags) {
        bool named = false;
        ForEachSpelling(flag.shown, flag.also, [&](std::string_view spelling) {
            named = named || Bare(spelling) == argument;
        });
        if (named)
            return &flag;
    }
    return nullptr;
}

const Command* CommandNamed(std::string_view argument) {
    for (const Command& command : kCommands)
        if (argument == command.name || argument == command.also)
            return &command;
    return nullptr;
}

std::string Quoted(std::string_view text) {
    return "\xE2\x80\x9E" + std::string(text) + "\xE2\x80\x9C";
}

// Characters, not bytes: the help is aligned as a terminal shows it.
std::size_t Columns(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The options block of --help: each row's spellings, then its help from column
// 21, words wrapped before column 79.
std::string OptionLines() {
    constexpr std::size_t kHelpColumn = 20, kWidth = 78;
    std::string lines;
    for (const Flag& flag : kFlags) {
        std::string line = "  ";
        ForEachSpelling(flag.shown, {}, [&](std::string_view spelling) {
            line += (line.size() > 2 ? ", " : "") + std::string(spelling);
        });
        for (std::size_t begin = 0; begin < flag.help.size();) {
            line.append(kHelpColumn > Columns(line) ? kHelpColumn - Columns(line) : 1, ' ');
            std::size_t end = flag.help.size();
            while (Columns(line) + Columns(flag.help.substr(begin, end - begin)) > kWidth &&
                   flag.help.rfind(' ', end - 1) > begin)
                end = flag.help.rfind(' ', end - 1);
            line += flag.help.substr(begin, end - begin);
            lines += line + "\n";
            line.clear();
            begin = end + (end < flag.help.size());
        }
    }
    return lines;
}

} // namespace

Arguments ParseArguments(const std::vector<std::string>& arguments) {
    Arguments result;
    auto usage = [&](std::string error) {
        result.action = Arguments::Action::Usage;
        result.error = std::move(error);
        return result;
    };
    bool haveCommand = false, optionsEnded = false, haveRun = false, conversionOnly = false;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            // "--lauf=STEMPEL" as well as "--lauf STEMPEL".
            const std::size_t equals =
                argument.starts_with("--") ? argument.find('=') : argument.npos;
            const Flag* flag = FlagNamed(std::string_view(argument).substr(0, equals));
            if (!flag || (equals != argument.npos && flag->action != FlagAction::RunStamp))
                return usage("unbekannte Option " + Quoted(argument));
            switch (flag->action) {
            case FlagAction::Check:
                result.options.check = true;
                break;
            case FlagAction::RunStamp:
                if (equals != argument.npos)
                    result.options.run = argument.substr(equals + 1);
                else if (at + 1 < arguments.size())
                    result.options.run = arguments[++at];
                if (result.options.run.empty())
                    return usage(Quoted("--lauf") + " ohne Stempel");
                haveRun = true;
                break;
            case FlagAction::NoBackup:
                result.options.backup = false;
                conversionOnly = true;
                break;
            case FlagAction::Anyway:
                result.options.anyway = true;
                conversionOnly = true;
                break;
            case FlagAction::Quiet:
                result.options.quiet = true;
                break;
            case FlagAction::Help:
                result.action = Arguments::Action::Help;
                return result;
            case FlagAction::Version:
                result.action = Arguments::Action::Version;
                return result;
            case FlagAction::EndOfOptions:
                optionsEnded = true;
                break;
            }
        } else if (!haveCommand) {
            haveCommand = true;
            const Command* command = CommandNamed(argument);
            if (!command)
                return usage("unbekannter Befehl " + Quoted(argument) +
                             " (fuer-velmo, fuer-mich oder rueckgaengig)");
            result.options.direction = command->direction;
            result.options.undo = command->undo;
        } else {
            result.options.paths.push_back(argument);
        }
    }
    if (!haveCommand)
        return usage("Befehl fehlt (fuer-velmo, fuer-mich oder rueckgaengig)");
    if (haveRun && !result.options.undo)
        return usage(Quoted("--lauf") + " geht nur mit rueckgaengig");
    if (conversionOnly && result.options.undo)
        return usage("--ohne-sicherung und --trotzdem gehen nicht mit rueckgaengig");
    if (result.options.paths.empty())
        return usage("keine Datei und kein Ordner angegeben");
    const bool filter = std::find(result.options.paths.begin(), result.options.paths.end(), "-") !=
                        result.options.paths.end();
    if (filter && result.options.undo)
        return usage(Quoted("-") + " (Standardeingabe) geht nicht mit rueckgaengig");
    if (filter && result.options.paths.size() > 1)
        return usage(Quoted("-") + " (Standardeingabe) geht nur allein");
    result.action = Arguments::Action::Run;
    return result;
}

std::string UsageHint() {
    return "Aufruf: velmo-umlaute fuer-velmo|fuer-mich|rueckgaengig [OPTIONEN] PFAD... (Hilfe mit "
           "--help)";
}

std::string HelpText() {
    return "velmo-umlaute " VELMO_VERSION_STRING
           R"( – Umlaute in Lua-Skripten für Velmoria umwandeln

Aufruf: velmo-umlaute fuer-velmo [OPTIONEN] PFAD...
        velmo-umlaute fuer-mich  [OPTIONEN] PFAD...
        velmo-umlaute rueckgaengig [--lauf STEMPEL] [OPTIONEN] PFAD...

  fuer-velmo   ä ö ü ß Ä Ö Ü werden zu ihrer Zwei-Zeichen-Form (UTF-8),
               wie „Umlaute für Velmo umwandeln“ im Velmo-Starter.
  fuer-mich    die Zwei-Zeichen-Formen werden wieder zu einzelnen Zeichen
               (Windows-1252), wie „Umlaute für mich umwandeln“.
  rueckgaengig nimmt einen Lauf zurück: jedes Skript bekommt seinen alten
               Inhalt aus seiner Sicherung wieder.
  Auch )" + Quoted(kCommands[0].also) +
           ", " + Quoted(kCommands[1].also) + " und " + Quoted(kCommands[2].also) +
           R"( werden verstanden.

PFAD ist eine Datei oder ein Ordner. Ordner werden samt Unterordnern nach
*.lua durchsucht; versteckte Ordner wie .git bleiben außen vor. Eine
ausdrücklich genannte Datei wird umgewandelt, wie auch immer sie heißt.
„-“ allein liest die Standardeingabe und schreibt auf die Standardausgabe
(als Filter, etwa für git); dabei wird keine Datei geändert. Mit --trotzdem
wird geschrieben, während noch gelesen wird, auch bei endloser Eingabe; ohne
erst, wenn alles gelesen ist (das Wort „UMLAUTE“ könnte zuletzt kommen), und
was über 8 MiB hinausgeht, wartet so lange in einer temporären Datei.

Optionen:
)" + OptionLines() +
           R"(
Jede geänderte Datei bekommt ihre Sicherung neben sich, benannt wie im
Velmo-Starter: Name, Datum und Uhrzeit, Endung .bak, etwa
karte_lua_10_12_2026_18_37_27.bak. Das Datum folgt der Spracheinstellung;
wo sie keine eigene Reihenfolge kennt (C, POSIX), steht es wie in einem
deutschen Windows: Tag, Monat, Jahr mit vier Ziffern. Eine Datei wird erst
ersetzt, wenn ihre Sicherung und ihr neuer Inhalt sicher gespeichert sind,
und dann in einem Schritt. Dateien, die nichts zu ändern haben, bleiben
unberührt. Schreibgeschützte Dateien werden abgelehnt; kompilierte
Lua-Skripte (Bytecode von luac oder LuaJIT), Dateien in UTF-16 oder UTF-32,
symbolische Verknüpfungen und (ohne --trotzdem) Dateien mit dem Wort
„UMLAUTE“ werden mit einem Hinweis übersprungen.

Alle Sicherungen eines Laufs tragen denselben Stempel: Datum und Uhrzeit,
als der Lauf begann. rueckgaengig holt jedes Skript dieses Laufs aus seiner
Sicherung zurück, in einem Schritt je Skript, und die Sicherung ist danach
wieder das Skript. Ein Skript, das seit der Umwandlung geändert wurde, oder
eines ohne seine Sicherung bleibt, wie es ist, und wird genannt. Liegen
Sicherungen mehrerer Läufe in den Pfaden, nennt rueckgaengig jeden Lauf mit
Stempel und Zahl der Sicherungen und ändert nichts (Rückgabewert 2); --lauf
wählt einen.

Auf ext4, tmpfs, NTFS (ntfs-3g), exFAT, FAT32 und Netzlaufwerken gilt das
Gleiche: wo es keine harten Verknüpfungen gibt, ist die Sicherung eine Kopie;
Eigentümer, Gruppe und Rechte werden nur gesetzt, wo sie abweichen. Ein
Skript eines anderen Benutzers (oder einer Gruppe, der man nicht angehört)
wird abgelehnt, statt still den Eigentümer zu wechseln; auf einem nur
lesbaren Dateisystem sagt die Meldung das.

Text, der schon UTF-8 ist (polnisch ą, tschechisch č, chinesisch 中 …),
bleibt bei fuer-velmo, wie er ist; stehen Umlaute in Windows-1252 daneben,
werden nur sie umgewandelt. Ein Hinweis nennt, wie viele Zeichen so
geblieben sind, und das erste mit seiner Zeile. Nicht zu unterscheiden sind
ß oder Ü direkt vor „…“ oder anderen Satzzeichen von Windows-1252 und
seltene UTF-8-Zeichen (NKo, Syrisch): ist die ganze Datei UTF-8, gilt sie
als UTF-8, sonst als Windows-1252. Der Filter mit --trotzdem wartet damit
höchstens 4 MiB lang; ist der Text bis dahin UTF-8, gilt er von da an so.

Rückgabewert:
  0  fertig; mit --pruefen: nichts würde sich ändern
  1  nur mit --pruefen: mindestens eine Datei würde sich ändern
  2  Fehler: falscher Aufruf, oder eine Datei ließ sich nicht lesen
     oder schreiben (die übrigen werden trotzdem bearbeitet)
  130 abgebrochen mit Strg+C (143: SIGTERM, 129: SIGHUP oder Konsole
     geschlossen): bis dahin ersetzte Dateien bleiben umgewandelt, keine
     halbe Arbeit bleibt zurück
  141 der Filter hört auf, weil niemand mehr seine Ausgabe liest (etwa
     „| head“), ohne Meldung

Beispiele:
  velmo-umlaute fuer-velmo karten/
  velmo-umlaute fuer-velmo --pruefen karten/
  velmo-umlaute rueckgaengig karten/
  git config filter.velmo.clean "velmo-umlaute fuer-velmo --trotzdem -"
)";
}

} // namespace velmo::cli
