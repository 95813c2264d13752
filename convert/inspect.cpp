// A look at a book before or instead of converting it: which edition it is, what it holds, and what
// its bytes above 127 and its line ends look like.
#include <stdint.h>
#include <string.h>

#include "convert/charset.h"
#include "convert/converters.h"
#include "convert/format.h"
#include "convert/mac_grammar.h"
#include "convert/w95_grammar.h"
#include "convert/scan.h"

// The length of the UTF-8 sequence that starts at bytes[i], or 0 when none does.
static size_t Utf8SequenceAt(const unsigned char* bytes, size_t size, size_t i)
{
    unsigned char lead = bytes[i];
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
    if (length == 0 || size - i < length) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((bytes[i + k] & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Valid UTF-8 is rarely an accident. Otherwise the accented letters of Mac OS Roman lie mostly in
// 0x80-0x9F, where Windows-1252 has punctuation and its own letters lie above 0xBF.
static FerrylineBytesLookLike GuessCharset(const char* text, size_t size)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    bool utf8 = true;
    size_t low = 0;
    size_t high = 0;
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] < 0x80) {
            continue;
        }
        (bytes[i] < 0xA0 ? low : high) += 1;
        size_t length = utf8 ? Utf8SequenceAt(bytes, size, i) : 0;
        if (length == 0) {
            utf8 = false;
        } else {
            i += length - 1;
        }
    }
    if (low + high == 0) {
        return FERRYLINE_LOOKS_ASCII;
    }
    if (utf8) {
        return FERRYLINE_LOOKS_UTF8;
    }
    return low > high ? FERRYLINE_LOOKS_MAC_ROMAN : FERRYLINE_LOOKS_WINDOWS_1252;
}

// Line ends, zero bytes and the longest line, the way an editor shows the lines of either edition.
static void CountLines(const char* bytes, size_t size, FerrylineInspection* inspection)
{
    uint64_t lineNumber = 1;
    size_t lineStart = 0;
    inspection->longestLineNumber = 1;
    for (size_t i = 0; i <= size; ++i) {
        char c = i < size ? bytes[i] : '\n';
        if (c == '\0') {
            ++inspection->zeroBytes;
        }
        if (c != '\r' && c != '\n') {
            continue;
        }
        if (i - lineStart > inspection->longestLine) {
            inspection->longestLine = i - lineStart;
            inspection->longestLineNumber = lineNumber;
        }
        if (i == size) {
            break;
        }
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n') {
            ++inspection->crlfEnds;
            ++i;
        } else {
            ++(c == '\r' ? inspection->crEnds : inspection->lfEnds);
        }
        ++lineNumber;
        lineStart = i + 1;
    }
}

// Each line of a Mac book counted as the grammar reads it.
static void CountMacLine(void* context, const MacLine& line)
{
    FerrylineInspection* inspection = static_cast<FerrylineInspection*>(context);
    inspection->namelessLines += line.nameless ? 1u : 0u;
    inspection->reservedLines += line.hasMarkers ? 1u : 0u;
    if (line.isGroup) {
        ++inspection->groups;
        inspection->mainGroups += line.isMainGroup ? 1u : 0u;
    } else {
        ++inspection->entries;
        inspection->withoutAddress += line.address.size == 0 ? 1u : 0u;
    }
}

// Each item of a W95 stream counted as the grammar reads it; the first group is the default one.
static void CountW95Item(void* context, const W95Item& item)
{
    FerrylineInspection* inspection = static_cast<FerrylineInspection*>(context);
    switch (item.kind) {
    case W95_GROUP:
        if (!(item.isFirst && item.isMain)) {
            ++inspection->groups;
            inspection->mainGroups += item.isMain ? 1u : 0u;
        }
        break;
    case W95_ENTRY:
    case W95_ENTRY_WITHOUT_ADDRESS:
        ++inspection->entries;
        inspection->namelessLines += FieldEquals(item.name, "") ? 1u : 0u;
        inspection->withoutAddress += item.kind == W95_ENTRY_WITHOUT_ADDRESS ? 1u : 0u;
        break;
    }
}

// The items of a W95 stream up to its '+' or its first fault. Spaces and line ends before the stream
// are skipped, though the conversion refuses them: such a book is counted, and incomplete.
static void CountW95Items(const char* bytes, size_t size, FerrylineInspection* inspection)
{
    size_t start = 0;
    while (start < size && bytes[start] != '&') {
        ++start;
    }
    bool ended = ReadW95Items(bytes + start, size - start, CountW95Item, inspection);
    inspection->complete = ended && start == 0 ? 1 : 0;
}

void ferryline_inspect(const void* input, size_t size, FerrylineInspection* inspection)
{
    const char* bytes = static_cast<const char*>(input);
    memset(inspection, 0, sizeof *inspection);
    LookAt(bytes, size, FERRYLINE_CHARSET_AUTO, true, true, &inspection->look);
    CountLines(bytes, size, inspection);
    inspection->charset = GuessCharset(bytes, size);
    inspection->complete = 1;
    if (IsUtf16(inspection->look.charset)) {
        return;  // its counts stay 0
    }
    if (inspection->look.byteOrderMark == FERRYLINE_UTF8_BOM) {
        bytes += kUtf8BomSize;
        size -= kUtf8BomSize;
    }
    if (inspection->look.edition == FERRYLINE_EDITION_MAC) {
        ReadMacLines(bytes, size, CountMacLine, inspection);
    } else {
        CountW95Items(bytes, size, inspection);
    }
}
