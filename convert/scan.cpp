#include "convert/scan.h"

#include <string.h>

#include "convert/format.h"
#include "convert/words.h"

namespace {

// The high bits of a word's bytes as the low eight bits, the first byte lowest.
inline uint64_t GatherHighBits(uint64_t highBits)
{
    return ((highBits >> 7) * 0x0102040810204080ull) >> 56;
}

// The classes of one word: its bytes' bits, the first byte lowest.
template <bool kMac>
void ClassifyWord(uint64_t word, uint64_t* ends, uint64_t* second, uint64_t* third)
{
    uint64_t breaks = BytesEqual(word, '\r') | BytesEqual(word, '\n');
    uint64_t markers = MarkerBytes(word);
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
    size_t highBytes = 0;
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
        highBytes += HighBytesOf(word);  // the padding has none
        unsigned shift = static_cast<unsigned>(i % 64);
        AddToMask(classes->ends, i / 64, ends << shift);
        AddToMask(classes->second, i / 64, secondBits << shift);
        AddToMask(classes->third, i / 64, thirdBits << shift);
    }
    classes->highBytes = highBytes;
    if (!kMac) {
        // Twelve characters: a table costs less here than as many comparisons of whole words.
        for (size_t i = 0; i < size; ++i) {
            AddToMask(classes->third, i / 64,
                      static_cast<uint64_t>(kNameSpecialSet.has[static_cast<unsigned char>(chunk[i])]) << (i % 64));
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
    for (size_t word = size / 64; word <= kChunkWords; ++word) {
        classes->ends[word] = 0;
        classes->second[word] = 0;
        classes->third[word] = 0;
    }
    classes->highBytes = 0;
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
    scan->highBytes = 0;
    scan->counted = 0;
}

size_t CountHighBytes(const char* bytes, size_t size)
{
    size_t count = 0;
    size_t i = 0;
    for (; size - i >= 8; i += 8) {
        count += HighBytesOf(LoadLittleEndian(bytes + i));
    }
    for (; i < size; ++i) {
        count += static_cast<unsigned char>(bytes[i]) >> 7;
    }
    return count;
}

size_t ScannedHighBytes(const Scan* scan)
{
    return scan->highBytes + CountHighBytes(scan->bytes + scan->counted, scan->size - scan->counted);
}

// How far ahead of the classified chunk the input is asked for from memory.
static const size_t kPrefetchDistance = kChunkSize;

void ClassifyChunkAt(Scan* scan, size_t at)
{
    scan->chunk = at / kChunkSize * kChunkSize;
    scan->chunkSize = scan->size - scan->chunk < kChunkSize ? scan->size - scan->chunk : kChunkSize;
    scan->classify(scan->bytes + scan->chunk, scan->chunkSize, &scan->classes);
    // Each byte counted once: a chunk classified again is not, bytes passed over are counted here.
    if (scan->chunk >= scan->counted) {
        scan->highBytes += CountHighBytes(scan->bytes + scan->counted, scan->chunk - scan->counted) +
                           scan->classes.highBytes;
        scan->counted = scan->chunk + scan->chunkSize;
    }
    // The classifier is the first to read each byte of an input much larger than the caches, and
    // waited for memory for a third of a conversion. So the bytes after the chunk are asked for now,
    // to arrive while its lines are converted: a hint, which reads nothing past the span.
    size_t ahead = scan->chunk + scan->chunkSize;
    size_t aheadEnd = scan->size - ahead < kPrefetchDistance ? scan->size : ahead + kPrefetchDistance;
    for (size_t line = ahead; line < aheadEnd; line += 64) {
        __builtin_prefetch(scan->bytes + line);
    }
}

ScannedRun ScanRunSlowly(Scan* scan, const char* from)
{
    ScannedRun run = {nullptr, nullptr, nullptr, 0};
    size_t start = static_cast<size_t>(from - scan->bytes);
    size_t at = start;
    while (at < scan->size) {
        size_t into = IntoChunk(scan, at);
        const ChunkClasses& c = scan->classes;
        uint64_t ends = MaskFrom(c.ends, into);
        uint64_t inRun = BitsBefore(ends);
        uint64_t second = MaskFrom(c.second, into) & inRun;
        uint64_t third = MaskFrom(c.third, into) & inRun;
        if (at - start < 64) {
            run.secondBits |= second << (at - start);
        }
        if (run.second == nullptr && second != 0) {
            run.second = scan->bytes + at + __builtin_ctzll(second);
        }
        if (run.third == nullptr && third != 0) {
            run.third = scan->bytes + at + __builtin_ctzll(third);
        }
        if (ends != 0) {
            run.end = scan->bytes + at + __builtin_ctzll(ends);
            return run;
        }
        // Bits past the chunk are zero, so the bytes MaskFrom read, or the rest of the chunk, hold no end.
        size_t read = 64 - into % 8;
        at += scan->chunkSize - into < read ? scan->chunkSize - into : read;
    }
    run.end = scan->bytes + scan->size;
    return run;
}
