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

std::string LeftoversLine(const std::string& path, std::size_t removed) {
    return path + ": " + std::to_string(removed) +
           (removed == 1 ? " Zwischendatei eines abgebrochenen Laufs entfernt"
                         : " Zwischendateien abgebrochener Läufe entfernt");
}

std::string StrayBackupsLine(const std::string& path, std::size_t removed) {
    // Second names of the script's own file: nothing of its text goes with them.
    return path + ": " + std::to_string(removed) +
           (removed == 1 ? " Sicherung eines abgebrochenen Laufs entfernt (ein zweiter Name"
                         : " Sicherungen abgebrochener Läufe entfernt (zweite Namen") +
           " des noch nicht umgewandelten Skripts)";
}

std::string OtherNamesLine(const std::string& path, std::size_t others) {
    // A safe replace gives the script a new file; its other names keep the old one.
    return path + ": hat " +
           (others == 1 ? "1 weiteren Namen (harte Verknüpfung), der"
                        : std::to_string(others) + " weitere Namen (harte Verknüpfungen), die") +
           " den alten Text " + (others == 1 ? "behält" : "behalten");
}

#ifndef _WIN32
namespace {

// The cause in German words where it is known and the system's text alone would
// not say it.
std::string_view CauseWords(ErrorCause cause) {
    switch (cause) {
    case ErrorCause::FolderNotWritable:
        return "Ordner nicht beschreibbar";
    case ErrorCause::NameTooLong:
        return "Name zu lang für Sicherung oder Zwischendatei";
    case ErrorCause::NotAFolder:
        return "kein Ordner";
    case ErrorCause::DiskFull:
        return "Datenträger voll";
    case ErrorCause::ReadOnlyFileSystem:
        return "Dateisystem nur lesbar";
    case ErrorCause::Unknown:
    case ErrorCause::IsALink:
    case ErrorCause::NotAFile:
    case ErrorCause::ChangedMeanwhile:
    case ErrorCause::ForeignOwner:
        break;
    }
    return {};
}

} // namespace
#endif

std::string ErrorLine(const PlatformError& error, const std::string& path) {
    const std::string& subject = error.Subject().empty() ? path : error.Subject();
    // Not the system's error: said in words on both systems.
    if (error.Cause() == ErrorCause::ChangedMeanwhile || error.Cause() == ErrorCause::ForeignOwner)
        return subject + ": " + error.Text();
#ifdef _WIN32
    // As the window reports errors: Windows' number and text.
    return subject + ": Fehler " + std::to_string(error.Code()) + ": " + error.Text();
#else
    // The cause in words and the system's own text in the user's language; the
    // Windows number would mean nothing here.
    const std::string_view cause = CauseWords(error.Cause());
    return subject + ": " + (cause.empty() ? "" : std::string(cause) + ": ") + error.Text();
#endif
}

std::string ForTerminal(std::string_view line) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\n':
            shown += "\\n";
            break;
        case '\t':
            shown += "\\t";
            break;
        case '\r':
            shown += "\\r";
            break;
        case '\x1B':
            shown += "\\e";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                shown += "\\x";
                shown += kHex[byte >> 4];
                shown += kHex[byte & 0xF];
            } else {
                shown += c;
            }
        }
    }
    return shown;
}

std::string InterruptedLine(const Tally& tally, std::size_t total, bool check) {
    return "abgebrochen: " + std::to_string(tally.changed) + " von " + std::to_string(total) +
           (total == 1 ? " Datei " : " Dateien ") +
           (check ? (tally.changed == 1 ? "würde umgewandelt" : "würden umgewandelt")
                  : "umgewandelt") +
           ", die übrigen unverändert (" + std::to_string(tally.failed) + " Fehler)";
}

std::string PutBackLine(const std::string& path, bool check) {
    return path +
           (check ? ": würde aus der Sicherung zurückgeholt" : ": aus der Sicherung zurückgeholt");
}

namespace {

std::string PutBackCount(std::size_t count, bool check) {
    return std::to_string(count) + (count == 1 ? " Datei" : " Dateien") +
           (check ? (count == 1 ? " würde" : " würden") : "") + " zurückgeholt";
}

} // namespace

std::string UndoSummaryLine(const batch::UndoTally& tally, bool check) {
    return PutBackCount(tally.putBack, check) + ", " + std::to_string(tally.left) +
           " übersprungen, " + std::to_string(tally.failed) + " Fehler";
}

std::string UndoInterruptedLine(const batch::UndoTally& tally, std::size_t total, bool check) {
    return "abgebrochen: " + std::to_string(tally.putBack) + " von " + std::to_string(total) +
           (total == 1 ? " Datei " : " Dateien ") +
           (check ? (tally.putBack == 1 ? "würde zurückgeholt" : "würden zurückgeholt")
                  : "zurückgeholt") +
           ", die übrigen unverändert (" + std::to_string(tally.failed) + " Fehler)";
}

std::string RunLine(const std::string& stamp, std::size_t backups) {
    return stamp + ": " + std::to_string(backups) + (backups == 1 ? " Sicherung" : " Sicherungen");
}

std::string SummaryLine(const Tally& tally, bool check) {
    return std::to_string(tally.changed) + (tally.changed == 1 ? " Datei" : " Dateien") +
           (check ? (tally.changed == 1 ? " würde" : " würden") : "") + " umgewandelt, " +
           std::to_string(tally.unchanged) + " unverändert, " + std::to_string(tally.skipped) +
           " übersprungen, " + std::to_string(tally.failed) + " Fehler";
}

} // namespace velmo::cli
