#include "cli/Batch.h"

#include "convert/ScriptFile.h"

#include <algorithm>
#include <new>
#include <set>

namespace velmo::cli {
namespace {

// A batch stages this many scripts (or this many bytes of new text) before it
// flushes them together and replaces them: few flushes, and a bounded amount of
// unflushed data. Each round of flushes waits for the disk several times, so the
// count is set by the memory a staged script takes (its three names, about
// 0.7 KiB: 0.7 MiB for a full chunk), not lower.
constexpr std::size_t kChunkFiles = 1024;
constexpr std::size_t kChunkBytes = 64u << 20;

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool EndsWithLua(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return tail == ".lua";
}

std::string Skipped(const std::string& path, std::string_view why) {
    return path + ": übersprungen, " + std::string(why);
}

constexpr const char* kGuardNotice = "enthält das Wort \xE2\x80\x9EUMLAUTE\xE2\x80\x9C "
                                     "(umwandeln mit --trotzdem)";

class Batch {
  public:
    Batch(FileServices& files, DirectoryServices& directories, const Options& options,
          Reporter& reporter)
        : files_(files), directories_(directories), options_(options), reporter_(reporter) {}

    int Run() {
        for (const std::string& path : options_.paths)
            Collect(path);
        for (std::size_t i = 0; i < scripts_.size(); ++i) {
            Process(scripts_[i]);
            reporter_.Progress(i + 1, scripts_.size());
        }
        Commit();
        reporter_.Summary(Plural(changed_, "Datei", "Dateien") +
                          (options_.check ? (changed_ == 1 ? " würde" : " würden") : "") +
                          " umgewandelt, " + std::to_string(unchanged_) + " unverändert, " +
                          std::to_string(skipped_) + " übersprungen, " + std::to_string(failed_) +
                          " Fehler");
        if (failed_ > 0)
            return kFailed;
        return options_.check && changed_ > 0 ? kWouldChange : kDone;
    }

  private:
    void Fail(const PlatformError& error, const std::string& path) {
        ++failed_;
        reporter_.Failure(ErrorLine(error, path));
    }
    void Skip(const std::string& path, std::string_view why) {
        ++skipped_;
        reporter_.Notice(Skipped(path, why));
    }

    std::string Join(const std::string& directory, const std::string& name) const {
        const char last = directory.empty() ? '\0' : directory.back();
        if (last == directories_.Separator() || last == '/')
            return directory + name;
        return directory + directories_.Separator() + name;
    }

    void Take(const std::string& path) {
        // The same file named twice (or inside a folder also named), in the same
        // spelling up to letter case and slashes where the system ignores them,
        // is done once.
        if (taken_.insert(directories_.Canonical(path)).second)
            scripts_.push_back(path);
    }

    // A path from the command line: a file is taken whatever its name.
    void Collect(const std::string& path) {
        try {
            switch (directories_.KindOf(path)) {
            case PathKind::Missing:
                throw files_.Error(win_error::FileNotFound, path);
            case PathKind::File:
                Take(path);
                break;
            case PathKind::Directory:
                Walk(path);
                break;
            case PathKind::Link:
                Skip(path, "symbolische Verknüpfung");
                break;
            case PathKind::Other:
                Skip(path, "keine gewöhnliche Datei");
                break;
            }
        } catch (const PlatformError& error) {
            Fail(error, path);
        }
    }

    // A folder: every *.lua below it, in name order, hidden folders left out.
    void Walk(const std::string& directory) {
        std::vector<std::string> names;
        try {
            names = directories_.ListDirectory(directory);
        } catch (const PlatformError& error) {
            Fail(error, directory);
            return;
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = Join(directory, name);
            try {
                switch (directories_.KindOf(path)) {
                case PathKind::Directory:
                    if (name.front() != '.' && !directories_.IsHidden(path))
                        Walk(path);
                    break;
                case PathKind::File:
                    if (EndsWithLua(name))
                        Take(path);
                    break;
                case PathKind::Link:
                    if (EndsWithLua(name))
                        Skip(path, "symbolische Verknüpfung");
                    break;
                case PathKind::Missing: // gone meanwhile
                case PathKind::Other:
                    break;
                }
            } catch (const PlatformError& error) {
                Fail(error, path);
            }
        }
    }

    void Process(const std::string& path) {
        try {
            const std::string text = files_.ReadWholeFile(path);
            ScriptDecision decision = DecideScript(text, options_.direction);
            if (decision.Refused()) {
                Skip(path, CompanionRefusal(decision.kind));
                return;
            }
            if (decision.Changes() && !options_.anyway && decision.guardWord) {
                Skip(path, kGuardNotice);
                return;
            }
            if (decision.keptAsUtf8 > 0)
                reporter_.Notice(path + ": " + KeptAsUtf8Sentence(decision, text));
            if (!decision.Changes()) {
                ++unchanged_; // never rewritten: no backup, its times stay
                return;
            }
            if (options_.check) {
                ++changed_;
                reporter_.Changed(path + ": " + std::to_string(decision.converted) + " Zeichen" +
                                  " würden umgewandelt");
                return;
            }
            pending_.push_back(StageScript(files_, path, text, decision.text, options_.backup,
                                           BackupBy::LinkOrCopy));
            pendingCharacters_.push_back(decision.converted);
            pendingBytes_ += decision.text.size();
        } catch (const PlatformError& error) {
            Fail(error, path);
        } catch (const std::bad_alloc&) {
            Fail(files_.Error(win_error::NotEnoughMemory, path), path);
        }
        if (pending_.size() >= kChunkFiles || pendingBytes_ >= kChunkBytes)
            Commit();
    }

    void Commit() {
        if (pending_.empty())
            return;
        const std::vector<CommitFailure> failures = CommitScripts(files_, pending_);
        auto failure = failures.begin();
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            if (failure != failures.end() && failure->index == i) {
                Fail(failure->error, pending_[i].path);
                while (failure != failures.end() && failure->index == i)
                    ++failure;
                continue;
            }
            ++changed_;
            reporter_.Changed(pending_[i].path + ": " + std::to_string(pendingCharacters_[i]) +
                              " Zeichen" + " umgewandelt");
        }
        pending_.clear();
        pendingCharacters_.clear();
        pendingBytes_ = 0;
    }

    FileServices& files_;
    DirectoryServices& directories_;
    const Options& options_;
    Reporter& reporter_;

    std::vector<std::string> scripts_;
    std::set<std::string> taken_;
    std::vector<StagedScript> pending_;
    std::vector<std::size_t> pendingCharacters_;
    std::size_t pendingBytes_ = 0;
    std::size_t changed_ = 0, unchanged_ = 0, skipped_ = 0, failed_ = 0;
};

} // namespace

std::string ErrorLine(const PlatformError& error, const std::string& path) {
    const std::string& subject = error.Subject().empty() ? path : error.Subject();
    return subject + ": Fehler " + std::to_string(error.Code()) + ": " + error.Text();
}

int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter) {
    return Batch(files, directories, options, reporter).Run();
}

int RunFilter(const std::string& input, std::string& output, const Options& options,
              Reporter& reporter) {
    const std::string name = "(Standardeingabe)";
    output = input;
    ScriptDecision decision = DecideScript(input, options.direction);
    if (decision.Refused()) {
        reporter.Notice(name + ": unverändert durchgereicht, " +
                        std::string(CompanionRefusal(decision.kind)));
        return kDone;
    }
    if (decision.Changes() && !options.anyway && decision.guardWord) {
        reporter.Notice(name + ": unverändert durchgereicht, " + kGuardNotice);
        return kDone;
    }
    if (decision.keptAsUtf8 > 0)
        reporter.Notice(name + ": " + KeptAsUtf8Sentence(decision, input));
    if (!decision.Changes())
        return kDone;
    if (options.check) {
        output.clear();
        return kWouldChange;
    }
    output = std::move(decision.text);
    return kDone;
}

} // namespace velmo::cli
