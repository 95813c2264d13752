// Eight bytes at a time in a 64-bit word, portably: the first byte is the lowest whatever the machine's
// byte order, and a byte's test leaves its high bit set, with no carry from one byte into the next.
#ifndef FERRYLINE_WORDS_H
#define FERRYLINE_WORDS_H

#include <stdint.h>
#include <string.h>

namespace ferryline {

const uint64_t kByteOnes = 0x0101010101010101ull;
const uint64_t kByteLowBits = 0x7f7f7f7f7f7f7f7full;

// The high bit of every byte of `word` that is zero, and no other bit.
inline uint64_t ZeroBytes(uint64_t word)
{
    return ~(((word & kByteLowBits) + kByteLowBits) | word | kByteLowBits);
}

inline uint64_t BytesEqual(uint64_t word, uint8_t value)
{
    return ZeroBytes(word ^ (kByteOnes * value));
}

// The high bit of every byte that is one of the W95 markers & # ^ +.
inline uint64_t MarkerBytes(uint64_t word)
{
    return BytesEqual(word, '&') | BytesEqual(word, '#') | BytesEqual(word, '^') | BytesEqual(word, '+');
}

// Compilers make each of these one load or store on a little-endian machine.
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

inline void StoreLittleEndian(char* to, uint64_t word)
{
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(word >> (8 * i));
    }
    memcpy(to, bytes, sizeof bytes);
}

}  // namespace ferryline

#endif
