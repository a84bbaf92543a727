#include "convert/ScriptFile.h"

namespace velmo {
namespace {

constexpr int kMaxNameTries = 1000;

// Position just behind the last path separator: where the file name starts.
std::size_t FileNameStart(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? 0 : slash + 1;
}

bool FitsInFileName(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32) return false;
    switch (c) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*':
    case '.':
        return false;
    default:
        return true;
    }
}

} // namespace

void LoadScript(Platform& platform, const std::string& path, ScriptTexts& texts) {
    auto text = std::make_shared<const std::string>(platform.ReadWholeFile(path));
    texts.ScriptText = text;
    texts.OriginalText = std::move(text);
}

std::string BackupName(const std::string& scriptPath, const DateTimeTexts& now, int counter) {
    const std::size_t nameStart = FileNameStart(scriptPath);
    std::string name = scriptPath.substr(nameStart) + "_" + now.date + "_" + now.time;
    for (char& c : name)
        if (!FitsInFileName(c)) c = '_';
    if (counter > 1) name += "_" + std::to_string(counter);
    return scriptPath.substr(0, nameStart) + name + ".bak";
}

void WriteFileSafely(Platform& platform, const std::string& target, const std::string& bytes,
                     std::uint32_t attributes, bool replaceExisting) {
    const std::size_t nameStart = FileNameStart(target);
    const std::string stem = target.substr(0, nameStart) + "~" + target.substr(nameStart);
    std::string temp;
    for (int attempt = 1;; ++attempt) {
        temp = stem + "." + std::to_string(attempt) + ".velmo-tmp";
        try {
            platform.WriteNewFile(temp, bytes, attributes & ~file_attr::ReadOnly);
            break;
        } catch (const PlatformError& e) {
            // Another temporary file of that name (left by a killed run): take the next.
            if (e.Code() != win_error::FileExists || attempt >= kMaxNameTries) throw;
        }
    }
    try {
        platform.MoveFile(temp, target, replaceExisting);
    } catch (const PlatformError& e) {
        bool removed = true;
        try {
            platform.DeleteFile(temp);
        } catch (const PlatformError&) {
            removed = false; // the move's error is the one to report
        }
        // The report names the file the user knows, or the temporary one left behind.
        throw PlatformError(e.Code(), e.Text(), removed ? target : temp);
    }
}

void SaveScript(Platform& platform, const std::string& path, const ScriptTexts& texts,
                bool backup) {
    std::uint32_t attributes = file_attr::Normal;
    if (platform.FileExists(path)) {
        attributes = platform.FileAttributes(path);
        // Windows refuses to replace a read-only file; say so before anything is written.
        if (attributes & file_attr::ReadOnly) throw platform.Error(win_error::AccessDenied, path);
    }
    if (backup) {
        const DateTimeTexts now = platform.Now();
        std::string name = BackupName(path, now);
        for (int counter = 2; platform.FileExists(name); ++counter) {
            if (counter > kMaxNameTries) throw platform.Error(win_error::FileExists, name);
            name = BackupName(path, now, counter);
        }
        WriteFileSafely(platform, name, *texts.OriginalText, file_attr::Normal, false);
    }
    WriteFileSafely(platform, path, *texts.ScriptText, attributes, true);
}

} // namespace velmo
