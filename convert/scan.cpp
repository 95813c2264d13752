#include "convert/scan.h"

#include <stdint.h>
#include <string.h>

namespace {

const uint64_t kOnes = 0x0101010101010101ull;
const uint64_t kHighBits = 0x8080808080808080ull;

// A high bit in every byte of `word` that is below `limit` (at most 127). Borrows may also mark bytes
// above a marked one, never one below and never leave a match unmarked, so every match is marked and
// the lowest mark is a match.
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

constexpr ByteSet MakeStopSet(bool bracket)
{
    ByteSet set = {};
    const char special[] = "&#^+\r\n";
    for (size_t i = 0; special[i] != '\0'; ++i) {
        set.has[static_cast<unsigned char>(special[i])] = true;
    }
    set.has[0] = true;
    set.has[static_cast<unsigned char>('<')] = bracket;
    return set;
}

constexpr ByteSet kSpecial = MakeStopSet(false);
constexpr ByteSet kSpecialOrBracket = MakeStopSet(true);

// Index of the lowest marked byte; the words are read little-end first, whatever the machine.
inline size_t LowestMark(uint64_t marks)
{
    return static_cast<size_t>(__builtin_ctzll(marks)) / 8;
}

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

template <bool kBracket>
const char* FindStop(const char* from, const char* end)
{
    const ByteSet& stops = kBracket ? kSpecialOrBracket : kSpecial;
    while (end - from >= 8) {
        uint64_t word = LoadLittleEndian(from);
        // The zero byte, CR and LF are all below 14, so one test finds them, along with the odd tab or
        // other control byte that the table then passes over.
        uint64_t marks = BytesBelow(word, 14) | BytesEqual(word, '&') | BytesEqual(word, '#') |
                         BytesEqual(word, '^') | BytesEqual(word, '+');
        if (kBracket) {
            marks |= BytesEqual(word, '<');
        }
        while (marks != 0) {
            const char* at = from + LowestMark(marks);
            if (stops.has[static_cast<unsigned char>(*at)]) {
                return at;
            }
            marks &= marks - 1;
        }
        from += 8;
    }
    for (; from < end; ++from) {
        if (stops.has[static_cast<unsigned char>(*from)]) {
            return from;
        }
    }
    return end;
}

}  // namespace

const char* FindSpecialByte(const char* from, const char* end)
{
    return FindStop<false>(from, end);
}

const char* FindSpecialByteOrBracket(const char* from, const char* end)
{
    return FindStop<true>(from, end);
}

StopFinders ChooseStopFinders()
{
    StopFinders finders = {FindSpecialByte, FindSpecialByteOrBracket};
    GetWideStopFinders(&finders);
    return finders;
}
