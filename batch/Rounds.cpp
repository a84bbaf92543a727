#include "batch/Rounds.h"

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
    if (staged_.empty())
        return;
    // The round is out of the list before anyone hears of it: what a listener
    // does cannot commit or take it back a second time.
    const std::vector<StagedScript> staged = std::exchange(staged_, {});
    const std::vector<std::size_t> characters = std::exchange(characters_, {});
    bytes_ = 0;
    const std::vector<CommitFailure> failures = CommitScripts(files_, staged);
    auto failure = failures.begin();
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (failure != failures.end() && failure->index == i) {
            failed_(failure->error, staged[i].path);
            while (failure != failures.end() && failure->index == i)
                ++failure;
            continue;
        }
        replaced_(staged[i], characters[i]);
    }
}

} // namespace velmo::batch
