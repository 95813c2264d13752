// SHA-1 (FIPS 180-4), for the name-based UUIDs of exported cards (RFC 4122 version 5), not for security.
#ifndef FERRYLINE_SHA1_H
#define FERRYLINE_SHA1_H

#include <stddef.h>
#include <stdint.h>

struct Sha1 {
    uint32_t state[5];
    uint64_t length;        // bytes taken so far
    unsigned char block[64];
    size_t filled;          // bytes of `block` waiting for the rest of it
};

void Sha1Start(Sha1* sha);
void Sha1Add(Sha1* sha, const void* bytes, size_t size);
void Sha1Finish(Sha1* sha, unsigned char digest[20]);

// A version 5 UUID for `name` within `space` (16 bytes each way), written as "urn:uuid:" and its 36
// characters, with a terminating zero, into `text`.
struct UuidName {
    const char* bytes;
    size_t size;
};
void NameBasedUuid(const unsigned char space[16], const UuidName* parts, size_t partCount, char text[46]);

#endif
