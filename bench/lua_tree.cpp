// Writes a map folder as the command-line companion meets it: Lua scripts of
// generated German map code (see LuaText.h, Windows-1252, about 2 % umlauts,
// CR LF), spread over one folder per map. Sizes run from 2 to 38 KiB, more of
// them large than small, so that 2,000 scripts hold about 43 MB. The same tree
// every run.
//
//   lua_tree FOLDER SCRIPTS   writes FOLDER/karte_NN/skript_NNNN.lua, 50 per map
//
// Prints the number of scripts, their total and largest size in bytes and the
// share of umlauts in percent.
#include "bench/LuaText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr std::size_t kSmallest = 2 << 10;
constexpr std::size_t kLargest = 38 << 10;
constexpr int kScriptsPerMap = 50;

// The size of the next script: u^0.9 for u evenly spread in [0, 1) leans a
// little towards the large end, for a mean of about 21.5 KB.
class SizeSequence {
  public:
    std::size_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        const double u = static_cast<double>(state_ >> 8) / static_cast<double>(1u << 24);
        return kSmallest + static_cast<std::size_t>(std::pow(u, 0.9) * (kLargest - kSmallest));
    }

  private:
    std::uint32_t state_ = 4711;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::atoi(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: lua_tree FOLDER SCRIPTS\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const int scripts = std::atoi(argv[2]);
    velmo::bench::LuaTextGenerator generator;
    SizeSequence sizes;
    std::string text;
    std::size_t total = 0, largest = 0;
    double umlauts = 0;
    for (int i = 0; i < scripts; ++i) {
        char map[32], name[32];
        std::snprintf(map, sizeof map, "karte_%02d", i / kScriptsPerMap + 1);
        std::snprintf(name, sizeof name, "skript_%04d.lua", i + 1);
        const std::filesystem::path folder = root / map;
        std::filesystem::create_directories(folder);
        // Whole lines up to the size drawn; never past the largest size.
        text.clear();
        generator.AppendLines(text, sizes.Next());
        if (text.size() > kLargest)
            text.resize(kLargest);
        std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!file) {
            std::fprintf(stderr, "lua_tree: cannot write %s\n", (folder / name).c_str());
            return 1;
        }
        total += text.size();
        largest = std::max(largest, text.size());
        umlauts += velmo::bench::UmlautPercent(text) * static_cast<double>(text.size());
    }
    std::printf("scripts=%d bytes=%zu largest=%zu umlaut_percent=%.2f\n", scripts, total, largest,
                umlauts / static_cast<double>(total));
    return 0;
}
