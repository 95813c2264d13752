#include "convert/mac_grammar.h"

#include <string.h>

size_t FindNameEnd(const char* line, size_t length)
{
    if (length > 0 && line[0] == '"') {
        size_t i = 1;
        while (i < length) {
            const void* quote = memchr(line + i, '"', length - i);
            if (quote == nullptr) {
                break;
            }
            size_t next = static_cast<size_t>(static_cast<const char*>(quote) - line) + 1;
            while (next < length && line[next] == ' ') {
                ++next;
            }
            if (next < length && line[next] == '<') {
                return next;
            }
            i = next;
        }
    }
    const void* bracket = memchr(line, '<', length);
    return bracket != nullptr ? static_cast<size_t>(static_cast<const char*>(bracket) - line) : length;
}

static bool HoldsMarker(const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (IsW95Marker(text[i])) {
            return true;
        }
    }
    return false;
}

MacLine CutMacLine(const char* text, size_t length, uint64_t number)
{
    TextSpan whole = {text, length, length};
    TextSpan name = {text, 0, length};
    TextSpan address = whole;
    size_t nameEnd = FindNameEnd(text, length);
    if (nameEnd != length) {
        SplitLine(whole, nameEnd, &name, &address);
    }
    MacLine line;
    line.number = number;
    line.text = FerrylineText{text, length};
    line.name = FerrylineText{name.text, name.length};
    line.address = FerrylineText{address.text, address.length};
    line.nameless = nameEnd == length;
    line.isGroup = TextEquals(address.text, address.length, kGroupAddress);
    line.isMainGroup = line.isGroup && TextEquals(name.text, name.length, kMainGroup);
    line.hasMarkers = HoldsMarker(text, length);
    return line;
}

static bool IsMacLineEnd(char c)
{
    return c == '\r' || c == '\n' || c == '\0';
}

void ReadMacLines(const char* bytes, size_t size, MacLineVisitor visit, void* context)
{
    const char* end = bytes + size;
    const char* p = bytes;
    uint64_t number = 1;
    while (p < end) {
        char c = *p;
        if (IsMacLineEnd(c)) {
            ++p;
            number += c == '\n' || (c == '\r' && !(p < end && *p == '\n')) ? 1 : 0;
            continue;
        }
        const char* start = p;
        while (p < end && !IsMacLineEnd(*p)) {
            ++p;
        }
        visit(context, CutMacLine(start, static_cast<size_t>(p - start), number));
    }
}
