#include "convert/format.h"

#include "convert/words.h"

static const char kMarkerReplacement = '-';

// Every byte to itself, except the four markers to the dash.
struct ByteMap {
    char to[256];
};

static constexpr ByteMap MakeMarkerMap()
{
    ByteMap map = {};
    for (int i = 0; i < 256; ++i) {
        map.to[i] = static_cast<char>(i);
    }
    map.to[static_cast<unsigned char>('&')] = kMarkerReplacement;
    map.to[static_cast<unsigned char>('#')] = kMarkerReplacement;
    map.to[static_cast<unsigned char>('^')] = kMarkerReplacement;
    map.to[static_cast<unsigned char>('+')] = kMarkerReplacement;
    return map;
}

static constexpr ByteMap kMarkerMap = MakeMarkerMap();

bool CopyReplacingMarkers(char* out, const char* text, size_t length)
{
    // A table and no branch on the byte: text full of markers costs no more than text without.
    bool replaced = false;
    for (size_t i = 0; i < length; ++i) {
        char c = kMarkerMap.to[static_cast<unsigned char>(text[i])];
        replaced |= c != text[i];
        out[i] = c;
    }
    return replaced;
}

bool CopyReplacingMarkersByWords(char* out, const char* text, size_t length)
{
    const uint64_t kDashes = kByteOnes * static_cast<uint8_t>(kMarkerReplacement);
    uint64_t found = 0;
    size_t i = 0;
    for (; length - i >= 8; i += 8) {
        uint64_t word = LoadLittleEndian(text + i);
        uint64_t markers = MarkerBytes(word);
        uint64_t whole = (markers >> 7) * 0xFF;  // every byte of a marker set
        StoreLittleEndian(out + i, (word & ~whole) | (kDashes & whole));
        found |= markers;
    }
    // The last word is read and written whole; only its first bytes count.
    uint64_t word = LoadLittleEndian(text + i);
    uint64_t markers = MarkerBytes(word) & ((uint64_t{1} << (8 * (length - i))) - 1);
    uint64_t whole = (markers >> 7) * 0xFF;
    StoreLittleEndian(out + i, (word & ~whole) | (kDashes & whole));
    return (found | markers) != 0;
}

char ReplacingMarker(char c)
{
    return kMarkerMap.to[static_cast<unsigned char>(c)];
}

bool NeedsQuotes(const char* name, size_t length)
{
    // No early stop: a branch per byte mispredicts on names that mix letters with specials.
    bool special = false;
    for (size_t i = 0; i < length; ++i) {
        special |= kNameSpecialSet.has[static_cast<unsigned char>(name[i])];
    }
    return special;
}
