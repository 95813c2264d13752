// The first look at a book: its edition and its character set, decided here for every conversion,
// export and front end.
#include <string.h>

#include "convert/charset.h"
#include "convert/converters.h"
#include "convert/scan.h"

namespace ferryline {

static bool StartsWith(const char* bytes, size_t size, const char* literal)
{
    size_t length = strlen(literal);
    return size >= length && memcmp(bytes, literal, length) == 0;
}

static FerrylineByteOrderMark ByteOrderMarkOf(const char* bytes, size_t size)
{
    if (StartsWith(bytes, size, "\xEF\xBB\xBF")) {
        return FERRYLINE_UTF8_BOM;
    }
    if (StartsWith(bytes, size, "\xFF\xFE")) {
        return FERRYLINE_UTF16LE_BOM;
    }
    return StartsWith(bytes, size, "\xFE\xFF") ? FERRYLINE_UTF16BE_BOM : FERRYLINE_NO_BOM;
}

// The text's characters one code unit at a time, in UTF-16 of either byte order or in bytes; a unit
// beyond ASCII reads as the zero byte, which no test below matches.
struct Units {
    const unsigned char* bytes;
    size_t size;
    size_t width;     // 1 or 2
    size_t lowFirst;  // for UTF-16: 1 when the low byte comes first
};

static char UnitAt(const Units& units, size_t index)
{
    size_t at = index * units.width;
    if (units.width == 1) {
        return static_cast<char>(units.bytes[at]);
    }
    unsigned char low = units.bytes[at + 1 - units.lowFirst];
    unsigned char high = units.bytes[at + units.lowFirst];
    return high == 0 && low < 0x80 ? static_cast<char>(low) : '\0';
}

// Whether the first characters other than spaces and line ends are those of a W95 book's start.
static bool StartsAsW95(const Units& units, size_t first)
{
    static const char kW95Start[] = "&Main ";
    size_t count = units.size / units.width;
    size_t i = first;
    while (i < count && (UnitAt(units, i) == ' ' || UnitAt(units, i) == '\r' || UnitAt(units, i) == '\n')) {
        ++i;
    }
    for (size_t k = 0; kW95Start[k] != '\0'; ++k) {
        if (i + k >= count || UnitAt(units, i + k) != kW95Start[k]) {
            return false;
        }
    }
    return true;
}

static FerrylineCharset PublicCharset(Charset charset)
{
    switch (charset) {
    case CHARSET_MAC_ROMAN:
        return FERRYLINE_CHARSET_MAC_ROMAN;
    case CHARSET_WINDOWS_1252:
        return FERRYLINE_CHARSET_WINDOWS_1252;
    case CHARSET_LATIN1:
        return FERRYLINE_CHARSET_LATIN1;
    case CHARSET_UTF8:
        return FERRYLINE_CHARSET_UTF8;
    case CHARSET_UTF16LE:
        return FERRYLINE_CHARSET_UTF16LE;
    case CHARSET_UTF16BE:
        break;
    }
    return FERRYLINE_CHARSET_UTF16BE;
}

// UTF-16 by its byte order mark, or by the zeros of its Latin letters; otherwise CHARSET_UTF8, for none.
static Charset Utf16Found(const char* bytes, size_t size)
{
    if (StartsWith(bytes, size, "\xFF\xFE") || HasUtf16Zeros(bytes, size, 1)) {
        return StartsWith(bytes, size, "\xEF\xBB\xBF") ? CHARSET_UTF8 : CHARSET_UTF16LE;
    }
    if (StartsWith(bytes, size, "\xFE\xFF") || HasUtf16Zeros(bytes, size, 0)) {
        return CHARSET_UTF16BE;
    }
    return CHARSET_UTF8;
}

bool StoredAsUtf16(const char* bytes, size_t size)
{
    return Utf16Found(bytes, size) != CHARSET_UTF8;
}

FerrylineCharset DecideCharset(const char* bytes, size_t size, FerrylineCharset chosen, FerrylineEdition edition)
{
    Charset eightBit = edition == FERRYLINE_EDITION_MAC ? CHARSET_MAC_ROMAN : CHARSET_WINDOWS_1252;
    return PublicCharset(ChooseCharset(bytes, size, chosen, eightBit));
}

void LookAt(const char* bytes, size_t size, FerrylineCharset chosen, bool countHighBytes, bool decideCharset,
            FerrylineLook* look)
{
    look->byteOrderMark = ByteOrderMarkOf(bytes, size);
    look->bytesAbove127 = countHighBytes ? CountHighBytes(bytes, size) : 0;
    // Read as what its bytes plainly are, whatever set was named: UTF-16 has its zeros or its mark.
    Charset utf16 = Utf16Found(bytes, size);
    Units units = {reinterpret_cast<const unsigned char*>(bytes), size, 1, 0};
    size_t first = look->byteOrderMark == FERRYLINE_UTF8_BOM ? kUtf8BomSize : 0;
    if (utf16 != CHARSET_UTF8) {
        units.width = 2;
        units.lowFirst = utf16 == CHARSET_UTF16LE ? 1 : 0;
        first = look->byteOrderMark == FERRYLINE_NO_BOM ? 0 : 1;
    }
    look->edition = StartsAsW95(units, first) ? FERRYLINE_EDITION_W95 : FERRYLINE_EDITION_MAC;
    // Whether the bytes above 127 are plainly UTF-8 takes a pass over the input, which a conversion of
    // bytes as they are may leave for later.
    look->charset = decideCharset ? DecideCharset(bytes, size, chosen, look->edition)
                    : utf16 != CHARSET_UTF8 && chosen == FERRYLINE_CHARSET_AUTO ? PublicCharset(utf16)
                                                                                 : FERRYLINE_CHARSET_AUTO;
}

extern "C" void ferryline_look(const void* bytes, size_t size, FerrylineCharset chosen, FerrylineLook* look)
{
    LookAt(static_cast<const char*>(bytes), size, chosen, true, true, look);
}

extern "C" int ferryline_look_beyond_ascii(const FerrylineLook* look)
{
    const size_t mark = look->byteOrderMark == FERRYLINE_UTF8_BOM ? kUtf8BomSize : 0;
    return IsUtf16(look->charset) || look->bytesAbove127 > mark ? 1 : 0;
}

}  // namespace ferryline
