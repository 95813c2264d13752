// The exports: a book read into its neutral list (ferryline_read_book), written as vCard or CSV.
#ifndef FERRYLINE_BOOK_H
#define FERRYLINE_BOOK_H

#include "convert/ferryline.h"
#include "convert/output.h"

// One card per person, with the person's groups as categories; version 4 adds a card for each group.
// Returns 0 when refused the memory for the lists of members.
int WriteVcard(const FerrylineBook* book, int version, Output* output, const FerrylineEnv* env);
// A header row, then one row per person, in `layout` (a FerrylineCsvLayout); each cell that would begin a
// formula in a spreadsheet is written after a "'" and reported as a change. Returns 0 when refused memory.
int WriteCsv(const FerrylineBook* book, int layout, Output* output, const FerrylineEnv* env);

// A personal name split as address books keep it. "Family, Given" when a single word stands before the
// first comma; otherwise what follows the comma is a suffix ("PhD"), and of the rest the last word is
// the family name and the words before it the given name (a single word is a given name).
struct PersonalName {
    FerrylineText given;
    FerrylineText family;
    FerrylineText suffix;
};
PersonalName SplitPersonalName(FerrylineText name);

// Which groups a person was given, so that each is given once however far apart its entries lie: a
// group is marked with the number of the pass that gave it.
struct GroupMarks {
    size_t* pass;
    size_t bytes;
    size_t current;
};
// Returns 0 when refused the memory.
int OpenGroupMarks(GroupMarks* marks, const FerrylineBook* book, const FerrylineEnv* env);
void CloseGroupMarks(GroupMarks* marks, const FerrylineEnv* env);

// Calls `put` with the index of each group of the person whose first entry is `first`, in the order of
// the book, each once.
template <typename Put>
void ForEachGroupOfPerson(const FerrylineBook* book, size_t first, GroupMarks* marks, Put put)
{
    ++marks->current;
    for (size_t i = first; i != FERRYLINE_NO_GROUP; i = book->entries[i].nextSame) {
        size_t group = book->entries[i].group;
        if (group == FERRYLINE_NO_GROUP || book->groups[group].size == 0 || marks->pass[group] == marks->current) {
            continue;
        }
        marks->pass[group] = marks->current;
        put(group);
    }
}

// What an entry's `line` counts, as an export's change names it: "line" (Mac) or "entry" (W95).
FerrylineText PositionWord(const FerrylineBook* book);

// Tells the changes an export makes to the person whose first entry is `first`: one contact for entries
// listed more than once, and a name taken from the address when `namedByAddress`.
void NotePersonExported(const FerrylineBook* book, size_t first, bool namedByAddress, const FerrylineEnv* env);

#endif
