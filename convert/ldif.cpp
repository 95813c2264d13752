// The neutral list as LDIF (RFC 2849), as Thunderbird's address book imports it: a person entry for
// each name (a second address of the same name as its mozillaSecondEmail) and a mailing list
// (groupOfNames) for each group. UTF-8; a value that is not safe ASCII goes in base64.
#include <stdlib.h>
#include <string.h>

#include "convert/book.h"
#include "convert/env.h"
#include "convert/import.h"

static const size_t kFoldAt = 76;

struct LdifLine {
    Output* output;
    size_t column;
};

// Puts bytes on the line, going on after a line break and a space once a line holds 76.
static void PutFolded(LdifLine* line, const char* text, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (line->column == kFoldAt) {
            PutBytes(line->output, "\n ", 2);
            line->column = 1;
        }
        PutByte(line->output, text[i]);
        ++line->column;
    }
}

// RFC 2849's SAFE-STRING, and no space at the end, which some readers drop.
static bool IsSafe(const char* text, size_t size)
{
    if (size == 0) {
        return true;
    }
    unsigned char first = static_cast<unsigned char>(text[0]);
    if (first == ' ' || first == ':' || first == '<' || text[size - 1] == ' ') {
        return false;
    }
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0 || c == '\n' || c == '\r' || c > 127) {
            return false;
        }
    }
    return true;
}

static void PutBase64(LdifLine* line, const char* text, size_t size)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < size; i += 3) {
        unsigned long bits = static_cast<unsigned long>(static_cast<unsigned char>(text[i])) << 16;
        bits |= i + 1 < size ? static_cast<unsigned long>(static_cast<unsigned char>(text[i + 1])) << 8 : 0;
        bits |= i + 2 < size ? static_cast<unsigned long>(static_cast<unsigned char>(text[i + 2])) : 0;
        char group[4] = {kDigits[(bits >> 18) & 63], kDigits[(bits >> 12) & 63], i + 1 < size ? kDigits[(bits >> 6) & 63] : '=',
                         i + 2 < size ? kDigits[bits & 63] : '='};
        PutFolded(line, group, 4);
    }
}

// "name: value" or "name:: base64", folded, ended.
static void PutAttribute(LdifLine* line, const char* name, const char* value, size_t size)
{
    bool safe = IsSafe(value, size);
    PutFolded(line, name, strlen(name));
    PutFolded(line, safe ? ": " : ":: ", safe ? 2 : 3);
    if (safe) {
        PutFolded(line, value, size);
    } else {
        PutBase64(line, value, size);
    }
    PutByte(line->output, '\n');
    line->column = 0;
}

// A distinguished name's value with RFC 4514's specials escaped, into `out` (room for twice `size`).
static size_t EscapeDnValue(char* out, const char* text, size_t size)
{
    size_t length = 0;
    for (size_t i = 0; i < size; ++i) {
        char c = text[i];
        bool special = strchr(",+\"\\<>;=", c) != nullptr && c != '\0';
        bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == size && c == ' ');
        if (special || edge) {
            out[length++] = '\\';
        }
        out[length++] = c;
    }
    return length;
}

// "cn=Name,mail=address" for a person, "cn=Name" for a group or a person without an address, into `out`
// (room for 2 × both + 16).
static size_t PersonDn(char* out, FerrylineText cn, FerrylineText mail)
{
    size_t length = 0;
    memcpy(out, "cn=", 3);
    length = 3 + EscapeDnValue(out + 3, cn.bytes, cn.size);
    if (mail.size > 0) {
        memcpy(out + length, ",mail=", 6);
        length += 6;
        length += EscapeDnValue(out + length, mail.bytes, mail.size);
    }
    return length;
}

struct NamedPerson {
    FerrylineText name;
    size_t entry;
};

static int CompareByName(const void* a, const void* b)
{
    const NamedPerson* left = static_cast<const NamedPerson*>(a);
    const NamedPerson* right = static_cast<const NamedPerson*>(b);
    size_t shorter = left->name.size < right->name.size ? left->name.size : right->name.size;
    int order = shorter > 0 ? memcmp(left->name.bytes, right->name.bytes, shorter) : 0;
    if (order == 0 && left->name.size != right->name.size) {
        order = left->name.size < right->name.size ? -1 : 1;
    }
    return order != 0 ? order : left->entry < right->entry ? -1 : left->entry > right->entry ? 1 : 0;
}

// The name an entry is shown by: its own, or its address.
static FerrylineText ShownName(const FerrylineBookEntry* entry)
{
    return entry->name.size > 0 ? entry->name : entry->address;
}

int WriteLdif(const FerrylineBook* book, Output* output, const FerrylineEnv* env)
{
    size_t count = book->entryCount;
    // For each entry: the LDIF entry it belongs to (its person's first, or the entry whose second
    // address it is), and the second address of an entry that has one.
    size_t bytes = (3 * count + 1) * sizeof(size_t) + (count + 1) * sizeof(NamedPerson);
    size_t* owner = static_cast<size_t*>(Allocate(env, bytes));
    size_t longest = 16;
    for (size_t i = 0; i < count; ++i) {
        size_t both = book->entries[i].name.size + 2 * book->entries[i].address.size;
        longest = both > longest ? both : longest;
    }
    for (size_t g = 0; g < book->groupCount; ++g) {
        longest = book->groups[g].size > longest ? book->groups[g].size : longest;
    }
    size_t dnBytes = 2 * longest + 16;
    char* dn = static_cast<char*>(Allocate(env, dnBytes));
    if (owner == nullptr || dn == nullptr) {
        Release(env, owner, bytes);
        Release(env, dn, dnBytes);
        return 0;
    }
    size_t* second = owner + count;
    size_t* listedIn = second + count;  // the group a person was last listed in, plus one
    NamedPerson* people = reinterpret_cast<NamedPerson*>(listedIn + count + 1);
    size_t peopleCount = 0;
    for (size_t i = 0; i < count; ++i) {
        second[i] = FERRYLINE_NO_GROUP;
        owner[i] = i;
        listedIn[i] = 0;
        if (book->entries[i].firstOfPerson) {
            people[peopleCount++] = NamedPerson{book->entries[i].name, i};
        }
    }
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = book->entries[i].nextSame; j != FERRYLINE_NO_GROUP; j = book->entries[j].nextSame) {
            owner[j] = i;
        }
    }
    // People of the same name, two by two: the second's address becomes the first's second address.
    qsort(people, peopleCount, sizeof *people, CompareByName);
    for (size_t k = 0; k + 1 < peopleCount; ++k) {
        const NamedPerson& a = people[k];
        const NamedPerson& b = people[k + 1];
        if (a.name.size > 0 && a.name.size == b.name.size && memcmp(a.name.bytes, b.name.bytes, a.name.size) == 0) {
            second[a.entry] = b.entry;
            owner[b.entry] = a.entry;
            ++k;
        }
    }
    LdifLine line = {output, 0};
    for (size_t i = 0; i < count && output->status == FERRYLINE_OK; ++i) {
        const FerrylineBookEntry* entry = &book->entries[i];
        if (!entry->firstOfPerson || owner[i] != i) {
            continue;
        }
        FerrylineText cn = ShownName(entry);
        if (cn.size == 0) {
            continue;  // neither a name nor an address: nothing to show or to write to
        }
        PutAttribute(&line, "dn", dn, PersonDn(dn, cn, entry->address));
        static const char* const kClasses[] = {"top", "person", "organizationalPerson", "inetOrgPerson", "mozillaAbPersonAlpha"};
        for (const char* objectClass : kClasses) {
            PutAttribute(&line, "objectclass", objectClass, strlen(objectClass));
        }
        PutAttribute(&line, "cn", cn.bytes, cn.size);
        PersonalName parts = SplitPersonalName(entry->name);
        if (parts.given.size > 0) {
            PutAttribute(&line, "givenName", parts.given.bytes, parts.given.size);
        }
        if (parts.family.size > 0) {
            PutAttribute(&line, "sn", parts.family.bytes, parts.family.size);
        }
        if (entry->address.size > 0) {
            PutAttribute(&line, "mail", entry->address.bytes, entry->address.size);
        }
        if (second[i] != FERRYLINE_NO_GROUP) {
            FerrylineText other = book->entries[second[i]].address;
            PutAttribute(&line, "mozillaSecondEmail", other.bytes, other.size);
        }
        PutByte(output, '\n');
    }
    for (size_t g = 0; g < book->groupCount && output->status == FERRYLINE_OK; ++g) {
        FerrylineText name = book->groups[g];
        if (name.size == 0) {
            continue;
        }
        PutAttribute(&line, "dn", dn, PersonDn(dn, name, FerrylineText{nullptr, 0}));
        PutAttribute(&line, "objectclass", "top", 3);
        PutAttribute(&line, "objectclass", "groupOfNames", 12);
        PutAttribute(&line, "cn", name.bytes, name.size);
        // Each person once, in the order of the book.
        for (size_t i = 0; i < count; ++i) {
            size_t person = owner[owner[i]];
            if (book->entries[i].group == g && listedIn[person] != g + 1 && ShownName(&book->entries[person]).size > 0) {
                listedIn[person] = g + 1;
                const FerrylineBookEntry* first = &book->entries[person];
                PutAttribute(&line, "member", dn, PersonDn(dn, ShownName(first), first->address));
            }
        }
        PutByte(output, '\n');
    }
    Release(env, owner, bytes);
    Release(env, dn, dnBytes);
    return 1;
}
