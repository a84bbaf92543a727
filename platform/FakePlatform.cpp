#include "platform/FakePlatform.h"

#include "platform/Cp1252.h"

#include <algorithm>
#include <cstring>

namespace velmo {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    return text;
}

constexpr std::int32_t ErrorInvalidHandle = 6;

} // namespace

void FakePlatform::AddFile(const std::string& path, std::string bytes, std::uint32_t attributes) {
    files[Lower(path)] = File{std::move(bytes), attributes, false, false, nextFileId_++};
    displayNames[Lower(path)] = path;
}

const FakePlatform::File* FakePlatform::FindFile(const std::string& path) const {
    auto it = files.find(Lower(path));
    return it == files.end() ? nullptr : &it->second;
}

void FakePlatform::SetRegValue(const std::string& subKey, const std::string& name, RegValue value,
                               bool view64) {
    View(view64)[Lower(subKey)][Lower(name)] = std::move(value);
}

void FakePlatform::AddRegKey(const std::string& subKey, bool view64) {
    View(view64)[Lower(subKey)];
}

std::uint32_t FakePlatform::Record(const std::string& operation, const std::string& args) {
    const std::size_t index = calls.size();
    std::string call = args.empty() ? operation : operation + " " + args;
    if (beforeCall)
        beforeCall(call);
    calls.push_back(std::move(call));
    busyAtCall.push_back(busy);
    if (failCallIndex && *failCallIndex == index)
        return failCode;
    auto it = failOperation.find(operation);
    return it == failOperation.end() ? 0 : it->second;
}

void FakePlatform::Check(const std::string& operation, const std::string& args,
                         const std::string& subject) {
    if (std::uint32_t code = Record(operation, args))
        throw Error(code, subject);
}

PlatformError FakePlatform::Error(std::uint32_t code, const std::string& subject) {
    return PlatformError(code, "Systemfehler " + std::to_string(code), subject);
}

bool FakePlatform::FileExists(const std::string& path) {
    // Like the real one, an existence test never fails: an injected fault reads as "no file".
    if (Record("FileExists", path))
        return false;
    return FindFile(path) != nullptr;
}

namespace {
FileStamp StampOfFake(const FakePlatform::File& file) {
    FileStamp stamp;
    stamp.file = file.id;
    stamp.size = file.bytes.size();
    stamp.modified = static_cast<std::int64_t>(file.id);
    return stamp;
}
} // namespace

FileStamp FakePlatform::ReadStampedPiece(const std::string& path, std::uint64_t offset,
                                         std::size_t most, std::string& bytes) {
    Check("ReadWholeFile", path, path);
    const File* file = FindFile(path);
    if (!file)
        throw Error(win_error::FileNotFound, path);
    if (file->locked)
        throw Error(win_error::SharingViolation, path);
    bytes.clear();
    if (offset < file->bytes.size())
        bytes.assign(file->bytes, static_cast<std::size_t>(offset), most);
    largestRead = std::max(largestRead, bytes.size());
    return StampOfFake(*file);
}

FileStamp FakePlatform::StampOf(const std::string& path) {
    Check("StampOf", path, path);
    const File* file = FindFile(path);
    if (!file)
        throw Error(win_error::FileNotFound, path);
    return StampOfFake(*file);
}

Leftover FakePlatform::RemoveLeftover(const std::string& path) {
    // Like the real one it never fails: an injected fault reads as "in use".
    if (Record("RemoveLeftover", path))
        return Leftover::InUse;
    const auto found = files.find(Lower(path));
    if (found == files.end())
        return Leftover::None;
    if (found->second.live || found->second.locked)
        return Leftover::InUse;
    files.erase(found);
    displayNames.erase(Lower(path));
    return Leftover::Removed;
}

std::uint32_t FakePlatform::FileAttributes(const std::string& path) {
    Check("FileAttributes", path, path);
    const File* file = FindFile(path);
    if (!file)
        throw Error(win_error::FileNotFound, path);
    return file->attributes;
}

void FakePlatform::WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                                    std::uint32_t attributes) {
    Check("WriteNewFile", path, path);
    if (FindFile(path))
        throw Error(win_error::FileExists, path);
    std::string written;
    bytes([&](std::string_view piece) {
        largestPieceWritten = std::max(largestPieceWritten, piece.size());
        written.append(piece);
    });
    AddFile(path, written, attributes);
    files[Lower(path)].live = true;
}

void FakePlatform::KeepPermissions(const std::string& original, const std::string& copy) {
    Check("KeepPermissions", original + " | " + copy, copy);
    if (!FindFile(original))
        throw Error(win_error::FileNotFound, original);
    if (!FindFile(copy))
        throw Error(win_error::FileNotFound, copy);
}

void FakePlatform::FlushFiles(const std::vector<std::string>& paths) {
    std::string list;
    for (const std::string& path : paths)
        list += (list.empty() ? "" : " | ") + path;
    Check("FlushFiles", list, paths.empty() ? std::string() : paths.front());
    for (const std::string& path : paths) {
        if (!FindFile(path))
            throw Error(win_error::FileNotFound, path);
        if (unflushable.count(Lower(path)))
            throw Error(win_error::SharingViolation, path);
    }
}

void FakePlatform::LinkFile(const std::string& existing, const std::string& newName) {
    Check("LinkFile", existing + " | " + newName, existing);
    const File* file = FindFile(existing);
    if (!file)
        throw Error(win_error::FileNotFound, existing);
    if (FindFile(newName))
        throw Error(win_error::AlreadyExists, newName);
    // Links share the file; the fake's files are never changed in place, so a copy behaves alike.
    File link = *file;
    files[Lower(newName)] = std::move(link);
    displayNames[Lower(newName)] = newName;
}

void FakePlatform::SyncDirectories(const std::vector<std::string>& directories) {
    std::string list;
    for (const std::string& dir : directories)
        list += (list.empty() ? "" : " | ") + dir;
    Check("SyncDirectories", list, directories.empty() ? std::string() : directories.front());
}

std::optional<PlatformError> FakePlatform::ReplaceRefusal(const std::string& path) {
    // As MoveFile refuses to replace a file held open.
    if (const File* file = FindFile(path); file && file->locked)
        return Error(win_error::SharingViolation, path);
    return std::nullopt;
}

void FakePlatform::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    Check("MoveFile", from + " | " + to + (replaceExisting ? " | replace" : ""), from);
    auto source = files.find(Lower(from));
    if (source == files.end())
        throw Error(win_error::FileNotFound, from);
    if (source->second.locked)
        throw Error(win_error::SharingViolation, from);
    if (const File* target = FindFile(to); target && Lower(from) != Lower(to)) {
        if (!replaceExisting)
            throw Error(win_error::AlreadyExists, to);
        // Windows refuses to replace a read-only file or one held open.
        if (target->attributes & file_attr::ReadOnly)
            throw Error(win_error::AccessDenied, to);
        if (target->locked)
            throw Error(win_error::SharingViolation, to);
    }
    File moved = source->second;
    moved.live = false;
    files.erase(source);
    displayNames.erase(Lower(from));
    files[Lower(to)] = std::move(moved);
    displayNames[Lower(to)] = to;
}

void FakePlatform::DeleteFile(const std::string& path) {
    Check("DeleteFile", path, path);
    if (files.erase(Lower(path)) == 0)
        throw Error(win_error::FileNotFound, path);
    displayNames.erase(Lower(path));
}

void FakePlatform::StartProcess(const std::string& program, const std::string& arguments,
                                const std::string& workingDir, int showStyle) {
    Check("StartProcess", program + " | " + arguments, program);
    if (!FindFile(program))
        throw Error(win_error::FileNotFound, program);
    starts.push_back({program, arguments, workingDir, showStyle});
}

void FakePlatform::End() {
    Record("End", "");
    ended = true;
}

void FakePlatform::ShowOpen(CommonDialog& dialog) {
    Check("ShowOpen", "", "");
    dialogsShown.push_back(dialog);
    dialog.FileName.clear();
    dialog.FileNames.clear();
    if (!dialogAnswers.empty()) {
        // Several files chosen at once come as one answer, a line per file.
        std::string answer = std::move(dialogAnswers.front());
        dialogAnswers.pop_front();
        for (std::size_t at = 0; !answer.empty() && at <= answer.size();) {
            const std::size_t end = std::min(answer.find('\n', at), answer.size());
            dialog.FileNames.push_back(answer.substr(at, end - at));
            at = end + 1;
        }
        if (!dialog.MultiSelect && dialog.FileNames.size() > 1)
            dialog.FileNames.resize(1);
        if (!dialog.FileNames.empty())
            dialog.FileName = dialog.FileNames.front();
    }
}

int FakePlatform::MsgBox(const std::string& text, int style, const std::string& title) {
    Check("MsgBox", text, "");
    boxes.push_back({text, style, title});
    if (!msgBoxAnswers.empty()) {
        int answer = msgBoxAnswers.front();
        msgBoxAnswers.pop_front();
        return answer;
    }
    return style == mb::YesNoCritical ? mb::AnswerYes : mb::AnswerOk;
}

std::int32_t FakePlatform::RegOpenKeyExA(RegKey root, const std::string& subKey,
                                         std::uint32_t options, std::uint32_t access,
                                         RegKey& opened) {
    if (std::uint32_t code = Record("RegOpenKeyExA", subKey + " | " + std::to_string(options) +
                                                         " | " + std::to_string(access)))
        return static_cast<std::int32_t>(code);
    if (root != HkeyLocalMachine)
        return ErrorInvalidHandle;
    const bool view64 = (access & reg::KeyWow64_64Key) != 0;
    if (!View(view64).count(Lower(subKey)))
        return static_cast<std::int32_t>(win_error::FileNotFound);
    opened = nextHandle_++;
    handles_[opened] = {Lower(subKey), view64};
    ++openKeys;
    return 0;
}

std::int32_t FakePlatform::RegQueryValueExA(RegKey key, const std::string& valueName,
                                            std::uint32_t& type, unsigned char* data,
                                            std::uint32_t& size) {
    if (std::uint32_t code = Record("RegQueryValueExA", valueName + " | " + std::to_string(size) +
                                                            (data ? " | data" : "")))
        return static_cast<std::int32_t>(code);
    auto handle = handles_.find(key);
    if (handle == handles_.end())
        return ErrorInvalidHandle;
    const auto& values = View(handle->second.view64)[handle->second.subKey];
    auto value = values.find(Lower(valueName));
    if (value == values.end())
        return static_cast<std::int32_t>(win_error::FileNotFound);
    type = value->second.type;
    const std::string& stored = value->second.data;
    if (data == nullptr) {
        size = static_cast<std::uint32_t>(stored.size());
        return 0;
    }
    if (size < stored.size()) {
        size = static_cast<std::uint32_t>(stored.size());
        return static_cast<std::int32_t>(win_error::MoreData);
    }
    std::memcpy(data, stored.data(), stored.size());
    size = static_cast<std::uint32_t>(stored.size());
    return 0;
}

std::int32_t FakePlatform::RegCloseKey(RegKey key) {
    if (std::uint32_t code = Record("RegCloseKey", std::to_string(key)))
        return static_cast<std::int32_t>(code);
    closedKeys.push_back(key);
    if (handles_.erase(key) == 0)
        return ErrorInvalidHandle;
    --openKeys;
    return 0;
}

std::string FakePlatform::FromAnsi(const std::string& bytes) {
    return Cp1252ToUtf8(bytes);
}

DateTimeTexts FakePlatform::Now() {
    Check("Now", "", "");
    return now;
}

PathKind FakeDirectories::KindOf(const std::string& path) {
    if (fake_.FindFile(path))
        return links.count(path) ? PathKind::Link : PathKind::File;
    const std::string prefix = Lower(path) + "\\";
    const auto below = fake_.files.lower_bound(prefix);
    if (below != fake_.files.end() && below->first.compare(0, prefix.size(), prefix) == 0)
        return PathKind::Directory;
    return PathKind::Missing;
}

std::vector<std::string> FakeDirectories::ListDirectory(const std::string& directory) {
    std::set<std::string> names;
    const std::string prefix = Lower(directory) + "\\";
    for (const auto& [key, name] : fake_.displayNames)
        if (key.compare(0, prefix.size(), prefix) == 0) {
            const std::string rest = name.substr(prefix.size());
            names.insert(rest.substr(0, rest.find('\\')));
        }
    return {names.begin(), names.end()};
}

std::string FakeDirectories::Canonical(const std::string& path) const {
    return Lower(path);
}

} // namespace velmo
