#include "convert/charset.h"

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "convert/env.h"
#include "convert/words.h"

static const uint32_t kReplacementCharacter = 0xFFFD;

// Bytes 0x80 to 0xFF of Mac OS Roman, as Apple's Macintosh Roman set of Mac OS 8.5 and later gives them
// (the euro sign at 0xDB, the Apple logo at 0xF0 in the private use area).
static const uint16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // D0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // F8
};

// Bytes 0x80 to 0x9F of Windows-1252; from 0xA0 on it is Latin-1.
static const uint16_t kWindows1252Low[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};

uint32_t DecodeByte(Charset eightBit, unsigned char byte)
{
    if (byte < 0x80 || eightBit == CHARSET_LATIN1) {
        return byte;
    }
    if (eightBit == CHARSET_MAC_ROMAN) {
        return kMacRomanHigh[byte - 0x80];
    }
    return byte < 0xA0 ? kWindows1252Low[byte - 0x80] : byte;
}

int EncodeCharacter(Charset eightBit, uint32_t character)
{
    if (character < 0x80 || (eightBit == CHARSET_LATIN1 && character < 0x100)) {
        return static_cast<int>(character);
    }
    // Few characters of a book lie beyond ASCII; a search of 128 is cheap enough for them.
    for (int byte = 0x80; byte < 0x100; ++byte) {
        if (DecodeByte(eightBit, static_cast<unsigned char>(byte)) == character) {
            return byte;
        }
    }
    return -1;
}

const char* CharsetName(Charset charset)
{
    switch (charset) {
    case CHARSET_MAC_ROMAN:
        return "Mac OS Roman";
    case CHARSET_WINDOWS_1252:
        return "Windows-1252";
    case CHARSET_LATIN1:
        return "Latin-1";
    case CHARSET_UTF8:
        return "UTF-8";
    case CHARSET_UTF16LE:
        return "UTF-16LE";
    case CHARSET_UTF16BE:
        return "UTF-16BE";
    }
    return "";
}

// Reads one UTF-8 sequence at `p`; a malformed one (overlong, a surrogate, beyond U+10FFFF, cut short)
// reads as U+FFFD one byte long. Returns its length.
size_t ReadUtf8(const unsigned char* p, const unsigned char* end, uint32_t* character)
{
    unsigned char lead = p[0];
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 1) {
        *character = lead;
        return 1;
    }
    *character = kReplacementCharacter;
    if (length == 0 || static_cast<size_t>(end - p) < length) {
        return 1;
    }
    uint32_t value = lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 1;
        }
        value = (value << 6) | (p[i] & 0x3Fu);
    }
    const uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 1;
    }
    *character = value;
    return length;
}

static uint32_t ReadUnit16(const unsigned char* p, Charset charset)
{
    const uint32_t first = p[0];
    const uint32_t second = p[1];
    return charset == CHARSET_UTF16LE ? first | (second << 8) : (first << 8) | second;
}

// Reads one character at `p` in `charset`; returns how many bytes it took.
static size_t ReadCharacter(Charset charset, const unsigned char* p, const unsigned char* end, uint32_t* character)
{
    if (charset == CHARSET_UTF8) {
        return ReadUtf8(p, end, character);
    }
    if (charset != CHARSET_UTF16LE && charset != CHARSET_UTF16BE) {
        *character = DecodeByte(charset, *p);
        return 1;
    }
    *character = kReplacementCharacter;
    if (end - p < 2) {
        return static_cast<size_t>(end - p);
    }
    uint32_t unit = ReadUnit16(p, charset);
    if (unit < 0xD800 || unit > 0xDFFF) {
        *character = unit;
    } else if (unit < 0xDC00 && end - p >= 4) {
        uint32_t low = ReadUnit16(p + 2, charset);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            *character = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            return 4;
        }
    }
    return 2;
}

static size_t PutUtf8(uint32_t character, char* out)
{
    if (character < 0x80) {
        out[0] = static_cast<char>(character);
        return 1;
    }
    if (character < 0x800) {
        out[0] = static_cast<char>(0xC0 | (character >> 6));
        out[1] = static_cast<char>(0x80 | (character & 0x3F));
        return 2;
    }
    if (character < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (character >> 12));
        out[1] = static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (character & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (character >> 18));
    out[1] = static_cast<char>(0x80 | ((character >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (character & 0x3F));
    return 4;
}

// The length of the byte order mark `bytes` starts with in `charset`, if any.
static size_t ByteOrderMarkLength(const char* bytes, size_t size, Charset charset)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    if (charset == CHARSET_UTF8 && size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        return 3;
    }
    if ((charset == CHARSET_UTF16LE || charset == CHARSET_UTF16BE) && size >= 2 && ReadUnit16(p, charset) == 0xFEFF) {
        return 2;
    }
    return 0;
}

// UTF-8 with at least one sequence beyond ASCII and nothing malformed: no 8-bit book looks so by chance.
static bool IsPlainlyUtf8(const char* bytes, size_t size)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char* end = p + size;
    bool beyondAscii = false;
    while (p < end) {
        // ASCII, as most of any book is, eight bytes at a time.
        if (end - p >= 8 && (LoadLittleEndian(reinterpret_cast<const char*>(p)) & 0x8080808080808080ull) == 0) {
            p += 8;
            continue;
        }
        uint32_t character = 0;
        size_t length = ReadUtf8(p, end, &character);
        if (character == kReplacementCharacter && length == 1) {
            return false;
        }
        beyondAscii = beyondAscii || length > 1;
        p += length;
    }
    return beyondAscii;
}

bool HasUtf16Zeros(const char* bytes, size_t size, size_t first)
{
    if (size < kUtf16Probe) {
        return false;
    }
    for (size_t i = first; i < kUtf16Probe; i += 2) {
        if (bytes[i] != '\0') {
            return false;
        }
    }
    return true;
}

Charset ChooseCharset(const char* bytes, size_t size, FerrylineCharset chosen, Charset eightBit)
{
    switch (chosen) {
    case FERRYLINE_CHARSET_MAC_ROMAN:
        return CHARSET_MAC_ROMAN;
    case FERRYLINE_CHARSET_WINDOWS_1252:
        return CHARSET_WINDOWS_1252;
    case FERRYLINE_CHARSET_UTF8:
        return CHARSET_UTF8;
    case FERRYLINE_CHARSET_LATIN1:
        return CHARSET_LATIN1;
    case FERRYLINE_CHARSET_UTF16LE:
        return CHARSET_UTF16LE;
    case FERRYLINE_CHARSET_UTF16BE:
        return CHARSET_UTF16BE;
    case FERRYLINE_CHARSET_AUTO:
        break;
    }
    const Charset plain[] = {CHARSET_UTF8, CHARSET_UTF16LE, CHARSET_UTF16BE};
    for (Charset charset : plain) {
        if (ByteOrderMarkLength(bytes, size, charset) > 0) {
            return charset;
        }
    }
    if (HasUtf16Zeros(bytes, size, 1)) {
        return CHARSET_UTF16LE;
    }
    if (HasUtf16Zeros(bytes, size, 0)) {
        return CHARSET_UTF16BE;
    }
    return IsPlainlyUtf8(bytes, size) ? CHARSET_UTF8 : eightBit;
}

void ReleaseText(TextBlock* text, const FerrylineEnv* env)
{
    Release(env, text->bytes, text->capacity);
    text->bytes = nullptr;
    text->size = 0;
    text->capacity = 0;
}

// Decodes into `out`, or only counts the bytes when `out` is null. Returns the UTF-8 length.
static size_t DecodeInto(const char* bytes, size_t size, Charset from, char* out)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char* end = p + size;
    p += ByteOrderMarkLength(bytes, size, from);
    size_t length = 0;
    char sequence[4];
    while (p < end) {
        uint32_t character = 0;
        p += ReadCharacter(from, p, end, &character);
        size_t put = PutUtf8(character, out != nullptr ? out + length : sequence);
        length += put;
    }
    return length;
}

size_t DecodeEightBit(const char* bytes, size_t size, Charset from, char* out)
{
    if (from != CHARSET_MAC_ROMAN && from != CHARSET_WINDOWS_1252 && from != CHARSET_LATIN1) {
        memcpy(out, bytes, size);
        return size;
    }
    size_t length = 0;
    for (size_t i = 0; i < size; ++i) {
        length += PutUtf8(DecodeByte(from, static_cast<unsigned char>(bytes[i])), out + length);
    }
    return length;
}

int DecodeToUtf8(const char* bytes, size_t size, Charset from, const FerrylineEnv* env, TextBlock* text)
{
    text->size = DecodeInto(bytes, size, from, nullptr);
    text->capacity = text->size + 1;  // never zero, so an empty book still gets a block
    text->bytes = static_cast<char*>(Allocate(env, text->capacity));
    if (text->bytes == nullptr) {
        text->capacity = 0;
        text->size = 0;
        return 0;
    }
    DecodeInto(bytes, size, from, text->bytes);
    text->bytes[text->size] = '\0';
    return 1;
}

size_t EncodeFromUtf8(const char* text, size_t size, Charset to, char* out, size_t* replaced)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + size;
    size_t length = 0;
    while (p < end) {
        uint32_t character = 0;
        p += ReadUtf8(p, end, &character);
        int byte = EncodeCharacter(to, character);
        if (byte < 0) {
            ++*replaced;
            byte = '?';
        }
        out[length++] = static_cast<char>(byte);
    }
    return length;
}

// Tells that `count` characters of a line (a Mac book) or a field of an entry (a W95 book) became '?'.
static void TellReplaced(const FerrylineEnv* env, bool fromMac, uint64_t number, const char* segment,
                         size_t length, size_t count, Charset to)
{
    static const char kFormat[] = "%s %" PRIu64 ": \"%.*s\": %zu %s that %s can't hold became \"?\"";
    if (length > 0x7FFFFFFF) {
        length = 0x7FFFFFFF;
    }
    // A long line gets a block of its own; refused one, the change is told with the line cut short.
    char small[192];
    size_t capacity = length + sizeof kFormat + 64;
    char* text = capacity > sizeof small ? static_cast<char*>(Allocate(env, capacity)) : nullptr;
    if (text == nullptr) {
        text = small;
        capacity = sizeof small;
        length = length < 64 ? length : 64;
    }
    int written = snprintf(text, capacity, kFormat, fromMac ? "line" : "entry", number, static_cast<int>(length),
                           segment, count, count == 1 ? "character" : "characters", CharsetName(to));
    size_t size = written > 0 && static_cast<size_t>(written) < capacity ? static_cast<size_t>(written) : 0;
    NoteChange(env, FERRYLINE_CHARACTER_REPLACED, number, text, size);
    if (text != small) {
        Release(env, text, capacity);
    }
}

static bool EndsSegment(char c, bool fromMac)
{
    return fromMac ? c == '\r' || c == '\n' || c == '\0'
                   : c == '&' || c == '#' || c == '^' || c == '+' || c == '\0';
}

int RecodeBook(const char* bytes, size_t size, bool fromMac, FerrylineCharset chosen, const FerrylineEnv* env,
               TextBlock* recoded)
{
    Charset from = ChooseCharset(bytes, size, chosen, fromMac ? CHARSET_MAC_ROMAN : CHARSET_WINDOWS_1252);
    Charset to = fromMac ? CHARSET_WINDOWS_1252 : CHARSET_MAC_ROMAN;
    TextBlock utf8;
    if (!DecodeToUtf8(bytes, size, from, env, &utf8)) {
        return 0;
    }
    // One byte in an 8-bit set for each character, and every character takes a byte or more in UTF-8.
    recoded->capacity = utf8.capacity;
    recoded->size = 0;
    recoded->bytes = static_cast<char*>(Allocate(env, recoded->capacity));
    if (recoded->bytes == nullptr) {
        recoded->capacity = 0;
        ReleaseText(&utf8, env);
        return 0;
    }
    // Lines count as the Mac converter counts them; W95 entries by their '#', and nothing is told past
    // the '+' that ends the book.
    uint64_t number = fromMac ? 1 : 0;
    bool ended = false;
    const char* p = utf8.bytes;
    const char* end = utf8.bytes + utf8.size;
    while (p < end) {
        const char* start = p;
        while (p < end && !EndsSegment(*p, fromMac)) {
            ++p;
        }
        size_t replaced = 0;
        recoded->size += EncodeFromUtf8(start, static_cast<size_t>(p - start), to, recoded->bytes + recoded->size, &replaced);
        if (replaced > 0 && !ended) {
            TellReplaced(env, fromMac, number, start, static_cast<size_t>(p - start), replaced, to);
        }
        if (p < end) {
            char c = *p++;
            recoded->bytes[recoded->size++] = c;
            if (fromMac) {
                number += c == '\n' || (c == '\r' && !(p < end && *p == '\n')) ? 1 : 0;
            } else {
                number += c == '#' ? 1 : 0;
                ended = ended || c == '+';
            }
        }
    }
    ReleaseText(&utf8, env);
    return 1;
}
