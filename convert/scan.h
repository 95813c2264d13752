// Finding the bytes both formats give a meaning to: a chunk of the input is classified at a time into
// bit masks, one bit a byte, and lines and fields are found in the masks.
#ifndef FERRYLINE_SCAN_H
#define FERRYLINE_SCAN_H

#include <stddef.h>
#include <stdint.h>

// Bytes classified at a time, and the 64-bit words of each class's mask.
const size_t kChunkSize = 4096;
const size_t kChunkWords = kChunkSize / 64;

// The classes of the bytes that matter to one converter, bit i of word w for byte 64 w + i of the
// chunk. A Mac line ends at a line break or a zero byte, needs its markers (& # ^ +) replaced and splits
// at its first '<'; a W95 field ends at a marker or a zero byte, loses its line breaks, and its name is
// quoted when it holds a character of kNameSpecials. Each mask has one word more than the chunk, always
// zero, so 64 bits can be read from any byte of the chunk.
struct ChunkClasses {
    uint64_t ends[kChunkWords + 1];      // Mac: CR, LF, the zero byte. W95: the markers, the zero byte.
    uint64_t markers[kChunkWords + 1];   // Mac only: the markers
    uint64_t brackets[kChunkWords + 1];  // Mac only: <
    uint64_t breaks[kChunkWords + 1];    // W95 only: CR, LF
    uint64_t specials[kChunkWords + 1];  // W95 only: the characters that make a name quoted
};

// Classifies the `size` bytes (1 to kChunkSize) at `chunk`, reading no byte past them: the classes of
// one converter (ends, markers and brackets for Mac; ends, breaks and specials for W95), with every bit
// past the bytes zero.
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
};

void StartScan(Scan* scan, const char* bytes, size_t size, ClassifyFunction classify);

// The bits of a mask from bit `at` of the chunk on: those of its own word, in `Near`, which is enough
// when an end is among them, as it is for most lines and fields; 64 of them, in `Far`.
inline uint64_t MaskNear(const uint64_t* mask, size_t at)
{
    return mask[at / 64] >> (at % 64);
}

inline uint64_t MaskFar(const uint64_t* mask, size_t at)
{
    size_t word = at / 64;
    unsigned shift = static_cast<unsigned>(at % 64);
    // Two shifts, so that a shift of 0 takes nothing from the next word.
    return (mask[word] >> shift) | ((mask[word + 1] << 1) << (63 - shift));
}

// Makes the chunk that holds `at` (inside the span) the classified one; returns `at` in that chunk.
inline size_t IntoChunk(Scan* scan, size_t at)
{
    size_t into = at - scan->chunk;  // wraps, and so fails the test, when `at` is before the chunk
    if (into >= scan->chunkSize) {
        scan->chunk = at / kChunkSize * kChunkSize;
        scan->chunkSize = scan->size - scan->chunk < kChunkSize ? scan->size - scan->chunk : kChunkSize;
        scan->classify(scan->bytes + scan->chunk, scan->chunkSize, &scan->classes);
        into = at - scan->chunk;
    }
    return into;
}

// The bits below the lowest set bit of `ends`, or all bits when none is set.
inline uint64_t BitsBefore(uint64_t ends)
{
    return ends != 0 ? (ends & (~ends + 1)) - 1 : ~uint64_t{0};
}

// A Mac line: from its first byte to its end, with its first '<' and whether it holds a marker.
struct MacLine {
    const char* end;  // the line break or zero byte, or the span's end
    const char* bracket;
    bool hasMarkers;
};

// ScanMacLine for a line of 64 bytes or more, or one that runs past the chunk.
MacLine ScanMacLineSlowly(Scan* scan, const char* from);

// From `from` (inside the span) to the line's end. Inline for a line shorter than 64 bytes, as most
// are.
inline MacLine ScanMacLine(Scan* scan, const char* from)
{
    size_t into = IntoChunk(scan, static_cast<size_t>(from - scan->bytes));
    const ChunkClasses& c = scan->classes;
    uint64_t ends = MaskNear(c.ends, into);
    uint64_t brackets;
    uint64_t markers;
    if (ends != 0) {
        brackets = MaskNear(c.brackets, into);
        markers = MaskNear(c.markers, into);
    } else {
        ends = MaskFar(c.ends, into);
        if (ends == 0) {
            return ScanMacLineSlowly(scan, from);
        }
        brackets = MaskFar(c.brackets, into);
        markers = MaskFar(c.markers, into);
    }
    uint64_t inLine = BitsBefore(ends);
    brackets &= inLine;
    MacLine line = {from + __builtin_ctzll(ends), brackets != 0 ? from + __builtin_ctzll(brackets) : nullptr,
                    (markers & inLine) != 0};
    return line;
}

// A W95 field: from the byte after its marker to the next marker or zero byte.
struct W95Field {
    const char* end;  // the marker or zero byte, or the span's end
    bool hasBreaks;
    bool hasSpecials;
};

// ScanW95Field for a field of 64 bytes or more, or one that runs past the chunk.
W95Field ScanW95FieldSlowly(Scan* scan, const char* from);

// From `from` (inside the span) to the field's end. Inline for a field shorter than 64 bytes, as most
// are.
inline W95Field ScanW95Field(Scan* scan, const char* from)
{
    size_t into = IntoChunk(scan, static_cast<size_t>(from - scan->bytes));
    const ChunkClasses& c = scan->classes;
    uint64_t ends = MaskNear(c.ends, into);
    uint64_t breaks;
    uint64_t specials;
    if (ends != 0) {
        breaks = MaskNear(c.breaks, into);
        specials = MaskNear(c.specials, into);
    } else {
        ends = MaskFar(c.ends, into);
        if (ends == 0) {
            return ScanW95FieldSlowly(scan, from);
        }
        breaks = MaskFar(c.breaks, into);
        specials = MaskFar(c.specials, into);
    }
    uint64_t inField = BitsBefore(ends);
    W95Field field = {from + __builtin_ctzll(ends), (breaks & inField) != 0, (specials & inField) != 0};
    return field;
}

#endif
