#include "app/BatchSummary.h"

#include <algorithm>
#include <new>
#include <utility>

namespace velmo {
namespace {

// A name in the details takes a line, a long one more.
std::size_t LinesOf(const NamedScript& script, std::size_t charactersALine) {
    const std::size_t characters = script.path.size() + script.why.size() + 3;
    return std::max<std::size_t>(1, (characters + charactersALine - 1) /
                                        std::max<std::size_t>(charactersALine, 1));
}

// "1 Skript" or "<n> Skripte"; `dative` gives "<n> Skripten".
std::string Scripts(std::size_t n, std::string_view thousands, bool dative = false) {
    return Number(n, thousands) + (n == 1 ? " Skript" : dative ? " Skripten" : " Skripte");
}

// A list of paths, one a line, at most kNamesShown of them, then how many more.
std::string FirstNames(const std::vector<std::string>& paths, const std::string& indent,
                       std::string_view thousands) {
    std::string text;
    for (std::size_t i = 0; i < paths.size() && i < kNamesShown; ++i)
        text += indent + paths[i] + "\n";
    if (paths.size() > kNamesShown)
        text += indent + "\xE2\x80\xA6 und " + Number(paths.size() - kNamesShown, thousands) +
                " weitere\n";
    return text;
}

// A section of the details: its title and its scripts, each with why where
// there is a why; within `lines` lines, else the first names and how many more.
std::string Section(const char* title, const std::vector<NamedScript>& scripts, std::size_t lines,
                    std::size_t charactersALine, std::string_view thousands) {
    if (scripts.empty())
        return {};
    std::string text = std::string(title) + "\n";
    std::size_t used = 1, shown = 0;
    for (const NamedScript& script : scripts) {
        const bool last = shown + 1 == scripts.size();
        // Room for this one, and for the line that names the rest after it.
        const std::size_t takes = LinesOf(script, charactersALine);
        if (used + takes + (last ? 0 : 1) > lines && shown > 0)
            break;
        text += script.path + (script.why.empty() ? "" : " \xE2\x80\x93 " + script.why) + "\n";
        used += takes;
        ++shown;
    }
    if (shown < scripts.size())
        text += "\xE2\x80\xA6 und " + Number(scripts.size() - shown, thousands) + " weitere\n";
    return text;
}

// The lines each section of the details may take: the sections that need
// little get it all, the others share what is left alike.
std::vector<std::size_t> Share(const std::vector<const std::vector<NamedScript>*>& sections,
                               const DetailsRoom& room) {
    const std::size_t lines = room.lines;
    std::vector<std::size_t> need(sections.size()), share(sections.size(), 0);
    std::size_t open = 0;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (sections[i]->empty())
            continue;
        need[i] = 2; // the title, and the line between sections
        for (const NamedScript& script : *sections[i])
            need[i] += LinesOf(script, room.charactersALine);
        ++open;
    }
    std::vector<bool> done(sections.size(), false);
    std::size_t left = lines;
    while (open > 0) {
        const std::size_t even = left / open;
        bool gave = false;
        for (std::size_t i = 0; i < sections.size(); ++i)
            if (need[i] > 0 && !done[i] && need[i] <= even) {
                share[i] = need[i];
                left -= need[i];
                done[i] = true;
                --open;
                gave = true;
            }
        if (gave)
            continue;
        for (std::size_t i = 0; i < sections.size(); ++i)
            if (need[i] > 0 && !done[i])
                share[i] = std::max<std::size_t>(even, 4) - 1; // less the line between
        break;
    }
    return share;
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

void BatchRecorder::Converted(const std::string& path, std::size_t) {
    ++converted;
    Keep(convertedNames, path, {});
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

void BatchRecorder::BackedUp(const std::string& path, const std::string& backup) {
    try {
        backups.push_back({path, backup});
    } catch (const std::bad_alloc&) {
        listsIncomplete = true;
    }
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

std::string Number(std::size_t n, std::string_view thousands) {
    return GroupedCount(n, thousands);
}

ProgressView ViewOf(const batch::BatchProgress& where, std::string_view thousands) {
    ProgressView view;
    view.count = Number(where.decided, thousands) + " von " + Number(where.total, thousands) +
                 (where.total == 1 ? " Skript" : " Skripten") + " umgewandelt";
    if (where.converted > 0)
        view.count += ", " + Number(where.saved, thousands) + " von " +
                      Number(where.converted, thousands) + " gespeichert";
    view.range = 2 * where.total;
    view.position = 2 * where.decided - where.converted + where.saved;
    return view;
}

SummaryText Summarize(const BatchRecorder& record, std::size_t found, bool stopped,
                      DetailsRoom room, std::string_view thousands) {
    SummaryText summary;
    const std::size_t failed = record.failedCount, skipped = record.skippedCount;
    summary.error = failed > 0;
    summary.alwaysShown = summary.error || stopped || found == 0;
    summary.headline = stopped      ? "Abgebrochen"
                       : failed     ? "Fertig, mit Fehlern"
                       : found == 0 ? "Keine Lua-Skripte gefunden"
                                    : "Fertig";

    std::string& counts = summary.counts;
    // After a stop, what was done and saved before it.
    if (stopped)
        counts += "Bis zum Abbrechen:\n" + Scripts(record.converted, thousands) +
                  " umgewandelt und gespeichert\n";
    else
        counts += Scripts(record.converted, thousands) + " umgewandelt\n";
    counts += Number(record.unchanged, thousands) + " unver\xC3\xA4ndert (nichts umzuwandeln)\n";
    if (skipped > 0)
        counts += Number(skipped, thousands) + " \xC3\xBC"
                                               "bersprungen\n";
    if (failed > 0)
        counts += Number(failed, thousands) + " fehlgeschlagen, unver\xC3\xA4ndert\n";
    if (record.strayBackups > 0)
        counts += Number(record.strayBackups, thousands) +
                  (record.strayBackups == 1 ? " Sicherung eines abgebrochenen Laufs entfernt\n"
                                            : " Sicherungen abgebrochener L\xC3\xA4ufe entfernt\n");
    if (stopped)
        counts += "Die \xC3\xBC"
                  "brigen Skripte sind, wie sie waren.\n";
    if (!record.keptAsUtf8.empty()) {
        std::vector<std::string> names;
        for (const NamedScript& script : record.keptAsUtf8)
            names.push_back(script.path);
        counts += "\nIn " + Scripts(names.size(), thousands, true) +
                  " blieben Zeichen in UTF-8 stehen:\n" + FirstNames(names, "   ", thousands);
    }
    while (!counts.empty() && counts.back() == '\n')
        counts.pop_back();

    std::string& details = summary.details;
    // After a stop, which scripts were converted comes first: they are what
    // the user cannot tell from the folder.
    static const std::vector<NamedScript> none;
    const std::vector<NamedScript>& converted = stopped ? record.convertedNames : none;
    const char* const titles[] = {"Umgewandelt und gespeichert:", "Fehlgeschlagen:",
                                  "\xC3\x9C"
                                  "bersprungen:",
                                  "Zeichen in UTF-8 belassen:"};
    const std::vector<const std::vector<NamedScript>*> lists = {
        &converted, &record.failed, &record.skipped, &record.keptAsUtf8};
    const std::vector<std::size_t> share = Share(lists, room);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        const std::string section =
            Section(titles[i], *lists[i], share[i], room.charactersALine, thousands);
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

std::string GuardQuestion(const std::vector<std::string>& scripts, std::string_view thousands) {
    const bool one = scripts.size() == 1;
    return Scripts(scripts.size(), thousands) + (one ? " enth\xC3\xA4lt" : " enthalten") +
           " das Wort \xE2\x80\x9EUMLAUTE\xE2\x80\x9C:\n" + FirstNames(scripts, "   ", thousands) +
           "\nWenn die Funktion Umlaute gebraucht wird,\ngibt das nur \xC3\x84rger.\n\n"
           "M\xC3\xB6"
           "chtest Du " +
           (one ? "es" : "sie alle") + " trotzdem umwandeln?\n" +
           "\xE2\x80\x9ENein\xE2\x80\x9C l\xC3\xA4sst " +
           (one ? "es, wie es ist." : "sie alle, wie sie sind.");
}

namespace {

void KeepNamed(std::vector<NamedScript>& list, bool& incomplete, const std::string& path,
               std::string why) noexcept {
    try {
        list.push_back({path, std::move(why)});
    } catch (const std::bad_alloc&) {
        incomplete = true;
    }
}

} // namespace

void UndoRecorder::PutBack(const std::string&) {
    ++putBack;
}

void UndoRecorder::Left(const std::string& script, batch::UndoLeft why) {
    ++leftCount;
    try {
        KeepNamed(left, listsIncomplete, script, std::string(batch::UndoLeftText(why)));
    } catch (const std::bad_alloc&) {
        listsIncomplete = true;
    }
}

void UndoRecorder::Failed(const std::string& script, const PlatformError& error) {
    ++failedCount;
    try {
        KeepNamed(failed, listsIncomplete, script, FailureText(error));
    } catch (const std::bad_alloc&) {
        listsIncomplete = true;
    }
}

ProgressView UndoViewOf(std::size_t done, std::size_t total, std::size_t putBack) {
    ProgressView view;
    view.count = Number(done) + " von " + Number(total) + (total == 1 ? " Skript" : " Skripten") +
                 " gepr\xC3\xBC"
                 "ft, " +
                 Number(putBack) +
                 " zur\xC3\xBC"
                 "ckgeholt";
    view.range = total;
    view.position = done;
    return view;
}

SummaryText SummarizeUndo(const UndoRecorder& record, std::size_t total, bool stopped,
                          DetailsRoom room) {
    SummaryText summary;
    summary.error = record.failedCount > 0;
    summary.alwaysShown = true; // asked for by a click: always answered
    summary.headline = stopped                ? "R\xC3\xBC"
                                                "ckg\xC3\xA4ngig machen abgebrochen"
                       : record.failedCount   ? "Zur\xC3\xBC"
                                                "ckgeholt, mit Fehlern"
                       : record.leftCount > 0 ? "Zur\xC3\xBC"
                                                "ckgeholt, nicht alle"
                                              : "Umwandlung r\xC3\xBC"
                                                "ckg\xC3\xA4ngig gemacht";
    std::string& counts = summary.counts;
    counts += Scripts(record.putBack, kGermanThousands) + " aus der Sicherung zur\xC3\xBC"
                                                          "ckgeholt\n";
    if (record.leftCount > 0)
        counts += Scripts(record.leftCount, kGermanThousands) +
                  (record.leftCount == 1 ? " bleibt, wie es ist\n" : " bleiben, wie sie sind\n");
    if (record.failedCount > 0)
        counts += Number(record.failedCount) + " fehlgeschlagen, unver\xC3\xA4ndert\n";
    if (stopped)
        counts += "Die \xC3\xBC"
                  "brigen " +
                  Number(total - record.putBack - record.leftCount - record.failedCount) +
                  " sind umgewandelt geblieben, mit ihren Sicherungen.\n";
    while (!counts.empty() && counts.back() == '\n')
        counts.pop_back();
    std::string& details = summary.details;
    const char* const titles[] = {"Fehlgeschlagen:", "Geblieben:"};
    const std::vector<const std::vector<NamedScript>*> lists = {&record.failed, &record.left};
    const std::vector<std::size_t> share = Share(lists, room);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        const std::string section =
            Section(titles[i], *lists[i], share[i], room.charactersALine, kGermanThousands);
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

} // namespace velmo
