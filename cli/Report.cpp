#include "cli/Report.h"

namespace velmo::cli {

std::string ChangedLine(const std::string& path, std::size_t characters, bool check) {
    // "Zeichen" is the same in both numbers; the verb is not.
    return path + ": " + std::to_string(characters) + " Zeichen " +
           (check ? (characters == 1 ? "würde " : "würden ") : "") + "umgewandelt";
}

std::string SkippedLine(const std::string& path, std::string_view why) {
    return path + ": übersprungen, " + std::string(why);
}

std::string ErrorLine(const PlatformError& error, const std::string& path) {
    const std::string& subject = error.Subject().empty() ? path : error.Subject();
    return subject + ": Fehler " + std::to_string(error.Code()) + ": " + error.Text();
}

std::string SummaryLine(const Tally& tally, bool check) {
    return std::to_string(tally.changed) + (tally.changed == 1 ? " Datei" : " Dateien") +
           (check ? (tally.changed == 1 ? " würde" : " würden") : "") + " umgewandelt, " +
           std::to_string(tally.unchanged) + " unverändert, " + std::to_string(tally.skipped) +
           " übersprungen, " + std::to_string(tally.failed) + " Fehler";
}

} // namespace velmo::cli
