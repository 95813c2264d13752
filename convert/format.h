// The characters that the two address book formats give a meaning to.
#ifndef FERRYLINE_FORMAT_H
#define FERRYLINE_FORMAT_H

#include <stddef.h>
#include <string.h>

// The default group every W95 book starts with, and the pseudo-address of a Mac group line.
inline constexpr char kMainGroup[] = "Main";
inline constexpr char kGroupAddress[] = "GROUP@GROUP";

// The W95 markers & # ^ + can't stand inside a field, nor can the zero byte that ends the data.
// Inline, since the reader asks it of every byte of a field.
inline bool IsW95Delimiter(char c)
{
    return c == '&' || c == '#' || c == '^' || c == '+' || c == '\0';
}

// Copies `length` bytes of `text` to `out` with every W95 marker replaced by a dash.
// Returns whether anything was replaced.
bool CopyReplacingMarkers(char* out, const char* text, size_t length);

// The characters that make a personal name quoted in a Mac line.
inline constexpr char kNameSpecials[] = "()<>@,;:\\.[]";

// Whether a personal name must be quoted in a Mac line: it holds one of kNameSpecials.
bool NeedsQuotes(const char* name, size_t length);

// Inline, so that the length of a literal is known where it is compared with every line.
inline bool TextEquals(const char* text, size_t length, const char* literal)
{
    return length == strlen(literal) && memcmp(text, literal, length) == 0;
}

#endif
