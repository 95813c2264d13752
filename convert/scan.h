// Finding the bytes both formats give a meaning to: a chunk of the input is classified at a time into
// bit masks, one bit a byte, and lines and fields are found in the masks.
#ifndef FERRYLINE_SCAN_H
#define FERRYLINE_SCAN_H

#include <stddef.h>
#include <stdint.h>

#include "convert/words.h"

namespace ferryline {

// Bytes classified at a time, and the 64-bit words of each class's mask.
const size_t kChunkSize = 4096;
const size_t kChunkWords = kChunkSize / 64;

// The three classes of bytes that matter to one converter, bit i of word w for byte 64 w + i of the
// chunk. A Mac line ends at a line break or a zero byte, needs its markers (& # ^ +) replaced and splits
// at its first '<'; a W95 field ends at a marker or a zero byte, loses its line breaks, and its name is
// quoted when it holds a character of kNameSpecials. Each mask has one word more than the chunk, always
// zero, so that MaskFrom may read eight bytes from the byte that holds any bit of the chunk.
struct ChunkClasses {
    uint64_t ends[kChunkWords + 1];    // Mac: CR, LF, the zero byte. W95: the markers, the zero byte.
    uint64_t second[kChunkWords + 1];  // Mac: the markers. W95: CR, LF.
    uint64_t third[kChunkWords + 1];   // Mac: <. W95: the characters that make a name quoted.
    size_t highBytes;                  // the chunk's bytes above 127, which a user may be told of
};

// Classifies the `size` bytes (1 to kChunkSize) at `chunk` for one converter, reading no byte past
// them, with every bit past them zero.
typedef void (*ClassifyFunction)(const char* chunk, size_t size, ChunkClasses* classes);

struct Classifiers {
    ClassifyFunction mac;
    ClassifyFunction w95;
};

// The portable ones, a word of eight bytes at a time.
void ClassifyMacBytes(const char* chunk, size_t size, ChunkClasses* classes);
void ClassifyW95Bytes(const char* chunk, size_t size, ChunkClasses* classes);

// The fastest this processor runs: the portable ones, or their twins from an instruction-set path,
// which give exactly the same classes.
Classifiers ChooseClassifiers();

// For a classifier of whole 64-byte blocks: a chunk that ends in part of a block is classified the
// portable way first (its whole blocks are then done again, faster), any other has the words past it
// zeroed. Returns how many bytes the whole blocks hold.
size_t StartBlockClassify(const char* chunk, size_t size, bool mac, ChunkClasses* classes);

// The instruction-set paths, each in a file of its own that CMake builds only for x86 processors
// (scan_avx2.cpp, scan_sse2.cpp; scan_no_wide.cpp stands in for both elsewhere): true with its
// functions when the processor runs them, false otherwise.
bool GetAvx2Classifiers(Classifiers* classifiers);
bool GetSse2Classifiers(Classifiers* classifiers);

// A walk through a span, chunk by chunk. Cheapest when each run starts after the one before, as a
// parser moving forward starts them; any order is right.
struct Scan {
    const char* bytes;
    size_t size;
    size_t chunk;      // where the classified chunk starts
    size_t chunkSize;  // 0 before the first
    ClassifyFunction classify;
    ChunkClasses classes;
    size_t highBytes;  // the bytes above 127 before `counted`, counted as their chunks were classified
    size_t counted;
};

void StartScan(Scan* scan, const char* bytes, size_t size, ClassifyFunction classify);

// The bytes above 127 in the whole span: those of the chunks classified so far, the rest counted now.
size_t ScannedHighBytes(const Scan* scan);

// The bytes above 127 among `size` bytes, eight at a time.
size_t CountHighBytes(const char* bytes, size_t size);

// A word's bytes above 127.
inline size_t HighBytesOf(uint64_t word)
{
    return static_cast<size_t>((((word >> 7) & kByteOnes) * kByteOnes) >> 56);
}

// The bits of a mask from bit `at` of the chunk on, with one load from the byte that holds it: at least
// the next 57 (64 less `at` % 8), and the ones past those zero, as if the chunk ended there. A run whose
// end is not among them is found by ScanRunSlowly.
inline uint64_t MaskFrom(const uint64_t* mask, size_t at)
{
    return LoadLittleEndian(reinterpret_cast<const char*>(mask) + at / 8) >> (at % 8);
}

// Sets `bits` in word `word` of a mask, kept in memory as little-endian bytes on any machine, so that
// MaskFrom may read it from any byte.
inline void AddToMask(uint64_t* mask, size_t word, uint64_t bits)
{
    char* at = reinterpret_cast<char*>(mask + word);
    StoreLittleEndian(at, LoadLittleEndian(at) | bits);
}

// Classifies the chunk that holds `at` (inside the span); for IntoChunk.
void ClassifyChunkAt(Scan* scan, size_t at);

// Makes the chunk that holds `at` (inside the span) the classified one; returns `at` in that chunk.
inline size_t IntoChunk(Scan* scan, size_t at)
{
    size_t into = at - scan->chunk;  // wraps, and so fails the test, when `at` is before the chunk
    if (into >= scan->chunkSize) {
        ClassifyChunkAt(scan, at);
        into = at - scan->chunk;
    }
    return into;
}

// The bits below the lowest set bit of `ends`, or all bits when none is set.
inline uint64_t BitsBefore(uint64_t ends)
{
    return ends != 0 ? (ends & (~ends + 1)) - 1 : ~uint64_t{0};
}

// The classes of the bytes from `base` that MaskFrom gives (57 or more, fewer at the end of a chunk,
// the bits past them zero). A reader of many short runs in a row finds each run inside it with a shift
// of bits already loaded, so that the end of one run is not waited for through a load to find the next.
struct ScanWindow {
    const char* base;
    uint64_t ends;
    uint64_t second;
    uint64_t third;
};

// The window from `from` (inside the span).
inline ScanWindow WindowAt(Scan* scan, const char* from)
{
    size_t into = IntoChunk(scan, static_cast<size_t>(from - scan->bytes));
    const ChunkClasses& c = scan->classes;
    return ScanWindow{from, MaskFrom(c.ends, into), MaskFrom(c.second, into), MaskFrom(c.third, into)};
}

// A run from its first byte to the first end, with the first byte of the other two classes in it.
// Mac: a line, its first marker and its first '<'. W95: a field, its first line break and its first
// character that makes a name quoted.
struct ScannedRun {
    const char* end;      // the end, or the span's end
    const char* second;   // or null
    const char* third;    // or null
    uint64_t secondBits;  // the second class's bytes among the run's first 64, bit i for byte i
};

// ScanRun for a run longer than the bits MaskFrom gives, or one that runs past the chunk.
ScannedRun ScanRunSlowly(Scan* scan, const char* from);

// From `from` (inside the span) to the first end at or after it. Inline for a run of 56 bytes or
// less, as most lines and fields are.
inline ScannedRun ScanRun(Scan* scan, const char* from)
{
    ScanWindow window = WindowAt(scan, from);
    uint64_t ends = window.ends;
    if (ends == 0) {
        return ScanRunSlowly(scan, from);
    }
    uint64_t inRun = BitsBefore(ends);
    uint64_t second = window.second & inRun;
    uint64_t third = window.third & inRun;
    ScannedRun run = {from + __builtin_ctzll(ends), second != 0 ? from + __builtin_ctzll(second) : nullptr,
                      third != 0 ? from + __builtin_ctzll(third) : nullptr, second};
    return run;
}

// A run's end and whether it holds a byte of the second and of the third class.
struct ScannedFlags {
    const char* end;
    bool hasSecond;
    bool hasThird;
};

// The run from `from` when its end lies inside the window.
inline bool RunInWindow(const ScanWindow& window, const char* from, ScannedFlags* run)
{
    size_t at = static_cast<size_t>(from - window.base);  // wraps, and so fails the test, before the window
    if (at >= 64) {
        return false;
    }
    uint64_t ends = window.ends >> at;
    if (ends == 0) {
        return false;
    }
    uint64_t inRun = BitsBefore(ends);
    run->end = from + __builtin_ctzll(ends);
    run->hasSecond = ((window.second >> at) & inRun) != 0;
    run->hasThird = ((window.third >> at) & inRun) != 0;
    return true;
}

// Like ScanRun, for a caller that needs to know only whether the run holds the other two classes,
// moving the window to `from` when the run's end is not in it. Starts with a window of nothing.
inline ScannedFlags ScanRunInWindow(Scan* scan, ScanWindow* window, const char* from)
{
    ScannedFlags run;
    if (RunInWindow(*window, from, &run)) {
        return run;
    }
    *window = WindowAt(scan, from);
    if (RunInWindow(*window, from, &run)) {
        return run;
    }
    ScannedRun slow = ScanRunSlowly(scan, from);
    return ScannedFlags{slow.end, slow.second != nullptr, slow.third != nullptr};
}

}  // namespace ferryline

#endif
