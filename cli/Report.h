// The companion's words: where they go (the Reporter the console implements)
// and how each line reads. The batch and the filter say what happened; this
// file says it in German.
#pragma once

#include "batch/Batch.h"
#include "batch/Undo.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace velmo::cli {

// Where the batch's words go. The console implementation decides what --leise
// keeps and when a progress line is worth showing.
class Reporter {
  public:
    virtual ~Reporter() = default;
    // A script changed (or, with --pruefen, would change): one line on stdout.
    virtual void Changed(const std::string& line) = 0;
    // A file left alone and why: a notice on stderr.
    virtual void Notice(const std::string& line) = 0;
    // An error: always on stderr.
    virtual void Failure(const std::string& line) = 0;
    // `done` of `total` files decided.
    virtual void Progress(std::size_t done, std::size_t total) = 0;
    // The closing line on stderr.
    virtual void Summary(const std::string& line) = 0;
    // 0 while the run may go on; else the number of the signal that asked it
    // to stop (Ctrl+C, SIGTERM, SIGHUP), at its next safe point.
    virtual int Interruption() { return 0; }
    // True when a line could not be written (a full disk behind standard
    // output): the run goes on, and ends as after an error.
    virtual bool LinesLost() const { return false; }
};

// What became of the files of a run.
using Tally = batch::Tally;

// "karte.lua: 3 Zeichen umgewandelt", with --pruefen "… würden umgewandelt".
std::string ChangedLine(const std::string& path, std::size_t characters, bool check);
// "karte.lua: übersprungen, <why>".
std::string SkippedLine(const std::string& path, std::string_view why);
// The text of an error line, of the path the user knows: on Windows "Fehler",
// the number and the system's text, as the window reports; elsewhere the cause
// in German words where it is known and the system's text.
std::string ErrorLine(const PlatformError& error, const std::string& path);
// A line for a terminal: control characters (a newline or ESC in a file name)
// shown escaped, as ls shows them, so that they neither break the line nor
// reach the terminal. Into a pipe or file lines go unchanged.
std::string ForTerminal(std::string_view line);
// "2 Dateien umgewandelt, 1 unverändert, 0 übersprungen, 0 Fehler".
std::string SummaryLine(const Tally& tally, bool check);
// The closing line of a run asked to stop after `done` of `total` files:
// "abgebrochen: 37 von 100 Dateien umgewandelt, die übrigen unverändert".
std::string InterruptedLine(const Tally& tally, std::size_t total, bool check);

// Taking a run back (rueckgaengig): "karte.lua: aus der Sicherung
// zurückgeholt", with --pruefen "… würde … zurückgeholt"; what it closes with,
// "3 Dateien zurückgeholt, 1 übersprungen, 0 Fehler", or after a stop
// "abgebrochen: 2 von 5 Dateien zurückgeholt, die übrigen unverändert (0 Fehler)";
// and one line per run where the paths hold several, "<stamp>: 3 Sicherungen".
std::string PutBackLine(const std::string& path, bool check);
std::string UndoSummaryLine(const batch::UndoTally& tally, bool check);
std::string UndoInterruptedLine(const batch::UndoTally& tally, std::size_t total, bool check);
std::string RunLine(const std::string& stamp, std::size_t backups);

// "karte.lua: 2 Zwischendateien abgebrochener Läufe entfernt".
std::string LeftoversLine(const std::string& path, std::size_t removed);
// "karte.lua: 2 Sicherungen abgebrochener Läufe entfernt (…)".
std::string StrayBackupsLine(const std::string& path, std::size_t removed);
// "karte.lua: hat 1 weiteren Namen (harte Verknüpfung), der den alten Text behält".
std::string OtherNamesLine(const std::string& path, std::size_t others);

// Why a symbolic link, or what is no regular file, is left alone.
inline constexpr std::string_view kLinkNotice = "symbolische Verknüpfung";
inline constexpr std::string_view kNotAFileNotice = "keine gewöhnliche Datei";
// Why a script holding the guard word is left alone.
inline constexpr std::string_view kGuardNotice = "enthält das Wort \xE2\x80\x9EUMLAUTE\xE2\x80\x9C "
                                                 "(umwandeln mit --trotzdem)";

} // namespace velmo::cli
