#include "convert/scan.h"

#include <stdint.h>
#include <string.h>

namespace {

const uint64_t kOnes = 0x0101010101010101ull;
const uint64_t kHighBits = 0x8080808080808080ull;

// A high bit in every byte of `word` that is below `limit` (at most 128). Borrows may also mark bytes
// above a marked one, never one below, so the lowest mark is exact and a word with no mark has no match.
inline uint64_t BytesBelow(uint64_t word, uint8_t limit)
{
    return (word - kOnes * limit) & ~word & kHighBits;
}

inline uint64_t BytesEqual(uint64_t word, uint8_t value)
{
    return BytesBelow(word ^ (kOnes * value), 1);
}

struct ByteSet {
    bool has[256];
};

constexpr ByteSet MakeSpecialSet()
{
    ByteSet set = {};
    const char special[] = "&#^+\r\n";
    for (size_t i = 0; special[i] != '\0'; ++i) {
        set.has[static_cast<unsigned char>(special[i])] = true;
    }
    set.has[0] = true;
    return set;
}

constexpr ByteSet kSpecial = MakeSpecialSet();

}  // namespace

bool IsSpecialByte(char c)
{
    return kSpecial.has[static_cast<unsigned char>(c)];
}

const char* FindSpecialByte(const char* from, const char* end)
{
    for (;;) {
        // Eight bytes at a time while none can match: the zero byte, CR and LF are all below 14, so one
        // test finds them (and the odd tab or other control byte, which the byte loop then passes over).
        while (end - from >= 8) {
            uint64_t word;
            memcpy(&word, from, sizeof word);
            uint64_t hits = BytesBelow(word, 14) | BytesEqual(word, '&') | BytesEqual(word, '#') |
                            BytesEqual(word, '^') | BytesEqual(word, '+');
            if (hits != 0) {
                break;
            }
            from += 8;
        }
        const char* stop = end - from >= 8 ? from + 8 : end;
        for (; from < stop; ++from) {
            if (kSpecial.has[static_cast<unsigned char>(*from)]) {
                return from;
            }
        }
        if (from == end) {
            return end;
        }
    }
}
