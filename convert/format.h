// The characters that the two address book formats give a meaning to.
#ifndef FERRYLINE_FORMAT_H
#define FERRYLINE_FORMAT_H

#include <stddef.h>
#include <string.h>

// The default group every W95 book starts with, and the pseudo-address of a Mac group line.
inline constexpr char kMainGroup[] = "Main";
inline constexpr char kGroupAddress[] = "GROUP@GROUP";

// How each edition's writers end a Mac group line and an entry line, and start and end a W95 book.
inline constexpr char kGroupLineEnd[] = "\" <GROUP@GROUP>\r\n";
inline constexpr char kEntryLineEnd[] = ">\r\n";
inline constexpr char kW95Header[] = "&Main ";
inline constexpr char kW95Trailer[] = "+";

// The W95 markers & # ^ + can't stand inside a field, nor can the zero byte that ends the data.
// Inline, since the reader asks it of every byte of a field.
inline bool IsW95Delimiter(char c)
{
    return c == '&' || c == '#' || c == '^' || c == '+' || c == '\0';
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

// Whether a personal name must be quoted in a Mac line: it holds one of kNameSpecials.
bool NeedsQuotes(const char* name, size_t length);

// Inline, so that the length of a literal is known where it is compared with every line.
inline bool TextEquals(const char* text, size_t length, const char* literal)
{
    return length == strlen(literal) && memcmp(text, literal, length) == 0;
}

// A line of a Mac book is a span of the input; name and address are cut out of it without copying.
struct TextSpan {
    const char* text;
    size_t length;
    size_t readable;  // bytes from `text` on that may be read, at least `length`
};

// Where a Mac line splits into name and address; the line's length when it holds no '<'.
size_t FindNameEnd(const char* line, size_t length);
// A quote or a space, as a name's end may hold before its '<'; one test, with no branch.
inline bool IsNameTrailer(char c)
{
    return (c | 2) == '"';  // '"' is 0x22, ' ' is 0x20
}

// Splits a line that holds a '<' at `nameEnd`: the name loses a leading quote and any trailing quotes
// and spaces, the address loses one closing '>'. Inline, and with no branch for the common ends of a
// name ("Name <" and "\"Name\" <"): which of them a line has is as good as random, and a branch that
// guesses wrong costs more than the rest of the split.
inline void SplitLine(TextSpan line, size_t nameEnd, TextSpan* name, TextSpan* address)
{
    size_t nameStart = line.text[0] == '"' && nameEnd > 0 ? 1 : 0;
    const char* text = line.text + nameStart;
    size_t length = nameEnd - nameStart;
    if (length >= 2) {
        size_t last = IsNameTrailer(text[length - 1]);
        length -= last + (last & static_cast<size_t>(IsNameTrailer(text[length - 2])));
    }
    while (length > 0 && IsNameTrailer(text[length - 1])) {
        --length;
    }
    name->text = text;
    name->length = length;
    name->readable = line.readable - nameStart;
    address->text = line.text + nameEnd + 1;
    address->length = line.length - nameEnd - 1;
    address->readable = line.readable - nameEnd - 1;
    address->length -= address->length > 0 && address->text[address->length - 1] == '>';
}

// A field as it stands in a W95 input: from the byte after its marker to the next delimiter. Its text is
// that span without line breaks and without one trailing space, the separator the writer puts after
// every field; a stream an editor broke into lines so reads as one.
struct Field {
    const char* start;
    const char* end;   // the delimiter, or the end of the input
    bool hasBreaks;    // CR or LF inside, to be left out
    bool hasSpecials;  // a character that makes a name quoted
    size_t textEnd;    // the text is [start, start + textEnd) less its line breaks
    size_t readable;   // bytes from `start` on that may be read
};

// Reads the W95 field after the marker at `marker`, whatever its length.
Field ReadField(const char* marker, const char* end);
// Whether the field's text, line breaks left out, is `literal`. Inline for a field without breaks,
// so that the literal's length is known where it is compared.
bool FieldWithBreaksEquals(const Field& field, const char* literal);
inline bool FieldEquals(const Field& field, const char* literal)
{
    return field.hasBreaks ? FieldWithBreaksEquals(field, literal) : TextEquals(field.start, field.textEnd, literal);
}

#endif
