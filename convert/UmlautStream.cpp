#include "convert/UmlautStream.h"

#include "convert/Umlaute.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmo {
namespace {

constexpr std::size_t kKindBytes = 4;   // the longest refusal signature
constexpr std::size_t kGuardLength = 7; // "UMLAUTE"

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}

// How many bytes the UTF-8 character a lead byte (C0 and above) begins has.
std::size_t SequenceLength(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
}

// The length of `text` without an incomplete UTF-8 character at its end (a
// lead byte followed by fewer continuation bytes than it needs). What each
// byte before that point becomes never depends on bytes still to come: a byte
// that could begin a kept character or a pair is followed by a byte that is
// no continuation, or by all the bytes it needs.
std::size_t CompleteLength(std::string_view text) {
    const std::size_t n = text.size();
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto byte = static_cast<unsigned char>(text[n - back]);
        if (IsContinuation(byte))
            continue;
        if (byte >= 0xC0 && back < SequenceLength(byte))
            return n - back;
        break;
    }
    return n;
}

// A place at or just before `at` (`at` > 2) to split `text` where no byte
// before it needs one after it: before a byte that is no continuation, or
// after two continuation bytes (a lead byte needs at most two bytes behind it
// to decide, and those would be the continuation bytes before the split).
std::size_t SplitPoint(std::string_view text, std::size_t at) {
    const auto continuation = [&](std::size_t i) {
        return IsContinuation(static_cast<unsigned char>(text[i]));
    };
    while (continuation(at) && !(continuation(at - 1) && continuation(at - 2)))
        --at;
    return at;
}

// Where the first DF or DC followed by a byte (in well-formed UTF-8, always
// one 80–BF) is, or text.size().
std::size_t FirstUndecidedPair(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte == 0xDF || byte == 0xDC) &&
            IsContinuation(static_cast<unsigned char>(text[i + 1])))
            return i;
    }
    return text.size();
}

// How many line feeds `text` holds: sixteen bytes at a time where the CPU
// has SSE2, eight otherwise.
std::size_t CountLineFeeds(std::string_view text) {
    std::size_t count = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i feed = _mm_set1_epi8('\n');
    while (text.size() - i >= 16) {
        // Up to 255 rounds per byte counter before they are summed up.
        __m128i counters = _mm_setzero_si128();
        for (int round = 0; round < 255 && text.size() - i >= 16; ++round, i += 16) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, feed));
        }
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
#else
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    for (; text.size() - i >= 8; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        const std::uint64_t x = word ^ (kOnes * '\n'); // a zero byte where a line feed was
        // The top bit of each zero byte, exactly (no carries between bytes),
        // moved to the bottom and summed into the highest byte.
        const std::uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
        count += static_cast<std::size_t>(((zero >> 7) * kOnes) >> 56);
    }
#endif
    for (; i < text.size(); ++i)
        count += text[i] == '\n';
    return count;
}

} // namespace

void TextSurvey::Add(std::string_view piece) {
    if (!kindKnown_) {
        start_.append(piece.substr(0, kKindBytes - start_.size()));
        if (start_.size() == kKindBytes) {
            kind_ = ClassifyScript(start_);
            kindKnown_ = true;
            std::string().swap(start_);
        }
    }
    if (!guardWord_) {
        // The word across the two pieces: the last six bytes before and the
        // first six of this one.
        std::string across = guardTail_;
        across.append(piece.substr(0, kGuardLength - 1));
        guardWord_ = ContainsGuardWord(across) || ContainsGuardWord(piece);
        // The last six bytes so far: of this piece, or of `across`, which
        // holds all of a shorter one.
        const std::string_view last = piece.size() >= kGuardLength - 1 ? piece : across;
        guardTail_.assign(last.substr(last.size() - std::min(last.size(), kGuardLength - 1)));
    }
    if (checkUtf8_ && utf8_) {
        // A character split between two pieces is checked whole, with the next one.
        joined_.assign(utf8Tail_);
        joined_.append(piece);
        const std::size_t complete = CompleteLength(joined_);
        utf8_ = IsWellFormedUtf8(std::string_view(joined_).substr(0, complete));
        utf8Tail_.assign(joined_, complete);
    }
}

void TextSurvey::Finish() {
    if (!kindKnown_) {
        kind_ = ClassifyScript(start_);
        kindKnown_ = true;
    }
    if (checkUtf8_ && !utf8Tail_.empty())
        utf8_ = false;
}

UmlautStream::UmlautStream(Direction direction, Sink sink, std::optional<bool> wholeTextIsUtf8,
                           std::size_t piece, std::size_t holdLimit)
    : direction_(direction), sink_(std::move(sink)), known_(wholeTextIsUtf8),
      piece_(std::max<std::size_t>(piece, 4)), holdLimit_(holdLimit) {}

void UmlautStream::Add(std::string_view bytes) {
    // A piece at a time, so that no buffer grows with what the caller hands over.
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, piece_);
        bytes.remove_prefix(piece.size());
        survey_.Add(piece);
        pending_.append(piece);
        Take(false);
    }
}

void UmlautStream::Finish() {
    survey_.Finish();
    Take(true);
    if (utf8_ == Utf8::Holding)
        Release(true); // the whole text is well-formed UTF-8
}

void UmlautStream::Take(bool end) {
    if (!survey_.KindKnown())
        return; // the first bytes wait until they tell the kind
    const std::string_view whole = pending_;
    if (survey_.Kind() != ScriptKind::Text) {
        sink_(whole);
        pending_.clear();
        return;
    }
    const std::size_t complete = end ? whole.size() : CompleteLength(whole);
    const std::string_view text = whole.substr(0, complete);
    if (direction_ == Direction::ToSingleCharacter || known_) {
        Emit(text, known_.value_or(false));
    } else if (utf8_ == Utf8::Not) {
        Emit(text, false);
    } else if (!IsWellFormedUtf8(text)) {
        // Not UTF-8 after all: what was held back is Windows-1252 text too.
        assumedWrongly_ = utf8_ == Utf8::Assumed;
        utf8_ = Utf8::Not;
        Release(false);
        Emit(text, false);
    } else if (utf8_ == Utf8::Assumed) {
        Emit(text, true);
    } else {
        const std::size_t pair = utf8_ == Utf8::Holding ? 0 : FirstUndecidedPair(text);
        // Before the first pair either answer gives the same bytes and counts.
        Emit(text.substr(0, pair), false);
        if (pair < text.size()) {
            if (utf8_ != Utf8::Holding)
                held_.reserve(holdLimit_ + piece_); // never copied while it grows
            utf8_ = Utf8::Holding;
            held_.append(text.substr(pair));
            if (held_.size() > holdLimit_) {
                utf8_ = Utf8::Assumed;
                Release(true);
            }
        }
    }
    pending_.erase(0, complete);
}

void UmlautStream::Release(bool wholeTextIsUtf8) {
    Emit(held_, wholeTextIsUtf8);
    std::string().swap(held_);
}

void UmlautStream::Emit(std::string_view text, bool wholeTextIsUtf8) {
    while (text.size() > piece_) {
        const std::size_t split = SplitPoint(text, piece_);
        EmitPiece(text.substr(0, split), wholeTextIsUtf8);
        text.remove_prefix(split);
    }
    if (!text.empty())
        EmitPiece(text, wholeTextIsUtf8);
}

void UmlautStream::EmitPiece(std::string_view text, bool wholeTextIsUtf8) {
    // The output buffer only grows: no bytes are cleared that the conversion
    // writes anyway.
    const auto room = [this](std::size_t bytes) {
        if (out_.size() < bytes)
            out_.resize(bytes);
        return out_.data();
    };
    std::size_t written = 0;
    if (direction_ == Direction::ToSingleCharacter) {
        written = UmlauteToSingleCharacter(text, room(text.size()));
        converted_ += text.size() - written;
    } else {
        const std::size_t most = TwoCharacterFormRoom(text);
        if (most == text.size()) {
            // ASCII only: nothing to convert or keep.
            if (kept_ == 0 && tellKept_)
                lines_ += CountLineFeeds(text);
            sink_(text);
            return;
        }
        written = UmlauteToTwoCharacterForm(text, room(most), wholeTextIsUtf8);
        converted_ += written - text.size();
        if (tellKept_) {
            // Where every byte 0x80 and above grew, none was kept.
            const KeptAsUtf8 kept = written == most ? KeptAsUtf8{0, text.size()}
                                                    : FindKeptAsUtf8(text, wholeTextIsUtf8);
            if (kept_ == 0 && kept.count > 0) {
                const bool three = static_cast<unsigned char>(text[kept.first]) == 0xE4;
                firstKept_.assign(text.substr(kept.first, three ? 3 : 2));
                keptLine_ = lines_ + CountLineFeeds(text.substr(0, kept.first));
            } else if (kept_ == 0) {
                lines_ += CountLineFeeds(text);
            }
            kept_ += kept.count;
        }
    }
    sink_(std::string_view(out_.data(), written));
}

std::string UmlautStream::KeptSentence() const {
    return kept_ == 0 ? std::string() : KeptAsUtf8Sentence(kept_, firstKept_, keptLine_);
}

} // namespace velmo
