// The changes a conversion reports, as the lines a user reads.
#include <stdio.h>

#include "convert/ferryline.h"

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

// Text from the book with its control bytes escaped, so that no book can send a terminal an escape
// sequence or make one line look like two.
static void AppendEscaped(LineText* line, FerrylineText text)
{
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < text.size; ++i) {
        unsigned char c = static_cast<unsigned char>(text.bytes[i]);
        if (c < 0x20 || c == 0x7f) {
            char escaped[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            Append(line, escaped, sizeof escaped);
        } else {
            Append(line, text.bytes + i, 1);
        }
    }
}

// A name from the book in double quotes.
static void AppendQuoted(LineText* line, FerrylineText text)
{
    Append(line, "\"", 1);
    AppendEscaped(line, text);
    Append(line, "\"", 1);
}

size_t ferryline_describe_change(const FerrylineChange* change, char* buffer, size_t capacity)
{
    LineText line = {buffer, capacity, 0};
    switch (change->kind) {
    case FERRYLINE_PLACEHOLDER_NAME:
        AppendString(&line, "line ");
        AppendNumber(&line, change->line);
        AppendString(&line, ": no personal name, named ");
        AppendQuoted(&line, change->text);
        break;
    case FERRYLINE_RESERVED_REPLACED:
        AppendString(&line, "line ");
        AppendNumber(&line, change->line);
        AppendString(&line, ": reserved characters (&#^+) replaced with dashes");
        break;
    case FERRYLINE_DROPPED_ENTRY:
        AppendString(&line, "entry ");
        AppendNumber(&line, change->line);
        AppendString(&line, ": ");
        AppendQuoted(&line, change->text);
        AppendString(&line, " left out, it has no address");
        break;
    case FERRYLINE_CHARACTER_REPLACED:
        AppendEscaped(&line, change->text);
        break;
    }
    if (capacity > 0) {
        buffer[line.length < capacity ? line.length : capacity - 1] = '\0';
    }
    return line.length;
}
