// The W95 edition's grammar, the one reading of its stream: `&group` starts a group, `#name ^address`
// is an entry, `+` ends the book; a field runs from its marker to the next marker or zero byte, its line
// breaks left out and one trailing space, the writer's separator, dropped. The book starts with its
// default group, "&Main". The converter's fast paths read the same stream their own way, and a test holds
// them to what writing these items gives.
#ifndef FERRYLINE_W95_GRAMMAR_H
#define FERRYLINE_W95_GRAMMAR_H

#include <stddef.h>

#include "convert/ferryline.h"
#include "convert/format.h"

// The W95 markers & # ^ + can't stand inside a field, nor can the zero byte that ends the data.
// Inline, since the reader asks it of every byte of a field.
inline bool IsW95Delimiter(char c)
{
    return IsW95Marker(c) || c == '\0';
}

inline bool IsLineBreak(char c)
{
    return c == '\r' || c == '\n';
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

// The field's span up to the end of its text, line breaks still in it, as changes report it.
inline FerrylineText FieldSpan(const Field& field)
{
    return FerrylineText{field.start, field.textEnd};
}

enum W95ItemKind {
    W95_GROUP,
    W95_ENTRY,
    W95_ENTRY_WITHOUT_ADDRESS  // a name the stream does not follow with '^': the entry ends its group
};

// One item as the grammar reads it.
struct W95Item {
    W95ItemKind kind;
    uint64_t entry;       // an entry's 1-based number; for a group, the entries before it
    Field name;           // the group's or the entry's
    Field address;        // an entry's
    bool isMain;          // a group named "Main"
    bool isFirst;         // the group that starts the stream, its default group
};

typedef void (*W95ItemVisitor)(void* context, const W95Item& item);

// Hands each item of the stream at `bytes`, which starts at its first '&', to `visit`, in order, up to
// its '+' or its first fault. Returns whether it ended with its '+'.
bool ReadW95Items(const char* bytes, size_t size, W95ItemVisitor visit, void* context);

#endif
