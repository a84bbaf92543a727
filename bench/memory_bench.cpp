// Peak memory of converting one big script the way the program does it: the
// conversion button's whole action (VelmoStarter's UmlauteWeg_Click or
// UmlauteZurueck_Click) on a real file: load, guard-word scan, conversion,
// save with a backup, against a platform that uses real files.
//
//   memory_bench write FILE MIB   writes a generated Lua script of MIB MiB
//   memory_bench forward FILE     converts it to the two-character form, in place
//   memory_bench reverse FILE     and back
//
// Each run is a process of its own, so that its peak is that of one action.
// A conversion prints one line of key=value pairs: the file's size before and
// after, the process's resident memory at start and at its peak (bytes), the
// action's time (seconds) and the message boxes shown.
#include "app/VelmoStarter.h"
#include "bench/LuaText.h"
#include "bench/PosixPlatform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace velmo;

// A line "Name:   1234 kB" of /proc/self/status, in bytes; 0 when not there.
long long StatusBytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name + ":", 0) == 0)
            return std::atoll(line.c_str() + name.size() + 1) * 1024;
    return 0;
}

long long PeakBytes() {
    if (long long peak = StatusBytes("VmHWM"))
        return peak;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<long long>(usage.ru_maxrss) * 1024;
}

long long FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

int Write(const std::string& path, long long mib) {
    // A mebibyte at a time, so that writing needs little memory itself.
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    bench::LuaTextGenerator generator;
    std::string chunk;
    const long long size = mib << 20;
    for (long long written = 0; written < size;) {
        chunk.clear();
        generator.AppendLines(chunk, 1 << 20);
        const long long take =
            std::min<long long>(static_cast<long long>(chunk.size()), size - written);
        file.write(chunk.data(), take);
        written += take;
    }
    return file ? 0 : 1;
}

int Convert(const std::string& path, bool forward) {
    const long long sizeBefore = FileSize(path);
    const long long start = StatusBytes("VmRSS");
    bench::PosixPlatform platform;
    platform.dialogAnswer = path;
    const auto began = std::chrono::steady_clock::now();
    {
        VelmoStarter starter(platform);
        starter.Click(forward ? UmlauteWeg : UmlauteZurueck);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    std::string messages;
    for (const std::string& text : platform.messages)
        messages += (messages.empty() ? "" : "|") + text;
    std::replace(messages.begin(), messages.end(), '\r', ' ');
    std::printf(
        "direction=%s size=%lld size_after=%lld start=%lld peak=%lld seconds=%.3f messages=%s\n",
        forward ? "forward" : "reverse", sizeBefore, FileSize(path), start, PeakBytes(),
        took.count(), messages.c_str());
    return platform.messages == std::vector<std::string>{std::string(kDoneMessage)} ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "write" && argc == 4)
        return Write(argv[2], std::atoll(argv[3]));
    if ((mode == "forward" || mode == "reverse") && argc == 3)
        return Convert(argv[2], mode == "forward");
    std::fprintf(stderr, "usage: memory_bench write FILE MIB | forward FILE | reverse FILE\n");
    return 2;
}
