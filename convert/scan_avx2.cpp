// Classifying bytes thirty-two at a time with AVX2, for x86 processors; CMake builds this file only for
// them, its functions are built for that instruction set alone (so no inline function of a header is
// built for it), and they are used only when the processor says it has AVX2.
#include <immintrin.h>

#include "convert/scan.h"

namespace ferryline {

namespace {

// The W95 classes of a byte as the bits of one byte, looked up by its two halves: a byte has a bit when
// both the entry of its low half and that of its high half have it. Each class is a few sets of bytes
// that share their high half, and each set takes one bit: the zero byte bit 0; # & + (0x23 0x26 0x2B)
// bit 1; ^ (0x5E) bit 2; LF and CR bit 3; the characters that make a name quoted ( ) , . (0x28 0x29
// 0x2C 0x2E) bit 4, : ; < > (0x3A 0x3B 0x3C 0x3E) bit 5, @ (0x40) bit 6 and [ \ ] (0x5B 0x5C 0x5D)
// bit 7. Twelve characters cost no more this way than the seven of the ends and breaks compared one by one.
const char kW95Low[16] = {0x41, 0, 0, 0x02, 0, 0, 0x02, 0, 0x10, 0x10, 0x28, static_cast<char>(0xA2),
                          static_cast<char>(0xB0), static_cast<char>(0x88), 0x34, 0};
const char kW95High[16] = {0x09, 0, 0x12, 0x20, 0x40, static_cast<char>(0x84), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const char kW95Ends = 0x07;
const char kW95Breaks = 0x08;
const char kW95Specials = static_cast<char>(0xF0);

__attribute__((target("avx2"))) inline __m256i Table(const char* entries)
{
    __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries));
    return _mm256_broadcastsi128_si256(half);
}

__attribute__((target("avx2"))) inline uint64_t Bits(__m256i hits, unsigned shift)
{
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(hits))) << shift;
}

__attribute__((target("avx2"))) inline __m256i Equal(__m256i bytes, char value)
{
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(value));
}

// The bits of the bytes whose classes share a bit with `bits`.
__attribute__((target("avx2"))) inline uint64_t Has(__m256i classes, __m256i bits, unsigned shift)
{
    __m256i none = _mm256_cmpeq_epi8(_mm256_and_si256(classes, bits), _mm256_setzero_si256());
    return static_cast<uint64_t>(~static_cast<uint32_t>(_mm256_movemask_epi8(none))) << shift;
}

// Every 64-byte block of the chunk with the instructions, the last few bytes the portable way.
template <bool kMac>
__attribute__((target("avx2"))) void ClassifyAvx2(const char* chunk, size_t size, ChunkClasses* classes)
{
    size_t whole = StartBlockClassify(chunk, size, kMac, classes);
    const __m256i low = Table(kW95Low);
    const __m256i high = Table(kW95High);
    const __m256i halves = _mm256_set1_epi8(0x0F);
    const __m256i ends = _mm256_set1_epi8(kW95Ends);
    const __m256i breaks = _mm256_set1_epi8(kW95Breaks);
    const __m256i specials = _mm256_set1_epi8(kW95Specials);
    // The bytes above 127, summed in four 64-bit lanes by sum of absolute differences.
    const __m256i ones = _mm256_set1_epi8(1);
    __m256i highBytes = _mm256_setzero_si256();
    for (size_t at = 0; at < whole; at += 64) {
        uint64_t endBits = 0;
        uint64_t secondBits = 0;
        uint64_t thirdBits = 0;
        for (unsigned part = 0; part < 64; part += 32) {
            __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(chunk + at + part));
            __m256i topBits = _mm256_and_si256(_mm256_srli_epi16(bytes, 7), ones);
            highBytes = _mm256_add_epi64(highBytes, _mm256_sad_epu8(topBits, _mm256_setzero_si256()));
            if (kMac) {
                // Seven characters compared one by one cost less than a lookup here.
                __m256i lineEnds = _mm256_or_si256(_mm256_or_si256(Equal(bytes, '\r'), Equal(bytes, '\n')),
                                                   Equal(bytes, '\0'));
                __m256i markers = _mm256_or_si256(_mm256_or_si256(Equal(bytes, '&'), Equal(bytes, '#')),
                                                  _mm256_or_si256(Equal(bytes, '^'), Equal(bytes, '+')));
                endBits |= Bits(lineEnds, part);
                secondBits |= Bits(markers, part);
                thirdBits |= Bits(Equal(bytes, '<'), part);
            } else {
                __m256i lowHalf = _mm256_and_si256(bytes, halves);
                __m256i highHalf = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), halves);
                __m256i found = _mm256_and_si256(_mm256_shuffle_epi8(low, lowHalf),
                                                 _mm256_shuffle_epi8(high, highHalf));
                endBits |= Has(found, ends, part);
                secondBits |= Has(found, breaks, part);
                thirdBits |= Has(found, specials, part);
            }
        }
        // x86 keeps words as little-endian bytes, as the masks are kept.
        classes->ends[at / 64] = endBits;
        classes->second[at / 64] = secondBits;
        classes->third[at / 64] = thirdBits;
    }
    // A chunk that ends in part of a block was counted whole the portable way.
    if (whole == size) {
        uint64_t lanes[4];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), highBytes);
        classes->highBytes = static_cast<size_t>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
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

}  // namespace ferryline
