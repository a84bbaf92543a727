#include "convert/Umlaute.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

// Scripts can be tens of megabytes, and each conversion scans the whole text
// twice (guard word, then the conversion), so both scans work a block of bytes
// at a time: nearly all of a Lua script is ASCII, and a block without a byte of
// interest is copied or skipped whole. With SSE2 (every x86-64 CPU, and every
// CPU Windows 10 runs on) a block's marks come from vector compares; without it
// from 64-bit word arithmetic. VELMO_PORTABLE_KERNEL forces the word version so
// that it can be tested on a machine that has SSE2. Where the CPU also has
// SSSE3 (asked at run time: the Windows builds target every x86-64 CPU), the
// forward conversion expands 16 bytes at a time with byte shuffles.
#if defined(__SSE2__) && !defined(VELMO_PORTABLE_KERNEL)
#define VELMO_UMLAUTE_SSE2 1
#include <emmintrin.h>
#include <tmmintrin.h>
#else
#define VELMO_UMLAUTE_SSE2 0
#endif

namespace velmo {
namespace {

// For each byte: its second UTF-8 byte when it is one of the seven characters, else 0.
constexpr std::array<unsigned char, 256> MakeForwardTable() {
    std::array<unsigned char, 256> table{};
    for (const UmlautRow& row : kUmlautRows)
        table[row.single] = row.second;
    return table;
}
// For each second byte after 0xC3: the single character it stands for, else 0.
constexpr std::array<unsigned char, 256> MakeReverseTable() {
    std::array<unsigned char, 256> table{};
    for (const UmlautRow& row : kUmlautRows)
        table[row.second] = row.single;
    return table;
}
constexpr auto kForward = MakeForwardTable();
constexpr auto kReverse = MakeReverseTable();

// For each byte of the seven: how many bytes 80–BF behind it make it the start
// of a well-formed UTF-8 character that stays as it is; 0 where none does.
// E4 80–BF 80–BF is U+4000–U+4FFF (中 人 不 …), C4 80–BF U+0100–U+013F (ą č ę
// ğ …), D6 80–BF Armenian and Hebrew points. DF and DC with one such byte
// (NKo, Syriac) are also "ß…" and "Ü“" in Windows-1252, so they count only in a
// text that is all UTF-8. F6 and FC begin no UTF-8 character.
constexpr std::array<unsigned char, 256> MakeKeepTable(bool wholeTextIsUtf8) {
    std::array<unsigned char, 256> table{};
    table[0xE4] = 2;
    table[0xC4] = 1;
    table[0xD6] = 1;
    if (wholeTextIsUtf8) {
        table[0xDF] = 1;
        table[0xDC] = 1;
    }
    return table;
}
constexpr auto kKeepInText = MakeKeepTable(false);
constexpr auto kKeepInUtf8 = MakeKeepTable(true);
static_assert([] {
    for (int b = 0; b < 256; ++b)
        if (kKeepInUtf8[b] && !kForward[b])
            return false;
    return true;
}());

const unsigned char* KeepTable(bool wholeTextIsUtf8) {
    return (wholeTextIsUtf8 ? kKeepInUtf8 : kKeepInText).data();
}

inline unsigned IsContinuation(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}
// True when the byte at `at`, `left` bytes before the text's end, begins a
// character that stays UTF-8.
inline bool KeptNearEnd(const unsigned char* at, std::size_t left, const unsigned char* keep) {
    const unsigned need = keep[at[0]];
    if (need == 0 || left <= need)
        return false;
    for (unsigned k = 1; k <= need; ++k)
        if (!IsContinuation(at[k]))
            return false;
    return true;
}

// What the block loops rely on: only bytes 0x80 and above grow, and a pair's
// second byte is never 0xC3 itself.
static_assert([] {
    for (const UmlautRow& row : kUmlautRows)
        if (row.single < 0x80 || row.second == kUtf8Lead)
            return false;
    return true;
}());

// ---- Marks: for a block of 32 bytes, bit k set when byte k is of interest.

constexpr unsigned kBlock = 32;
using Marks = std::uint64_t;
// One bit behind the block: where a slot lands when no mark is left.
constexpr Marks kPastBlock = Marks{1} << kBlock;

#if VELMO_UMLAUTE_SSE2

inline __m128i Load16(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline Marks ToMarks(__m128i first, __m128i second) {
    return static_cast<unsigned>(_mm_movemask_epi8(first)) |
           Marks{static_cast<unsigned>(_mm_movemask_epi8(second))} << 16;
}
// Bytes 0x80 and above: the movemask takes each byte's top bit as it is.
inline Marks HighBytes(const unsigned char* block) {
    return ToMarks(Load16(block), Load16(block + 16));
}
inline Marks LeadBytes(const unsigned char* block) {
    const __m128i lead = _mm_set1_epi8(static_cast<char>(kUtf8Lead));
    return ToMarks(_mm_cmpeq_epi8(Load16(block), lead), _mm_cmpeq_epi8(Load16(block + 16), lead));
}

#else

constexpr std::uint64_t kTopBits = 0x8080808080808080u;
constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7Fu;

inline std::uint64_t Load64(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}
inline std::uint64_t Repeated(unsigned char byte) {
    return 0x0101010101010101u * byte;
}
// The top bit of each byte of x that is zero. A byte is zero exactly when
// neither its top bit nor its low seven bits are set (adding 0x7F to those
// carries into the top bit); no byte's carry reaches its neighbour.
inline std::uint64_t ZeroBytes(std::uint64_t x) {
    return ~(((x & kLowBits) + kLowBits) | x) & kTopBits;
}

// Marks for the eight bytes of a word that has nothing but top bits set: the
// multiplication gathers each byte's top bit into the result's top byte,
// byte k (in memory order, little-endian) at bit k, without carries.
inline Marks TopBitsToMarks(std::uint64_t topBits) {
    return ((topBits >> 7) * 0x0102040810204080u) >> 56;
}

// `topBitsOf` keeps, of each byte of a word, the top bit when the byte is of interest.
template <typename TopBitsOf>
inline Marks BlockMarks(const unsigned char* block, TopBitsOf topBitsOf) {
    Marks marks = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (unsigned k = 0; k < kBlock; k += 8)
            marks |= TopBitsToMarks(topBitsOf(Load64(block + k))) << k;
    } else {
        for (unsigned k = 0; k < kBlock; ++k)
            marks |= Marks{(topBitsOf(std::uint64_t{block[k]}) & 0x80) != 0} << k;
    }
    return marks;
}
inline Marks HighBytes(const unsigned char* block) {
    return BlockMarks(block, [](std::uint64_t word) { return word & kTopBits; });
}
inline Marks LeadBytes(const unsigned char* block) {
    return BlockMarks(block,
                      [](std::uint64_t word) { return ZeroBytes(word ^ Repeated(kUtf8Lead)); });
}

#endif

// Bytes that begin a character kept as UTF-8 (see MakeKeepTable): they are
// taken out of a block's marks and so copied as they are. The vector form
// tests the lead bytes the table names, and reads up to byte 33.
#if VELMO_UMLAUTE_SSE2

inline __m128i Equal(__m128i bytes, unsigned char byte) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(byte)));
}
// Bytes 80–BF: as signed bytes, those below 0xC0 (-64).
inline __m128i Continuation(const unsigned char* p) {
    return _mm_cmplt_epi8(Load16(p), _mm_set1_epi8(static_cast<char>(0xC0)));
}
template <bool wholeTextIsUtf8> inline __m128i KeptLeads(const unsigned char* p) {
    const __m128i here = Load16(p);
    __m128i two = _mm_or_si128(Equal(here, 0xC4), Equal(here, 0xD6));
    if constexpr (wholeTextIsUtf8)
        two = _mm_or_si128(two, _mm_or_si128(Equal(here, 0xDF), Equal(here, 0xDC)));
    const __m128i three = _mm_and_si128(Equal(here, 0xE4), Continuation(p + 2));
    return _mm_and_si128(_mm_or_si128(two, three), Continuation(p + 1));
}
template <bool wholeTextIsUtf8> inline Marks KeptMarks(const unsigned char* block) {
    return ToMarks(KeptLeads<wholeTextIsUtf8>(block), KeptLeads<wholeTextIsUtf8>(block + 16));
}

#else

template <bool wholeTextIsUtf8> inline Marks KeptMarks(const unsigned char* block) {
    const unsigned char* keep = KeepTable(wholeTextIsUtf8);
    Marks kept = 0;
    for (Marks marks = HighBytes(block); marks; marks &= marks - 1) {
        const unsigned p = static_cast<unsigned>(std::countr_zero(marks));
        if (KeptNearEnd(block + p, 3, keep))
            kept |= Marks{1} << p;
    }
    return kept;
}

#endif

inline unsigned LowestMark(Marks marks) {
    return static_cast<unsigned>(std::countr_zero(marks | kPastBlock));
}
// 0xFF while a mark is left, else 0: masks a table's answer without a branch.
inline unsigned char AnyMark(Marks marks) {
    return static_cast<unsigned char>(0u - static_cast<unsigned>(marks != 0));
}

// Copies 32 bytes between the input and the output (which never overlap). The
// copy may land on output written before: that is how a block's rest moves.
inline void Copy32(unsigned char* to, const unsigned char* from) {
    std::memcpy(to, from, kBlock);
}

// A block's 32 bytes, loaded once for its marks and its copy.
#if VELMO_UMLAUTE_SSE2
struct Block {
    __m128i first, second;
};
inline Block LoadBlock(const unsigned char* p) {
    return {Load16(p), Load16(p + 16)};
}
inline Marks HighBytes(const Block& block) {
    return ToMarks(block.first, block.second);
}
inline void StoreBlock(unsigned char* to, const Block& block) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block.first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), block.second);
}
#else
struct Block {
    const unsigned char* bytes;
};
inline Block LoadBlock(const unsigned char* p) {
    return {p};
}
inline Marks HighBytes(const Block& block) {
    return HighBytes(block.bytes);
}
inline void StoreBlock(unsigned char* to, const Block& block) {
    Copy32(to, block.bytes);
}
#endif

// How far past a block's start the block loops read and write: a slot at byte
// 32 (no mark left), the byte behind it, and the 32 bytes copied behind that.
constexpr std::size_t kReach = 2 * kBlock + 2;

// Number of bytes 0x80 and above: only these can grow, so that many bytes more
// than the text give the forward conversion room enough.
std::size_t CountHighBytes(const unsigned char* in, std::size_t n) {
    std::size_t count = 0;
    std::size_t i = 0;
#if VELMO_UMLAUTE_SSE2
    const __m128i zero = _mm_setzero_si128();
    auto high = [&](std::size_t at) { return _mm_cmplt_epi8(Load16(in + at), zero); };
    while (n - i >= 16) {
        // One counter per byte lane, one added per high byte (the compare gives
        // -1): 64 bytes a round add at most 4 to a lane, so the lanes are summed
        // up every 63 rounds, before one could overflow.
        __m128i lanes = zero;
        for (int round = 0; round < 63 && n - i >= 64; ++round, i += 64)
            lanes = _mm_sub_epi8(lanes, _mm_add_epi8(_mm_add_epi8(high(i), high(i + 16)),
                                                     _mm_add_epi8(high(i + 32), high(i + 48))));
        if (n - i < 64) {
            for (; n - i >= 16; i += 16)
                lanes = _mm_sub_epi8(lanes, high(i));
        }
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += static_cast<unsigned>(_mm_cvtsi128_si32(sums)) +
                 static_cast<unsigned>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#else
    for (; n - i >= kBlock; i += kBlock)
        count += static_cast<unsigned>(std::popcount(HighBytes(in + i)));
#endif
    for (; i < n; ++i)
        count += in[i] >> 7;
    return count;
}

// ---- Forward: each of the seven bytes becomes 0xC3 and its second byte.
//
// A block is copied whole to its place in the output first. Then each marked
// byte (0x80 and above) is handled in turn, lowest first: it is written in its
// converted form (or as it is), and the 32 input bytes behind it are copied
// again behind what was written, one place further on if it grew. Stores that
// reach past the block are overwritten by the next block's, so every byte ends
// at its place. Whether a block of German text holds an umlaut is too
// irregular for branch prediction, so every block's first slot runs without a
// branch: a slot with no mark left handles byte 32 (the next block's first),
// copying it unconverted to where it belongs anyway. A loop takes any further
// marks. (Measured: one such slot beats none and beats two or three.) Below
// 8 MiB, though, a block without a byte 0x80 or above skips the slots: for a
// text in the caches the skipped work outweighs the wrong guesses.

// Handles the lowest mark of `block`, whose output starts at `to`; `grown`
// counts the bytes the block has gained so far.
inline void ForwardSlot(const unsigned char* block, unsigned char* to, std::size_t& grown,
                        Marks& marks) {
    const unsigned p = LowestMark(marks);
    const unsigned char byte = block[p];
    const unsigned char second = kForward[byte] & AnyMark(marks);
    to[grown + p] = second ? kUtf8Lead : byte;
    to[grown + p + 1] = second;
    grown += second != 0;
    Copy32(to + grown + p + 1, block + p + 1);
    marks &= marks - 1;
}

#if VELMO_UMLAUTE_SSE2

// ---- Forward with SSSE3: a block's 16 bytes expanded at once.
//
// The seven bytes are told apart from all others by two shuffles: one table
// by the high half of a byte, one by the low half, and a byte is of the seven
// when the two answers share a bit. Each bit is one group of the seven whose
// halves form a rectangle, so no other byte gets an answer:
//   1: C4 E4 (high C or E, low 4), 2: D6, 4: DC DF, 8: F6 FC.
// Groups 1 and 2 are the bytes that can begin a character kept as UTF-8, and
// group 4 too when the whole text is UTF-8 (see MakeKeepTable).
constexpr unsigned char kGroupsByHigh[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2 | 4, 1, 8};
constexpr unsigned char kGroupsByLow[16] = {0, 0, 0, 0, 1, 0, 2 | 8, 0, 0, 0, 0, 0, 4 | 8, 0, 0, 4};
constexpr unsigned char kKeepGroupsInText = 1 | 2;
constexpr unsigned char kKeepGroupsInUtf8 = 1 | 2 | 4;
constexpr unsigned char Groups(unsigned byte) {
    return kGroupsByHigh[byte >> 4] & kGroupsByLow[byte & 15];
}
static_assert([] {
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned char groups = Groups(b);
        if ((groups != 0) != (kForward[b] != 0) ||
            ((groups & kKeepGroupsInText) != 0) != (kKeepInText[b] != 0) ||
            ((groups & kKeepGroupsInUtf8) != 0) != (kKeepInUtf8[b] != 0))
            return false;
    }
    return true;
}());

// A pair's second byte is its single byte without bit 6 (all seven are C0 and
// above: UTF-8 writes U+00C0–U+00FF as C3 and the byte less 0x40), so an
// expanded byte is the byte shuffled in twice, XOR-ed to C3 and to its second.
static_assert([] {
    for (const UmlautRow& row : kUmlautRows)
        if ((row.single & 0x40) == 0 || (row.single ^ 0x40) != row.second)
            return false;
    return true;
}());

// For each choice of marked bytes among 8: the shuffle that writes the 8 bytes
// with each marked one twice, and what to XOR into the result.
struct Expansion {
    alignas(16) unsigned char shuffle[16];
    alignas(16) unsigned char flip[16];
};
constexpr std::array<Expansion, 256> MakeExpansions() {
    std::array<Expansion, 256> table{};
    for (unsigned marks = 0; marks < 256; ++marks) {
        Expansion& e = table[marks];
        unsigned o = 0;
        for (unsigned char k = 0; k < 8; ++k) {
            if (marks >> k & 1) {
                e.shuffle[o] = 0x80; // a zero, XOR-ed to the lead byte
                e.flip[o++] = kUtf8Lead;
                e.shuffle[o] = k;
                e.flip[o++] = 0x40;
            } else {
                e.shuffle[o++] = k;
            }
        }
        for (; o < 16; ++o)
            e.shuffle[o] = 0x80;
    }
    return table;
}
constexpr auto kExpansions = MakeExpansions();
// How many bytes 8 bytes grow by with these marks.
constexpr std::array<unsigned char, 256> kGrowth = [] {
    std::array<unsigned char, 256> table{};
    for (unsigned marks = 0; marks < 256; ++marks)
        table[marks] = static_cast<unsigned char>(std::popcount(marks));
    return table;
}();

// Of the marks in `candidates` (bytes that may begin a kept character and are
// followed by a byte 80–BF), those that do begin one.
template <bool wholeTextIsUtf8>
unsigned KeptAmong(const unsigned char* block, unsigned candidates) {
    const unsigned char* keep = KeepTable(wholeTextIsUtf8);
    unsigned kept = 0;
    for (; candidates; candidates &= candidates - 1) {
        const unsigned p = static_cast<unsigned>(std::countr_zero(candidates));
        if (KeptNearEnd(block + p, 3, keep))
            kept |= 1u << p;
    }
    return kept;
}

// The first 8 bytes of `eight`, with the marked ones expanded.
[[gnu::target("ssse3")]] inline __m128i Expand8(__m128i eight, const Expansion& e) {
    return _mm_xor_si128(
        _mm_shuffle_epi8(eight, _mm_load_si128(reinterpret_cast<const __m128i*>(e.shuffle))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(e.flip)));
}

// Writes the two-character form of the 16 bytes at `block` (loaded: `bytes`)
// to `to` and returns its length. Reads up to byte 17, writes up to 32 bytes
// (those behind the length are overwritten by the next block's).
template <bool wholeTextIsUtf8>
[[gnu::target("ssse3")]] inline std::size_t Expand16(const unsigned char* block, __m128i bytes,
                                                     unsigned char* to) {
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i zero = _mm_setzero_si128();
    const __m128i byHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kGroupsByHigh));
    const __m128i byLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kGroupsByLow));
    const __m128i groups =
        _mm_and_si128(_mm_shuffle_epi8(byHigh, _mm_and_si128(_mm_srli_epi16(bytes, 4), low)),
                      _mm_shuffle_epi8(byLow, _mm_and_si128(bytes, low)));
    unsigned marks =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(groups, zero))) & 0xFFFF;
    // Bytes that may begin a kept character and have a byte 80–BF behind
    // them: rare in either kind of text, and then looked at one by one.
    const __m128i keepGroups =
        _mm_set1_epi8(static_cast<char>(wholeTextIsUtf8 ? kKeepGroupsInUtf8 : kKeepGroupsInText));
    const __m128i notKeepable = _mm_cmpeq_epi8(_mm_and_si128(groups, keepGroups), zero);
    if (const auto candidates = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_andnot_si128(notKeepable, Continuation(block + 1))))) [[unlikely]]
        marks &= ~KeptAmong<wholeTextIsUtf8>(block, candidates);

    const Expansion& first = kExpansions[marks & 0xFF];
    const Expansion& second = kExpansions[marks >> 8];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), Expand8(bytes, first));
    const std::size_t half = 8 + kGrowth[marks & 0xFF];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + half),
                     Expand8(_mm_srli_si128(bytes, 8), second));
    return half + 8 + kGrowth[marks >> 8];
}

// Expand16, or a copy when none of the 16 bytes is 0x80 or above (`high`
// marks those that are).
template <bool wholeTextIsUtf8>
[[gnu::target("ssse3")]] inline std::size_t ConvertHalf(const unsigned char* block, __m128i bytes,
                                                        unsigned char* to, Marks high) {
    if (high == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
        return 16;
    }
    return Expand16<wholeTextIsUtf8>(block, bytes, to);
}

#endif

// Writes the two-character form of in[0, n) to `out` and returns its length.
// `out` has room for n + CountHighBytes(in, n) bytes. A block without a byte
// 0x80 or above (most of a script) is copied as it is; any other is expanded
// by the slots above, or with SSSE3 16 bytes at a time. Whether a block has
// such a byte is a branch that German text makes hard to predict; while the
// text comes from the caches, a wrong guess costs less than converting every
// block, but for a text read from memory the guess waits for the memory: the
// BranchFree kernels convert every block.
template <bool wholeTextIsUtf8, ForwardKernel kernel>
[[gnu::always_inline]] inline std::size_t ConvertForward(const unsigned char* in, std::size_t n,
                                                         unsigned char* out) {
    const unsigned char* keep = KeepTable(wholeTextIsUtf8);
    std::size_t i = 0; // the block's start in the input
    std::size_t o = 0; // and in the output
    while (n - i >= kReach) {
#if VELMO_UMLAUTE_SSE2
        if constexpr (kernel == ForwardKernel::Ssse3BranchFree) {
            o += Expand16<wholeTextIsUtf8>(in + i, Load16(in + i), out + o);
            o += Expand16<wholeTextIsUtf8>(in + i + 16, Load16(in + i + 16), out + o);
            i += kBlock;
            continue;
        }
#endif
        const Block block = LoadBlock(in + i);
        const Marks high = HighBytes(block);
        if (kernel != ForwardKernel::BaselineBranchFree && high == 0) {
            StoreBlock(out + o, block);
            i += kBlock;
            o += kBlock;
            continue;
        }
#if VELMO_UMLAUTE_SSE2
        if constexpr (kernel == ForwardKernel::Ssse3) {
            // Each half again: a half without a byte 0x80 or above is copied.
            o += ConvertHalf<wholeTextIsUtf8>(in + i, block.first, out + o, high & 0xFFFF);
            o += ConvertHalf<wholeTextIsUtf8>(in + i + 16, block.second, out + o, high >> 16);
            i += kBlock;
            continue;
        }
#endif
        Copy32(out + o, in + i);
        Marks marks = high & ~KeptMarks<wholeTextIsUtf8>(in + i);
        std::size_t grown = 0;
        ForwardSlot(in + i, out + o, grown, marks);
        while (marks)
            ForwardSlot(in + i, out + o, grown, marks);
        i += kBlock;
        o += kBlock + grown;
    }
    for (; i < n; ++i) {
        if (const unsigned char second = kForward[in[i]];
            second && !KeptNearEnd(in + i, n - i, keep)) {
            out[o++] = kUtf8Lead;
            out[o++] = second;
        } else {
            out[o++] = in[i];
        }
    }
    return o;
}

using ForwardFunction = std::size_t (*)(const unsigned char*, std::size_t, unsigned char*);

template <bool wholeTextIsUtf8, ForwardKernel kernel>
std::size_t ConvertForwardBaseline(const unsigned char* in, std::size_t n, unsigned char* out) {
    return ConvertForward<wholeTextIsUtf8, kernel>(in, n, out);
}

#if VELMO_UMLAUTE_SSE2
template <bool wholeTextIsUtf8, ForwardKernel kernel>
[[gnu::target("ssse3")]] std::size_t ConvertForwardSsse3(const unsigned char* in, std::size_t n,
                                                         unsigned char* out) {
    return ConvertForward<wholeTextIsUtf8, kernel>(in, n, out);
}

bool CpuHasSsse3() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}
#endif

// From this size on a text is taken to come from memory rather than from the
// caches, and both directions leave out the branch on a block's bytes
// (measured on the benchmark's 1 MiB and 64 MiB texts).
constexpr std::size_t kBranchFreeFrom = std::size_t{8} << 20;

ForwardFunction ForwardFunctionOf(bool wholeTextIsUtf8, ForwardKernel kernel) {
#if VELMO_UMLAUTE_SSE2
    if (kernel == ForwardKernel::Ssse3)
        return wholeTextIsUtf8 ? ConvertForwardSsse3<true, ForwardKernel::Ssse3>
                               : ConvertForwardSsse3<false, ForwardKernel::Ssse3>;
    if (kernel == ForwardKernel::Ssse3BranchFree)
        return wholeTextIsUtf8 ? ConvertForwardSsse3<true, ForwardKernel::Ssse3BranchFree>
                               : ConvertForwardSsse3<false, ForwardKernel::Ssse3BranchFree>;
#endif
    if (kernel == ForwardKernel::BaselineBranchFree)
        return wholeTextIsUtf8 ? ConvertForwardBaseline<true, ForwardKernel::BaselineBranchFree>
                               : ConvertForwardBaseline<false, ForwardKernel::BaselineBranchFree>;
    return wholeTextIsUtf8 ? ConvertForwardBaseline<true, ForwardKernel::Baseline>
                           : ConvertForwardBaseline<false, ForwardKernel::Baseline>;
}

// Whether this CPU has SSSE3, asked once: the Windows builds are made for
// every x86 CPU with SSE2, and SSSE3 came later.
bool HasSsse3() {
#if VELMO_UMLAUTE_SSE2
    static const bool ssse3 = CpuHasSsse3();
    return ssse3;
#else
    return false;
#endif
}

// ---- Reverse: each 0xC3 followed by one of the seven second bytes becomes the single byte.
//
// The same scheme with 0xC3 as the mark: a pair is written as its one byte and
// the bytes behind it move one place back. A pair that starts in a block's last
// byte ends in the next block's first; blocks still start every 32 bytes (a
// start that depended on the marks would make each block wait for the last),
// and the next block puts the pair's byte back where its copy overwrote it.

// `shrunk` counts the bytes the block has lost so far. With no mark left the
// slot handles byte 32 as a plain byte, which rewrites it in place, or, when a
// pair in byte 31 took it, overwrites that pair's byte (put back as above).
inline void ReverseSlot(const unsigned char* block, unsigned char* to, std::size_t& shrunk,
                        Marks& marks) {
    const unsigned p = LowestMark(marks);
    const unsigned char byte = block[p];
    const unsigned char single = kReverse[block[p + 1]] & AnyMark(marks);
    const unsigned pair = single != 0;
    to[p - shrunk] = pair ? single : byte;
    shrunk += pair;
    const unsigned rest = p + 1 + pair; // the first input byte behind what was handled
    Copy32(to + rest - shrunk, block + rest);
    marks &= marks - 1;
}

// Writes the single-character form of in[0, n) to `out` (room for n bytes) and
// returns its length.
template <bool skipPlainBlocks>
std::size_t ConvertReverse(const unsigned char* in, std::size_t n, unsigned char* out) {
    // The single byte of a pair that ends with in[i], or 0. (A pair's second
    // byte is never 0xC3, so the 0xC3 before it cannot belong to an earlier pair.)
    auto pairEndingAt = [in](std::size_t i) -> unsigned char {
        return i > 0 && in[i - 1] == kUtf8Lead ? kReverse[in[i]] : 0;
    };
    std::size_t i = 0;
    std::size_t o = 0;
    while (n - i >= kReach) {
        Copy32(out + o, in + i);
        if (const unsigned char single = pairEndingAt(i))
            out[o] = single;
        Marks marks = LeadBytes(in + i);
        // A block without 0xC3 (most of a script) is done with its copy;
        // for a text from memory, the branch costs more than the slot.
        if (skipPlainBlocks && marks == 0) {
            i += kBlock;
            o += kBlock;
            continue;
        }
        std::size_t shrunk = 0;
        ReverseSlot(in + i, out + o, shrunk, marks);
        while (marks)
            ReverseSlot(in + i, out + o, shrunk, marks);
        i += kBlock;
        o += kBlock - shrunk;
    }
    if (const unsigned char single = i < n ? pairEndingAt(i) : 0) {
        out[o++] = single;
        ++i;
    }
    while (i < n) {
        if (in[i] == kUtf8Lead && n - i >= 2) {
            if (const unsigned char single = kReverse[in[i + 1]]) {
                out[o++] = single;
                i += 2;
                continue;
            }
        }
        out[o++] = in[i++];
    }
    return o;
}

// ---- Counting: what the conversions would do, without writing it.
//
// A check only needs to know how many characters convert and which bytes stay
// as UTF-8, so it looks at each block's marks and counts their bits: the
// bytes of the seven, and of those the ones that begin a character kept as
// UTF-8 in any text and in a text that is all UTF-8.

#if VELMO_UMLAUTE_SSE2
// The seven by one compare each, after folding bit 5 in: C4 and E4 fold to
// E4, D6 and F6 to F6, DC and FC to FC; DF is compared as it is (it folds to
// FF, which is none of the seven).
inline __m128i SevenAmong(__m128i bytes) {
    const __m128i folded = _mm_or_si128(bytes, _mm_set1_epi8(0x20));
    return _mm_or_si128(_mm_or_si128(Equal(folded, 0xE4), Equal(folded, 0xF6)),
                        _mm_or_si128(Equal(folded, 0xFC), Equal(bytes, 0xDF)));
}
#endif
constexpr bool SevenByFolding(unsigned byte) {
    const unsigned folded = byte | 0x20;
    return folded == 0xE4 || folded == 0xF6 || folded == 0xFC || byte == 0xDF;
}
static_assert([] {
    for (unsigned b = 0; b < 256; ++b)
        if (SevenByFolding(b) != (kForward[b] != 0) ||
            SevenByFolding(b ^ 0x40) != (kReverse[b] != 0))
            return false;
    return true;
}());

// Bytes of the seven in a block (reads its 32 bytes).
inline Marks SevenMarks(const unsigned char* block) {
#if VELMO_UMLAUTE_SSE2
    return ToMarks(SevenAmong(Load16(block)), SevenAmong(Load16(block + 16)));
#else
    Marks seven = 0;
    for (Marks marks = HighBytes(block); marks; marks &= marks - 1) {
        const unsigned p = static_cast<unsigned>(std::countr_zero(marks));
        if (kForward[block[p]])
            seven |= Marks{1} << p;
    }
    return seven;
#endif
}

// 0xC3 followed by a pair's second byte, marked at the 0xC3 (reads 33 bytes).
// A second byte is a single one with bit 6 flipped (see the static_assert above).
inline Marks PairMarks(const unsigned char* block) {
#if VELMO_UMLAUTE_SSE2
    const __m128i flip = _mm_set1_epi8(0x40);
    const auto pairs = [&](const unsigned char* p) {
        return _mm_and_si128(Equal(Load16(p), kUtf8Lead),
                             SevenAmong(_mm_xor_si128(Load16(p + 1), flip)));
    };
    return ToMarks(pairs(block), pairs(block + 16));
#else
    Marks pairs = 0;
    for (Marks marks = LeadBytes(block); marks; marks &= marks - 1) {
        const unsigned p = static_cast<unsigned>(std::countr_zero(marks));
        if (kReverse[block[p + 1]])
            pairs |= Marks{1} << p;
    }
    return pairs;
#endif
}

// The bytes of the seven in a text, and those of them kept as UTF-8 in any
// text and in a text that is all UTF-8. With `stopAtConversion` the survey
// ends with the first block holding a byte of the seven that is kept in
// neither: a byte the forward conversion converts whatever the rest holds (its
// place already makes the text ill-formed UTF-8).
struct SevenSurvey {
    std::size_t seven = 0;
    KeptAsUtf8 inText, inUtf8;
    bool stopped = false;
};

inline void NoteKept(KeptAsUtf8& kept, Marks marks, std::size_t at) {
    if (marks == 0)
        return;
    if (kept.count == 0)
        kept.first = at + static_cast<unsigned>(std::countr_zero(marks));
    kept.count += static_cast<unsigned>(std::popcount(marks));
}

#if VELMO_UMLAUTE_SSE2
// Lane counters as CountHighBytes keeps them: each byte lane of `lanes` counts
// the marked bytes (-1 each) of its place, at most 4 in a round of 64 bytes, so
// they are summed up every 63 rounds, before one could overflow.
constexpr int kRoundsPerSum = 63;
inline std::size_t SumLanes(__m128i lanes) {
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    return static_cast<unsigned>(_mm_cvtsi128_si32(sums)) +
           static_cast<unsigned>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}
inline __m128i CountIn(__m128i lanes, __m128i a, __m128i b, __m128i c, __m128i d) {
    return _mm_sub_epi8(lanes, _mm_add_epi8(_mm_add_epi8(a, b), _mm_add_epi8(c, d)));
}
#endif

template <bool stopAtConversion> SevenSurvey SurveySeven(const unsigned char* in, std::size_t n) {
    SevenSurvey survey;
    survey.inText.first = survey.inUtf8.first = n;
    // The bytes kept in the 32-byte block at `at`, whose bytes of the seven
    // are `seven`; true where the survey stops there.
    const auto keptIn = [&](std::size_t at, Marks seven) {
        const Marks inUtf8 = KeptMarks<true>(in + at);
        NoteKept(survey.inText, KeptMarks<false>(in + at), at);
        NoteKept(survey.inUtf8, inUtf8, at);
        return stopAtConversion && (seven & ~inUtf8) != 0;
    };
    std::size_t i = 0;
#if VELMO_UMLAUTE_SSE2
    // 64 bytes a round. The seven are counted in lane counters without a
    // branch; kept characters are looked for only where one of the seven is
    // followed by a byte 80-BF, which Windows-1252 text next to never has
    // (a stop is looked for wherever one of the seven is). A round reads two
    // bytes past its end.
    constexpr std::size_t kRound = 2 * kBlock;
    const auto look = [&](__m128i seven, const unsigned char* at) {
        return stopAtConversion ? seven : _mm_and_si128(seven, Continuation(at + 1));
    };
    while (n - i >= kRound + 2) {
        __m128i lanes = _mm_setzero_si128();
        for (int round = 0; round < kRoundsPerSum && n - i >= kRound + 2; ++round, i += kRound) {
            const unsigned char* at = in + i;
            const __m128i s0 = SevenAmong(Load16(at)), s1 = SevenAmong(Load16(at + 16));
            const __m128i s2 = SevenAmong(Load16(at + 32)), s3 = SevenAmong(Load16(at + 48));
            lanes = CountIn(lanes, s0, s1, s2, s3);
            const __m128i looked = _mm_or_si128(_mm_or_si128(look(s0, at), look(s1, at + 16)),
                                                _mm_or_si128(look(s2, at + 32), look(s3, at + 48)));
            if (_mm_movemask_epi8(looked) == 0) [[likely]]
                continue;
            const Marks first = ToMarks(s0, s1), second = ToMarks(s2, s3);
            if ((first != 0 && keptIn(i, first)) || (second != 0 && keptIn(i + kBlock, second))) {
                survey.seven += SumLanes(lanes);
                survey.stopped = true;
                return survey;
            }
        }
        survey.seven += SumLanes(lanes);
    }
#endif
    // The kept marks read two bytes past a block.
    for (; n - i >= kBlock + 2; i += kBlock) {
        const Marks seven = SevenMarks(in + i);
        if (seven == 0)
            continue;
        survey.seven += static_cast<unsigned>(std::popcount(seven));
        if (keptIn(i, seven)) {
            survey.stopped = true;
            return survey;
        }
    }
    for (; i < n; ++i) {
        if (!kForward[in[i]])
            continue;
        ++survey.seven;
        const bool inUtf8 = KeptNearEnd(in + i, n - i, kKeepInUtf8.data());
        NoteKept(survey.inText, KeptNearEnd(in + i, n - i, kKeepInText.data()), i);
        NoteKept(survey.inUtf8, inUtf8, i);
        if (stopAtConversion && !inUtf8) {
            survey.stopped = true;
            return survey;
        }
    }
    return survey;
}

// ---- The guard word

constexpr std::string_view kGuard = "UMLAUTE";
// OR-ing 0x20 turns an ASCII capital into its small letter and leaves the small
// letter as it is; no other byte becomes a letter that way, so comparing the
// folded byte with the small letter finds exactly the two spellings of it.
constexpr unsigned char kFoldCase = 0x20;

bool GuardWordAt(const unsigned char* at) {
    for (std::size_t k = 0; k < kGuard.size(); ++k)
        if ((at[k] | kFoldCase) != (static_cast<unsigned char>(kGuard[k]) | kFoldCase))
            return false;
    return true;
}

// A string of `size` bytes, to be overwritten. A size beyond what a string can
// hold (only reachable in a 32-bit process) is reported like any other
// shortage of memory, which the conversion actions report to the user.
std::string StringOfSize(std::size_t size) {
    std::string text;
    if (size > text.max_size())
        throw std::bad_alloc();
    text.resize(size);
    return text;
}

} // namespace

std::size_t TwoCharacterFormRoom(std::string_view text) {
    // The worst the text allows: a script with 2 % umlauts needs 2 % more
    // room, not twice its size.
    const std::size_t high =
        CountHighBytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    if (high > std::numeric_limits<std::size_t>::max() - text.size())
        throw std::bad_alloc();
    return text.size() + high;
}

std::size_t UmlauteToTwoCharacterForm(std::string_view text, char* out, bool wholeTextIsUtf8) {
    const bool inCaches = text.size() < kBranchFreeFrom;
    const ForwardKernel kernel =
        HasSsse3() ? (inCaches ? ForwardKernel::Ssse3 : ForwardKernel::Ssse3BranchFree)
                   : (inCaches ? ForwardKernel::Baseline : ForwardKernel::BaselineBranchFree);
    return UmlauteToTwoCharacterForm(text, out, wholeTextIsUtf8, kernel);
}

bool HasForwardKernel(ForwardKernel kernel) {
    return kernel == ForwardKernel::Baseline || kernel == ForwardKernel::BaselineBranchFree ||
           HasSsse3();
}

std::size_t UmlauteToTwoCharacterForm(std::string_view text, char* out, bool wholeTextIsUtf8,
                                      ForwardKernel kernel) {
    if (!HasForwardKernel(kernel))
        kernel = ForwardKernel::Baseline;
    return ForwardFunctionOf(wholeTextIsUtf8,
                             kernel)(reinterpret_cast<const unsigned char*>(text.data()),
                                     text.size(), reinterpret_cast<unsigned char*>(out));
}

std::size_t UmlauteToSingleCharacter(std::string_view text, char* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    auto* to = reinterpret_cast<unsigned char*>(out);
    return text.size() < kBranchFreeFrom ? ConvertReverse<true>(in, text.size(), to)
                                         : ConvertReverse<false>(in, text.size(), to);
}

std::string UmlauteToTwoCharacterForm(std::string_view text) {
    // Sized once, then cut to what was written. Without a byte above 127 there
    // is nothing to decide.
    const std::size_t room = TwoCharacterFormRoom(text);
    if (room == text.size())
        return std::string(text);
    std::string out = StringOfSize(room);
    out.resize(UmlauteToTwoCharacterForm(text, out.data(), IsWellFormedUtf8(text)));
    return out;
}

std::string UmlauteToSingleCharacter(std::string_view text) {
    std::string out = StringOfSize(text.size());
    out.resize(UmlauteToSingleCharacter(text, out.data()));
    return out;
}

bool IsWellFormedUtf8(std::string_view text) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // Runs of ASCII, nearly all of a script, are passed a block at a time.
        while (n - i >= kBlock && HighBytes(in + i) == 0)
            i += kBlock;
        if (i == n)
            break;
        const unsigned char lead = in[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length and the range of the second byte by the lead byte; the
        // narrower ranges rule out overlong forms, surrogates and code points
        // above U+10FFFF.
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        else
            return false;
        if (n - i < length || in[i + 1] < low || in[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k)
            if (!IsContinuation(in[i + k]))
                return false;
        i += length;
    }
    return true;
}

KeptAsUtf8 FindKeptAsUtf8(std::string_view text, bool wholeTextIsUtf8) {
    const SevenSurvey survey =
        SurveySeven<false>(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return wholeTextIsUtf8 ? survey.inUtf8 : survey.inText;
}

ForwardCount CountTwoCharacterForm(std::string_view text, bool untilFirstConversion) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const SevenSurvey survey = untilFirstConversion ? SurveySeven<true>(in, text.size())
                                                    : SurveySeven<false>(in, text.size());
    if (survey.stopped)
        return {survey.seven - survey.inText.count, survey.inText, false};
    // Only where every byte of the seven could begin a UTF-8 character does
    // the whole text decide; any other byte of the seven makes it ill-formed.
    if (survey.seven > 0 && survey.seven == survey.inUtf8.count && IsWellFormedUtf8(text))
        return {0, survey.inUtf8, true};
    return {survey.seven - survey.inText.count, survey.inText, true};
}

std::size_t CountSingleCharacter(std::string_view text, bool untilFirst) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t pairs = 0;
    std::size_t i = 0;
    // A pair's second byte is never 0xC3, so pairs never overlap and each
    // 0xC3 before a second byte is one. The marks read one byte past a block.
#if VELMO_UMLAUTE_SSE2
    const __m128i lead = _mm_set1_epi8(static_cast<char>(kUtf8Lead));
    const __m128i flip = _mm_set1_epi8(0x40);
    const auto pairsAt = [&](std::size_t at) {
        return _mm_and_si128(_mm_cmpeq_epi8(Load16(in + at), lead),
                             SevenAmong(_mm_xor_si128(Load16(in + at + 1), flip)));
    };
    constexpr std::size_t kRound = 2 * kBlock;
    while (n - i >= kRound + 1) {
        __m128i lanes = _mm_setzero_si128();
        for (int round = 0; round < kRoundsPerSum && n - i >= kRound + 1; ++round, i += kRound)
            lanes = CountIn(lanes, pairsAt(i), pairsAt(i + 16), pairsAt(i + 32), pairsAt(i + 48));
        pairs += SumLanes(lanes);
        if (untilFirst && pairs > 0)
            return pairs;
    }
#endif
    for (; n - i >= kBlock + 1; i += kBlock) {
        pairs += static_cast<unsigned>(std::popcount(PairMarks(in + i)));
        if (untilFirst && pairs > 0)
            return pairs;
    }
    for (; n - i >= 2; ++i)
        pairs += in[i] == kUtf8Lead && kReverse[in[i + 1]] != 0;
    return pairs;
}

bool ContainsGuardWord(std::string_view text) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    if (n < kGuard.size())
        return false;
    std::size_t i = 0; // the next place the word could start
#if VELMO_UMLAUTE_SSE2
    // Only a place with a U or u there and an E or e six bytes on can hold the
    // word; sixteen places are tested at once, and the whole word only there.
    const std::size_t last = kGuard.size() - 1;
    const __m128i fold = _mm_set1_epi8(static_cast<char>(kFoldCase));
    const __m128i first = _mm_set1_epi8(static_cast<char>(kGuard.front() | kFoldCase));
    const __m128i end = _mm_set1_epi8(static_cast<char>(kGuard.back() | kFoldCase));
    for (; n - i >= 16 + last; i += 16) {
        const __m128i starts = _mm_cmpeq_epi8(_mm_or_si128(Load16(in + i), fold), first);
        const __m128i ends = _mm_cmpeq_epi8(_mm_or_si128(Load16(in + i + last), fold), end);
        for (auto marks = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(starts, ends)));
             marks; marks &= marks - 1)
            if (GuardWordAt(in + i + static_cast<unsigned>(std::countr_zero(marks))))
                return true;
    }
#else
    // The same test eight places at a time, in 64-bit words (byte k of a word
    // at its bits 8k to 8k+7 needs little-endian order).
    if constexpr (std::endian::native == std::endian::little) {
        const std::size_t last = kGuard.size() - 1;
        const std::uint64_t fold = Repeated(kFoldCase);
        const std::uint64_t first = Repeated(kGuard.front() | kFoldCase);
        const std::uint64_t end = Repeated(kGuard.back() | kFoldCase);
        for (; n - i >= 8 + last; i += 8) {
            for (std::uint64_t marks = ZeroBytes((Load64(in + i) | fold) ^ first) &
                                       ZeroBytes((Load64(in + i + last) | fold) ^ end);
                 marks; marks &= marks - 1)
                if (GuardWordAt(in + i + static_cast<unsigned>(std::countr_zero(marks)) / 8))
                    return true;
        }
    }
#endif
    for (; n - i >= kGuard.size(); ++i)
        if (GuardWordAt(in + i))
            return true;
    return false;
}

} // namespace velmo
