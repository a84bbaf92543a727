#include "tests/crash/SimulatedDisk.h"

#include "convert/ScriptFile.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace velmo::crash {
namespace {

constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kNotSupported = 50; // a file system without hard links

template <class Names> void Apply(Names& names, const DiskState::NameOperation& operation) {
    for (const auto& [name, file] : operation.effects) {
        if (file)
            names[name] = *file;
        else
            names.erase(name);
    }
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::size_t Sectors(const std::string& bytes) {
    return (bytes.size() + kSectorSize - 1) / kSectorSize;
}

// How many ways the bytes of a file not yet flushed may be found: lost,
// complete, cut after 1..n-1 sectors, or at full length torn after 0..n-1 sectors.
std::size_t Outcomes(const DiskState::File& file) {
    const std::size_t n = Sectors(file.visible);
    return n == 0 ? 2 : 2 * n + 1;
}

std::uint64_t TimesSaturating(std::uint64_t a, std::uint64_t b) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    return b != 0 && a > kMax / b ? kMax : a * b;
}

} // namespace

const char* ModelName(Model model) {
    return model == Model::Linux ? "Linux" : "Windows";
}

// ---- the world before the run

void SimulatedDisk::AddDirectory(const std::string& path) {
    directories_.push_back(path);
}

void SimulatedDisk::AddFile(const std::string& path, const std::string& bytes,
                            std::uint32_t attributes) {
    const std::size_t file = state_.files.size();
    state_.files.push_back({bytes, bytes, attributes});
    state_.visibleNames[path] = file;
    state_.durableNames[path] = file;
}

void SimulatedDisk::AddUnflushedFile(const std::string& path, const std::string& bytes,
                                     std::uint32_t attributes) {
    AddFile(path, bytes, attributes);
    state_.files.back().durable.clear();
}

std::map<std::string, std::string> SimulatedDisk::VisibleFiles() const {
    std::map<std::string, std::string> files;
    for (const auto& [name, file] : state_.visibleNames)
        files[name] = state_.files[file].visible;
    return files;
}

std::vector<SimulatedDisk::CrashPoint> SimulatedDisk::CrashPoints() const {
    std::vector<CrashPoint> points = points_;
    points.push_back({"", state_});
    return points;
}

// ---- helpers

void SimulatedDisk::Before(const std::string& call) {
    points_.push_back({call, state_});
}

PlatformError SimulatedDisk::Error(std::uint32_t code, const std::string& subject) {
    return PlatformError(code, "Systemfehler " + std::to_string(code), subject);
}

std::size_t SimulatedDisk::FileAt(const std::string& path) {
    const auto found = state_.visibleNames.find(path);
    if (found == state_.visibleNames.end())
        throw Error(win_error::FileNotFound, path);
    return found->second;
}

void SimulatedDisk::CheckDirectory(const std::string& path) {
    if (std::find(directories_.begin(), directories_.end(), DirectoryOf(path)) ==
        directories_.end())
        throw Error(kPathNotFound, path);
}

void SimulatedDisk::Log(DiskState::NameOperation operation) {
    Apply(state_.visibleNames, operation);
    state_.pending.push_back(std::move(operation));
}

void SimulatedDisk::WriteThrough() {
    for (const DiskState::NameOperation& operation : state_.pending)
        Apply(state_.durableNames, operation);
    state_.pending.clear();
}

// ---- reading

bool SimulatedDisk::FileExists(const std::string& path) {
    return state_.visibleNames.count(path) != 0;
}

FileStamp SimulatedDisk::ReadStampedPiece(const std::string& path, std::uint64_t offset,
                                          std::size_t most, std::string& bytes) {
    const std::string& visible = state_.files[FileAt(path)].visible;
    bytes.clear();
    if (offset < visible.size())
        bytes.assign(visible, static_cast<std::size_t>(offset), most);
    return StampOf(path);
}

FileStamp SimulatedDisk::StampOf(const std::string& path) {
    // A file's bytes never change once written: which file it is says it all.
    const std::size_t file = FileAt(path);
    FileStamp stamp;
    stamp.file = file;
    stamp.size = state_.files[file].visible.size();
    return stamp;
}

std::uint32_t SimulatedDisk::FileAttributes(const std::string& path) {
    return state_.files[FileAt(path)].attributes;
}

PathKind SimulatedDisk::KindOf(const std::string& path) {
    if (state_.visibleNames.count(path))
        return PathKind::File;
    if (std::find(directories_.begin(), directories_.end(), path) != directories_.end())
        return PathKind::Directory;
    return PathKind::Missing;
}

std::vector<std::string> SimulatedDisk::ListDirectory(const std::string& directory) {
    if (KindOf(directory) != PathKind::Directory)
        throw Error(kPathNotFound, directory);
    std::vector<std::string> names;
    for (const auto& entry : state_.visibleNames)
        if (DirectoryOf(entry.first) == directory)
            names.push_back(NameOf(entry.first));
    for (const std::string& sub : directories_)
        if (sub != directory && DirectoryOf(sub) == directory)
            names.push_back(NameOf(sub));
    return names;
}

// ---- writing

void SimulatedDisk::WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                                     std::uint32_t attributes) {
    Before("WriteNewFile " + path);
    CheckDirectory(path);
    if (FileExists(path))
        throw Error(model_ == Model::Windows ? win_error::FileExists : win_error::AlreadyExists,
                    path);
    std::string written;
    bytes([&](std::string_view piece) { written.append(piece); });
    const std::size_t file = state_.files.size();
    state_.files.push_back({{}, std::move(written), attributes});
    live_.push_back(file);
    Log({DirectoryOf(path), {{path, file}}});
}

Leftover SimulatedDisk::RemoveLeftover(const std::string& path) {
    const auto found = state_.visibleNames.find(path);
    if (found == state_.visibleNames.end())
        return Leftover::None;
    if (std::find(live_.begin(), live_.end(), found->second) != live_.end())
        return Leftover::InUse;
    Before("RemoveLeftover " + path);
    Log({DirectoryOf(path), {{path, std::nullopt}}});
    return Leftover::Removed;
}

void SimulatedDisk::KeepPermissions(const std::string& original, const std::string& copy) {
    // Owner and permissions are not modelled: the checks are about bytes.
    Before("KeepPermissions " + copy);
    FileAt(original);
    FileAt(copy);
}

void SimulatedDisk::FlushFiles(const std::vector<std::string>& paths) {
    std::string call = "FlushFiles";
    for (const std::string& path : paths)
        call += " " + path;
    Before(call);
    for (const std::string& path : paths) {
        DiskState::File& file = state_.files[FileAt(path)];
        file.durable = file.visible;
    }
}

void SimulatedDisk::LinkFile(const std::string& existing, const std::string& newName) {
    Before("LinkFile " + existing + " " + newName);
    if (!linksWork)
        throw Error(kNotSupported, newName);
    const std::size_t file = FileAt(existing);
    CheckDirectory(newName);
    if (DirectoryOf(existing) != DirectoryOf(newName))
        throw std::logic_error("the simulated disk links within one directory only");
    if (FileExists(newName))
        throw Error(win_error::AlreadyExists, newName);
    Log({DirectoryOf(newName), {{newName, file}}});
}

void SimulatedDisk::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    Before("MoveFile " + from + " " + to);
    const std::size_t file = FileAt(from);
    CheckDirectory(to);
    if (DirectoryOf(from) != DirectoryOf(to))
        throw std::logic_error("the simulated disk renames within one directory only");
    if (const auto target = state_.visibleNames.find(to); target != state_.visibleNames.end()) {
        if (!replaceExisting)
            throw Error(win_error::AlreadyExists, from);
        // Windows refuses to replace a read-only file; POSIX does not ask.
        if (model_ == Model::Windows &&
            (state_.files[target->second].attributes & file_attr::ReadOnly))
            throw Error(win_error::AccessDenied, from);
    }
    Log({DirectoryOf(to), {{to, file}, {from, std::nullopt}}});
    std::erase(live_, file);
    renamedSinceSync_ = true;
}

void SimulatedDisk::DeleteFile(const std::string& path) {
    Before("DeleteFile " + path);
    const std::size_t file = FileAt(path);
    if (model_ == Model::Windows && (state_.files[file].attributes & file_attr::ReadOnly))
        throw Error(win_error::AccessDenied, path);
    Log({DirectoryOf(path), {{path, std::nullopt}}});
    std::erase(live_, file);
}

void SimulatedDisk::SyncDirectories(const std::vector<std::string>& directories) {
    std::string call = "SyncDirectories";
    for (const std::string& directory : directories)
        call += " " + directory;
    Before(call);
    for (const std::string& directory : directories)
        if (KindOf(directory) != PathKind::Directory)
            throw Error(kPathNotFound, directory);
    // On Windows the flush after a rename writes the whole log through.
    if (model_ == Model::Windows) {
        if (std::exchange(renamedSinceSync_, false))
            WriteThrough();
        return;
    }
    std::vector<DiskState::NameOperation> stillPending;
    for (DiskState::NameOperation& operation : state_.pending) {
        if (std::find(directories.begin(), directories.end(), operation.directory) !=
            directories.end())
            Apply(state_.durableNames, operation);
        else
            stillPending.push_back(std::move(operation));
    }
    state_.pending = std::move(stillPending);
}

// ---- power loss

PowerLoss::PowerLoss(const DiskState& at, Model model) : at_(at), model_(model) {
    if (model == Model::Linux)
        radix_.assign(at.pending.size(), 2); // each operation or not
    else
        radix_.push_back(at.pending.size() + 1); // a prefix of the log
    namePart_ = radix_.size();

    // Files whose bytes are not durable and that some name may point at.
    std::vector<bool> named(at.files.size(), false);
    for (const auto& entry : at.durableNames)
        named[entry.second] = true;
    for (const DiskState::NameOperation& operation : at.pending)
        for (const auto& effect : operation.effects)
            if (effect.second)
                named[*effect.second] = true;
    for (std::size_t file = 0; file < at.files.size(); ++file) {
        if (!named[file] || at.files[file].durable == at.files[file].visible)
            continue;
        unflushed_.push_back(file);
        outcomes_.emplace_back();
        for (std::size_t outcome = 0; outcome < Outcomes(at.files[file]); ++outcome)
            outcomes_.back().push_back(Bytes(at.files[file], outcome));
        radix_.push_back(outcomes_.back().size());
    }
    for (std::size_t r : radix_)
        count_ = TimesSaturating(count_, r);
}

std::string PowerLoss::Bytes(const DiskState::File& f, std::size_t outcome) {
    const std::size_t n = Sectors(f.visible);
    if (outcome == 0)
        return f.durable;
    if (outcome == 1)
        return f.visible;
    if (outcome <= n)
        return f.visible.substr(0, (outcome - 1) * kSectorSize); // cut short
    // Full length, torn: the first sectors new, the rest as they were before.
    const std::size_t torn = (outcome - n - 1) * kSectorSize;
    std::string bytes = f.visible;
    for (std::size_t i = torn; i < bytes.size(); ++i)
        bytes[i] = i < f.durable.size() ? f.durable[i] : '\0';
    return bytes;
}

Files PowerLoss::Build(const std::vector<std::size_t>& choice) const {
    // Views of the names kept in at_: no text is copied per state.
    std::map<std::string_view, std::size_t, std::less<>> names(at_.durableNames.begin(),
                                                               at_.durableNames.end());
    if (model_ == Model::Linux) {
        for (std::size_t i = 0; i < at_.pending.size(); ++i)
            if (choice[i])
                Apply(names, at_.pending[i]);
    } else {
        for (std::size_t i = 0; i < choice[0]; ++i)
            Apply(names, at_.pending[i]);
    }
    Files files;
    for (const auto& [name, file] : names) {
        const auto position = std::find(unflushed_.begin(), unflushed_.end(), file);
        if (position == unflushed_.end()) {
            files[name] = at_.files[file].durable;
        } else {
            const std::size_t u = static_cast<std::size_t>(position - unflushed_.begin());
            files[name] = outcomes_[u][choice[namePart_ + u]];
        }
    }
    return files;
}

std::size_t PowerLoss::ForEach(std::size_t limit, std::mt19937_64& random,
                               const std::function<void(const Files&)>& check) const {
    std::vector<std::size_t> choice(radix_.size(), 0);
    if (count_ <= limit) {
        for (std::uint64_t index = 0; index < count_; ++index) {
            std::uint64_t rest = index;
            for (std::size_t d = 0; d < radix_.size(); ++d) {
                choice[d] = static_cast<std::size_t>(rest % radix_[d]);
                rest /= radix_[d];
            }
            check(Build(choice));
        }
        return static_cast<std::size_t>(count_);
    }
    check(Build(choice)); // nothing pending reached the disk
    for (std::size_t d = 0; d < radix_.size(); ++d)
        choice[d] = d < namePart_ ? radix_[d] - 1 : 1; // all of it did, bytes complete
    check(Build(choice));
    for (std::size_t drawn = 2; drawn < limit; ++drawn) {
        for (std::size_t d = 0; d < radix_.size(); ++d)
            choice[d] = static_cast<std::size_t>(random() % radix_[d]);
        check(Build(choice));
    }
    return limit;
}

} // namespace velmo::crash
