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

void ClassifyWord(uint64_t word, unsigned shift, ByteClasses* classes)
{
    classes->zeros |= GatherHighBits(ZeroBytes(word)) << shift;
    classes->breaks |= GatherHighBits(BytesEqual(word, '\r') | BytesEqual(word, '\n')) << shift;
    classes->markers |= GatherHighBits(BytesEqual(word, '&') | BytesEqual(word, '#') | BytesEqual(word, '^') |
                                       BytesEqual(word, '+'))
                        << shift;
    classes->brackets |= GatherHighBits(BytesEqual(word, '<')) << shift;
}

}  // namespace

ByteClasses ClassifyBytes(const char* block, size_t size)
{
    ByteClasses classes = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        ClassifyWord(LoadLittleEndian(block + i), static_cast<unsigned>(i), &classes);
    }
    if (i < size) {
        // The last few bytes, padded with a byte of no class.
        char last[8];
        memset(last, 'a', sizeof last);
        memcpy(last, block + i, size - i);
        ClassifyWord(LoadLittleEndian(last), static_cast<unsigned>(i), &classes);
    }
    return classes;
}

ClassifyFunction ChooseClassify()
{
    ClassifyFunction wide = WideClassify();
    return wide != nullptr ? wide : ClassifyBytes;
}
