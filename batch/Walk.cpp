#include "batch/Walk.h"

#include <algorithm>
#include <map>

namespace velmo::batch {
namespace {

bool EndsWithLua(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return tail == ".lua";
}

class Walk {
  public:
    Walk(FileServices& files, DirectoryServices& directories, const WalkEvents& events)
        : files_(files), directories_(directories), events_(events) {}

    std::vector<std::string> Found() && { return std::move(scripts_); }

    // Whether the walk is to end here; once it said so, it stays so.
    bool Stopped() {
        if (!stopped_ && events_.stop)
            stopped_ = events_.stop();
        return stopped_;
    }

    // A path from the command line: a file is taken whatever its name.
    void Collect(const std::string& path) {
        if (Stopped())
            return;
        try {
            switch (directories_.KindOf(path)) {
            case PathKind::Missing:
                throw files_.Error(win_error::FileNotFound, path);
            case PathKind::File:
                Take(path);
                break;
            case PathKind::Directory:
                Folder(path);
                break;
            case PathKind::Link:
                events_.skipped(path, PathKind::Link);
                break;
            case PathKind::Other:
                events_.skipped(path, PathKind::Other);
                break;
            }
        } catch (const PlatformError& error) {
            events_.failed(error, path);
        }
    }

  private:
    std::string Join(const std::string& directory, const std::string& name) const {
        const char last = directory.empty() ? '\0' : directory.back();
        if (last == directories_.Separator() || last == '/')
            return directory + name;
        return directory + directories_.Separator() + name;
    }

    void Take(const std::string& path) {
        // The same file named twice (or inside a folder also named), in the same
        // spelling up to letter case and slashes where the system ignores them,
        // is done once. A folder can still hold two names that differ only in
        // letter case (Linux files seen through Wine, a folder Windows keeps
        // case-sensitive): two scripts, unless both names lead to one file.
        const auto [first, isNew] = taken_.try_emplace(directories_.Canonical(path), path);
        if (isNew || (first->second != path && !SameFile(first->second, path)))
            scripts_.push_back(path);
    }

    // Whether two names lead to one file; where either cannot be looked at,
    // they are taken as two, and the batch tells what it finds.
    bool SameFile(const std::string& a, const std::string& b) {
        try {
            return files_.StampOf(a).SameFile(files_.StampOf(b));
        } catch (const PlatformError&) {
            return false;
        }
    }

    // A folder: every *.lua below it, in name order, hidden folders left out.
    // Each entry's kind comes from the listing where it says; only otherwise
    // is the entry asked.
    void Folder(const std::string& directory) {
        std::vector<DirectoryEntry> entries;
        try {
            entries = directories_.ListEntries(directory);
        } catch (const PlatformError& error) {
            events_.failed(error, directory);
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
        for (const DirectoryEntry& entry : entries) {
            if (Stopped())
                return;
            const std::string& name = entry.name;
            const std::string path = Join(directory, name);
            try {
                switch (entry.kind ? *entry.kind : directories_.KindOf(path)) {
                case PathKind::Directory:
                    if (name.front() != '.' &&
                        !(entry.hidden ? *entry.hidden : directories_.IsHidden(path)))
                        Folder(path);
                    break;
                case PathKind::File:
                    if (EndsWithLua(name))
                        Take(path);
                    break;
                case PathKind::Link:
                    if (EndsWithLua(name))
                        events_.skipped(path, PathKind::Link);
                    break;
                case PathKind::Missing: // gone meanwhile
                case PathKind::Other:
                    break;
                }
            } catch (const PlatformError& error) {
                events_.failed(error, path);
            }
        }
    }

    FileServices& files_;
    DirectoryServices& directories_;
    const WalkEvents& events_;
    std::vector<std::string> scripts_;
    std::map<std::string, std::string> taken_; // canonical spelling -> first name taken
    bool stopped_ = false;
};

} // namespace

std::vector<std::string> FindScripts(FileServices& files, DirectoryServices& directories,
                                     const std::vector<std::string>& paths,
                                     const WalkEvents& events) {
    Walk walk(files, directories, events);
    for (const std::string& path : paths)
        walk.Collect(path);
    return std::move(walk).Found();
}

} // namespace velmo::batch
