#include "convert/scan.h"

#include <string.h>

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

// The classes of one word, placed at bit `shift`.
template <bool kMac>
void ClassifyWord(uint64_t word, unsigned shift, ByteClasses* classes)
{
    uint64_t breaks = BytesEqual(word, '\r') | BytesEqual(word, '\n');
    uint64_t markers = BytesEqual(word, '&') | BytesEqual(word, '#') | BytesEqual(word, '^') | BytesEqual(word, '+');
    uint64_t zeros = ZeroBytes(word);
    if (kMac) {
        classes->ends |= GatherHighBits(zeros | breaks) << shift;
        classes->markers |= GatherHighBits(markers) << shift;
        classes->brackets |= GatherHighBits(BytesEqual(word, '<')) << shift;
    } else {
        classes->ends |= GatherHighBits(zeros | markers) << shift;
        classes->breaks |= GatherHighBits(breaks) << shift;
    }
}

template <bool kMac>
ByteClasses Classify(const char* block, size_t size)
{
    ByteClasses classes = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        ClassifyWord<kMac>(LoadLittleEndian(block + i), static_cast<unsigned>(i), &classes);
    }
    if (i < size) {
        // The last few bytes, padded with a byte of no class.
        char last[8];
        memset(last, 'a', sizeof last);
        memcpy(last, block + i, size - i);
        ClassifyWord<kMac>(LoadLittleEndian(last), static_cast<unsigned>(i), &classes);
    }
    return classes;
}

}  // namespace

ByteClasses ClassifyMacBytes(const char* block, size_t size)
{
    return Classify<true>(block, size);
}

ByteClasses ClassifyW95Bytes(const char* block, size_t size)
{
    return Classify<false>(block, size);
}

Classifiers ChooseClassifiers()
{
    Classifiers classifiers = {ClassifyMacBytes, ClassifyW95Bytes};
    GetWideClassifiers(&classifiers);
    return classifiers;
}

ScannedRun ScanRunSlowly(Scan* scan, const char* from)
{
    ScannedRun run = {nullptr, nullptr, false, false};
    size_t at = static_cast<size_t>(from - scan->bytes);
    while (at < scan->size) {
        size_t into = at - scan->window;  // wraps, and so fails the test, when `at` is before the window
        if (into >= scan->windowSize) {
            scan->window = at;
            scan->windowSize = scan->size - at < 64 ? scan->size - at : 64;
            scan->classes = scan->classify(scan->bytes + at, scan->windowSize);
            into = 0;
        }
        const ByteClasses& c = scan->classes;
        uint64_t ahead = ~uint64_t{0} << into;
        uint64_t ends = c.ends & ahead;
        uint64_t inRun = ahead & (ends != 0 ? (ends & (~ends + 1)) - 1 : ~uint64_t{0});
        if (run.bracket == nullptr && (c.brackets & inRun) != 0) {
            run.bracket = scan->bytes + scan->window + __builtin_ctzll(c.brackets & inRun);
        }
        run.hasMarkers = run.hasMarkers || (c.markers & inRun) != 0;
        run.hasBreaks = run.hasBreaks || (c.breaks & inRun) != 0;
        if (ends != 0) {
            run.end = scan->bytes + scan->window + __builtin_ctzll(ends);
            return run;
        }
        at = scan->window + scan->windowSize;
    }
    run.end = scan->bytes + scan->size;
    return run;
}
