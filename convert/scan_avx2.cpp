// Classifying bytes thirty-two at a time with AVX2, for x86 processors; CMake builds this file only for
// them, its functions are built for that instruction set alone (so no inline function of a header
// is built for it), and they are used only when the processor says it has AVX2.
#include <immintrin.h>

#include "convert/scan.h"

namespace {

__attribute__((target("avx2"))) inline uint64_t Bits(__m256i hits, unsigned shift)
{
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(hits))) << shift;
}

__attribute__((target("avx2"))) inline __m256i Equal(__m256i bytes, char value)
{
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(value));
}

// Bytes from `low` to `low + count - 1`: below `count` once `low` is taken off, unsigned.
__attribute__((target("avx2"))) inline __m256i InRange(__m256i bytes, char low, char count)
{
    __m256i offset = _mm256_sub_epi8(bytes, _mm256_set1_epi8(low));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(offset, _mm256_set1_epi8(static_cast<char>(count - 1))), offset);
}

// The characters that make a name quoted, ()<>@,;:\.[], as three runs and four single ones.
__attribute__((target("avx2"))) inline __m256i NameSpecials(__m256i bytes)
{
    __m256i runs = _mm256_or_si256(_mm256_or_si256(InRange(bytes, '(', 2), InRange(bytes, ':', 3)), InRange(bytes, '[', 3));
    __m256i singles = _mm256_or_si256(_mm256_or_si256(Equal(bytes, ','), Equal(bytes, '.')),
                                   _mm256_or_si256(Equal(bytes, '>'), Equal(bytes, '@')));
    return _mm256_or_si256(runs, singles);
}

// Every 64-byte block of the chunk with the instructions, the last few bytes the portable way.
template <bool kMac>
__attribute__((target("avx2"))) void ClassifyAvx2(const char* chunk, size_t size, ChunkClasses* classes)
{
    size_t whole = size / 64 * 64;
    if (whole < size) {
        // Zeroes everything and classifies the whole chunk; the blocks are then done again, faster.
        if (kMac) {
            ClassifyMacBytes(chunk, size, classes);
        } else {
            ClassifyW95Bytes(chunk, size, classes);
        }
    } else {
        // The words past the chunk; a converter reads only its own classes.
        for (size_t word = size / 64; word <= kChunkWords; ++word) {
            classes->ends[word] = 0;
            (kMac ? classes->markers : classes->breaks)[word] = 0;
            (kMac ? classes->brackets : classes->specials)[word] = 0;
        }
    }
    for (size_t at = 0; at < whole; at += 64) {
        uint64_t ends = 0;
        uint64_t second = 0;
        uint64_t third = 0;
        for (unsigned part = 0; part < 64; part += 32) {
            __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chunk + at + part));
            __m256i breaks = _mm256_or_si256(Equal(bytes, '\r'), Equal(bytes, '\n'));
            __m256i markers = _mm256_or_si256(_mm256_or_si256(Equal(bytes, '&'), Equal(bytes, '#')),
                                   _mm256_or_si256(Equal(bytes, '^'), Equal(bytes, '+')));
            __m256i zeros = Equal(bytes, '\0');
            if (kMac) {
                ends |= Bits(_mm256_or_si256(zeros, breaks), part);
                second |= Bits(markers, part);
                third |= Bits(Equal(bytes, '<'), part);
            } else {
                ends |= Bits(_mm256_or_si256(zeros, markers), part);
                second |= Bits(breaks, part);
                third |= Bits(NameSpecials(bytes), part);
            }
        }
        classes->ends[at / 64] = ends;
        (kMac ? classes->markers : classes->breaks)[at / 64] = second;
        (kMac ? classes->brackets : classes->specials)[at / 64] = third;
    }
}

}  // namespace

bool GetAvx2Classifiers(Classifiers* classifiers)
{
    if (!__builtin_cpu_supports("avx2")) {
        return false;
    }
    classifiers->mac = ClassifyAvx2<true>;
    classifiers->w95 = ClassifyAvx2<false>;
    return true;
}
