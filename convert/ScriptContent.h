// A script's text as loading, converting and saving see it: held whole in
// memory, or, for a script too big to hold, left in its file and read a piece
// at a time, converted on the way. Both programs load, decide and save through
// it, so that their memory stays the same whatever a script's size.
#pragma once

#include "convert/ScriptDecision.h"
#include "convert/UmlautStream.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velmo {

// Script contents are bytes, never re-encoded, and shared rather than copied.
using SharedText = std::shared_ptr<const std::string>;

// Where a script stops being held whole, and the pieces a bigger one is read in.
struct ScriptLimits {
    std::size_t whole = std::size_t{2} << 20; // read with one call, held whole
    std::size_t piece = std::size_t{256} << 10;
};

class ScriptContent {
  public:
    ScriptContent() : text_(std::make_shared<const std::string>()) {}
    ScriptContent(SharedText text) : text_(std::move(text)) {}
    explicit ScriptContent(std::string text)
        : text_(std::make_shared<const std::string>(std::move(text))) {}

    // The file at `path` as it was when `stamp` was taken, read `piece` bytes
    // at a time; converted in `conversion` where one is given, told whether the
    // whole file is well-formed UTF-8 (which the forward conversion needs).
    static ScriptContent InFile(std::string path, const FileStamp& stamp, std::size_t piece,
                                std::optional<Direction> conversion = std::nullopt,
                                bool wholeTextIsUtf8 = false);

    // True when the text is held whole; then operator* gives it. A text left
    // in its file gives an empty text there.
    bool Held() const { return file_ == nullptr; }
    const std::string& operator*() const { return *text_; }
    const std::string* operator->() const { return text_.get(); }
    bool operator==(const ScriptContent& other) const {
        return text_ == other.text_ && file_ == other.file_;
    }

    // The bytes, piece by piece, for a save. From a file, every piece must come
    // from the file as it was read: otherwise the source throws
    // ChangedMeanwhile, and nothing is written.
    ByteSource Source(FileServices& files) const;

    // Where a text left in its file is, as it was read; null for a text held whole.
    struct InItsFile {
        std::string path;
        FileStamp stamp;
        std::size_t piece;
        std::optional<Direction> conversion;
        bool wholeTextIsUtf8;
    };
    const InItsFile* File() const { return file_.get(); }

  private:
    SharedText text_;
    std::shared_ptr<const InItsFile> file_;
};

// Calls `take` with each piece of the file at `path`, `piece` bytes at a time,
// checking that each comes from the file as it was when `stamp` was taken.
void ForEachPiece(FileServices& files, const std::string& path, const FileStamp& stamp,
                  std::size_t piece, const ByteSink& take);

// Converts the file at `path` in `direction`, a piece at a time, into `sink`
// (see ForEachPiece), and gives the finished stream for what it learned on the
// way; told whether the whole text is UTF-8 where that is known. Without
// `tellKept` the stream leaves out the sentence on kept bytes.
std::unique_ptr<UmlautStream> ConvertInPieces(FileServices& files, const std::string& path,
                                              const FileStamp& stamp, std::size_t piece,
                                              Direction direction,
                                              std::optional<bool> wholeTextIsUtf8,
                                              UmlautStream::Sink sink, bool tellKept = true);

// Reads the script at `path`: whole, in one call, up to limits.whole bytes,
// otherwise left in its file. Gives its stamp as read.
ScriptContent ReadScriptContent(FileServices& files, const std::string& path,
                                const ScriptLimits& limits, FileStamp& stamp);

// What converting a script's text gives, told alike for a text held whole and
// one left in its file (see DecideScript).
struct ContentDecision : ScriptVerdict {
    std::string keptSentence; // the sentence on bytes kept as UTF-8; empty when none
    ScriptContent text;       // the converted text; the text itself when nothing changes
    std::uint64_t size = 0;   // the converted text's size in bytes
};

// Decides on `content` as DecideScript does. A text held whole is converted in
// memory; one left in its file is read a piece at a time and counted, learning
// on the way what it is (read a second time only where that came too late, see
// UmlautStream), and its converted text is made only while it is saved.
// Throws std::bad_alloc when memory runs short, and the file's read errors.
ContentDecision DecideContent(FileServices& files, const ScriptContent& content,
                              Direction direction);

} // namespace velmo
