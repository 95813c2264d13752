#include "convert/scan.h"

#include <string.h>

#include "convert/format.h"

namespace {

const uint64_t kOnes = 0x0101010101010101ull;
const uint64_t kLowBits = 0x7f7f7f7f7f7f7f7full;

// The high bit of every byte of `word` that is zero, and no other bit: no carry crosses a byte.
inline uint64_t ZeroBytes(uint64_t word)
{
    return ~(((word & kLowBits) + kLowBits) | word | kLowBits);
}

inline uint64_t BytesEqual(uint64_t word, uint8_t value)
{
    return ZeroBytes(word ^ (kOnes * value));
}

struct ByteSet {
    bool has[256];
};

constexpr ByteSet MakeNameSpecials()
{
    ByteSet set = {};
    for (size_t i = 0; kNameSpecials[i] != '\0'; ++i) {
        set.has[static_cast<unsigned char>(kNameSpecials[i])] = true;
    }
    return set;
}

constexpr ByteSet kNameSpecialSet = MakeNameSpecials();

// The high bits of a word's bytes as the low eight bits, the first byte lowest.
inline uint64_t GatherHighBits(uint64_t highBits)
{
    return ((highBits >> 7) * 0x0102040810204080ull) >> 56;
}

// The word's first byte in the lowest bits, whatever the machine's byte order.
inline uint64_t LoadLittleEndian(const char* from)
{
    unsigned char bytes[8];
    memcpy(bytes, from, sizeof bytes);
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i) {
        word = (word << 8) | bytes[i];
    }
    return word;
}

// The classes of one word: its bytes' bits, the first byte lowest.
template <bool kMac>
void ClassifyWord(uint64_t word, uint64_t* ends, uint64_t* second, uint64_t* third)
{
    uint64_t breaks = BytesEqual(word, '\r') | BytesEqual(word, '\n');
    uint64_t markers = BytesEqual(word, '&') | BytesEqual(word, '#') | BytesEqual(word, '^') | BytesEqual(word, '+');
    uint64_t zeros = ZeroBytes(word);
    if (kMac) {
        *ends = GatherHighBits(zeros | breaks);
        *second = GatherHighBits(markers);
        *third = GatherHighBits(BytesEqual(word, '<'));
    } else {
        *ends = GatherHighBits(zeros | markers);
        *second = GatherHighBits(breaks);
        *third = 0;
    }
}

template <bool kMac>
void Classify(const char* chunk, size_t size, ChunkClasses* classes)
{
    // Everything past the bytes, the extra word included, stays zero.
    memset(classes, 0, sizeof *classes);
    uint64_t* second = kMac ? classes->markers : classes->breaks;
    uint64_t* third = kMac ? classes->brackets : classes->specials;
    for (size_t i = 0; i < size; i += 8) {
        uint64_t word;
        if (size - i >= 8) {
            word = LoadLittleEndian(chunk + i);
        } else {
            // The last few bytes, padded with a byte of no class.
            char last[8];
            memset(last, 'a', sizeof last);
            memcpy(last, chunk + i, size - i);
            word = LoadLittleEndian(last);
        }
        uint64_t ends;
        uint64_t secondBits;
        uint64_t thirdBits;
        ClassifyWord<kMac>(word, &ends, &secondBits, &thirdBits);
        unsigned shift = static_cast<unsigned>(i % 64);
        classes->ends[i / 64] |= ends << shift;
        second[i / 64] |= secondBits << shift;
        third[i / 64] |= thirdBits << shift;
    }
    if (!kMac) {
        // Twelve characters: a table costs less here than as many comparisons of whole words.
        for (size_t i = 0; i < size; ++i) {
            classes->specials[i / 64] |= static_cast<uint64_t>(kNameSpecialSet.has[static_cast<unsigned char>(chunk[i])])
                                         << (i % 64);
        }
    }
}

}  // namespace

void ClassifyMacBytes(const char* chunk, size_t size, ChunkClasses* classes)
{
    Classify<true>(chunk, size, classes);
}

void ClassifyW95Bytes(const char* chunk, size_t size, ChunkClasses* classes)
{
    Classify<false>(chunk, size, classes);
}

size_t StartBlockClassify(const char* chunk, size_t size, bool mac, ChunkClasses* classes)
{
    size_t whole = size / 64 * 64;
    if (whole < size) {
        (mac ? ClassifyMacBytes : ClassifyW95Bytes)(chunk, size, classes);
        return whole;
    }
    // A converter reads only its own classes.
    for (size_t word = size / 64; word <= kChunkWords; ++word) {
        classes->ends[word] = 0;
        (mac ? classes->markers : classes->breaks)[word] = 0;
        (mac ? classes->brackets : classes->specials)[word] = 0;
    }
    return whole;
}

Classifiers ChooseClassifiers()
{
    Classifiers classifiers = {ClassifyMacBytes, ClassifyW95Bytes};
    if (!GetAvx2Classifiers(&classifiers)) {
        GetSse2Classifiers(&classifiers);
    }
    return classifiers;
}

void StartScan(Scan* scan, const char* bytes, size_t size, ClassifyFunction classify)
{
    scan->bytes = bytes;
    scan->size = size;
    scan->chunk = 0;
    scan->chunkSize = 0;
    scan->classify = classify;
}

// How far the masks at `into` speak for the run: 64 bytes, or the rest of the chunk, whose bits past
// it are zero.
static size_t StepFrom(const Scan* scan, size_t into)
{
    return scan->chunkSize - into < 64 ? scan->chunkSize - into : 64;
}

MacLine ScanMacLineSlowly(Scan* scan, const char* from)
{
    MacLine line = {nullptr, nullptr, false};
    size_t at = static_cast<size_t>(from - scan->bytes);
    while (at < scan->size) {
        size_t into = IntoChunk(scan, at);
        const ChunkClasses& c = scan->classes;
        uint64_t ends = MaskFar(c.ends, into);
        uint64_t inLine = BitsBefore(ends);
        uint64_t brackets = MaskFar(c.brackets, into) & inLine;
        if (line.bracket == nullptr && brackets != 0) {
            line.bracket = scan->bytes + at + __builtin_ctzll(brackets);
        }
        line.hasMarkers = line.hasMarkers || (MaskFar(c.markers, into) & inLine) != 0;
        if (ends != 0) {
            line.end = scan->bytes + at + __builtin_ctzll(ends);
            return line;
        }
        at += StepFrom(scan, into);
    }
    line.end = scan->bytes + scan->size;
    return line;
}

W95Field ScanW95FieldSlowly(Scan* scan, const char* from)
{
    W95Field field = {nullptr, false, false};
    size_t at = static_cast<size_t>(from - scan->bytes);
    while (at < scan->size) {
        size_t into = IntoChunk(scan, at);
        const ChunkClasses& c = scan->classes;
        uint64_t ends = MaskFar(c.ends, into);
        uint64_t inField = BitsBefore(ends);
        field.hasBreaks = field.hasBreaks || (MaskFar(c.breaks, into) & inField) != 0;
        field.hasSpecials = field.hasSpecials || (MaskFar(c.specials, into) & inField) != 0;
        if (ends != 0) {
            field.end = scan->bytes + at + __builtin_ctzll(ends);
            return field;
        }
        at += StepFrom(scan, into);
    }
    field.end = scan->bytes + scan->size;
    return field;
}
