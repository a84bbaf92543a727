// The umlaut conversion of a text that arrives in pieces (the companion's
// filter on standard input): what a piece's bytes become is decided with the
// bytes that follow it, so each piece's incomplete UTF-8 character at its end
// waits for the next one; memory stays the same however long the text is.
#pragma once

#include "convert/ScriptDecision.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velmo {

// What can be learned of a text piece by piece without converting it: its
// kind (from its first four bytes), the guard word (also across two pieces)
// and whether it is well-formed UTF-8 so far.
class TextSurvey {
  public:
    // Without `checkUtf8` it tells only the kind and the guard word.
    explicit TextSurvey(bool checkUtf8 = true) : utf8_(true), checkUtf8_(checkUtf8) {}

    void Add(std::string_view piece);
    // Ends the text: an incomplete UTF-8 character left at its end makes it
    // not well-formed.
    void Finish();

    // Text until the first four bytes (or the end) show otherwise.
    ScriptKind Kind() const { return kind_; }
    bool KindKnown() const { return kindKnown_; }
    bool GuardWord() const { return guardWord_; }
    bool WellFormedUtf8() const { return utf8_; }

  private:
    std::string start_;     // the first bytes, until the kind is known
    std::string guardTail_; // the last bytes, where a guard word may begin
    std::string utf8Tail_;  // an incomplete UTF-8 character at the end so far
    std::string joined_;    // that character and the next piece
    ScriptKind kind_ = ScriptKind::Text;
    bool kindKnown_ = false;
    bool guardWord_ = false;
    bool utf8_;
    bool checkUtf8_;
};

// Converts a text given piece by piece and hands the result to `sink` piece by
// piece; bytes of a refused kind (compiled chunk, UTF-16/32) pass through
// unchanged. The output equals DecideScript's on the whole text (or the text
// itself where that changes nothing), with one exception in the forward
// direction, which a stream cannot avoid:
//
// DF and DC followed by a byte 80–BF stay as they are only when the whole text
// is well-formed UTF-8. Told that answer in advance (the text was read once
// already), the stream converts exactly. Otherwise it decides from what it has
// seen: while the text is well-formed UTF-8 so far and no DF or DC pair has
// come, converting with either answer gives the same bytes (well-formed UTF-8
// keeps every byte of the seven), so those go out at once. From the first such
// pair on, the text is held back until a byte shows it is not UTF-8 (then all
// of it is converted as Windows-1252) or the text ends well-formed (then all
// of it stays). Only when more than `holdLimit` bytes are held does the stream
// take the text for UTF-8 and let them go out unchanged; it converts as
// Windows-1252 from the first ill-formed byte on. So output and counts differ
// from the whole text's only for a text that is well-formed UTF-8, holds DF or
// DC before a byte 80–BF, and turns ill-formed more than `holdLimit` bytes
// after the first such pair: those pairs stay, which the whole text would
// convert.
class UmlautStream {
  public:
    using Sink = std::function<void(std::string_view)>;
    static constexpr std::size_t kPiece = std::size_t{256} << 10;
    static constexpr std::size_t kHoldLimit = std::size_t{4} << 20;

    UmlautStream(Direction direction, Sink sink, std::optional<bool> wholeTextIsUtf8 = {},
                 std::size_t piece = kPiece, std::size_t holdLimit = kHoldLimit);

    void Add(std::string_view bytes);
    void Finish();

    ScriptKind Kind() const { return survey_.Kind(); }
    bool KindKnown() const { return survey_.KindKnown(); }
    bool GuardWord() const { return survey_.GuardWord(); }
    // Characters converted so far.
    std::size_t Converted() const { return converted_; }
    // The verdict on the text so far (after Finish: on all of it).
    ScriptVerdict Verdict() const { return {Kind(), GuardWord(), Converted()}; }
    // The notice on bytes kept as UTF-8 (see KeptAsUtf8Sentence); empty when none.
    std::string KeptSentence() const;
    // After Finish, for a stream not told whether the text is UTF-8: whether
    // it was well-formed UTF-8 (known in the forward direction only), and
    // whether the output and counts are those of the whole text, which they
    // are except in the one case above.
    bool WasWellFormedUtf8() const { return utf8_ != Utf8::Not; }
    bool MatchesWholeText() const { return !assumedWrongly_; }
    // Leaves out finding the bytes kept as UTF-8 and their line, for a text
    // whose notice is known from an earlier pass: KeptSentence stays empty.
    void LeaveOutKeptSentence() { tellKept_ = false; }

  private:
    enum class Utf8 { SoFar, Holding, Assumed, Not };

    // Converts what of pending_ is decided (all of it at the end).
    void Take(bool end);
    void Emit(std::string_view text, bool wholeTextIsUtf8);
    void EmitPiece(std::string_view text, bool wholeTextIsUtf8);
    void Release(bool wholeTextIsUtf8);

    Direction direction_;
    Sink sink_;
    std::optional<bool> known_;
    std::size_t piece_;
    std::size_t holdLimit_;
    TextSurvey survey_{false};
    std::string pending_; // bytes not yet decided on: the kind's first bytes, a character's start
    std::string held_;    // well-formed UTF-8 from the first DF or DC pair on
    std::string out_;     // one piece's output
    Utf8 utf8_ = Utf8::SoFar;
    std::size_t converted_ = 0;
    std::size_t kept_ = 0;
    std::string firstKept_; // the first kept character's bytes
    std::size_t keptLine_ = 0;
    std::size_t lines_ = 1; // the line the next byte given out is on, until one is kept
    bool tellKept_ = true;
    bool assumedWrongly_ = false; // taken for UTF-8 past the hold limit, and it was not
};

} // namespace velmo
