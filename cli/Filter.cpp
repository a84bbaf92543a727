#include "cli/Filter.h"

#include <algorithm>

namespace velmo::cli {
namespace {

const std::string kInput = "(Standardeingabe)";

// The input goes out as it came, and why.
void TellPassedThrough(Reporter& reporter, std::string_view why) {
    reporter.Notice(kInput + ": unverändert durchgereicht, " + std::string(why));
}

// With --trotzdem the guard word does not count, and --pruefen writes
// nothing: both go through the input once, as it comes (so --pruefen answers
// as the stream converts, which differs from the whole text only in the one
// case UmlautStream names). --pruefen reads to the end even when the answer
// is known early, so that the writer before it in a pipe is not ended by a
// closed pipe, and the notice on kept characters counts them all.
int StreamFilter(FilterStreams& streams, const Options& options, Reporter& reporter,
                 const FilterSizes& sizes) {
    UmlautStream stream(
        options.direction,
        [&](std::string_view bytes) {
            if (!options.check)
                streams.Write(bytes);
        },
        std::nullopt, sizes.piece, sizes.holdLimit);
    bool refusalTold = false;
    const auto tellRefusal = [&] {
        // As soon as the first bytes show it, for an input that never ends.
        if (!refusalTold && stream.KindKnown() && stream.Kind() != ScriptKind::Text) {
            TellPassedThrough(reporter, CompanionRefusal(stream.Kind()));
            refusalTold = true;
        }
    };
    std::string buffer(sizes.piece, '\0');
    while (const std::size_t got = streams.Read(buffer.data(), buffer.size())) {
        stream.Add(std::string_view(buffer.data(), got));
        tellRefusal();
    }
    stream.Finish();
    tellRefusal();
    if (refusalTold)
        return kDone;
    if (stream.Verdict().Action(options.anyway) == ScriptAction::LeaveForGuardWord) {
        TellPassedThrough(reporter, kGuardNotice);
        return kDone;
    }
    if (const std::string kept = stream.KeptSentence(); !kept.empty())
        reporter.Notice(kInput + ": " + kept);
    return options.check && stream.Converted() > 0 ? kWouldChange : kDone;
}

// Without --trotzdem a guard word anywhere leaves the whole input as it is, so
// nothing goes out before all of it is read: its first sizes.inMemory bytes
// stay in memory, the rest goes to the spool. Read, it is surveyed (kind,
// guard word, whether it is all UTF-8), then given out again piece by piece,
// converted as the whole text would be.
int SpoolFilter(FilterStreams& streams, const Options& options, Reporter& reporter,
                const FilterSizes& sizes) {
    std::string held;
    held.reserve(sizes.inMemory); // no copy while it grows (untouched pages take no memory)
    bool spooled = false;
    TextSurvey survey;
    std::string buffer(sizes.piece, '\0');
    while (const std::size_t got = streams.Read(buffer.data(), buffer.size())) {
        const std::string_view piece(buffer.data(), got);
        survey.Add(piece);
        const std::size_t fits = std::min(piece.size(), sizes.inMemory - held.size());
        held.append(piece.substr(0, fits));
        if (fits < piece.size()) {
            streams.Spool(piece.substr(fits));
            spooled = true;
        }
    }
    survey.Finish();
    const auto replay = [&](const auto& take) {
        take(std::string_view(held));
        if (!spooled)
            return;
        streams.RewindSpool();
        while (const std::size_t got = streams.ReadSpool(buffer.data(), buffer.size()))
            take(std::string_view(buffer.data(), got));
    };
    const auto passThrough = [&] { replay([&](std::string_view bytes) { streams.Write(bytes); }); };
    if (survey.Kind() != ScriptKind::Text) {
        TellPassedThrough(reporter, CompanionRefusal(survey.Kind()));
        passThrough();
        return kDone;
    }
    const bool utf8 = survey.WellFormedUtf8();
    if (survey.GuardWord()) {
        // Passed through only when something would change: count first.
        UmlautStream count(
            options.direction, [](std::string_view) {}, utf8, sizes.piece);
        replay([&](std::string_view bytes) { count.Add(bytes); });
        count.Finish();
        if (count.Verdict().Action(false) == ScriptAction::LeaveForGuardWord) {
            TellPassedThrough(reporter, kGuardNotice);
            passThrough();
            return kDone;
        }
    }
    UmlautStream stream(
        options.direction, [&](std::string_view bytes) { streams.Write(bytes); }, utf8,
        sizes.piece);
    replay([&](std::string_view bytes) { stream.Add(bytes); });
    stream.Finish();
    if (const std::string kept = stream.KeptSentence(); !kept.empty())
        reporter.Notice(kInput + ": " + kept);
    return kDone;
}

} // namespace

int RunFilter(FilterStreams& streams, const Options& options, Reporter& reporter,
              const FilterSizes& sizes) {
    return options.anyway || options.check ? StreamFilter(streams, options, reporter, sizes)
                                           : SpoolFilter(streams, options, reporter, sizes);
}

} // namespace velmo::cli
