// A batch's saves in rounds: scripts are staged (backup made, new text
// in a temporary file) and, once a round is full, flushed together and
// replaced, so that a batch waits for the disk a few times a round, not a few
// times a script, and holds a bounded amount of unflushed data.
#pragma once

#include "convert/ScriptFile.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace velmo::batch {

class CommitRounds {
  public:
    // A round holds this many scripts, or this many bytes of new text. Each
    // round waits for the disk several times, so the count is set by the memory
    // a staged script takes (its three names, about 0.7 KiB: 0.7 MiB a round).
    static constexpr std::size_t kScripts = 1024;
    static constexpr std::size_t kBytes = 64u << 20;

    // `replaced` hears of each script replaced, with the characters converted;
    // `failed` of each that could not be (it keeps its old bytes).
    CommitRounds(FileServices& files,
                 std::function<void(const StagedScript& script, std::size_t characters)> replaced,
                 std::function<void(const PlatformError& error, const std::string& path)> failed)
        : files_(files), replaced_(std::move(replaced)), failed_(std::move(failed)) {}

    // Takes a staged script into the round, and commits the round when it is full.
    void Add(StagedScript staged, std::size_t characters, std::size_t bytes);
    // Commits what the round holds.
    void Commit();
    // Takes back what the round holds: no temporary file, no backup of a
    // script that was not replaced.
    void Discard();

  private:
    FileServices& files_;
    std::function<void(const StagedScript&, std::size_t)> replaced_;
    std::function<void(const PlatformError&, const std::string&)> failed_;
    std::vector<StagedScript> staged_;
    std::vector<std::size_t> characters_;
    std::size_t bytes_ = 0;
};

} // namespace velmo::batch
