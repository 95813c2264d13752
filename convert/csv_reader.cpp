// CSV (RFC 4180) address books in the layouts of Google Contacts, Outlook and Ferryline's own export,
// told apart by the names in the header.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "convert/charset.h"
#include "convert/converters.h"
#include "convert/env.h"
#include "convert/import.h"

namespace ferryline {

static const char kUnknownHeader[] =
    "The file %s is not a CSV address book Ferryline knows: its first line names none of the columns "
    "\"E-mail Address\" (Outlook, Ferryline) or \"E-mail 1 - Value\" (Google).";
static const char kNotCsv[] = "The file %s is not a CSV address book: it is empty.";

// Google writes at most this many address columns, and so does Outlook; more are not looked for.
static const size_t kMaxEmails = 9;

// The columns a layout names, by their index in a record (kNone when absent).
static const size_t kNone = (size_t)-1;
struct CsvColumns {
    size_t displayName;  // Outlook's and Ferryline's name as shown, "Bob Smith (bob@example.org)" at times
    size_t name;         // Google's whole name
    size_t prefix;
    size_t given;
    size_t middle;
    size_t family;
    size_t suffix;
    size_t email[kMaxEmails];
    size_t emailType[kMaxEmails];  // Google: "* Home" for the preferred address
    size_t groups;                 // Google: "Group Membership" or "Labels"; Outlook: "Categories"
    bool google;
};

struct CsvRecord {
    ImportText* fields;
    size_t count;
    size_t capacity;
    unsigned long line;
};

// Reads the record at `*p` into the text block, its fields unquoted. Counts the line breaks read.
static void ReadRecord(Importer* importer, const char** p, const char* end, CsvRecord* record, unsigned long* lines)
{
    record->count = 0;
    record->line = *lines + 1;
    for (;;) {
        size_t start = AddImportText(importer, nullptr, 0);
        const char* q = *p;
        bool quoted = q < end && *q == '"';
        q += quoted ? 1 : 0;
        while (q < end && !importer->failed) {
            const char* run = q;
            if (quoted) {
                while (q < end && *q != '"') {
                    *lines += *q == '\n' || (*q == '\r' && !(q + 1 < end && q[1] == '\n')) ? 1 : 0;
                    ++q;
                }
            } else {
                while (q < end && *q != ',' && *q != '\r' && *q != '\n') {
                    ++q;
                }
            }
            AddImportText(importer, run, static_cast<size_t>(q - run));
            if (!quoted || q >= end) {
                break;
            }
            // A doubled quote is one quote; a single one ends the quoted part, and whatever follows up
            // to the comma is taken as it is.
            ++q;
            if (q < end && *q == '"') {
                AddImportText(importer, "\"", 1);
                ++q;
            } else {
                quoted = false;
            }
        }
        if (ImportRoomFor(importer, &record->fields, &record->capacity, record->count)) {
            record->fields[record->count++] = ImportText{start, importer->textSize - start};
        }
        *p = q;
        if (q < end && *q == ',') {
            ++*p;
            continue;
        }
        if (q < end && *q == '\r') {
            ++q;
        }
        if (q < end && *q == '\n') {
            ++q;
        }
        ++*lines;
        *p = q;
        return;
    }
}

// A cell, less the quote a writer puts before one that a spreadsheet would take for a formula.
static ImportText Field(const Importer* importer, const CsvRecord* record, size_t column)
{
    ImportText field = column < record->count ? record->fields[column] : ImportText{0, 0};
    const char* text = importer->text + field.offset;
    if (field.size >= 2 && text[0] == '\'' && strchr("=+-@\t\r", text[1]) != nullptr) {
        ++field.offset;
        --field.size;
    }
    return field;
}

static bool HeaderIs(const Importer* importer, ImportText field, const char* name)
{
    const char* text = importer->text + field.offset;
    size_t size = field.size;
    while (size > 0 && text[0] == ' ') {
        ++text;
        --size;
    }
    while (size > 0 && text[size - 1] == ' ') {
        --size;
    }
    return TextEqualsNoCase(text, size, name);
}

static bool FindColumns(const Importer* importer, const CsvRecord* header, CsvColumns* columns)
{
    size_t* single[] = {&columns->displayName, &columns->name, &columns->prefix, &columns->given, &columns->middle,
                        &columns->family, &columns->suffix, &columns->groups};
    for (size_t* column : single) {
        *column = kNone;
    }
    for (size_t k = 0; k < kMaxEmails; ++k) {
        columns->email[k] = columns->emailType[k] = kNone;
    }
    struct Name {
        const char* text;
        size_t* column;
    };
    const Name names[] = {{"E-mail Display Name", &columns->displayName}, {"Name", &columns->name},
                          {"Name Prefix", &columns->prefix},          {"Title", &columns->prefix},
                          {"First Name", &columns->given},            {"Given Name", &columns->given},
                          {"Middle Name", &columns->middle},          {"Additional Name", &columns->middle},
                          {"Last Name", &columns->family},            {"Family Name", &columns->family},
                          {"Name Suffix", &columns->suffix},          {"Suffix", &columns->suffix},
                          {"Categories", &columns->groups},           {"Group Membership", &columns->groups},
                          {"Labels", &columns->groups},               {"E-mail Address", &columns->email[0]}};
    for (size_t i = 0; i < header->count; ++i) {
        for (const Name& name : names) {
            if (*name.column == kNone && HeaderIs(importer, header->fields[i], name.text)) {
                *name.column = i;
            }
        }
        for (size_t k = 0; k < kMaxEmails; ++k) {
            char google[32];
            char googleType[32];
            char googleLabel[32];
            char outlook[32];
            snprintf(google, sizeof google, "E-mail %zu - Value", k + 1);
            snprintf(googleType, sizeof googleType, "E-mail %zu - Type", k + 1);
            snprintf(googleLabel, sizeof googleLabel, "E-mail %zu - Label", k + 1);
            snprintf(outlook, sizeof outlook, "E-mail %zu Address", k + 1);
            if (HeaderIs(importer, header->fields[i], google)) {
                columns->email[k] = i;
                columns->google = true;
            } else if (HeaderIs(importer, header->fields[i], googleType) || HeaderIs(importer, header->fields[i], googleLabel)) {
                columns->emailType[k] = i;
            } else if (k > 0 && HeaderIs(importer, header->fields[i], outlook) && columns->email[k] == kNone) {
                columns->email[k] = i;
            }
        }
    }
    for (size_t k = 0; k < kMaxEmails; ++k) {
        if (columns->email[k] != kNone) {
            return true;
        }
    }
    return false;
}

static bool StartsWith(const char* text, size_t size, const char* prefix)
{
    size_t length = strlen(prefix);
    return size >= length && memcmp(text, prefix, length) == 0;
}

// Calls `take` with each part of `field` between `separator`s ("": the whole field).
template <typename Take>
static void ForEachPart(const Importer* importer, ImportText field, const char* separator, Take take)
{
    size_t length = strlen(separator);
    if (length == 0) {
        take(field);
        return;
    }
    size_t start = 0;
    for (size_t i = 0; i <= field.size; ++i) {
        bool ends = i == field.size || (i + length <= field.size && memcmp(importer->text + field.offset + i, separator, length) == 0);
        if (ends) {
            take(ImportText{field.offset + start, i - start});
            start = i + length;
            i += length - 1;
        }
    }
}

// The person's name: the display name (less Outlook's " (address)" after it), Google's whole name, or
// the parts joined, ", suffix" last.
static ImportText RecordName(Importer* importer, const CsvRecord* record, const CsvColumns* columns, ImportText firstEmail)
{
    ImportText display = Field(importer, record, columns->displayName);
    if (display.size > 0) {
        const char* text = importer->text + display.offset;
        size_t tail = firstEmail.size + 3;
        if (firstEmail.size > 0 && display.size > tail && text[display.size - 1] == ')' &&
            memcmp(text + display.size - tail, " (", 2) == 0 &&
            memcmp(text + display.size - tail + 2, importer->text + firstEmail.offset, firstEmail.size) == 0) {
            display.size -= tail;
        }
        return display;
    }
    ImportText whole = Field(importer, record, columns->name);
    if (whole.size > 0) {
        return whole;
    }
    size_t start = AddImportText(importer, nullptr, 0);
    const size_t parts[] = {columns->prefix, columns->given, columns->middle, columns->family};
    for (size_t column : parts) {
        ImportText part = Field(importer, record, column);
        if (part.size > 0) {
            if (importer->textSize > start) {
                AddImportText(importer, " ", 1);
            }
            AddImportText(importer, importer->text + part.offset, part.size);
        }
    }
    ImportText suffix = Field(importer, record, columns->suffix);
    if (suffix.size > 0) {
        AddImportText(importer, ", ", 2);
        AddImportText(importer, importer->text + suffix.offset, suffix.size);
    }
    return ImportText{start, importer->textSize - start};
}

static void TakeRecord(Importer* importer, const CsvRecord* record, const CsvColumns* columns)
{
    ImportText firstEmail = {0, 0};
    for (size_t k = 0; k < kMaxEmails && firstEmail.size == 0; ++k) {
        firstEmail = Field(importer, record, columns->email[k]);
    }
    ImportText name = RecordName(importer, record, columns, firstEmail);
    StartPerson(importer, AddCleanText(importer, importer->text + name.offset, name.size), record->line);
    const char* valueSeparator = columns->google ? " ::: " : "";
    for (size_t k = 0; k < kMaxEmails; ++k) {
        ImportText type = Field(importer, record, columns->emailType[k]);
        bool preferred = columns->google && StartsWith(importer->text + type.offset, type.size, "*");
        ForEachPart(importer, Field(importer, record, columns->email[k]), valueSeparator, [&](ImportText address) {
            AddPersonEmail(importer, importer->text + address.offset, address.size, preferred);
        });
    }
    // Google's own labels ("* myContacts", "* starred") are no groups of the user's.
    const char* groupSeparator = columns->google ? " ::: " : ";";
    ForEachPart(importer, Field(importer, record, columns->groups), groupSeparator, [&](ImportText group) {
        if (!(columns->google && StartsWith(importer->text + group.offset, group.size, "* "))) {
            AddPersonGroup(importer, FindOrAddGroup(importer, importer->text + group.offset, group.size));
        }
    });
}

int ReadCsvFile(const char* bytes, size_t size, const char* inputTitle, Importer* importer)
{
    const FerrylineEnv* env = importer->env;
    const char* p = bytes;
    const char* end = bytes + size;
    unsigned long lines = 0;
    CsvRecord header = {};
    CsvRecord record = {};
    CsvColumns columns = {};
    ReadRecord(importer, &p, end, &header, &lines);
    bool known = !importer->failed && FindColumns(importer, &header, &columns);
    while (known && p < end && !importer->failed) {
        size_t mark = importer->textSize;
        ReadRecord(importer, &p, end, &record, &lines);
        // A blank line is no record.
        bool blank = record.count == 1 && record.fields[0].size == 0;
        if (!blank && !importer->failed) {
            TakeRecord(importer, &record, &columns);
        } else {
            importer->textSize = mark;
        }
    }
    Release(env, header.fields, header.capacity * sizeof(ImportText));
    Release(env, record.fields, record.capacity * sizeof(ImportText));
    if (importer->failed) {
        return 0;
    }
    if (!known) {
        Tell(env, FERRYLINE_ERROR, size == 0 ? kNotCsv : kUnknownHeader, inputTitle);
        return 0;
    }
    return 1;
}

}  // namespace ferryline
