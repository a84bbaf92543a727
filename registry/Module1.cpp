#include "registry/Module1.h"

#include <cstring>

namespace velmo {
namespace {
constexpr std::uint32_t kMaxStringValue = 1u << 20;
} // namespace

std::int32_t ReadRegistryValue(Platform& platform, RegKey root, const std::string& subKey,
                               const std::string& valueName, RegistryResult& result,
                               std::uint32_t viewFlag) {
    RegKey key = 0;
    if (std::int32_t status =
            platform.RegOpenKeyExA(root, subKey, 0, reg::KeyQueryValue | viewFlag, key))
        return status;

    // From here on the opened key is closed on every path; the first failure wins.
    auto finish = [&](std::int32_t status) {
        const std::int32_t closeStatus = platform.RegCloseKey(key);
        return status != 0 ? status : closeStatus;
    };

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (std::int32_t status = platform.RegQueryValueExA(key, valueName, type, nullptr, size))
        return finish(status);

    if (type == reg::Sz) {
        // No directory is that long; such a size would only exhaust memory.
        if (size > kMaxStringValue)
            return finish(static_cast<std::int32_t>(win_error::MoreData));
        // One blank more than the value needs; the query may fill only `size` of it.
        std::string buffer(static_cast<std::size_t>(size) + 1, ' ');
        std::uint32_t bufferSize = size;
        if (std::int32_t status = platform.RegQueryValueExA(
                key, valueName, type, reinterpret_cast<unsigned char*>(buffer.data()), bufferSize))
            return finish(status);
        result = platform.FromAnsi(buffer);
    } else if (type == reg::Dword) {
        unsigned char bytes[4] = {};
        std::uint32_t bufferSize = sizeof bytes;
        if (std::int32_t status =
                platform.RegQueryValueExA(key, valueName, type, bytes, bufferSize))
            return finish(status);
        std::int32_t number;
        std::memcpy(&number, bytes, sizeof number);
        result = number;
    }
    return finish(0);
}

std::string CleanUpDirectory(const RegistryResult& result) {
    std::string text;
    if (const auto* s = std::get_if<std::string>(&result))
        text = *s;
    if (const auto* n = std::get_if<std::int32_t>(&result))
        text = std::to_string(*n);

    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);
    // A string stored with its terminator ends here; one stored without keeps
    // its last character. Nothing behind a NUL can be part of a path.
    if (const auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return text;
}

std::optional<std::string> LookUpDirectory(Platform& platform, const std::string& subKey,
                                           const std::string& valueName) {
    for (std::uint32_t view : {reg::KeyWow64_32Key, reg::KeyWow64_64Key}) {
        RegistryResult result;
        if (ReadRegistryValue(platform, HkeyLocalMachine, subKey, valueName, result, view) != 0)
            continue;
        std::string directory = CleanUpDirectory(result);
        if (directory.empty())
            return std::nullopt;
        return directory;
    }
    return std::nullopt;
}

} // namespace velmo
