#include "batch/Rounds.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace velmo::batch {

void CommitRounds::Add(StagedScript staged, std::size_t characters, std::size_t bytes) {
    staged_.push_back(std::move(staged));
    characters_.push_back(characters);
    bytes_ += bytes;
    if (staged_.size() >= kScripts || bytes_ >= kBytes)
        Commit();
}

void CommitRounds::Discard() {
    for (const StagedScript& staged : staged_)
        DiscardStagedScript(files_, staged);
    staged_.clear();
    characters_.clear();
    bytes_ = 0;
}

void CommitRounds::Commit() {
    bytes_ = 0;
    while (!staged_.empty()) {
        if (listeners_.stop && listeners_.stop()) {
            stopped_ = true;
            Discard();
            return;
        }
        // The part is out of the list before anyone hears of it: what a
        // listener does cannot commit or take it back a second time, and what
        // is still in the list is taken back if the batch ends meanwhile.
        const std::size_t count = std::min(part_, staged_.size());
        const std::vector<StagedScript> part(std::make_move_iterator(staged_.begin()),
                                             std::make_move_iterator(staged_.begin() + count));
        const std::vector<std::size_t> characters(characters_.begin(), characters_.begin() + count);
        staged_.erase(staged_.begin(), staged_.begin() + count);
        characters_.erase(characters_.begin(), characters_.begin() + count);

        if (listeners_.saving)
            listeners_.saving(part.front().path);
        const auto began = std::chrono::steady_clock::now();
        const std::vector<CommitFailure> failures = CommitScripts(files_, part);
        const auto took = std::chrono::steady_clock::now() - began;
        if (took < kPartTime / 2)
            part_ = std::min(part_ * 2, kScripts);
        else if (took > kPartTime * 2)
            part_ = std::max(part_ / 2, kSmallestPart);

        auto failure = failures.begin();
        for (std::size_t i = 0; i < part.size(); ++i) {
            if (failure != failures.end() && failure->index == i) {
                listeners_.failed(failure->error, part[i].path);
                while (failure != failures.end() && failure->index == i)
                    ++failure;
                continue;
            }
            listeners_.replaced(part[i], characters[i]);
        }
        if (listeners_.saving)
            listeners_.saving({});
    }
}

} // namespace velmo::batch
