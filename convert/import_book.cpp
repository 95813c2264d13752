// The people a vCard or CSV reader found, made into the neutral list the edition writers take.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "convert/env.h"
#include "convert/import.h"

namespace ferryline {

void StartImport(Importer* importer, const FerrylineEnv* env)
{
    memset(importer, 0, sizeof *importer);
    importer->env = env;
}

void EndImport(Importer* importer)
{
    const FerrylineEnv* env = importer->env;
    Release(env, importer->text, importer->textCapacity);
    Release(env, importer->people, importer->peopleCapacity * sizeof(ImportPerson));
    Release(env, importer->emails, importer->emailCapacity * sizeof(ImportText));
    Release(env, importer->groups, importer->groupCapacity * sizeof(ImportText));
    Release(env, importer->memberships, importer->membershipCapacity * sizeof(ImportMembership));
    StartImport(importer, env);
}

bool ImportRoomForOne(Importer* importer, void** block, size_t* capacity, size_t count, size_t size)
{
    if (importer->failed) {
        return false;
    }
    if (count < *capacity) {
        return true;
    }
    size_t grown = *capacity < 16 ? 16 : *capacity * 2;
    void* bigger = grown < (size_t)-1 / size / 2 ? Resize(importer->env, *block, *capacity * size, grown * size) : nullptr;
    if (bigger == nullptr) {
        importer->failed = true;
        return false;
    }
    *block = bigger;
    *capacity = grown;
    return true;
}

size_t AddImportText(Importer* importer, const char* bytes, size_t size)
{
    size_t offset = importer->textSize;
    if (importer->failed) {
        return 0;
    }
    // Text already in the block is found again by its offset once the block has moved.
    bool inside = importer->text != nullptr && bytes >= importer->text && bytes < importer->text + importer->textSize;
    size_t from = inside ? static_cast<size_t>(bytes - importer->text) : 0;
    if (size > importer->textCapacity - importer->textSize) {
        size_t grown = importer->textCapacity < 4096 ? 4096 : importer->textCapacity;
        while (grown - importer->textSize < size && grown < (size_t)-1 / 4) {
            grown *= 2;
        }
        char* bigger = grown - importer->textSize >= size
                           ? static_cast<char*>(Resize(importer->env, importer->text, importer->textCapacity, grown))
                           : nullptr;
        if (bigger == nullptr) {
            importer->failed = true;
            return 0;
        }
        importer->text = bigger;
        importer->textCapacity = grown;
    }
    if (size > 0) {
        memmove(importer->text + offset, inside ? importer->text + from : bytes, size);
    }
    importer->textSize += size;
    return offset;
}

ImportText AddCleanText(Importer* importer, const char* bytes, size_t size)
{
    ImportText text = {AddImportText(importer, bytes, size), 0};
    if (importer->failed) {
        return text;
    }
    // A CR LF makes one space.
    char* start = importer->text + text.offset;
    size_t kept = 0;
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(start[i]);
        if (!(c == '\r' && i + 1 < size && start[i + 1] == '\n')) {
            start[kept++] = c < 0x20 || c == 0x7F ? ' ' : start[i];
        }
    }
    size = kept;
    size_t first = 0;
    while (first < size && start[first] == ' ') {
        ++first;
    }
    size_t end = size;
    while (end > first && (start[end - 1] == ' ' || start[end - 1] == '"')) {
        --end;
    }
    text.offset += first;
    text.size = end - first;
    importer->textSize = text.offset + text.size;
    return text;
}

static bool SameText(const Importer* importer, ImportText a, const char* bytes, size_t size)
{
    return a.size == size && (size == 0 || memcmp(importer->text + a.offset, bytes, size) == 0);
}

size_t FindOrAddGroup(Importer* importer, const char* name, size_t size)
{
    // Kept apart from the text block while looked up: `name` may point into it.
    size_t mark = importer->textSize;
    ImportText clean = AddCleanText(importer, name, size);
    if (importer->failed || clean.size == 0) {
        importer->textSize = mark;
        return FERRYLINE_NO_GROUP;
    }
    for (size_t g = 0; g < importer->groupCount; ++g) {
        if (SameText(importer, importer->groups[g], importer->text + clean.offset, clean.size)) {
            importer->textSize = mark;
            return g;
        }
    }
    if (!ImportRoomFor(importer, &importer->groups, &importer->groupCapacity, importer->groupCount)) {
        return FERRYLINE_NO_GROUP;
    }
    importer->groups[importer->groupCount] = clean;
    return importer->groupCount++;
}

void StartPerson(Importer* importer, ImportText name, unsigned long line)
{
    if (!ImportRoomFor(importer, &importer->people, &importer->peopleCapacity, importer->peopleCount)) {
        return;
    }
    ImportPerson person = {name.offset, name.size, 0, 0, importer->emailCount, 0, line};
    importer->people[importer->peopleCount++] = person;
}

void AddPersonEmail(Importer* importer, const char* bytes, size_t size, bool preferred)
{
    if (importer->peopleCount == 0) {
        return;
    }
    ImportPerson* person = &importer->people[importer->peopleCount - 1];
    if (size >= 7 && strncmp(bytes, "mailto:", 7) == 0) {
        bytes += 7;
        size -= 7;
    }
    ImportText address = AddCleanText(importer, bytes, size);
    if (address.size == 0 || !ImportRoomFor(importer, &importer->emails, &importer->emailCapacity, importer->emailCount)) {
        return;
    }
    // A preferred address goes after the preferred ones before it, ahead of the rest.
    size_t at = importer->emailCount;
    if (preferred) {
        at = person->firstEmail;
        while (at < importer->emailCount && (importer->emails[at].size & kPreferredBit) != 0) {
            ++at;
        }
    }
    memmove(importer->emails + at + 1, importer->emails + at, (importer->emailCount - at) * sizeof(ImportText));
    address.size |= preferred ? kPreferredBit : 0;
    importer->emails[at] = address;
    ++importer->emailCount;
    ++person->emailCount;
}

void AddPersonGroup(Importer* importer, size_t group)
{
    if (importer->peopleCount == 0 || group == FERRYLINE_NO_GROUP) {
        return;
    }
    if (!ImportRoomFor(importer, &importer->memberships, &importer->membershipCapacity, importer->membershipCount)) {
        return;
    }
    ImportMembership membership = {group, importer->peopleCount - 1, {0, 0}, 0};
    importer->memberships[importer->membershipCount++] = membership;
}

void AddGroupMember(Importer* importer, size_t group, const char* bytes, size_t size, unsigned long line)
{
    if (group == FERRYLINE_NO_GROUP) {
        return;
    }
    ImportText member = AddCleanText(importer, bytes, size);
    if (!ImportRoomFor(importer, &importer->memberships, &importer->membershipCapacity, importer->membershipCount)) {
        return;
    }
    ImportMembership membership = {group, FERRYLINE_NO_GROUP, member, line};
    importer->memberships[importer->membershipCount++] = membership;
}

void SetPersonUid(Importer* importer, const char* bytes, size_t size)
{
    if (importer->peopleCount == 0) {
        return;
    }
    ImportText uid = AddCleanText(importer, bytes, size);
    importer->people[importer->peopleCount - 1].uid = uid.offset;
    importer->people[importer->peopleCount - 1].uidSize = uid.size;
}

void NoteImportChange(const FerrylineEnv* env, FerrylineChangeKind kind, unsigned long line, const char* format, ...)
{
    if (env->listener == nullptr || env->listener->change == nullptr) {
        return;
    }
    char text[640];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    size_t size = length < 0 ? 0 : static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1;
    NoteChange(env, kind, line, text, size);
}

// At most this much of a text in a change, so that one line says what it is about.
static int Shown(size_t size)
{
    return size < 200 ? static_cast<int>(size) : 200;
}

// A UID as a member names it: without "urn:uuid:", letters in either case.
static ImportText UidKey(const Importer* importer, ImportText uid)
{
    const char* text = importer->text + uid.offset;
    if (StartsWithNoCase(text, uid.size, "urn:uuid:")) {
        return ImportText{uid.offset + 9, uid.size - 9};
    }
    return uid;
}

// What a group card's member may name a person by: its UID, or with "mailto:" one of its addresses.
struct MemberKey {
    bool byAddress;
    const char* text;
    size_t size;
    size_t person;
};

static int CompareMemberKeys(const void* a, const void* b)
{
    const MemberKey* left = static_cast<const MemberKey*>(a);
    const MemberKey* right = static_cast<const MemberKey*>(b);
    if (left->byAddress != right->byAddress) {
        return left->byAddress ? 1 : -1;
    }
    size_t shorter = left->size < right->size ? left->size : right->size;
    int order = shorter > 0 ? strncasecmp(left->text, right->text, shorter) : 0;
    if (order != 0 || left->size != right->size) {
        return order != 0 ? order : left->size < right->size ? -1 : 1;
    }
    return left->person < right->person ? -1 : left->person > right->person ? 1 : 0;
}

// Every person's UID and addresses, sorted for FindMember; null when there are none or no memory.
static MemberKey* MakeMemberKeys(const Importer* importer, size_t* count, size_t* bytes)
{
    *count = importer->emailCount + importer->peopleCount;
    *bytes = (*count + 1) * sizeof(MemberKey);
    MemberKey* keys = static_cast<MemberKey*>(Allocate(importer->env, *bytes));
    if (keys == nullptr) {
        return nullptr;
    }
    size_t made = 0;
    for (size_t p = 0; p < importer->peopleCount; ++p) {
        const ImportPerson* person = &importer->people[p];
        ImportText uid = UidKey(importer, ImportText{person->uid, person->uidSize});
        if (uid.size > 0) {
            keys[made++] = MemberKey{false, importer->text + uid.offset, uid.size, p};
        }
        for (size_t e = person->firstEmail; e < person->firstEmail + person->emailCount; ++e) {
            keys[made++] = MemberKey{true, importer->text + importer->emails[e].offset, importer->emails[e].size, p};
        }
    }
    *count = made;
    qsort(keys, made, sizeof *keys, CompareMemberKeys);
    return keys;
}

// The person a group card's member names (the first in the file, when several have it).
static size_t FindMember(const Importer* importer, const MemberKey* keys, size_t count, ImportText member)
{
    const char* text = importer->text + member.offset;
    bool byAddress = StartsWithNoCase(text, member.size, "mailto:");
    ImportText key = byAddress ? ImportText{member.offset + 7, member.size - 7} : UidKey(importer, member);
    MemberKey wanted = {byAddress, importer->text + key.offset, key.size, 0};
    size_t low = 0;
    size_t high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (CompareMemberKeys(&keys[middle], &wanted) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    bool found = key.size > 0 && low < count && keys[low].byAddress == byAddress && keys[low].size == key.size &&
                 strncasecmp(keys[low].text, wanted.text, key.size) == 0;
    return found ? keys[low].person : FERRYLINE_NO_GROUP;
}

static int CompareMemberships(const void* a, const void* b)
{
    const ImportMembership* left = static_cast<const ImportMembership*>(a);
    const ImportMembership* right = static_cast<const ImportMembership*>(b);
    if (left->group != right->group) {
        return left->group < right->group ? -1 : 1;
    }
    return left->person < right->person ? -1 : left->person > right->person ? 1 : 0;
}

static void AddBookEntry(ImportedBook* imported, const Importer* importer, size_t person, size_t group, size_t* lastOfEmail)
{
    FerrylineBook* book = &imported->book;
    const ImportPerson* from = &importer->people[person];
    for (size_t e = from->firstEmail; e < from->firstEmail + from->emailCount; ++e) {
        size_t index = book->entryCount++;
        FerrylineBookEntry* entry = &book->entries[index];
        entry->name = FerrylineText{book->text + from->name, from->nameSize};
        entry->address = FerrylineText{book->text + importer->emails[e].offset, importer->emails[e].size};
        entry->group = group;
        entry->nextSame = FERRYLINE_NO_GROUP;
        entry->firstOfPerson = lastOfEmail[e] == FERRYLINE_NO_GROUP;
        if (lastOfEmail[e] != FERRYLINE_NO_GROUP) {
            book->entries[lastOfEmail[e]].nextSame = index;
        }
        lastOfEmail[e] = index;
        imported->lines[index] = from->line;
    }
}

int FinishImport(Importer* importer, ImportedBook* imported)
{
    memset(imported, 0, sizeof *imported);
    const FerrylineEnv* env = importer->env;
    for (size_t e = 0; e < importer->emailCount; ++e) {
        importer->emails[e].size &= ~kPreferredBit;
    }
    for (size_t p = 0; p < importer->peopleCount; ++p) {
        const ImportPerson* person = &importer->people[p];
        if (person->emailCount == 0) {
            ++importer->leftOut;
            NoteImportChange(env, FERRYLINE_IMPORT_NOTE, person->line, "line %lu: \"%.*s\" left out, it has no e-mail address", person->line,
                             Shown(person->nameSize), importer->text + person->name);
        }
    }
    // Members named by group cards, found now that every card is read; one not found is told.
    size_t keyCount = 0;
    size_t keyBytes = 0;
    MemberKey* keys = MakeMemberKeys(importer, &keyCount, &keyBytes);
    if (keys == nullptr) {
        return 0;
    }
    size_t kept = 0;
    for (size_t m = 0; m < importer->membershipCount; ++m) {
        ImportMembership membership = importer->memberships[m];
        if (membership.person == FERRYLINE_NO_GROUP) {
            membership.person = FindMember(importer, keys, keyCount, membership.member);
            if (membership.person == FERRYLINE_NO_GROUP) {
                ImportText group = importer->groups[membership.group];
                NoteImportChange(env, FERRYLINE_IMPORT_NOTE, membership.line, "line %lu: group \"%.*s\": member \"%.*s\" left out, no card in the file has it",
                                 membership.line, Shown(group.size), importer->text + group.offset,
                                 Shown(membership.member.size), importer->text + membership.member.offset);
                continue;
            }
        }
        importer->memberships[kept++] = membership;
    }
    Release(env, keys, keyBytes);
    importer->membershipCount = kept;
    if (kept > 0) {
        qsort(importer->memberships, kept, sizeof *importer->memberships, CompareMemberships);
    }

    // An entry for every address of a person in each of its groups, or in none.
    bool* grouped = static_cast<bool*>(Allocate(env, importer->peopleCount + 1));
    size_t* lastOfEmail = static_cast<size_t*>(Allocate(env, (importer->emailCount + 1) * sizeof(size_t)));
    size_t entries = 0;
    if (grouped != nullptr && lastOfEmail != nullptr) {
        memset(grouped, 0, importer->peopleCount + 1);
        for (size_t m = 0; m < kept; ++m) {
            grouped[importer->memberships[m].person] = true;
        }
        for (size_t p = 0; p < importer->peopleCount; ++p) {
            entries += grouped[p] ? 0 : importer->people[p].emailCount;
        }
        for (size_t m = 0; m < kept; ++m) {
            bool repeated = m > 0 && CompareMemberships(&importer->memberships[m], &importer->memberships[m - 1]) == 0;
            entries += repeated ? 0 : importer->people[importer->memberships[m].person].emailCount;
        }
    }
    FerrylineBook* book = &imported->book;
    book->edition = FERRYLINE_EDITION_EITHER;
    // The book frees its blocks with the allocator that made them.
    book->alloc = env->alloc;
    book->allocContext = env->allocContext;
    book->groupCapacity = (importer->groupCount + 1) * sizeof(FerrylineText);
    book->entryCapacity = (entries + 1) * sizeof(FerrylineBookEntry);
    imported->linesCapacity = (entries + 1) * sizeof(unsigned long);
    book->groups = static_cast<FerrylineText*>(Allocate(env, book->groupCapacity));
    book->entries = static_cast<FerrylineBookEntry*>(Allocate(env, book->entryCapacity));
    imported->lines = static_cast<unsigned long*>(Allocate(env, imported->linesCapacity));
    if (grouped == nullptr || lastOfEmail == nullptr || book->groups == nullptr || book->entries == nullptr || imported->lines == nullptr) {
        Release(env, grouped, importer->peopleCount + 1);
        Release(env, lastOfEmail, (importer->emailCount + 1) * sizeof(size_t));
        FreeImportedBook(imported, env);
        return 0;
    }
    // The book takes over the text block.
    book->text = importer->text;
    book->textCapacity = importer->textCapacity;
    importer->text = nullptr;
    importer->textCapacity = 0;
    importer->textSize = 0;
    for (size_t g = 0; g < importer->groupCount; ++g) {
        book->groups[g] = FerrylineText{book->text + importer->groups[g].offset, importer->groups[g].size};
    }
    book->groupCount = importer->groupCount;
    for (size_t e = 0; e < importer->emailCount; ++e) {
        lastOfEmail[e] = FERRYLINE_NO_GROUP;
    }
    for (size_t p = 0; p < importer->peopleCount; ++p) {
        if (!grouped[p]) {
            AddBookEntry(imported, importer, p, FERRYLINE_NO_GROUP, lastOfEmail);
        }
    }
    for (size_t m = 0; m < kept; ++m) {
        if (m == 0 || CompareMemberships(&importer->memberships[m], &importer->memberships[m - 1]) != 0) {
            AddBookEntry(imported, importer, importer->memberships[m].person, importer->memberships[m].group, lastOfEmail);
        }
    }
    Release(env, grouped, importer->peopleCount + 1);
    Release(env, lastOfEmail, (importer->emailCount + 1) * sizeof(size_t));
    return 1;
}

void FreeImportedBook(ImportedBook* book, const FerrylineEnv* env)
{
    Release(env, book->lines, book->linesCapacity);
    ferryline_book_free(&book->book);
    memset(book, 0, sizeof *book);
}

}  // namespace ferryline
