#include "app/BatchSummary.h"

#include <new>
#include <utility>

namespace velmo {
namespace {

// "1 Skript" or "<n> Skripte"; `dative` gives "<n> Skripten".
std::string Scripts(std::size_t n, bool dative = false) {
    return std::to_string(n) + (n == 1 ? " Skript" : dative ? " Skripten" : " Skripte");
}

// A list of paths, one a line, at most kNamesShown of them, then how many more.
std::string FirstNames(const std::vector<std::string>& paths, const std::string& indent) {
    std::string text;
    for (std::size_t i = 0; i < paths.size() && i < kNamesShown; ++i)
        text += indent + paths[i] + "\n";
    if (paths.size() > kNamesShown)
        text += indent + "\xE2\x80\xA6 und " + std::to_string(paths.size() - kNamesShown) +
                " weitere\n";
    return text;
}

std::string Section(const char* title, const std::vector<NamedScript>& scripts) {
    if (scripts.empty())
        return {};
    std::string text = std::string(title) + "\n";
    for (const NamedScript& script : scripts)
        text += script.path + " \xE2\x80\x93 " + script.why + "\n";
    return text;
}

} // namespace

// The lists are for the user to read; a name that cannot be kept for want of
// memory is counted all the same, and the batch goes on.
void BatchRecorder::Keep(std::vector<NamedScript>& list, const std::string& path,
                         const std::string& why) noexcept {
    try {
        list.push_back({path, why});
    } catch (const std::bad_alloc&) {
        listsIncomplete = true;
    }
}

void BatchRecorder::Converted(const std::string&, std::size_t) {
    ++converted;
}

void BatchRecorder::Unchanged(const std::string&) {
    ++unchanged;
}

void BatchRecorder::Skipped(const std::string& path, const batch::Skip& why) {
    ++skippedCount;
    try {
        Keep(skipped, path, SkipReasonText(why));
    } catch (const std::bad_alloc&) {
        listsIncomplete = true;
    }
}

void BatchRecorder::Failed(const std::string& path, const PlatformError& error) {
    ++failedCount;
    try {
        Keep(failed, error.Subject().empty() ? path : error.Subject(), FailureText(error));
    } catch (const std::bad_alloc&) {
        listsIncomplete = true;
    }
}

void BatchRecorder::KeptAsUtf8(const std::string& path, const std::string& sentence) {
    Keep(keptAsUtf8, path, sentence);
}

void BatchRecorder::StrayBackupsRemoved(const std::string&, std::size_t count) {
    strayBackups += count;
}

std::string SkipReasonText(const batch::Skip& why) {
    switch (why.reason) {
    case batch::SkipReason::Link:
        return "Verkn\xC3\xBCpfung (Link), nicht umgewandelt";
    case batch::SkipReason::NotAFile:
        return "keine gew\xC3\xB6hnliche Datei";
    case batch::SkipReason::RefusedKind:
        return std::string(CompanionRefusal(why.kind)) + ", nicht umgewandelt";
    case batch::SkipReason::GuardWord:
        return "enth\xC3\xA4lt das Wort \xE2\x80\x9EUMLAUTE\xE2\x80\x9C, nicht umgewandelt";
    case batch::SkipReason::SameFile:
        return "dieselbe Datei wie " + why.sameAs;
    }
    return {};
}

std::string FailureText(const PlatformError& error) {
    // Not the system's error, so no number: what happened.
    if (error.Cause() == ErrorCause::ChangedMeanwhile)
        return error.Text();
    return "Fehler " + std::to_string(error.Code()) + ": " + error.Text();
}

SummaryText Summarize(const BatchRecorder& record, std::size_t found, bool stopped) {
    SummaryText summary;
    const std::size_t failed = record.failedCount, skipped = record.skippedCount;
    summary.error = failed > 0;
    summary.alwaysShown = summary.error || stopped || found == 0;
    summary.headline = stopped      ? "Abgebrochen"
                       : failed     ? "Fertig, mit Fehlern"
                       : found == 0 ? "Keine Lua-Skripte gefunden"
                                    : "Fertig";

    std::string& counts = summary.counts;
    counts += Scripts(record.converted) + " umgewandelt\n";
    counts += std::to_string(record.unchanged) + " unver\xC3\xA4ndert (nichts umzuwandeln)\n";
    if (skipped > 0)
        counts += std::to_string(skipped) + " \xC3\xBC"
                                            "bersprungen\n";
    if (failed > 0)
        counts += std::to_string(failed) + " fehlgeschlagen, unver\xC3\xA4ndert\n";
    if (record.strayBackups > 0)
        counts += std::to_string(record.strayBackups) +
                  (record.strayBackups == 1 ? " Sicherung eines abgebrochenen Laufs entfernt\n"
                                            : " Sicherungen abgebrochener L\xC3\xA4ufe entfernt\n");
    if (stopped)
        counts += "Die \xC3\xBC"
                  "brigen Skripte sind, wie sie waren.\n";
    if (!record.keptAsUtf8.empty()) {
        std::vector<std::string> names;
        for (const NamedScript& script : record.keptAsUtf8)
            names.push_back(script.path);
        counts += "\nIn " + Scripts(names.size(), true) + " blieben Zeichen in UTF-8 stehen:\n" +
                  FirstNames(names, "   ");
    }
    while (!counts.empty() && counts.back() == '\n')
        counts.pop_back();

    std::string& details = summary.details;
    for (const std::string& section : {Section("Fehlgeschlagen:", record.failed),
                                       Section("\xC3\x9C"
                                               "bersprungen:",
                                               record.skipped),
                                       Section("Zeichen in UTF-8 belassen:", record.keptAsUtf8)}) {
        if (section.empty())
            continue;
        if (!details.empty())
            details += "\n";
        details += section;
    }
    if (record.listsIncomplete)
        details += "\n(Nicht alle Namen konnten behalten werden: zu wenig Speicher.)\n";
    while (!details.empty() && details.back() == '\n')
        details.pop_back();
    return summary;
}

std::string GuardQuestion(const std::vector<std::string>& scripts) {
    const bool one = scripts.size() == 1;
    return Scripts(scripts.size()) + (one ? " enth\xC3\xA4lt" : " enthalten") +
           " das Wort \xE2\x80\x9EUMLAUTE\xE2\x80\x9C:\n" + FirstNames(scripts, "   ") +
           "\nWenn die Funktion Umlaute gebraucht wird,\ngibt das nur \xC3\x84rger.\n\n"
           "M\xC3\xB6"
           "chtest Du " +
           (one ? "es" : "sie alle") + " trotzdem umwandeln?\n" +
           "\xE2\x80\x9ENein\xE2\x80\x9C l\xC3\xA4sst " +
           (one ? "es, wie es ist." : "sie alle, wie sie sind.");
}

} // namespace velmo
