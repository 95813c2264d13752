// The neutral list as CSV (RFC 4180) in UTF-8 with a byte order mark, in columns that the importers of
// common address books map by their names.
#include "convert/book.h"

static const char kHeader[] = "\xEF\xBB\xBF"
                              "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\n";

static bool NeedsQuoting(const char* text, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        char c = text[i];
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            return true;
        }
    }
    return false;
}

// Opens a field, in quotes when it holds a comma, a quote or a line end.
static void PutFieldText(Output* output, FerrylineText text)
{
    size_t start = 0;
    for (size_t i = 0; i < text.size; ++i) {
        if (text.bytes[i] == '"') {
            PutBytes(output, text.bytes + start, i + 1 - start);
            PutByte(output, '"');  // a quote is doubled
            start = i + 1;
        }
    }
    PutBytes(output, text.bytes + start, text.size - start);
}

static void PutField(Output* output, FerrylineText text, char after)
{
    bool quoted = NeedsQuoting(text.bytes, text.size);
    if (quoted) {
        PutByte(output, '"');
    }
    PutFieldText(output, text);
    if (quoted) {
        PutByte(output, '"');
    }
    PutByte(output, after);
}

// The Categories field: the groups joined by semicolons, quoted as one field.
static void PutCategories(Output* output, const FerrylineBook* book, size_t first)
{
    bool quoted = false;
    ForEachGroupOfPerson(book, first, [&](size_t group) {
        quoted = quoted || NeedsQuoting(book->groups[group].bytes, book->groups[group].size);
    });
    if (quoted) {
        PutByte(output, '"');
    }
    bool any = false;
    ForEachGroupOfPerson(book, first, [&](size_t group) {
        if (any) {
            PutByte(output, ';');
        }
        PutFieldText(output, book->groups[group]);
        any = true;
    });
    if (quoted) {
        PutByte(output, '"');
    }
    PutBytes(output, "\r\n", 2);
}

void WriteCsv(const FerrylineBook* book, Output* output)
{
    PutBytes(output, kHeader, sizeof kHeader - 1);
    for (size_t i = 0; i < book->entryCount && output->status == FERRYLINE_OK; ++i) {
        const FerrylineBookEntry* entry = &book->entries[i];
        if (!entry->firstOfPerson) {
            continue;
        }
        PersonalName parts = SplitPersonalName(entry->name);
        PutField(output, parts.given, ',');
        PutField(output, parts.family, ',');
        PutField(output, entry->name, ',');
        PutField(output, entry->address, ',');
        PutCategories(output, book, i);
    }
}
