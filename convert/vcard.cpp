// The neutral list as vCard: 3.0 (RFC 2426) or 4.0 (RFC 6350), UTF-8, CRLF, folded at 75 octets.
#include <string.h>

#include "convert/book.h"
#include "convert/env.h"
#include "convert/sha1.h"

static const size_t kFoldAt = 75;

// A content line being put, folded as it grows.
struct CardLine {
    Output* output;
    size_t octets;        // on the current physical line
    int version;
    GroupMarks* marks;    // the groups given to the person being put
    bool spacedControls;  // a control character became a space on the card being put
};

static size_t SequenceLength(unsigned char lead)
{
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Puts text on the line, starting a continuation line (CRLF and a space) before a character that would
// pass 75 octets, so that no UTF-8 sequence is split.
static void PutFolded(CardLine* line, const char* text, size_t size)
{
    size_t i = 0;
    while (i < size) {
        size_t length = SequenceLength(static_cast<unsigned char>(text[i]));
        length = length < size - i ? length : size - i;
        if (line->octets + length > kFoldAt) {
            PutBytes(line->output, "\r\n ", 3);
            line->octets = 1;
        }
        PutBytes(line->output, text + i, length);
        line->octets += length;
        i += length;
    }
}

static void PutLiteral(CardLine* line, const char* literal)
{
    PutFolded(line, literal, strlen(literal));
}

// A text value with backslash and comma escaped, and semicolon where it may separate fields: in every
// 3.0 value, and in 4.0 in a field of a compound value such as N (4.0's plain text has no escaped
// semicolon, and readers such as ical.js keep its backslash). Control characters, which a value may not
// hold, are written as spaces.
static void PutEscaped(CardLine* line, FerrylineText text, bool compound = false)
{
    size_t start = 0;
    for (size_t i = 0; i < text.size; ++i) {
        char c = text.bytes[i];
        bool special = c == '\\' || c == ',' || (c == ';' && (compound || line->version != 4));
        bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        line->spacedControls = line->spacedControls || control;
        if (special || control) {
            PutFolded(line, text.bytes + start, i - start);
            char escaped[2] = {'\\', c};
            PutFolded(line, control ? " " : escaped, control ? 1 : 2);
            start = i + 1;
        }
    }
    PutFolded(line, text.bytes + start, text.size - start);
}

static void EndLine(CardLine* line)
{
    PutBytes(line->output, "\r\n", 2);
    line->octets = 0;
}

static void PutProperty(CardLine* line, const char* name, FerrylineText value)
{
    PutLiteral(line, name);
    PutEscaped(line, value);
    EndLine(line);
}

// The namespace of the cards' UIDs, chosen at random once and never to change: every export of a person
// gives the same UID, so an address book that imports a book again updates its cards instead of doubling
// them. A person's UID is the version 5 UUID of its name, a line feed and its address; a group's, of its
// name (no name holds a line feed, so neither can be the other's). The texts are UTF-8 as the book was read.
static const unsigned char kUidNamespace[16] = {0x31, 0x4b, 0xe5, 0x43, 0x59, 0x13, 0x4e, 0x21,
                                                0x8d, 0x02, 0xb9, 0x88, 0xef, 0x6d, 0x11, 0xd3};

static void PutUid(CardLine* line, const char* property, FerrylineText name, const FerrylineText* address)
{
    UuidName parts[3] = {{name.bytes, name.size}, {"\n", 1}, {nullptr, 0}};
    if (address != nullptr) {
        parts[2] = UuidName{address->bytes, address->size};
    }
    char uid[46];
    NameBasedUuid(kUidNamespace, parts, address != nullptr ? 3 : 1, uid);
    PutLiteral(line, property);
    PutLiteral(line, uid);
    EndLine(line);
}

static void PutPersonCard(CardLine* line, const FerrylineBook* book, size_t first, const FerrylineEnv* env)
{
    const FerrylineBookEntry* entry = &book->entries[first];
    line->spacedControls = false;
    PutLiteral(line, line->version == 4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n");
    // A person without a name is shown by the address.
    PutProperty(line, "FN:", entry->name.size > 0 ? entry->name : entry->address);
    PersonalName parts = SplitPersonalName(entry->name);
    PutLiteral(line, "N:");
    PutEscaped(line, parts.family, true);
    PutLiteral(line, ";");
    PutEscaped(line, parts.given, true);
    PutLiteral(line, ";;;");
    PutEscaped(line, parts.suffix, true);
    EndLine(line);
    if (entry->address.size > 0) {
        PutProperty(line, line->version == 4 ? "EMAIL:" : "EMAIL;TYPE=INTERNET:", entry->address);
    }
    bool any = false;
    ForEachGroupOfPerson(book, first, line->marks, [&](size_t group) {
        PutLiteral(line, any ? "," : "CATEGORIES:");
        PutEscaped(line, book->groups[group]);
        any = true;
    });
    if (any) {
        EndLine(line);
    }
    PutUid(line, "UID:", entry->name, &entry->address);
    PutLiteral(line, "END:VCARD\r\n");
    NotePersonExported(book, first, entry->name.size == 0 && entry->address.size > 0, env);
    if (line->spacedControls) {
        NoteLineChange(env, FERRYLINE_CONTROL_REPLACED, entry->line, PositionWord(book), entry->name, entry->address);
    }
}

// A KIND:group card naming each of its people once.
static void PutGroupCard(CardLine* line, const FerrylineBook* book, size_t group, const size_t* members, size_t count)
{
    PutLiteral(line, "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\n");
    PutProperty(line, "FN:", book->groups[group]);
    PutUid(line, "UID:", book->groups[group], nullptr);
    for (size_t i = 0; i < count; ++i) {
        const FerrylineBookEntry* entry = &book->entries[members[i]];
        PutUid(line, "MEMBER:", entry->name, &entry->address);
    }
    PutLiteral(line, "END:VCARD\r\n");
}

// The people of every group, gathered in one pass: `start[g]` to `start[g + 1]` in `members` are the
// first entries of group g's people, in the order of the book.
static int PutGroupCards(CardLine* line, const FerrylineBook* book, const FerrylineEnv* env)
{
    size_t bytes = (book->groupCount + 1 + book->entryCount) * sizeof(size_t);
    size_t* start = static_cast<size_t*>(Allocate(env, bytes));
    if (start == nullptr) {
        return 0;
    }
    size_t* members = start + book->groupCount + 1;
    memset(start, 0, (book->groupCount + 1) * sizeof(size_t));
    for (size_t i = 0; i < book->entryCount; ++i) {
        if (book->entries[i].firstOfPerson) {
            ForEachGroupOfPerson(book, i, line->marks, [&](size_t group) { ++start[group + 1]; });
        }
    }
    for (size_t g = 0; g < book->groupCount; ++g) {
        start[g + 1] += start[g];
    }
    for (size_t i = 0; i < book->entryCount; ++i) {
        if (book->entries[i].firstOfPerson) {
            ForEachGroupOfPerson(book, i, line->marks, [&](size_t group) { members[start[group]++] = i; });
        }
    }
    // Filling moved every start to the next group's; each group's people end where the next begin.
    size_t from = 0;
    for (size_t g = 0; g < book->groupCount && line->output->status == FERRYLINE_OK; ++g) {
        if (book->groups[g].size > 0) {
            PutGroupCard(line, book, g, members + from, start[g] - from);
        }
        from = start[g];
    }
    Release(env, start, bytes);
    return 1;
}

int WriteVcard(const FerrylineBook* book, int version, Output* output, const FerrylineEnv* env)
{
    GroupMarks marks;
    if (!OpenGroupMarks(&marks, book, env)) {
        return 0;
    }
    CardLine line = {output, 0, version, &marks, false};
    for (size_t i = 0; i < book->entryCount && output->status == FERRYLINE_OK; ++i) {
        if (book->entries[i].firstOfPerson) {
            PutPersonCard(&line, book, i, env);
        }
    }
    int written = version == 4 ? PutGroupCards(&line, book, env) : 1;
    CloseGroupMarks(&marks, env);
    return written;
}
