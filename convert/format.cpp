#include "convert/format.h"

#include <string.h>

const char kMainGroup[] = "Main";
const char kGroupAddress[] = "GROUP@GROUP";

static const char kMarkerReplacement = '-';
static const char kSpecialNameCharacters[] = "()<>@,;:\\.[]";

bool IsW95Delimiter(char c)
{
    return c == '&' || c == '#' || c == '^' || c == '+' || c == '\0';
}

bool AppendReplacingMarkers(std::string* out, const char* text, size_t length)
{
    size_t start = out->size();
    out->append(text, length);
    bool replaced = false;
    for (size_t i = start; i < out->size(); ++i) {
        char c = (*out)[i];
        if (c != '\0' && IsW95Delimiter(c)) {
            (*out)[i] = kMarkerReplacement;
            replaced = true;
        }
    }
    return replaced;
}

bool NeedsQuotes(const char* name, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (name[i] != '\0' && strchr(kSpecialNameCharacters, name[i]) != nullptr) {
            return true;
        }
    }
    return false;
}

bool TextEquals(const char* text, size_t length, const char* literal)
{
    return length == strlen(literal) && memcmp(text, literal, length) == 0;
}
