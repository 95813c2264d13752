// The neutral list as vCard: 3.0 (RFC 2426) or 4.0 (RFC 6350), UTF-8, CRLF, folded at 75 octets.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "convert/book.h"
#include "convert/env.h"

static const size_t kFoldAt = 75;

// A content line being put, folded as it grows.
struct CardLine {
    Output* output;
    size_t octets;  // on the current physical line
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

// A text value with backslash, comma and semicolon escaped; control characters, which a value may not
// hold, are written as spaces.
static void PutEscaped(CardLine* line, FerrylineText text)
{
    size_t start = 0;
    for (size_t i = 0; i < text.size; ++i) {
        char c = text.bytes[i];
        bool special = c == '\\' || c == ',' || c == ';';
        bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
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

static uint64_t HashText(uint64_t hash, FerrylineText text)
{
    for (size_t i = 0; i < text.size; ++i) {
        hash = (hash ^ static_cast<unsigned char>(text.bytes[i])) * 0x100000001B3ull;
    }
    return (hash ^ 0xFF) * 0x100000001B3ull;  // a separator, so "ab","c" differs from "a","bc"
}

// A UID made from the card's kind and texts, so that exporting a book again gives the same cards:
// "urn:uuid:" and a version 8 (custom) UUID from two FNV-1a hashes.
static void PutUid(CardLine* line, const char* property, const char* kind, FerrylineText first, FerrylineText second)
{
    uint64_t high = 0xCBF29CE484222325ull;
    uint64_t low = 0x84222325CBF29CE4ull;
    FerrylineText kindText = {kind, strlen(kind)};
    high = HashText(HashText(HashText(high, kindText), first), second);
    low = HashText(HashText(HashText(low, second), first), kindText);
    char uid[64];
    snprintf(uid, sizeof uid, "urn:uuid:%08lx-%04lx-8%03lx-%04lx-%012llx", static_cast<unsigned long>(high >> 32),
             static_cast<unsigned long>((high >> 16) & 0xFFFF), static_cast<unsigned long>(high & 0xFFF),
             static_cast<unsigned long>(0x8000 | ((low >> 48) & 0x3FFF)),
             static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    PutLiteral(line, property);
    PutLiteral(line, uid);
    EndLine(line);
}

static void PutPersonCard(CardLine* line, const FerrylineBook* book, size_t first, int version)
{
    const FerrylineBookEntry* entry = &book->entries[first];
    PutLiteral(line, version == 4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n");
    // A person without a name is shown by the address.
    PutProperty(line, "FN:", entry->name.size > 0 ? entry->name : entry->address);
    PersonalName parts = SplitPersonalName(entry->name);
    PutLiteral(line, "N:");
    PutEscaped(line, parts.family);
    PutLiteral(line, ";");
    PutEscaped(line, parts.given);
    PutLiteral(line, ";;;");
    PutEscaped(line, parts.suffix);
    EndLine(line);
    if (entry->address.size > 0) {
        PutProperty(line, version == 4 ? "EMAIL:" : "EMAIL;TYPE=INTERNET:", entry->address);
    }
    bool any = false;
    ForEachGroupOfPerson(book, first, [&](size_t group) {
        PutLiteral(line, any ? "," : "CATEGORIES:");
        PutEscaped(line, book->groups[group]);
        any = true;
    });
    if (any) {
        EndLine(line);
    }
    if (version == 4) {
        PutUid(line, "UID:", "person", entry->name, entry->address);
    }
    PutLiteral(line, "END:VCARD\r\n");
}

// A KIND:group card naming each of its people once.
static void PutGroupCard(CardLine* line, const FerrylineBook* book, size_t group, const size_t* members, size_t count)
{
    FerrylineText none = {"", 0};
    PutLiteral(line, "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\n");
    PutProperty(line, "FN:", book->groups[group]);
    PutUid(line, "UID:", "group", book->groups[group], none);
    for (size_t i = 0; i < count; ++i) {
        const FerrylineBookEntry* entry = &book->entries[members[i]];
        PutUid(line, "MEMBER:", "person", entry->name, entry->address);
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
            ForEachGroupOfPerson(book, i, [&](size_t group) { ++start[group + 1]; });
        }
    }
    for (size_t g = 0; g < book->groupCount; ++g) {
        start[g + 1] += start[g];
    }
    for (size_t i = 0; i < book->entryCount; ++i) {
        if (book->entries[i].firstOfPerson) {
            ForEachGroupOfPerson(book, i, [&](size_t group) { members[start[group]++] = i; });
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
    CardLine line = {output, 0};
    for (size_t i = 0; i < book->entryCount && output->status == FERRYLINE_OK; ++i) {
        if (book->entries[i].firstOfPerson) {
            PutPersonCard(&line, book, i, version);
        }
    }
    return version == 4 ? PutGroupCards(&line, book, env) : 1;
}
