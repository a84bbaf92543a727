// What the window tells about a batch of many scripts: the guard-word question
// asked once for all of them, and the one summary at the end. Portable: the
// recorder gathers what the engine tells, the texts are made from it here, and
// the Win32 progress window only shows them.
#pragma once

#include "app/Numbers.h"
#include "batch/Batch.h"
#include "batch/Undo.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// One script the summary names, with why (a skip, an error, the UTF-8 sentence).
struct NamedScript {
    std::string path;
    std::string why;
};

// What became of a batch's scripts, as the engine tells it.
class BatchRecorder : public batch::BatchEvents {
  public:
    void Converted(const std::string& path, std::size_t characters) override;
    void Unchanged(const std::string& path) override;
    void Skipped(const std::string& path, const batch::Skip& why) override;
    void Failed(const std::string& path, const PlatformError& error) override;
    void KeptAsUtf8(const std::string& path, const std::string& sentence) override;
    void BackedUp(const std::string& path, const std::string& backup) override;
    void StrayBackupsRemoved(const std::string& path, std::size_t count) override;

    std::size_t converted = 0;
    std::size_t unchanged = 0;
    std::size_t skippedCount = 0;
    std::size_t failedCount = 0;
    // Backups that killed runs left of scripts they never replaced, removed.
    std::size_t strayBackups = 0;
    std::vector<NamedScript> skipped;
    std::vector<NamedScript> failed;
    std::vector<NamedScript> keptAsUtf8;
    std::vector<NamedScript> convertedNames; // replaced, in the order they were
    // The scripts replaced and their backups: what "Rückgängig machen" puts back.
    std::vector<batch::RunBackup> backups;
    // Remembered when a name could not be kept for want of memory: the counts
    // stay right, the lists may be short.
    bool listsIncomplete = false;

  private:
    void Keep(std::vector<NamedScript>& list, const std::string& path,
              const std::string& why) noexcept;
};

// The summary box: its headline, the counts below it and the details that
// can be expanded (also the text of a plain message box).
struct SummaryText {
    std::string headline;
    std::string counts;
    std::string details;
    bool error = false; // failures
    // Failures, a stop, or no script found: shown whatever "Meldung wenn
    // fertig" says; a batch that went well only when it is checked.
    bool alwaysShown = false;
};

// How many lines the details may take when nothing limits them.
inline constexpr std::size_t kEveryDetail = static_cast<std::size_t>(-1);

// The room the summary's details have on the screen: lines, and characters a
// line (a longer name wraps and takes more lines).
struct DetailsRoom {
    std::size_t lines = kEveryDetail;
    std::size_t charactersALine = 90;
};

// `found`: how many scripts the walk found; `stopped`: "Abbrechen" ended it.
// A list too long for the details' room shows its first names and how many
// more there are, so that the box stays on the screen. Counts are written
// with `thousands` between groups of three digits (the user's number format).
SummaryText Summarize(const BatchRecorder& record, std::size_t found, bool stopped,
                      DetailsRoom room = {}, std::string_view thousands = kGermanThousands);

// A count in the window's texts: the one place numbers are written, grouped
// in thousands as German writes them (3.000) or with the user's separator.
std::string Number(std::size_t n, std::string_view thousands = kGermanThousands);

// What the progress window shows for where a batch stands: the count line
// and the bar, which moves by half a script for a script converted and by
// the other half when it is saved (a script with nothing to save at once).
struct ProgressView {
    std::string count;
    std::size_t position = 0;
    std::size_t range = 0;
};
ProgressView ViewOf(const batch::BatchProgress& where,
                    std::string_view thousands = kGermanThousands);

// Why a script was left as it is, in the summary's words.
std::string SkipReasonText(const batch::Skip& why);
// Why a script failed: the system's error with its number, or what happened.
std::string FailureText(const PlatformError& error);

// The question before the scripts holding the guard word are converted: how
// many and which (the first few names), asked once for the whole batch.
std::string GuardQuestion(const std::vector<std::string>& scripts,
                          std::string_view thousands = kGermanThousands);

// What became of the scripts of a run taken back ("Rückgängig machen").
class UndoRecorder : public batch::UndoEvents {
  public:
    void PutBack(const std::string& script) override;
    void Left(const std::string& script, batch::UndoLeft why) override;
    void Failed(const std::string& script, const PlatformError& error) override;

    std::size_t putBack = 0;
    std::size_t leftCount = 0;
    std::size_t failedCount = 0;
    std::vector<NamedScript> left;
    std::vector<NamedScript> failed;
    bool listsIncomplete = false;
};

// The undo's summary; `total`: the scripts of the run, `stopped`: "Abbrechen".
SummaryText SummarizeUndo(const UndoRecorder& record, std::size_t total, bool stopped,
                          DetailsRoom room = {});
// The undo's progress: `done` of `total` scripts looked at, `putBack` of them
// put back (their renames are made durable in rounds).
ProgressView UndoViewOf(std::size_t done, std::size_t total, std::size_t putBack);

// The summary's button that takes the batch back, offered where it made backups.
inline constexpr char kUndoButton[] = "R\xC3\xBC"
                                      "ckg\xC3\xA4ngig machen";

// Where there is no task dialog, the summary asks instead of offering the button.
inline constexpr char kUndoQuestion[] = "Die Umwandlung r\xC3\xBC"
                                        "ckg\xC3\xA4ngig machen?";

// How many names a list in a box shows before it says how many more there are.
inline constexpr std::size_t kNamesShown = 8;

} // namespace velmo
