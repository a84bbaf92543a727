// Speed of the umlaut conversion and the guard-word scan on generated Lua
// text, each next to memcpy of the same text in the same run (the anchor the
// figures are read against; tools/bench prints the ratios).
//
// Two kinds of figure:
// - into a buffer that is reused: the conversion's own speed, next to memcpy
//   into a reused buffer, and next to the plain byte-table loop the
//   conversion used before;
// - whole calls that return a new string, as the program makes them, next to
//   copying the text into a new string: these include the fresh memory's page
//   faults.
#include "bench/LuaText.h"
#include "convert/Umlaute.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace velmo::bench {
namespace {

const std::string& Text(std::size_t size) {
    static std::map<std::size_t, std::string> texts;
    auto [it, added] = texts.try_emplace(size);
    if (added)
        it->second = MakeLuaText(size);
    return it->second;
}

const std::string& Converted(std::size_t size) {
    static std::map<std::size_t, std::string> texts;
    auto [it, added] = texts.try_emplace(size);
    if (added)
        it->second = UmlauteToTwoCharacterForm(Text(size));
    return it->second;
}

// The conversion as a plain byte-table loop, one byte at a time: the way it
// was written before the block-wise kernel.
constexpr std::array<unsigned char, 256> kForward = [] {
    std::array<unsigned char, 256> table{};
    for (const UmlautRow& row : kUmlautRows)
        table[row.single] = row.second;
    return table;
}();
constexpr std::array<unsigned char, 256> kReverse = [] {
    std::array<unsigned char, 256> table{};
    for (const UmlautRow& row : kUmlautRows)
        table[row.second] = row.single;
    return table;
}();

std::size_t ByteLoopToTwoCharacterForm(const std::string& text, char* out) {
    std::size_t o = 0;
    for (char c : text) {
        if (const unsigned char second = kForward[static_cast<unsigned char>(c)]) {
            out[o++] = static_cast<char>(kUtf8Lead);
            out[o++] = static_cast<char>(second);
        } else {
            out[o++] = c;
        }
    }
    return o;
}

std::size_t ByteLoopToSingleCharacter(const std::string& text, char* out) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == kUtf8Lead && i + 1 < text.size()) {
            if (const unsigned char single = kReverse[static_cast<unsigned char>(text[i + 1])]) {
                out[o++] = static_cast<char>(single);
                ++i;
                continue;
            }
        }
        out[o++] = static_cast<char>(c);
    }
    return o;
}

// A buffer reused across iterations, touched once before timing.
std::vector<char>& Buffer(std::size_t size) {
    static std::vector<char> buffer;
    if (buffer.size() < size)
        buffer.assign(size, 0);
    return buffer;
}

template <typename Run> void Measure(benchmark::State& state, const std::string& text, Run run) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(run());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

// ---- into a reused buffer

void Memcpy(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    char* out = Buffer(text.size()).data();
    Measure(state, text, [&] { return std::memcpy(out, text.data(), text.size()); });
}

void Forward(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    char* out = Buffer(TwoCharacterFormRoom(text)).data();
    Measure(state, text, [&] { return UmlauteToTwoCharacterForm(text, out, false); });
}

// The same on the path for CPUs without SSSE3 (the baseline of the Windows
// builds), in the form the conversion takes for the text's size (from 8 MiB on
// the one without the branch on a block's bytes).
void ForwardBaseline(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    char* out = Buffer(TwoCharacterFormRoom(text)).data();
    const ForwardKernel kernel = text.size() < (std::size_t{8} << 20)
                                     ? ForwardKernel::Baseline
                                     : ForwardKernel::BaselineBranchFree;
    Measure(state, text, [&] { return UmlauteToTwoCharacterForm(text, out, false, kernel); });
}

// With the pass that works out the room first, as a caller of the buffer form
// (and the string form) makes it for each text.
void ForwardWithRoom(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    char* out = Buffer(2 * text.size()).data();
    Measure(state, text, [&] {
        benchmark::DoNotOptimize(TwoCharacterFormRoom(text));
        return UmlauteToTwoCharacterForm(text, out, false);
    });
}

void Reverse(benchmark::State& state) {
    const std::string& text = Converted(static_cast<std::size_t>(state.range(0)));
    char* out = Buffer(text.size()).data();
    Measure(state, text, [&] { return UmlauteToSingleCharacter(text, out); });
}

void ByteLoopForward(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    char* out = Buffer(2 * text.size()).data();
    Measure(state, text, [&] { return ByteLoopToTwoCharacterForm(text, out); });
}

void ByteLoopReverse(benchmark::State& state) {
    const std::string& text = Converted(static_cast<std::size_t>(state.range(0)));
    char* out = Buffer(text.size()).data();
    Measure(state, text, [&] { return ByteLoopToSingleCharacter(text, out); });
}

void GuardWord(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    Measure(state, text, [&] { return ContainsGuardWord(text); });
}

// ---- whole calls, each with a new result string

void StringCopy(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    Measure(state, text, [&] { return std::string(text); });
}

void ForwardCall(benchmark::State& state) {
    const std::string& text = Text(static_cast<std::size_t>(state.range(0)));
    Measure(state, text, [&] { return UmlauteToTwoCharacterForm(text); });
}

void ReverseCall(benchmark::State& state) {
    const std::string& text = Converted(static_cast<std::size_t>(state.range(0)));
    Measure(state, text, [&] { return UmlauteToSingleCharacter(text); });
}

constexpr std::int64_t kSizes[] = {10 << 10, 1 << 20, 64 << 20};

void Sizes(benchmark::internal::Benchmark* b) {
    for (std::int64_t size : kSizes)
        b->Arg(size);
}

BENCHMARK(Memcpy)->Apply(Sizes);
BENCHMARK(Forward)->Apply(Sizes);
BENCHMARK(ForwardBaseline)->Apply(Sizes);
BENCHMARK(ForwardWithRoom)->Apply(Sizes);
BENCHMARK(Reverse)->Apply(Sizes);
BENCHMARK(ByteLoopForward)->Apply(Sizes);
BENCHMARK(ByteLoopReverse)->Apply(Sizes);
BENCHMARK(GuardWord)->Apply(Sizes);
BENCHMARK(StringCopy)->Apply(Sizes);
BENCHMARK(ForwardCall)->Apply(Sizes);
BENCHMARK(ReverseCall)->Apply(Sizes);

} // namespace
} // namespace velmo::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const std::string& text = velmo::bench::Text(64 << 20);
    benchmark::AddCustomContext("umlaut_percent",
                                std::to_string(velmo::bench::UmlautPercent(text)));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
