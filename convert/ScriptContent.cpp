#include "convert/ScriptContent.h"

#include <memory>

namespace velmo {

ScriptContent ScriptContent::InFile(std::string path, const FileStamp& stamp, std::size_t piece,
                                    std::optional<Direction> conversion, bool wholeTextIsUtf8) {
    ScriptContent content;
    content.file_ = std::make_shared<const InItsFile>(
        InItsFile{std::move(path), stamp, piece, conversion, wholeTextIsUtf8});
    return content;
}

void ForEachPiece(FileServices& files, const std::string& path, const FileStamp& stamp,
                  std::size_t piece, const ByteSink& take) {
    std::string bytes;
    for (std::uint64_t offset = 0; offset < stamp.size;) {
        // Written, replaced or cut short since it was first read: its pieces
        // would not make one text.
        if (!files.ReadStampedPiece(path, offset, piece, bytes).SameContents(stamp) ||
            bytes.empty())
            throw ChangedMeanwhile(path);
        take(bytes);
        offset += bytes.size();
    }
}

std::unique_ptr<UmlautStream> ConvertInPieces(FileServices& files, const std::string& path,
                                              const FileStamp& stamp, std::size_t piece,
                                              Direction direction,
                                              std::optional<bool> wholeTextIsUtf8,
                                              UmlautStream::Sink sink, bool tellKept) {
    auto stream =
        std::make_unique<UmlautStream>(direction, std::move(sink), wholeTextIsUtf8, piece);
    if (!tellKept)
        stream->LeaveOutKeptSentence();
    ForEachPiece(files, path, stamp, piece, [&](std::string_view bytes) { stream->Add(bytes); });
    stream->Finish();
    return stream;
}

ByteSource ScriptContent::Source(FileServices& files) const {
    if (Held())
        return [text = text_](const ByteSink& sink) { sink(*text); };
    return [&files, file = file_](const ByteSink& sink) {
        if (!file->conversion) {
            ForEachPiece(files, file->path, file->stamp, file->piece, sink);
            return;
        }
        // The kept characters were told when the script was decided on.
        ConvertInPieces(files, file->path, file->stamp, file->piece, *file->conversion,
                        file->wholeTextIsUtf8, sink, false);
    };
}

ScriptContent ReadScriptContent(FileServices& files, const std::string& path,
                                const ScriptLimits& limits, FileStamp& stamp) {
    std::string bytes;
    stamp = files.ReadStampedPiece(path, 0, limits.whole, bytes);
    if (stamp.size > limits.whole)
        return ScriptContent::InFile(path, stamp, limits.piece);
    return ScriptContent(std::move(bytes));
}

ContentDecision DecideContent(FileServices& files, const ScriptContent& content,
                              Direction direction) {
    ContentDecision decided;
    if (content.Held()) {
        ScriptDecision decision = DecideScript(*content, direction);
        static_cast<ScriptVerdict&>(decided) = decision;
        if (decision.keptAsUtf8 > 0)
            decided.keptSentence = KeptAsUtf8Sentence(decision, *content);
        decided.text = decision.Changes() ? ScriptContent(std::move(decision.text)) : content;
        decided.size = decided.text->size();
        return decided;
    }
    // One pass counts, learning on the way what the text is; only where that
    // came too late for the count (see UmlautStream) a second pass counts again.
    const auto* file = content.File();
    std::uint64_t size = 0;
    const auto count = [&](std::optional<bool> wholeTextIsUtf8) {
        size = 0;
        return ConvertInPieces(files, file->path, file->stamp, file->piece, direction,
                               wholeTextIsUtf8,
                               [&](std::string_view bytes) { size += bytes.size(); });
    };
    std::unique_ptr<UmlautStream> counted = count(std::nullopt);
    const bool utf8 = counted->WasWellFormedUtf8();
    if (!counted->MatchesWholeText())
        counted = count(utf8);
    static_cast<ScriptVerdict&>(decided) = counted->Verdict();
    decided.keptSentence = counted->KeptSentence();
    decided.text = content;
    decided.size = file->stamp.size;
    if (decided.Refused())
        return decided;
    if (decided.Changes()) {
        decided.text = ScriptContent::InFile(file->path, file->stamp, file->piece, direction, utf8);
        decided.size = size;
    }
    return decided;
}

} // namespace velmo
