// The changes a conversion reports, as the lines a user reads.
#include <stdio.h>
#include <string.h>

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

static void AppendNumber(LineText* line, unsigned long number)
{
    char digits[32];
    int length = snprintf(digits, sizeof digits, "%lu", number);
    Append(line, digits, length > 0 ? static_cast<size_t>(length) : 0);
}

// Text from the book, its control bytes escaped so that no book can send a terminal an escape sequence
// or make one line look like two; `written` shows it with its markers replaced as the output has it.
static void AppendEscaped(LineText* line, FerrylineText text, bool written)
{
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < text.size; ++i) {
        char c = written ? ReplacingMarker(text.bytes[i]) : text.bytes[i];
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
            Append(line, escaped, sizeof escaped);
        } else {
            Append(line, &c, 1);
        }
    }
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

static void AppendPosition(LineText* line, const char* word, unsigned long number)
{
    AppendString(line, word);
    AppendNumber(line, number);
    AppendString(line, ": ");
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
    }
    if (capacity > 0) {
        buffer[line.length < capacity ? line.length : capacity - 1] = '\0';
    }
    return line.length;
}
