#include "cli/Rounds.h"

namespace velmo::cli {

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
    const std::vector<CommitFailure> failures = CommitScripts(files_, staged_);
    auto failure = failures.begin();
    for (std::size_t i = 0; i < staged_.size(); ++i) {
        if (failure != failures.end() && failure->index == i) {
            failed_(failure->error, staged_[i].path);
            while (failure != failures.end() && failure->index == i)
                ++failure;
            continue;
        }
        replaced_(staged_[i].path, characters_[i]);
    }
    staged_.clear();
    characters_.clear();
    bytes_ = 0;
}

} // namespace velmo::cli
