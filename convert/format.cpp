#include "convert/format.h"

#include <string.h>

const char kMainGroup[] = "Main";
const char kGroupAddress[] = "GROUP@GROUP";

static const char kMarkerReplacement = '-';

bool CopyReplacingMarkers(char* out, const char* text, size_t length)
{
    // No branch on the byte, so the compiler can work through many bytes at once.
    bool replaced = false;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        bool marker = (c == '&') | (c == '#') | (c == '^') | (c == '+');
        out[i] = marker ? kMarkerReplacement : c;
        replaced |= marker;
    }
    return replaced;
}

// The twelve characters "()<>@,;:\\.[]" that make a name quoted.
static bool IsSpecialNameCharacter(char c)
{
    switch (c) {
    case '(': case ')': case '<': case '>': case '@': case ',':
    case ';': case ':': case '\\': case '.': case '[': case ']':
        return true;
    default:
        return false;
    }
}

bool NeedsQuotes(const char* name, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (IsSpecialNameCharacter(name[i])) {
            return true;
        }
    }
    return false;
}

bool TextEquals(const char* text, size_t length, const char* literal)
{
    return length == strlen(literal) && memcmp(text, literal, length) == 0;
}
