#include "convert/ScriptContent.h"

#include "convert/UmlautStream.h"

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

ByteSource ScriptContent::Source(FileServices& files) const {
    if (Held())
        return [text = text_](const ByteSink& sink) { sink(*text); };
    return [&files, file = file_](const ByteSink& sink) {
        if (!file->conversion) {
            ForEachPiece(files, file->path, file->stamp, file->piece, sink);
            return;
        }
        UmlautStream stream(*file->conversion, sink, file->wholeTextIsUtf8, file->piece);
        ForEachPiece(files, file->path, file->stamp, file->piece,
                     [&](std::string_view bytes) { stream.Add(bytes); });
        stream.Finish();
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
        decided.kind = decision.kind;
        decided.guardWord = decision.guardWord;
        decided.converted = decision.converted;
        if (decision.keptAsUtf8 > 0)
            decided.keptSentence = KeptAsUtf8Sentence(decision, *content);
        decided.text = decision.Changes() ? ScriptContent(std::move(decision.text)) : content;
        decided.size = decided.text->size();
        return decided;
    }
    // Read twice: what the text is decides how it converts.
    const auto file = content.file_;
    TextSurvey survey;
    ForEachPiece(files, file->path, file->stamp, file->piece,
                 [&](std::string_view bytes) { survey.Add(bytes); });
    survey.Finish();
    decided.kind = survey.Kind();
    decided.guardWord = survey.GuardWord();
    decided.text = content;
    decided.size = file->stamp.size;
    if (decided.Refused())
        return decided;
    std::uint64_t size = 0;
    UmlautStream count(
        direction, [&](std::string_view bytes) { size += bytes.size(); }, survey.WellFormedUtf8(),
        file->piece);
    ForEachPiece(files, file->path, file->stamp, file->piece,
                 [&](std::string_view bytes) { count.Add(bytes); });
    count.Finish();
    decided.converted = count.Converted();
    decided.keptSentence = count.KeptSentence();
    if (decided.Changes()) {
        decided.text = ScriptContent::InFile(file->path, file->stamp, file->piece, direction,
                                             survey.WellFormedUtf8());
        decided.size = size;
    }
    return decided;
}

} // namespace velmo
