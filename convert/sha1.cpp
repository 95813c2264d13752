// SHA-1 as FIPS 180-4 states it, a block of 64 bytes at a time, and the UUID made from its digest.
#include "convert/sha1.h"

#include <string.h>

static uint32_t RotateLeft(uint32_t value, unsigned bits)
{
    return (value << bits) | (value >> (32 - bits));
}

static void Compress(uint32_t state[5], const unsigned char block[64])
{
    uint32_t w[80];
    for (size_t t = 0; t < 16; ++t) {
        w[t] = static_cast<uint32_t>(block[4 * t]) << 24 | static_cast<uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<uint32_t>(block[4 * t + 2]) << 8 | static_cast<uint32_t>(block[4 * t + 3]);
    }
    for (size_t t = 16; t < 80; ++t) {
        w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (size_t t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        uint32_t next = RotateLeft(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

void Sha1Start(Sha1* sha)
{
    static const uint32_t kInitial[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    memcpy(sha->state, kInitial, sizeof kInitial);
    sha->length = 0;
    sha->filled = 0;
}

void Sha1Add(Sha1* sha, const void* bytes, size_t size)
{
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    sha->length += size;
    while (size > 0) {
        size_t take = sizeof sha->block - sha->filled < size ? sizeof sha->block - sha->filled : size;
        memcpy(sha->block + sha->filled, in, take);
        sha->filled += take;
        in += take;
        size -= take;
        if (sha->filled == sizeof sha->block) {
            Compress(sha->state, sha->block);
            sha->filled = 0;
        }
    }
}

void Sha1Finish(Sha1* sha, unsigned char digest[20])
{
    uint64_t bits = sha->length * 8;
    // A one bit, zeros up to 8 bytes before a block's end, then the length in bits, big-endian.
    static const unsigned char kPadding[64] = {0x80};
    size_t padding = sha->filled < 56 ? 56 - sha->filled : 120 - sha->filled;
    Sha1Add(sha, kPadding, padding);
    unsigned char length[8];
    for (size_t i = 0; i < 8; ++i) {
        length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    }
    Sha1Add(sha, length, sizeof length);
    for (size_t i = 0; i < 20; ++i) {
        digest[i] = static_cast<unsigned char>(sha->state[i / 4] >> (24 - 8 * (i % 4)));
    }
}

void NameBasedUuid(const unsigned char space[16], const UuidName* parts, size_t partCount, char text[46])
{
    Sha1 sha;
    Sha1Start(&sha);
    Sha1Add(&sha, space, 16);
    for (size_t i = 0; i < partCount; ++i) {
        Sha1Add(&sha, parts[i].bytes, parts[i].size);
    }
    unsigned char digest[20];
    Sha1Finish(&sha, digest);
    digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x50);  // version 5
    digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    static const char kHex[] = "0123456789abcdef";
    memcpy(text, "urn:uuid:", 9);
    size_t at = 9;
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text[at++] = '-';
        }
        text[at++] = kHex[digest[i] >> 4];
        text[at++] = kHex[digest[i] & 15];
    }
    text[at] = '\0';
}
