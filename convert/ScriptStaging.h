// Staging the conversion of a script too big to hold while it is decided on:
// the new text is written in the same pass that learns what the text is. Ties
// the text left in its file (ScriptContent) to the staged save (ScriptFile).
#pragma once

#include "convert/ScriptContent.h"
#include "convert/ScriptFile.h"

#include <optional>
#include <string>

namespace velmo {

// Decides on a script left in its file and stages its conversion (see
// StageScript) in one pass: the new text is written while what the text is
// becomes known, and taken back where it does not convert (a refused kind,
// nothing to convert, or the guard word without `evenWithGuardWord`): then
// `staged` is left empty. Returns nothing where the answer came too late for
// the text written (see UmlautStream); then nothing is staged either, and the
// script is to be decided on first (DecideContent).
std::optional<ContentDecision> StageInOnePass(FileServices& files, const std::string& path,
                                              const ScriptContent& content, Direction direction,
                                              bool evenWithGuardWord, bool backup,
                                              StagedScript& staged,
                                              const std::optional<DateTimeTexts>& runStarted = {});

} // namespace velmo
