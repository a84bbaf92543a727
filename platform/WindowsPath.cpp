#include "platform/WindowsPath.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace velmo {
namespace {

constexpr std::string_view kPrefix = "\\\\?\\";

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// "C:" as the drive part of a path.
bool IsDrive(std::string_view text) {
    return text.size() >= 2 && IsLetter(text[0]) && text[1] == ':';
}

// The next name in `rest` (separators before it skipped), taken off its front;
// empty when no name is left.
std::string_view TakeName(std::string_view& rest) {
    const std::size_t start = rest.find_first_not_of('\\');
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const std::size_t end = std::min(rest.find('\\'), rest.size());
    const std::string_view name = rest.substr(0, end);
    rest.remove_prefix(end);
    return name;
}

// An absolute path as its root, which ".." never leaves ("\\?\C:",
// "\\?\UNC\server\share", or another device such as "\\?\pipe"), and the rest
// after it.
struct Rooted {
    std::string root;
    std::string rest;
};

// "\\server\share" after the two leading separators, onto `root`.
void TakeShare(std::string& root, std::string_view& rest) {
    root += TakeName(rest);
    const std::string_view share = TakeName(rest);
    if (!share.empty())
        root.append("\\").append(share);
}

// The root and rest of an absolute path (separators already "\"); nothing for
// a relative, root-relative or drive-relative one.
std::optional<Rooted> SplitAbsolute(std::string_view path) {
    if (StartsWith(path, kPrefix) || StartsWith(path, "\\\\.\\")) {
        // The device namespace: its first name is the device, a drive ("C:"),
        // "UNC" with server and share after it, or another device.
        std::string_view rest = path.substr(kPrefix.size());
        std::string root(kPrefix);
        const std::string_view device = TakeName(rest);
        if (device.size() == 2 && IsDrive(device)) {
            root.append({Upper(device[0]), ':'});
        } else if (device.size() == 3 && Upper(device[0]) == 'U' && Upper(device[1]) == 'N' &&
                   Upper(device[2]) == 'C') {
            root += "UNC\\";
            TakeShare(root, rest);
        } else {
            root += device;
        }
        return Rooted{root, std::string(rest)};
    }
    if (StartsWith(path, "\\\\")) {
        std::string_view rest = path.substr(2);
        std::string root = std::string(kPrefix) + "UNC\\";
        TakeShare(root, rest);
        return Rooted{root, std::string(rest)};
    }
    if (IsDrive(path) && path.size() >= 3 && path[2] == '\\')
        return Rooted{std::string(kPrefix) + Upper(path[0]) + ':', std::string(path.substr(2))};
    return std::nullopt;
}

// `tail` below `head`.
std::string Below(const std::string& head, std::string_view tail) {
    return tail.empty() ? head : std::string(head).append("\\").append(tail);
}

} // namespace

std::string ExtendedPath(const std::string& path, const std::string& currentDir) {
    if (path.empty() || StartsWith(path, kPrefix))
        return path;
    std::string given = path;
    std::replace(given.begin(), given.end(), '/', '\\');

    std::optional<Rooted> rooted = SplitAbsolute(given);
    if (!rooted) {
        std::string current = currentDir;
        std::replace(current.begin(), current.end(), '/', '\\');
        const std::optional<Rooted> base = SplitAbsolute(current);
        if (!base)
            return path;
        if (given.front() == '\\') {
            // "\x": on the current drive or share.
            rooted = Rooted{base->root, given};
        } else if (IsDrive(given)) {
            // "C:x": below the current folder when it is on that drive, else
            // below the drive's root.
            const std::string drive = std::string(kPrefix) + Upper(given[0]) + ':';
            const std::string_view tail = std::string_view(given).substr(2);
            rooted = base->root == drive ? Rooted{drive, Below(base->rest, tail)}
                                         : Rooted{drive, std::string("\\").append(tail)};
        } else {
            rooted = Rooted{base->root, Below(base->rest, given)};
        }
    }

    std::vector<std::string_view> names;
    std::string_view rest = rooted->rest;
    while (true) {
        const std::string_view name = TakeName(rest);
        if (name.empty())
            break;
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (name != ".") {
            names.push_back(name);
        }
    }
    std::string full = rooted->root;
    for (const std::string_view name : names)
        full.append("\\").append(name);
    // A final separator stays: on a root ("C:\", whose form without it names
    // the volume) and after a folder's name.
    const bool endsInSeparator = !rooted->rest.empty() && rooted->rest.back() == '\\';
    if (names.empty() ? !rooted->rest.empty() : endsInSeparator)
        full += '\\';
    return full;
}

} // namespace velmo
