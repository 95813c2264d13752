// The neutral list as CSV (RFC 4180) in UTF-8, one row per person, in one of two layouts: Outlook's
// column names, which the importers of most address books map by name, with a byte order mark so that
// spreadsheets read the accents; or Google Contacts' own, as its export writes it (no byte order mark).
#include <string.h>

#include "convert/book.h"
#include "convert/env.h"

static const char kOutlookHeader[] = "\xEF\xBB\xBF"
                                     "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\n";
static const char kGoogleHeader[] =
    "First Name,Middle Name,Last Name,Phonetic First Name,Phonetic Middle Name,Phonetic Last Name,"
    "Name Prefix,Name Suffix,Nickname,File As,Organization Name,Organization Title,Organization Department,"
    "Birthday,Notes,Photo,Labels,E-mail 1 - Label,E-mail 1 - Value\r\n";
// Google's export puts every contact in its system group; its import takes the name back as that group.
static const char kGoogleSystemLabel[] = "* myContacts";

// Where a row is being written, for the changes it reports.
struct CsvRow {
    Output* output;
    const FerrylineEnv* env;
    const FerrylineBookEntry* entry;
    unsigned long number;  // the header is row 1
};

static bool NeedsQuoting(FerrylineText text)
{
    for (size_t i = 0; i < text.size; ++i) {
        char c = text.bytes[i];
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            return true;
        }
    }
    return false;
}

// A spreadsheet takes a cell beginning so for a formula (or, after a tab or a CR, may show one).
static bool StartsFormula(char c)
{
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// A quote is doubled.
static void PutQuotedText(Output* output, FerrylineText text)
{
    size_t start = 0;
    for (size_t i = 0; i < text.size; ++i) {
        if (text.bytes[i] == '"') {
            PutBytes(output, text.bytes + start, i + 1 - start);
            PutByte(output, '"');
            start = i + 1;
        }
    }
    PutBytes(output, text.bytes + start, text.size - start);
}

// A cell made of the pieces `forEachPiece` hands over, in quotes when any holds a comma, a quote or a
// line end; one that would begin a formula gets a "'" before it, and is reported.
template <typename ForEachPiece>
static void PutCell(CsvRow* row, char after, ForEachPiece forEachPiece)
{
    bool quoted = false;
    FerrylineText first = {nullptr, 0};
    forEachPiece([&](FerrylineText piece) {
        quoted = quoted || NeedsQuoting(piece);
        first = first.size == 0 ? piece : first;
    });
    if (quoted) {
        PutByte(row->output, '"');
    }
    if (first.size > 0 && StartsFormula(first.bytes[0])) {
        PutByte(row->output, '\'');
        NoteLineChange(row->env, FERRYLINE_FORMULA_GUARDED, row->number, first, row->entry->name, row->entry->address);
    }
    forEachPiece([&](FerrylineText piece) { PutQuotedText(row->output, piece); });
    if (quoted) {
        PutByte(row->output, '"');
    }
    PutByte(row->output, after);
}

static void PutField(CsvRow* row, FerrylineText text, char after)
{
    PutCell(row, after, [&](auto put) { put(text); });
}

// The person's groups in one cell, after `lead` (may be empty), joined by `separator`.
static void PutGroups(CsvRow* row, const FerrylineBook* book, size_t first, GroupMarks* marks, const char* lead,
                      const char* separator, char after)
{
    PutCell(row, after, [&](auto put) {
        FerrylineText leading = {lead, strlen(lead)};
        put(leading);
        bool any = leading.size > 0;
        ForEachGroupOfPerson(book, first, marks, [&](size_t group) {
            if (any) {
                put(FerrylineText{separator, strlen(separator)});
            }
            put(book->groups[group]);
            any = true;
        });
    });
}

int WriteCsv(const FerrylineBook* book, int layout, Output* output, const FerrylineEnv* env)
{
    GroupMarks marks;
    if (!OpenGroupMarks(&marks, book, env)) {
        return 0;
    }
    bool google = layout == FERRYLINE_CSV_GOOGLE;
    if (google) {
        PutBytes(output, kGoogleHeader, sizeof kGoogleHeader - 1);
    } else {
        PutBytes(output, kOutlookHeader, sizeof kOutlookHeader - 1);
    }
    const FerrylineText none = {"", 0};
    CsvRow row = {output, env, nullptr, 1};
    for (size_t i = 0; i < book->entryCount && output->status == FERRYLINE_OK; ++i) {
        const FerrylineBookEntry* entry = &book->entries[i];
        if (!entry->firstOfPerson) {
            continue;
        }
        row.entry = entry;
        ++row.number;
        PersonalName parts = SplitPersonalName(entry->name);
        if (google) {
            PutField(&row, parts.given, ',');
            PutField(&row, none, ',');
            PutField(&row, parts.family, ',');
            PutBytes(output, ",,,,", 4);  // phonetic names, prefix
            PutField(&row, parts.suffix, ',');
            PutBytes(output, ",,,,,,,,", 8);  // nickname to photo
            PutGroups(&row, book, i, &marks, kGoogleSystemLabel, " ::: ", ',');
            PutField(&row, none, ',');
            PutField(&row, entry->address, '\r');
        } else {
            PutField(&row, parts.given, ',');
            PutField(&row, parts.family, ',');
            PutField(&row, entry->name, ',');
            PutField(&row, entry->address, ',');
            PutGroups(&row, book, i, &marks, "", ";", '\r');
        }
        PutByte(output, '\n');
        NotePersonExported(book, i, false, env);
    }
    CloseGroupMarks(&marks, env);
    return 1;
}
