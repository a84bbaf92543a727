// A batch's saves in rounds: scripts are staged (backup made, new text
// in a temporary file) and, once a round is full, flushed together and
// replaced, so that a batch waits for the disk a few times a round, not a few
// times a script, and holds a bounded amount of unflushed data. A round is
// saved a part at a time, with a look for a stop before each part.
#pragma once

#include "convert/ScriptFile.h"

#include <chrono>
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
    // A part of a round is sized from the time the last part took, so that a
    // stop waits about this long at most, and a fast disk saves a round in few
    // parts (each part waits for the disk on its own).
    static constexpr std::chrono::milliseconds kPartTime{250};
    static constexpr std::size_t kFirstPart = 32, kSmallestPart = 4;

    struct Listeners {
        // Each script replaced, with the characters converted; ...
        std::function<void(const StagedScript& script, std::size_t characters)> replaced;
        // ... each that could not be (it keeps its old bytes); ...
        std::function<void(const PlatformError& error, const std::string& path)> failed;
        // ... before each part of a round is saved, its first script; after
        // the part, an empty name. May be empty.
        std::function<void(const std::string& next)> saving;
        // Asked before each part: true takes back the rest of the round (no
        // temporary file, no backup of a script not replaced). May be empty.
        std::function<bool()> stop;
    };

    CommitRounds(FileServices& files, Listeners listeners)
        : files_(files), listeners_(std::move(listeners)) {}

    // Takes a staged script into the round, and commits the round when it is full.
    void Add(StagedScript staged, std::size_t characters, std::size_t bytes);
    // Commits what the round holds, unless a stop comes first.
    void Commit();
    // Takes back what the round holds: no temporary file, no backup of a
    // script that was not replaced.
    void Discard();
    // A stop ended a commit: what it had not saved is taken back.
    bool Stopped() const { return stopped_; }

  private:
    FileServices& files_;
    Listeners listeners_;
    std::vector<StagedScript> staged_;
    std::vector<std::size_t> characters_;
    std::size_t bytes_ = 0;
    std::size_t part_ = kFirstPart;
    bool stopped_ = false;
};

} // namespace velmo::batch
