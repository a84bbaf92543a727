// The command-line companion's arguments: its two commands and its options,
// from one table (cli/Flags.def) that the parser and --help read.
#pragma once

#include "convert/ScriptDecision.h"

#include <string>
#include <vector>

namespace velmo::cli {

// "fuer-velmo" and "fuer-mich": the window's two conversions; "rueckgaengig"
// takes a run back.
using velmo::Direction;

struct Options {
    Direction direction = Direction::ToTwoCharacterForm;
    bool check = false;             // --pruefen: change nothing, tell what would change
    bool backup = true;             // off with --ohne-sicherung
    bool anyway = false;            // --trotzdem: also files holding the word "UMLAUTE"
    bool quiet = false;             // -q, --leise: errors only
    bool undo = false;              // rueckgaengig: a run put back from its backups
    std::string run;                // --lauf: the run's stamp as in its backups' names
    std::vector<std::string> paths; // "-" alone: standard input to standard output
};

struct Arguments {
    enum class Action { Run, Help, Version, Usage } action = Action::Usage;
    Options options;
    std::string error; // for Usage: what was wrong
};

// Reads the arguments that follow the program's name.
Arguments ParseArguments(const std::vector<std::string>& arguments);

std::string HelpText();
std::string UsageHint(); // the short line after a usage error

} // namespace velmo::cli
