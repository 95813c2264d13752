// The exports: a book read into its neutral list (ferryline_read_book), written as vCard or CSV.
#ifndef FERRYLINE_BOOK_H
#define FERRYLINE_BOOK_H

#include "convert/ferryline.h"
#include "convert/output.h"

// One card per person, with the person's groups as categories; version 4 adds a card for each group.
// Returns 0 when refused the memory for the lists of members.
int WriteVcard(const FerrylineBook* book, int version, Output* output, const FerrylineEnv* env);
// A header row, then one row per person, in `layout` (a FerrylineCsvLayout); each cell that would begin a
// formula in a spreadsheet is written after a "'" and reported as a change.
void WriteCsv(const FerrylineBook* book, int layout, Output* output, const FerrylineEnv* env);

// A personal name split as address books keep it. "Family, Given" when a single word stands before the
// first comma; otherwise what follows the comma is a suffix ("PhD"), and of the rest the last word is
// the family name and the words before it the given name (a single word is a given name).
struct PersonalName {
    FerrylineText given;
    FerrylineText family;
    FerrylineText suffix;
};
PersonalName SplitPersonalName(FerrylineText name);

// Calls `put` with the index of each group of the person whose first entry is `first`, in the order of the book,
// leaving out a group just given (a person listed twice in one group).
template <typename Put>
void ForEachGroupOfPerson(const FerrylineBook* book, size_t first, Put put)
{
    const size_t kRecent = 16;
    size_t recent[kRecent];
    size_t seen = 0;
    for (size_t i = first; i != FERRYLINE_NO_GROUP; i = book->entries[i].nextSame) {
        size_t group = book->entries[i].group;
        bool repeated = group == FERRYLINE_NO_GROUP || book->groups[group].size == 0;
        for (size_t k = 0; k < seen && k < kRecent && !repeated; ++k) {
            repeated = recent[k] == group;
        }
        if (!repeated) {
            recent[seen++ % kRecent] = group;
            put(group);
        }
    }
}

#endif
