// Classifying bytes sixteen at a time with SSE2, for x86 processors; CMake builds this file only for
// them, and its functions are used only when the processor says it has SSE2.
#include <emmintrin.h>

#include "convert/scan.h"

namespace {

inline uint64_t Bits(__m128i hits, unsigned shift)
{
    return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(hits))) << shift;
}

inline __m128i Equal(__m128i bytes, char value)
{
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(value));
}

template <bool kMac>
inline void Classify16(const char* from, unsigned shift, ByteClasses* classes)
{
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    __m128i breaks = _mm_or_si128(Equal(bytes, '\r'), Equal(bytes, '\n'));
    __m128i markers = _mm_or_si128(_mm_or_si128(Equal(bytes, '&'), Equal(bytes, '#')),
                                   _mm_or_si128(Equal(bytes, '^'), Equal(bytes, '+')));
    __m128i zeros = Equal(bytes, '\0');
    if (kMac) {
        classes->ends |= Bits(_mm_or_si128(zeros, breaks), shift);
        classes->markers |= Bits(markers, shift);
        classes->brackets |= Bits(Equal(bytes, '<'), shift);
    } else {
        classes->ends |= Bits(_mm_or_si128(zeros, markers), shift);
        classes->breaks |= Bits(breaks, shift);
    }
}

template <bool kMac>
ByteClasses ClassifySse2(const char* block, size_t size)
{
    if (size < 64) {
        // Only at the end of a span; the portable twin reads no byte past it.
        return kMac ? ClassifyMacBytes(block, size) : ClassifyW95Bytes(block, size);
    }
    ByteClasses classes = {0, 0, 0, 0};
    Classify16<kMac>(block, 0, &classes);
    Classify16<kMac>(block + 16, 16, &classes);
    Classify16<kMac>(block + 32, 32, &classes);
    Classify16<kMac>(block + 48, 48, &classes);
    return classes;
}

}  // namespace

bool GetWideClassifiers(Classifiers* classifiers)
{
    if (!__builtin_cpu_supports("sse2")) {
        return false;
    }
    classifiers->mac = ClassifySse2<true>;
    classifiers->w95 = ClassifySse2<false>;
    return true;
}
