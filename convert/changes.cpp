// The changes a conversion reports, as the lines a user reads.
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "convert/charset.h"
#include "convert/ferryline.h"
#include "convert/format.h"
#include "convert/mac_grammar.h"

// Appends to a text of fixed capacity, counting what would not fit, as snprintf does.
struct LineText {
    char* buffer;
    size_t capacity;
    size_t length;
};

static void Append(LineText* line, const char* text, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (line->length + 1 < line->capacity) {
            line->buffer[line->length] = text[i];
        }
        ++line->length;
    }
}

static void AppendString(LineText* line, const char* text)
{
    while (*text != '\0') {
        Append(line, text++, 1);
    }
}

static void AppendNumber(LineText* line, uint64_t number)
{
    char digits[32];
    int length = snprintf(digits, sizeof digits, "%" PRIu64, number);
    Append(line, digits, length > 0 ? static_cast<size_t>(length) : 0);
}

static void AppendHex(LineText* line, const char* prefix, unsigned value, int digits)
{
    static const char kHex[] = "0123456789abcdef";
    AppendString(line, prefix);
    for (int i = digits - 1; i >= 0; --i) {
        Append(line, &kHex[(value >> (4 * i)) & 15], 1);
    }
}

// UTF-8 text as a user may be shown it, on a terminal too: every control character (C0, DEL, and
// U+0080-U+009F, which a terminal may take for the start of a sequence) and every byte that is no part
// of a UTF-8 character written as an escape, so no book or file name can send a terminal a command or
// make one line look like two; `written` shows it with its markers replaced as the output has it.
static void AppendEscaped(LineText* line, FerrylineText text, bool written)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.bytes);
    const unsigned char* end = p + text.size;
    while (p < end) {
        uint32_t character = 0;
        size_t length = ReadUtf8(p, end, &character);
        if (length == 1 && *p >= 0x80) {
            AppendHex(line, "\\x", *p, 2);  // no character of UTF-8
        } else if (character < 0x20 || (character >= 0x7F && character <= 0x9F)) {
            AppendHex(line, character < 0x80 ? "\\x" : "\\u", character, character < 0x80 ? 2 : 4);
        } else if (length == 1) {
            char c = written ? ReplacingMarker(static_cast<char>(*p)) : static_cast<char>(*p);
            Append(line, &c, 1);
        } else {
            Append(line, reinterpret_cast<const char*>(p), length);
        }
        p += length;
    }
}

size_t ferryline_shown_text(const char* text, size_t size, char* buffer, size_t capacity)
{
    LineText line = {buffer, capacity, 0};
    AppendEscaped(&line, FerrylineText{text, size}, false);
    if (capacity > 0) {
        buffer[line.length < capacity ? line.length : capacity - 1] = '\0';
    }
    return line.length;
}

static void AppendQuoted(LineText* line, FerrylineText text, bool written = false)
{
    Append(line, "\"", 1);
    AppendEscaped(line, text, written);
    Append(line, "\"", 1);
}

static bool IsGroupAddress(FerrylineText address)
{
    return address.bytes != nullptr && TextEquals(address.bytes, address.size, kGroupAddress);
}

// A Mac line as `"name" <address>`, or `group "name"`.
static void AppendItem(LineText* line, FerrylineText name, FerrylineText address, bool written)
{
    if (IsGroupAddress(address)) {
        AppendString(line, "group ");
        AppendQuoted(line, name, written);
        return;
    }
    AppendQuoted(line, name, written);
    AppendString(line, " <");
    AppendEscaped(line, address, written);
    AppendString(line, ">");
}

static bool Holds(FerrylineText text, char c)
{
    return text.size > 0 && memchr(text.bytes, c, text.size) != nullptr;
}

static bool HoldsMarker(FerrylineText text)
{
    return Holds(text, '&') || Holds(text, '#') || Holds(text, '^') || Holds(text, '+');
}

static void AppendPosition(LineText* line, const char* word, uint64_t number)
{
    AppendString(line, word);
    AppendNumber(line, number);
    AppendString(line, ": ");
}

// "line N: " or "entry N: ", as the change's text says.
static void AppendExportPosition(LineText* line, const FerrylineChange* change)
{
    Append(line, change->text.bytes, change->text.size);
    AppendPosition(line, " ", change->line);
}

// The group that entries join, as a name in quotes; null bytes stand for the entries before any group.
static void AppendGroupBefore(LineText* line, FerrylineText group)
{
    AppendString(line, "join the group before it, ");
    if (group.bytes == nullptr) {
        AppendString(line, "the default group");
    } else {
        AppendQuoted(line, group);
    }
}

size_t ferryline_describe_change(const FerrylineChange* change, char* buffer, size_t capacity)
{
    LineText line = {buffer, capacity, 0};
    switch (change->kind) {
    case FERRYLINE_PLACEHOLDER_NAME:
        AppendPosition(&line, "line ", change->line);
        AppendString(&line, "no personal name, named ");
        AppendQuoted(&line, change->text);
        AppendString(&line, ": ");
        AppendQuoted(&line, change->address);
        AppendString(&line, " became ");
        AppendItem(&line, change->text, change->address, true);
        break;
    case FERRYLINE_RESERVED_REPLACED:
        AppendPosition(&line, "line ", change->line);
        AppendString(&line, "reserved characters (&#^+) replaced with dashes: ");
        AppendItem(&line, change->name, change->address, false);
        AppendString(&line, " became ");
        AppendItem(&line, change->name, change->address, true);
        if (!IsGroupAddress(change->address) && HoldsMarker(change->address)) {
            AppendString(&line, "; the address now reaches another mailbox");
            if (Holds(change->address, '+')) {
                AppendString(&line, ", its \"+\" became \"-\"");
            }
        }
        break;
    case FERRYLINE_DROPPED_ENTRY:
        AppendPosition(&line, "entry ", change->line);
        AppendQuoted(&line, change->text);
        AppendString(&line, " left out, it has no address");
        break;
    case FERRYLINE_MAIN_GROUP_MARKED:
        AppendPosition(&line, "line ", change->line);
        AppendString(&line, "group \"Main\" reads as the W95 default group; converted back, its entries ");
        AppendGroupBefore(&line, change->text);
        break;
    case FERRYLINE_MAIN_GROUP_FOLDED:
        if (change->line == 0) {
            AppendString(&line, "before entry 1: ");
        } else {
            AppendPosition(&line, "after entry ", change->line);
        }
        AppendString(&line, "group \"Main\" has no line in a Mac book; its entries ");
        AppendGroupBefore(&line, change->text);
        break;
    case FERRYLINE_CHARACTER_REPLACED:
    case FERRYLINE_IMPORT_NOTE:
        AppendEscaped(&line, change->text, false);
        break;
    case FERRYLINE_FORMULA_GUARDED:
        AppendPosition(&line, "row ", change->line);
        AppendString(&line, "a cell beginning ");
        AppendQuoted(&line, change->text);
        AppendString(&line, " would be a formula in a spreadsheet; written with \"'\" before it");
        break;
    case FERRYLINE_NAMED_BY_ADDRESS:
        AppendExportPosition(&line, change);
        AppendString(&line, "no personal name, exported with its address as its name: ");
        AppendQuoted(&line, change->address);
        break;
    case FERRYLINE_ENTRIES_JOINED:
        AppendExportPosition(&line, change);
        AppendItem(&line, change->name, change->address, false);
        AppendString(&line, " is listed more than once; exported as one contact in all its groups");
        break;
    case FERRYLINE_CONTROL_REPLACED:
        AppendExportPosition(&line, change);
        AppendString(&line, "control characters written as spaces: ");
        AppendItem(&line, change->name, change->address, false);
        break;
    }
    if (capacity > 0) {
        buffer[line.length < capacity ? line.length : capacity - 1] = '\0';
    }
    return line.length;
}
