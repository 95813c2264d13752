// Either edition read into the neutral list of groups and entries, with the converters' own rules for
// lines, fields, quotes and groups.
#include <stdio.h>
#include <string.h>

#include "convert/book.h"
#include "convert/charset.h"
#include "convert/converters.h"
#include "convert/env.h"
#include "convert/format.h"
#include "convert/mac_grammar.h"
#include "convert/w95_grammar.h"

// A book being read: the entries and the group names as they appear (a name may come again).
struct BookReader {
    FerrylineBook* book;
    const FerrylineEnv* env;
    size_t currentGroup;
};

static int CompareTexts(FerrylineText a, FerrylineText b)
{
    size_t shorter = a.size < b.size ? a.size : b.size;
    int order = shorter > 0 ? memcmp(a.bytes, b.bytes, shorter) : 0;
    if (order != 0) {
        return order;
    }
    return a.size < b.size ? -1 : a.size > b.size ? 1 : 0;
}

static void AddGroup(BookReader* reader, const char* name, size_t length)
{
    FerrylineBook* book = reader->book;
    book->groups[book->groupCount] = FerrylineText{name, length};
    reader->currentGroup = book->groupCount++;
}

static void AddEntry(BookReader* reader, const char* name, size_t nameLength, const char* address, size_t addressLength,
                     uint64_t line)
{
    FerrylineBook* book = reader->book;
    FerrylineBookEntry* entry = &book->entries[book->entryCount++];
    entry->name = FerrylineText{name, nameLength};
    entry->address = FerrylineText{address, addressLength};
    entry->group = reader->currentGroup;
    entry->nextSame = FERRYLINE_NO_GROUP;
    entry->firstOfPerson = 1;
    entry->line = line;
}

// Each line of a Mac book as the grammar reads it: a group line starts a group, any other is an entry.
static void AddMacLine(void* context, const MacLine& line)
{
    BookReader* reader = static_cast<BookReader*>(context);
    if (line.isGroup) {
        AddGroup(reader, line.name.bytes, line.name.size);
    } else {
        AddEntry(reader, line.name.bytes, line.name.size, line.address.bytes, line.address.size, line.number);
    }
}

// The field's text made contiguous in place: its line breaks left out.
static FerrylineText FieldText(const Field& field)
{
    char* start = const_cast<char*>(field.start);
    size_t length = 0;
    for (size_t i = 0; i < field.textEnd; ++i) {
        if (!IsLineBreak(start[i])) {
            start[length++] = start[i];
        }
    }
    return FerrylineText{start, length};
}

// Each item of a W95 book as the grammar reads it. "Main" starts no group: its entries join the group
// before, as in the Mac book written for it.
static void AddW95Item(void* context, const W95Item& item)
{
    BookReader* reader = static_cast<BookReader*>(context);
    switch (item.kind) {
    case W95_GROUP:
        if (!item.isMain) {
            FerrylineText name = FieldText(item.name);
            AddGroup(reader, name.bytes, name.size);
        }
        break;
    case W95_ENTRY_WITHOUT_ADDRESS:
        NoteChange(reader->env, FERRYLINE_DROPPED_ENTRY, item.entry, item.name.start, item.name.textEnd);
        break;
    case W95_ENTRY: {
        FerrylineText name = FieldText(item.name);
        FerrylineText address = FieldText(item.address);
        AddEntry(reader, name.bytes, name.size, address.bytes, address.size, item.entry);
        break;
    }
    }
}

// Sorts `indices` stably by `compare`, through `scratch` of the same length.
template <typename Compare>
static void SortIndices(size_t* indices, size_t* scratch, size_t count, Compare compare)
{
    for (size_t width = 1; width < count; width *= 2) {
        for (size_t left = 0; left < count; left += 2 * width) {
            size_t middle = left + width < count ? left + width : count;
            size_t right = middle + width < count ? middle + width : count;
            size_t i = left;
            size_t j = middle;
            size_t k = left;
            while (i < middle || j < right) {
                bool takeLeft = j >= right || (i < middle && compare(indices[j], indices[i]) >= 0);
                scratch[k++] = takeLeft ? indices[i++] : indices[j++];
            }
        }
        memcpy(indices, scratch, count * sizeof *indices);
    }
}

// Groups that come again under the same name become one, numbered in the order they first appear;
// entries of the same name and address are linked as one person. Returns 0 when refused memory.
static int LinkSameNames(FerrylineBook* book, const FerrylineEnv* env)
{
    size_t count = book->groupCount > book->entryCount ? book->groupCount : book->entryCount;
    size_t bytes = 3 * (count + 1) * sizeof(size_t);
    size_t* block = static_cast<size_t*>(Allocate(env, bytes));
    if (block == nullptr) {
        return 0;
    }
    size_t* order = block;
    size_t* scratch = block + count + 1;
    size_t* renumbered = scratch + count + 1;

    for (size_t i = 0; i < book->groupCount; ++i) {
        order[i] = i;
    }
    const FerrylineText* groups = book->groups;
    SortIndices(order, scratch, book->groupCount, [groups](size_t a, size_t b) { return CompareTexts(groups[a], groups[b]); });
    // Each occurrence points at the first of its name; the firsts then get numbers in order.
    for (size_t i = 0; i < book->groupCount; ++i) {
        bool same = i > 0 && CompareTexts(groups[order[i]], groups[order[i - 1]]) == 0;
        scratch[order[i]] = same ? scratch[order[i - 1]] : order[i];
    }
    size_t distinct = 0;
    for (size_t i = 0; i < book->groupCount; ++i) {
        if (scratch[i] == i) {
            book->groups[distinct] = book->groups[i];
            renumbered[i] = distinct++;
        } else {
            renumbered[i] = renumbered[scratch[i]];
        }
    }
    for (size_t i = 0; i < book->entryCount; ++i) {
        FerrylineBookEntry* entry = &book->entries[i];
        entry->group = entry->group == FERRYLINE_NO_GROUP ? entry->group : renumbered[entry->group];
    }
    book->groupCount = distinct;

    FerrylineBookEntry* entries = book->entries;
    for (size_t i = 0; i < book->entryCount; ++i) {
        order[i] = i;
    }
    SortIndices(order, scratch, book->entryCount, [entries](size_t a, size_t b) {
        int byName = CompareTexts(entries[a].name, entries[b].name);
        return byName != 0 ? byName : CompareTexts(entries[a].address, entries[b].address);
    });
    for (size_t i = 1; i < book->entryCount; ++i) {
        FerrylineBookEntry* before = &entries[order[i - 1]];
        FerrylineBookEntry* entry = &entries[order[i]];
        if (CompareTexts(before->name, entry->name) == 0 && CompareTexts(before->address, entry->address) == 0) {
            before->nextSame = order[i];
            entry->firstOfPerson = 0;
        }
    }
    Release(env, block, bytes);
    return 1;
}

// At most one item per line end, plus one; at most one per marker for a W95 book.
static size_t CountItemsAtMost(const char* text, size_t size, FerrylineEdition edition)
{
    size_t count = 1;
    for (size_t i = 0; i < size; ++i) {
        char c = text[i];
        bool ends = edition == FERRYLINE_EDITION_MAC ? c == '\r' || c == '\n' || c == '\0' : c == '&' || c == '#';
        count += ends ? 1 : 0;
    }
    return count;
}

FerrylineStatus ferryline_read_book(FerrylineEdition edition, const FerrylineOptions* options, const void* input, size_t size,
                                    const char* inputTitle, const FerrylineEnv* env, FerrylineBook* book)
{
    env = UsableEnv(env);
    memset(book, 0, sizeof *book);
    book->alloc = env->alloc;
    book->allocContext = env->allocContext;
    const char* bytes = static_cast<const char*>(input);
    FerrylineCharset chosen = options != nullptr ? options->charset : FERRYLINE_CHARSET_AUTO;
    if (edition == FERRYLINE_EDITION_EITHER) {
        FerrylineLook look;
        LookAt(bytes, size, chosen, false, false, &look);
        edition = look.edition;
    }
    // An 8-bit book is Mac OS Roman or Windows-1252 by its edition, unless the user said otherwise.
    Charset charset = ChooseCharset(bytes, size, chosen, edition == FERRYLINE_EDITION_MAC ? CHARSET_MAC_ROMAN : CHARSET_WINDOWS_1252);
    TextBlock text;
    if (!DecodeToUtf8(bytes, size, charset, env, &text)) {
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    }
    book->edition = edition;
    book->text = text.bytes;
    book->textCapacity = text.capacity;
    size_t items = CountItemsAtMost(text.bytes, text.size, edition);
    book->groupCapacity = items * sizeof(FerrylineText);
    book->entryCapacity = items * sizeof(FerrylineBookEntry);
    book->groups = static_cast<FerrylineText*>(Allocate(env, book->groupCapacity));
    book->entries = static_cast<FerrylineBookEntry*>(Allocate(env, book->entryCapacity));
    if (book->groups == nullptr || book->entries == nullptr) {
        ferryline_book_free(book);
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    }
    BookReader reader = {book, env, FERRYLINE_NO_GROUP};
    if (edition == FERRYLINE_EDITION_MAC) {
        ReadMacLines(text.bytes, text.size, AddMacLine, &reader);
    } else if (!ReadW95Items(text.bytes, text.size, AddW95Item, &reader)) {
        ferryline_book_free(book);
        return Fail(env, FERRYLINE_NOT_A_BOOK, kNotAnAddressBook, inputTitle);
    }
    if (!LinkSameNames(book, env)) {
        ferryline_book_free(book);
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    }
    return FERRYLINE_OK;
}

void ferryline_book_free(FerrylineBook* book)
{
    const FerrylineEnv held = {book->alloc, book->allocContext, nullptr};
    Release(&held, book->text, book->textCapacity);
    Release(&held, book->groups, book->groupCapacity);
    Release(&held, book->entries, book->entryCapacity);
    memset(book, 0, sizeof *book);
}

static FerrylineText Trimmed(const char* text, size_t size)
{
    while (size > 0 && *text == ' ') {
        ++text;
        --size;
    }
    while (size > 0 && text[size - 1] == ' ') {
        --size;
    }
    return FerrylineText{text, size};
}

PersonalName SplitPersonalName(FerrylineText name)
{
    FerrylineText whole = Trimmed(name.bytes, name.size);
    FerrylineText rest = whole;
    PersonalName parts = {whole, whole, FerrylineText{whole.bytes, 0}};
    const char* comma = whole.size > 0 ? static_cast<const char*>(memchr(whole.bytes, ',', whole.size)) : nullptr;
    if (comma != nullptr) {
        size_t before = static_cast<size_t>(comma - whole.bytes);
        FerrylineText head = Trimmed(whole.bytes, before);
        FerrylineText tail = Trimmed(comma + 1, whole.size - before - 1);
        if (head.size > 0 && memchr(head.bytes, ' ', head.size) == nullptr) {
            parts.family = head;  // "Smith, Bob"
            parts.given = tail;
            return parts;
        }
        parts.suffix = tail;  // "Eve O'Test, PhD"
        rest = head;
    }
    size_t space = rest.size;
    while (space > 0 && rest.bytes[space - 1] != ' ') {
        --space;
    }
    if (space == 0) {
        parts.given = rest;
        parts.family = FerrylineText{rest.bytes + rest.size, 0};
    } else {
        parts.given = Trimmed(rest.bytes, space - 1);
        parts.family = FerrylineText{rest.bytes + space, rest.size - space};
    }
    return parts;
}

int OpenGroupMarks(GroupMarks* marks, const FerrylineBook* book, const FerrylineEnv* env)
{
    marks->bytes = (book->groupCount + 1) * sizeof(size_t);
    marks->current = 0;
    marks->pass = static_cast<size_t*>(Allocate(env, marks->bytes));
    if (marks->pass == nullptr) {
        return 0;
    }
    memset(marks->pass, 0, marks->bytes);
    return 1;
}

void CloseGroupMarks(GroupMarks* marks, const FerrylineEnv* env)
{
    Release(env, marks->pass, marks->bytes);
    marks->pass = nullptr;
}

FerrylineText PositionWord(const FerrylineBook* book)
{
    return book->edition == FERRYLINE_EDITION_MAC ? FerrylineText{"line", 4} : FerrylineText{"entry", 5};
}

void NotePersonExported(const FerrylineBook* book, size_t first, bool namedByAddress, const FerrylineEnv* env)
{
    const FerrylineBookEntry* entry = &book->entries[first];
    FerrylineText position = PositionWord(book);
    if (namedByAddress) {
        NoteLineChange(env, FERRYLINE_NAMED_BY_ADDRESS, entry->line, position, entry->name, entry->address);
    }
    if (entry->nextSame != FERRYLINE_NO_GROUP) {
        NoteLineChange(env, FERRYLINE_ENTRIES_JOINED, entry->line, position, entry->name, entry->address);
    }
}
