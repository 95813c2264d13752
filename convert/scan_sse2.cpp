// Classifying bytes sixteen at a time with SSE2, for x86 processors; CMake builds this file only for
// them, and its function is used only when the processor says it has SSE2.
#include <emmintrin.h>

#include "convert/scan.h"

namespace {

inline uint64_t Bits(__m128i hits, unsigned shift)
{
    return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(hits))) << shift;
}

inline void Classify16(const char* from, unsigned shift, ByteClasses* classes)
{
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    classes->zeros |= Bits(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()), shift);
    classes->breaks |= Bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')),
                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
                            shift);
    classes->markers |= Bits(_mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('&')),
                                                       _mm_cmpeq_epi8(bytes, _mm_set1_epi8('#'))),
                                          _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('^')),
                                                       _mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')))),
                             shift);
    classes->brackets |= Bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')), shift);
}

ByteClasses ClassifySse2(const char* block, size_t size)
{
    if (size < 64) {
        // Only at the end of a span; the portable twin reads no byte past it.
        return ClassifyBytes(block, size);
    }
    ByteClasses classes = {0, 0, 0, 0};
    Classify16(block, 0, &classes);
    Classify16(block + 16, 16, &classes);
    Classify16(block + 32, 32, &classes);
    Classify16(block + 48, 48, &classes);
    return classes;
}

}  // namespace

ClassifyFunction WideClassify()
{
    return __builtin_cpu_supports("sse2") ? ClassifySse2 : nullptr;
}
