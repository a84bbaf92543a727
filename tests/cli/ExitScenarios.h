// The companion's exit statuses as one table of scenarios, run against the real
// program by a runner on each system (tests/cli/program_test.cpp on POSIX,
// tests/win32/cli_test.cpp under Windows). Each scenario starts from a fresh
// folder holding eins.lua and zwei.lua with single-byte umlauts and rein.lua
// with none.
#pragma once

#include "cli/Report.h"

#include <string>
#include <vector>

namespace velmo::cli::test {

struct ExitScenario {
    const char* name;
    // "{}" stands for the test folder; "/" is turned into the system's separator.
    std::vector<std::string> arguments;
    std::string readOnly; // a file made read-only first
    int status;
    std::vector<std::string> changed; // the scripts converted afterwards
    std::string err;                  // in standard error
};

inline std::vector<ExitScenario> ExitScenarios() {
    const Tally two{2, 1, 0, 0}, none{0, 1, 0, 0};
    return {
        {"converted",
         {"fuer-velmo", "{}"},
         "",
         0,
         {"eins.lua", "zwei.lua"},
         SummaryLine(two, false)},
        {"--pruefen, some would change",
         {"fuer-velmo", "--pruefen", "{}"},
         "",
         1,
         {},
         SummaryLine(two, true)},
        {"--pruefen, nothing would change",
         {"fuer-velmo", "--pruefen", "{}/rein.lua"},
         "",
         0,
         {},
         SummaryLine(none, true)},
        {"--pruefen, the other direction: nothing",
         {"fuer-mich", "--pruefen", "{}"},
         "",
         0,
         {},
         SummaryLine({0, 3, 0, 0}, true)},
        {"unknown option",
         {"fuer-velmo", "--schnell", "{}"},
         "",
         2,
         {},
         "unbekannte Option \xE2\x80\x9E--schnell\xE2\x80\x9C"},
        {"unknown command", {"umwandeln", "{}"}, "", 2, {}, "Aufruf: velmo-umlaute"},
        {"no command", {"{}"}, "", 2, {}, "Aufruf: velmo-umlaute"},
        {"no path", {"fuer-velmo"}, "", 2, {}, "keine Datei und kein Ordner angegeben"},
        {"a missing path among others",
         {"fuer-velmo", "{}/K\xC3\xA4rtchen/fehlt.lua", "{}"},
         "",
         2,
         {"eins.lua", "zwei.lua"},
         "fehlt.lua: "},
        {"a read-only file among others",
         {"fuer-velmo", "{}"},
         "eins.lua",
         2,
         {"zwei.lua"},
         "eins.lua: "},
        // The check names what the conversion would refuse, and fails as it would.
        {"--pruefen, a read-only file among others",
         {"fuer-velmo", "--pruefen", "{}"},
         "eins.lua",
         2,
         {},
         "eins.lua: "},
        {"help", {"--help"}, "", 0, {}, ""},
        {"version", {"--version"}, "", 0, {}, ""},
    };
}

} // namespace velmo::cli::test
