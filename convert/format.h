// The characters that the two address book formats give a meaning to.
#ifndef FERRYLINE_FORMAT_H
#define FERRYLINE_FORMAT_H

#include <stddef.h>
#include <string.h>

// The default group every W95 book starts with.
inline constexpr char kMainGroup[] = "Main";

// How each edition's writers end a Mac group line and an entry line, and start and end a W95 book.
inline constexpr char kGroupLineEnd[] = "\" <GROUP@GROUP>\r\n";
inline constexpr char kEntryLineEnd[] = ">\r\n";
inline constexpr char kW95Header[] = "&Main ";
inline constexpr char kW95Trailer[] = "+";
// The name an entry without one gets where the W95 edition needs a name, numbered from 1.
inline constexpr char kPlaceholderFormat[] = "No Name %02lu";

// The W95 markers & # ^ +, which a Mac line may hold and a W95 field can't.
inline bool IsW95Marker(char c)
{
    return c == '&' || c == '#' || c == '^' || c == '+';
}

// Copies `length` bytes of `text` to `out` with every W95 marker replaced by a dash.
// Returns whether anything was replaced.
bool CopyReplacingMarkers(char* out, const char* text, size_t length);

// The same, eight bytes at a time, for a short field in room with slack: reads and writes up to the
// next multiple of eight bytes past `text` and `out`, which must both hold that many.
bool CopyReplacingMarkersByWords(char* out, const char* text, size_t length);

// The byte CopyReplacingMarkers writes for `c`.
char ReplacingMarker(char c);

// The characters that make a personal name quoted in a Mac line.
inline constexpr char kNameSpecials[] = "()<>@,;:\\.[]";

// kNameSpecials as a table, for the loops that ask it of every byte; the byte classifiers' wide paths
// are held to it by a test.
struct NameSpecialSet {
    bool has[256];
};

constexpr NameSpecialSet MakeNameSpecialSet()
{
    NameSpecialSet set = {};
    for (size_t i = 0; kNameSpecials[i] != '\0'; ++i) {
        set.has[static_cast<unsigned char>(kNameSpecials[i])] = true;
    }
    return set;
}

inline constexpr NameSpecialSet kNameSpecialSet = MakeNameSpecialSet();

// Whether a personal name must be quoted in a Mac line: it holds one of kNameSpecials.
bool NeedsQuotes(const char* name, size_t length);

// Inline, so that the length of a literal is known where it is compared with every line.
inline bool TextEquals(const char* text, size_t length, const char* literal)
{
    return length == strlen(literal) && memcmp(text, literal, length) == 0;
}

#endif
