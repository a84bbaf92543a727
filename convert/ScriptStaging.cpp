#include "convert/ScriptStaging.h"

#include <memory>

namespace velmo {

std::optional<ContentDecision> StageInOnePass(FileServices& files, const std::string& path,
                                              const ScriptContent& content, Direction direction,
                                              bool evenWithGuardWord, bool backup,
                                              StagedScript& staged,
                                              const std::optional<DateTimeTexts>& runStarted) {
    const ScriptContent::InItsFile* file = content.File();
    std::unique_ptr<UmlautStream> stream;
    std::uint64_t size = 0;
    const ByteSource newText = [&](const ByteSink& sink) {
        size = 0;
        stream = ConvertInPieces(files, file->path, file->stamp, file->piece, direction,
                                 std::nullopt, [&](std::string_view bytes) {
                                     size += bytes.size();
                                     sink(bytes);
                                 });
    };
    const auto converts = [&] {
        return stream->MatchesWholeText() &&
               stream->Verdict().Action(evenWithGuardWord) == ScriptAction::Convert;
    };
    staged = StageScriptDecidedOnTheWay(files, path, content.Source(files), newText, converts,
                                        backup, BackupBy::LinkOrCopy, file->stamp, runStarted);
    if (!stream->MatchesWholeText())
        return std::nullopt;
    ContentDecision decided;
    static_cast<ScriptVerdict&>(decided) = stream->Verdict();
    decided.keptSentence = stream->KeptSentence();
    decided.text = content;
    decided.size = decided.Changes() ? size : file->stamp.size;
    return decided;
}

} // namespace velmo
