// Loading a whole script file and writing it back safely, with its backup.
#pragma once

#include "platform/Platform.h"

#include <memory>
#include <string>

namespace velmo {

// Script contents are bytes, never re-encoded. A load puts the same buffer in
// both texts; a conversion replaces ScriptText with a new buffer, so the text as
// read is kept for the backup without a second copy.
using SharedText = std::shared_ptr<const std::string>;

struct ScriptTexts {
    SharedText ScriptText = std::make_shared<const std::string>();
    SharedText OriginalText = std::make_shared<const std::string>();
};

// Reads the whole file into ScriptText and OriginalText. On failure both stay as they were.
void LoadScript(Platform& platform, const std::string& path, ScriptTexts& texts);

// Writes ScriptText over the file. With `backup`, first writes OriginalText to a
// new backup file beside the script (see BackupName); if that fails the script is
// left untouched. The script is replaced in one step, keeping its attributes; a
// read-only script is refused. Every failure leaves the script with its old or
// its new bytes and no temporary file behind.
void SaveScript(Platform& platform, const std::string& path, const ScriptTexts& texts,
                bool backup);

// The backup's name for a script saved at `now`: in the script's own directory,
// the script's file name with date and time appended, every ".", ":" and any
// other character a file name cannot hold turned into "_", ending in ".bak".
// `counter` > 1 goes before ".bak" as "_<counter>" to avoid an existing backup.
std::string BackupName(const std::string& scriptPath, const DateTimeTexts& now, int counter = 1);

// Writes `bytes` to `target` through a new file in the same directory that is
// flushed and then moved into place in one step (replacing an existing target
// only with `replaceExisting`).
void WriteFileSafely(Platform& platform, const std::string& target, const std::string& bytes,
                     std::uint32_t attributes, bool replaceExisting);

} // namespace velmo
