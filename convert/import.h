// Books from elsewhere: vCard and CSV read into the neutral list, which is then written in either
// edition; and the neutral list written as LDIF.
#ifndef FERRYLINE_IMPORT_H
#define FERRYLINE_IMPORT_H

#include <stddef.h>
#include <string.h>
#include <strings.h>

#include "convert/charset.h"
#include "convert/ferryline.h"
#include "convert/output.h"

namespace ferryline {

// Marks a preferred address in its size while a reader gathers a person's addresses.
inline constexpr size_t kPreferredBit = (size_t)1 << (sizeof(size_t) * 8 - 1);

// vCard names and parameters and CSV headers are compared without regard to case.
inline bool TextEqualsNoCase(const char* text, size_t size, const char* word)
{
    return size == strlen(word) && strncasecmp(text, word, size) == 0;
}

inline bool StartsWithNoCase(const char* text, size_t size, const char* prefix)
{
    size_t length = strlen(prefix);
    return size >= length && strncasecmp(text, prefix, length) == 0;
}

// A list read from a vCard or CSV file, with the input line each entry came from, for the changes the
// edition's writer tells.
struct ImportedBook {
    FerrylineBook book;
    unsigned long* lines;  // one per entry
    size_t linesCapacity;
};

// A person as a reader found one, gathered until the whole file is read: a card, or a row.
struct ImportPerson {
    size_t name;  // offsets of texts in the importer's text block
    size_t nameSize;
    size_t uid;
    size_t uidSize;
    size_t firstEmail;  // its addresses, preferred first: [firstEmail, firstEmail + emailCount)
    size_t emailCount;
    unsigned long line;
};

struct ImportText {
    size_t offset;
    size_t size;
};

// A group's claim on a person, found by a category (person known) or a group card's member (found by
// `member` once every card is read).
struct ImportMembership {
    size_t group;
    size_t person;  // or FERRYLINE_NO_GROUP while `member` is to be found
    ImportText member;
    unsigned long line;
};

// What the readers gather: texts in one growing block, found by offset since the block moves as it grows.
struct Importer {
    const FerrylineEnv* env;
    bool failed;  // refused memory
    char* text;
    size_t textSize;
    size_t textCapacity;
    ImportPerson* people;
    size_t peopleCount;
    size_t peopleCapacity;
    ImportText* emails;
    size_t emailCount;
    size_t emailCapacity;
    ImportText* groups;  // distinct names, in the order they first appear
    size_t groupCount;
    size_t groupCapacity;
    ImportMembership* memberships;
    size_t membershipCount;
    size_t membershipCapacity;
    unsigned long leftOut;  // people without an address
};

// Makes room for one more element of `size` bytes in the list at `*block` (`count` used of `*capacity`),
// growing it when full. Returns false, `failed` set, when refused memory.
bool ImportRoomForOne(Importer* importer, void** block, size_t* capacity, size_t count, size_t size);
template <typename T>
bool ImportRoomFor(Importer* importer, T** list, size_t* capacity, size_t count)
{
    void* block = *list;
    bool room = ImportRoomForOne(importer, &block, capacity, count, sizeof(T));
    *list = static_cast<T*>(block);
    return room;
}

void StartImport(Importer* importer, const FerrylineEnv* env);
void EndImport(Importer* importer);

// Appends `size` bytes to the text block; returns their offset (garbage once `failed`).
size_t AddImportText(Importer* importer, const char* bytes, size_t size);
// A name, address or group as the editions can hold it: line breaks and other control characters as
// spaces, spaces at either end and quotes at the end left out (a Mac reader takes those off). Returns
// its offset in the text block, `size` set to what is kept.
ImportText AddCleanText(Importer* importer, const char* bytes, size_t size);
// The group named so, added when new; FERRYLINE_NO_GROUP for an empty name.
size_t FindOrAddGroup(Importer* importer, const char* name, size_t size);

// Starts a person named by the text at `name`; addresses and groups added next are its own.
void StartPerson(Importer* importer, ImportText name, unsigned long line);
// An address of the person started last; a preferred one goes before those that are not.
void AddPersonEmail(Importer* importer, const char* bytes, size_t size, bool preferred);
void AddPersonGroup(Importer* importer, size_t group);
// A member of `group` named by a group card (a UID, "urn:uuid:..." or "mailto:..."), found at the end.
void AddGroupMember(Importer* importer, size_t group, const char* bytes, size_t size, unsigned long line);
void SetPersonUid(Importer* importer, const char* bytes, size_t size);

// The book the gathered people make: the people without a group first, then each group's in the order
// the groups first appeared; one entry for each address of a person in each of its groups. People
// without an address and members not found are told as changes. Returns 0 when refused memory.
int FinishImport(Importer* importer, ImportedBook* book);
void FreeImportedBook(ImportedBook* book, const FerrylineEnv* env);

// Readers of the two formats, of UTF-8 text, into `importer`. Each returns 0 after telling why the input
// was refused, or with `failed` set when refused memory.
int ReadVcardFile(const char* text, size_t size, const char* inputTitle, Importer* importer);
int ReadCsvFile(const char* text, size_t size, const char* inputTitle, Importer* importer);

// The list written as a book of the Mac or the W95 edition, in its character set. `lines` (null: the
// entry's number) names the input line in the changes. Sets WARNING_* bits in `warnings`. Returns 0 when
// refused memory.
int WriteEditionBook(const FerrylineBook* book, const unsigned long* lines, FerrylineEdition edition, Output* output,
                     const FerrylineEnv* env, unsigned* warnings);

// The list as LDIF (RFC 2849) for Thunderbird's address book.
int WriteLdif(const FerrylineBook* book, Output* output, const FerrylineEnv* env);

// Tells a change of an import (FERRYLINE_IMPORT_NOTE or FERRYLINE_CHARACTER_REPLACED) as one line of
// text, `format` filled like printf.
void NoteImportChange(const FerrylineEnv* env, FerrylineChangeKind kind, unsigned long line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

}  // namespace ferryline

#endif
