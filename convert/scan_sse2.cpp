// The stop finders sixteen bytes at a time with SSE2, for x86 processors; CMake builds this file only
// for them, and it is used only when the processor says it has SSE2.
#include <emmintrin.h>

#include "convert/scan.h"

namespace {

template <bool kBracket>
const char* FindStopSse2(const char* from, const char* end)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i ampersand = _mm_set1_epi8('&');
    const __m128i hash = _mm_set1_epi8('#');
    const __m128i caret = _mm_set1_epi8('^');
    const __m128i plus = _mm_set1_epi8('+');
    const __m128i bracket = _mm_set1_epi8('<');
    while (end - from >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, zero), _mm_cmpeq_epi8(bytes, cr)),
                                    _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, ampersand)));
        hits = _mm_or_si128(hits, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, hash), _mm_cmpeq_epi8(bytes, caret)),
                                               _mm_cmpeq_epi8(bytes, plus)));
        if (kBracket) {
            hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, bracket));
        }
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask != 0) {
            return from + __builtin_ctz(mask);
        }
        from += 16;
    }
    // The last few bytes, the portable way.
    return kBracket ? FindSpecialByteOrBracket(from, end) : FindSpecialByte(from, end);
}

}  // namespace

bool GetWideStopFinders(StopFinders* finders)
{
    if (!__builtin_cpu_supports("sse2")) {
        return false;
    }
    finders->special = FindStopSse2<false>;
    finders->specialOrBracket = FindStopSse2<true>;
    return true;
}
