// The Macintosh edition's grammar, the one reading of its lines: a book is lines, each a maximal run of
// bytes other than CR, LF and the zero byte; a line is `name <address>`, `"name" <address>`, or an
// address alone; a group's line has the address GROUP@GROUP. The converter's fast paths read the same
// lines their own way, and a test holds them to what writing these lines gives.
#ifndef FERRYLINE_MAC_GRAMMAR_H
#define FERRYLINE_MAC_GRAMMAR_H

#include <stddef.h>

#include "convert/ferryline.h"
#include "convert/format.h"

// The pseudo-address of a Mac group line.
inline constexpr char kGroupAddress[] = "GROUP@GROUP";

// A line of a Mac book is a span of the input; name and address are cut out of it without copying.
struct TextSpan {
    const char* text;
    size_t length;
    size_t readable;  // bytes from `text` on that may be read, at least `length`
};

// Where a line splits into name and address: at its first '<', except that a line starting with a
// quote splits at the first '<' that follows a later quote and any spaces, so a quoted name may hold '<'.
// Returns the line's length when there is no '<' at all.
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

// One line as the grammar reads it.
struct MacLine {
    uint64_t number;        // 1-based, counting CR, LF and CR LF ends as an editor shows them
    FerrylineText text;     // the whole line
    FerrylineText name;     // empty for a line without a name
    FerrylineText address;  // the whole line for a line without a name
    bool nameless;          // no '<': the line is an address alone
    bool isGroup;           // the address is GROUP@GROUP; `name` is the group's
    bool isMainGroup;       // a group named "Main", which a W95 book reads as its default group
    bool hasMarkers;        // the line holds one of & # ^ +, which a W95 field can't
};

// The line of `length` bytes at `text`, numbered `number`.
MacLine CutMacLine(const char* text, size_t length, uint64_t number);

typedef void (*MacLineVisitor)(void* context, const MacLine& line);

// Hands each line of the book to `visit`, in order.
void ReadMacLines(const char* bytes, size_t size, MacLineVisitor visit, void* context);

#endif
