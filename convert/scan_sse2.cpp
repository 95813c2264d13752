// Classifying bytes sixteen at a time with SSE2, for x86 processors; CMake builds this file only for
// them, its functions are built for that instruction set alone (so no inline function of a header
// is built for it), and they are used only when the processor says it has SSE2.
#include <emmintrin.h>

#include "convert/scan.h"

namespace ferryline {

namespace {

__attribute__((target("sse2"))) inline uint64_t Bits(__m128i hits, unsigned shift)
{
    return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(hits))) << shift;
}

__attribute__((target("sse2"))) inline __m128i Equal(__m128i bytes, char value)
{
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(value));
}

// Bytes from `low` to `low + count - 1`: below `count` once `low` is taken off, unsigned.
__attribute__((target("sse2"))) inline __m128i InRange(__m128i bytes, char low, char count)
{
    __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(static_cast<char>(count - 1))), offset);
}

// The characters that make a name quoted, ()<>@,;:\.[], as three runs and four single ones.
__attribute__((target("sse2"))) inline __m128i NameSpecials(__m128i bytes)
{
    __m128i runs = _mm_or_si128(_mm_or_si128(InRange(bytes, '(', 2), InRange(bytes, ':', 3)), InRange(bytes, '[', 3));
    __m128i singles = _mm_or_si128(_mm_or_si128(Equal(bytes, ','), Equal(bytes, '.')),
                                   _mm_or_si128(Equal(bytes, '>'), Equal(bytes, '@')));
    return _mm_or_si128(runs, singles);
}

// Every 64-byte block of the chunk with the instructions, the last few bytes the portable way.
template <bool kMac>
__attribute__((target("sse2"))) void ClassifySse2(const char* chunk, size_t size, ChunkClasses* classes)
{
    size_t whole = StartBlockClassify(chunk, size, kMac, classes);
    // The bytes above 127, summed in two 64-bit lanes by sum of absolute differences.
    const __m128i ones = _mm_set1_epi8(1);
    __m128i highBytes = _mm_setzero_si128();
    for (size_t at = 0; at < whole; at += 64) {
        uint64_t ends = 0;
        uint64_t second = 0;
        uint64_t third = 0;
        for (unsigned part = 0; part < 64; part += 16) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + at + part));
            __m128i topBits = _mm_and_si128(_mm_srli_epi16(bytes, 7), ones);
            highBytes = _mm_add_epi64(highBytes, _mm_sad_epu8(topBits, _mm_setzero_si128()));
            __m128i breaks = _mm_or_si128(Equal(bytes, '\r'), Equal(bytes, '\n'));
            __m128i markers = _mm_or_si128(_mm_or_si128(Equal(bytes, '&'), Equal(bytes, '#')),
                                   _mm_or_si128(Equal(bytes, '^'), Equal(bytes, '+')));
            __m128i zeros = Equal(bytes, '\0');
            if (kMac) {
                ends |= Bits(_mm_or_si128(zeros, breaks), part);
                second |= Bits(markers, part);
                third |= Bits(Equal(bytes, '<'), part);
            } else {
                ends |= Bits(_mm_or_si128(zeros, markers), part);
                second |= Bits(breaks, part);
                third |= Bits(NameSpecials(bytes), part);
            }
        }
        // x86 keeps words as little-endian bytes, as the masks are kept.
        classes->ends[at / 64] = ends;
        classes->second[at / 64] = second;
        classes->third[at / 64] = third;
    }
    // A chunk that ends in part of a block was counted whole the portable way.
    if (whole == size) {
        classes->highBytes = static_cast<size_t>(_mm_cvtsi128_si32(highBytes)) +
                             static_cast<size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(highBytes, highBytes)));
    }
}

}  // namespace

bool GetSse2Classifiers(Classifiers* classifiers)
{
    if (!__builtin_cpu_supports("sse2")) {
        return false;
    }
    classifiers->mac = ClassifySse2<true>;
    classifiers->w95 = ClassifySse2<false>;
    return true;
}

}  // namespace ferryline
