// W95 stream ("&Main #Name ^address +") to Mac address book (one "Name <address>" per line).
#include <string.h>

#include "convert/converters.h"
#include "convert/env.h"
#include "convert/format.h"
#include "convert/scan.h"
#include "convert/w95_grammar.h"

const char kNotAnAddressBook[] = "The file %s is not a Corvella W95 address book or is corrupt.";

enum ParseState { STATE_GROUP, STATE_ENTRY, STATE_ADDRESS, STATE_AFTER, STATE_END };

// Reads the field after the marker at `marker`, whatever its length, into `field` member by member:
// a whole structure copied into a field that the caller keeps cost a stalled load for every field.
static inline void ReadScannedField(const char* marker, Scan* scan, ScanWindow* window, Field* field)
{
    const char* start = marker + 1;
    // Its end, and whether it holds line breaks and characters that need quotes.
    ScannedFlags found = ScanRunInWindow(scan, window, start);
    bool hasBreaks = found.hasSecond;
    // The trailing space is the last byte that is not a line break, if it is a space. The byte before
    // the text is the marker, never a space, so an empty text needs no test of its own, and the space
    // is taken off without a branch: short fields end in one at random.
    const char* last = found.end;
    if (hasBreaks) {
        while (last > start && IsLineBreak(last[-1])) {
            --last;
        }
    }
    last -= last[-1] == ' ';
    field->start = start;
    field->end = found.end;
    field->hasBreaks = hasBreaks;
    field->hasSpecials = found.hasThird;
    field->textEnd = static_cast<size_t>(last - start);
    field->readable = static_cast<size_t>(scan->bytes + scan->size - start);
}

static void PutFieldText(Output* output, const Field& field)
{
    if (!field.hasBreaks) {
        PutBytes(output, field.start, field.textEnd);
        return;
    }
    const char* p = field.start;
    const char* textEnd = field.start + field.textEnd;
    while (p < textEnd) {
        const char* run = p;
        while (p < textEnd && !IsLineBreak(*p)) {
            ++p;
        }
        PutBytes(output, run, static_cast<size_t>(p - run));
        while (p < textEnd && IsLineBreak(*p)) {
            ++p;
        }
    }
}

// "\"name\" <GROUP@GROUP>\r\n", except for the default group, which a Mac book has no line for. A group
// named "Main" after the first gets no Mac line, so its entries join the group before it.
static void PutGroup(Output* output, const FerrylineEnv* env, const char* bytes, const Field& name, Field* lastGroup,
                     uint64_t entries)
{
    size_t size = 1 + name.textEnd + sizeof kGroupLineEnd - 1;
    if (FieldEquals(name, kMainGroup)) {
        if (name.start != bytes + 1) {
            NoteLineChange(env, FERRYLINE_MAIN_GROUP_FOLDED, entries, {lastGroup->start, lastGroup->textEnd},
                           {name.start, name.textEnd}, {nullptr, 0});
            return;
        }
    } else if (!name.hasBreaks && size + kCopySlack <= output->capacity) {
        // Made in the block in one go, as an entry's line is.
        char* out = OutputRoom(output, size + kCopySlack);
        if (out == nullptr) {
            return;
        }
        out[0] = '"';
        CopyShortly(out + 1, name.start, name.textEnd, name.readable);
        memcpy(out + 1 + name.textEnd, kGroupLineEnd, sizeof kGroupLineEnd - 1);
        output->used += size;
    } else {
        PutByte(output, '"');
        PutFieldText(output, name);
        PutBytes(output, kGroupLineEnd, sizeof kGroupLineEnd - 1);
    }
    *lastGroup = name;
}

// "name <address>\r\n", the name in quotes when it holds a special character; line breaks and the
// trailing space are not special, so the raw span tells. A piece at a time, for the entries that
// PutPlainEntryLines leaves: those with line breaks, or too long for the block's room.
static void PutEntryLine(Output* output, const Field& name, const Field& address)
{
    bool quoted = name.hasSpecials;
    if (quoted) {
        PutByte(output, '"');
    }
    PutFieldText(output, name);
    PutBytes(output, quoted ? "\" <" : " <", quoted ? 3 : 2);
    PutFieldText(output, address);
    PutBytes(output, kEntryLineEnd, sizeof kEntryLineEnd - 1);
}

// The text's end of a field without line breaks that ends at `fieldEnd`: less one trailing space. The
// byte before the text is its marker, never a space, so an empty text needs no test of its own.
static inline size_t PlainTextEnd(const char* start, const char* fieldEnd)
{
    return static_cast<size_t>(fieldEnd - start) - (fieldEnd[-1] == ' ');
}

// Most entries are a name and an address without line breaks, short enough for the block's room:
// read and put here one after another from the '#' at `p`, without the parser's turns and records, in
// a loop that keeps its place in the block in a register (written through a char pointer, the block
// could otherwise hold the Output itself, to be read again after every byte). Both fields of an entry
// are found in one window of the classes from its name on: nearly every entry fits in its 57 bytes or
// more, so the one test of that is as good as never wrong, where a window moved field by field had to
// be moved at random. Each line is made in the block with one test for room; its quotes are written
// whether or not they count, so that a name with specials and one without take the same path. Stops
// at any other entry or marker; returns the marker after the last entry put (`p` when none was), with
// `entries` counted up.
static const char* PutPlainEntryLines(const char* p, const char* end, Scan* scan, Output* output,
                                      uint64_t* entries)
{
    if (output->status != FERRYLINE_OK) {
        return p;
    }
    char* block = output->block;
    size_t used = output->used;
    size_t capacity = output->capacity;
    uint64_t count = *entries;
    // `p` is the marker after an entry, so it is inside the span.
    while (*p == '#' && end - p > 1) {
        const char* nameStart = p + 1;
        ScanWindow window = WindowAt(scan, nameStart);
        uint64_t ends = window.ends;
        uint64_t afterName = ends & (ends - 1);  // the ends after the name's, if it has one
        if (afterName == 0 || (window.second & BitsBefore(afterName)) != 0) {
            break;  // not both ends in the window, or a line break in the entry
        }
        const char* nameEnd = nameStart + __builtin_ctzll(ends);
        if (*nameEnd != '^') {
            break;
        }
        const char* addressStart = nameEnd + 1;
        const char* addressEnd = nameStart + __builtin_ctzll(afterName);
        size_t nameLength = PlainTextEnd(nameStart, nameEnd);
        size_t addressLength = PlainTextEnd(addressStart, addressEnd);
        size_t quotes = (window.third & BitsBefore(ends)) != 0 ? 1 : 0;
        size_t size = nameLength + addressLength + 5 + 2 * quotes;
        if (size + kCopySlack > capacity - used) {
            break;
        }
        char* out = block + used;
        out[0] = '"';
        out += quotes;
        CopyShortly(out, nameStart, nameLength, static_cast<size_t>(end - nameStart));
        out += nameLength;
        out[0] = '"';
        out += quotes;
        out[0] = ' ';
        out[1] = '<';
        CopyShortly(out + 2, addressStart, addressLength, static_cast<size_t>(end - addressStart));
        memcpy(out + 2 + addressLength, kEntryLineEnd, sizeof kEntryLineEnd - 1);
        used += size;
        p = addressEnd;
        ++count;
    }
    output->used = used;
    *entries = count;
    return p;
}

// Parses the stream group by group and entry by entry, putting each Mac line as soon as it is whole.
// The end of the input reads as the zero byte that ends the data.
int WriteMacFromW95(const char* bytes, size_t size, const char* inputTitle, Output* output, const FerrylineEnv* env,
                    size_t* highBytes)
{
    const char* end = bytes + size;
    const char* p = bytes;
    Field name = {p, p, false, false, 0, 0};
    Field lastGroup = name;
    uint64_t entries = 0;
    bool complete = false;
    ParseState state = STATE_GROUP;
    Scan scan;
    StartScan(&scan, bytes, size, ChooseClassifiers().w95);
    ScanWindow window = {bytes, 0, 0, 0};
    while (state != STATE_END && output->status == FERRYLINE_OK) {
        char c = p < end ? *p : '\0';
        switch (state) {
        case STATE_GROUP:
            if (c != '&') {
                state = STATE_END;
                break;
            }
            ReadScannedField(p, &scan, &window, &name);
            p = name.end;
            PutGroup(output, env, bytes, name, &lastGroup, entries);
            state = STATE_ENTRY;
            break;
        case STATE_ENTRY:
            if (c == '#') {
                const char* after = PutPlainEntryLines(p, end, &scan, output, &entries);
                if (after != p) {
                    p = after;
                    break;
                }
                ReadScannedField(p, &scan, &window, &name);
                p = name.end;
                ++entries;
                state = STATE_ADDRESS;
            } else {
                state = STATE_AFTER;
            }
            break;
        case STATE_ADDRESS:
            if (c == '^') {
                Field address;
                ReadScannedField(p, &scan, &window, &address);
                p = address.end;
                PutEntryLine(output, name, address);
                state = STATE_ENTRY;
            } else {
                NoteChange(env, FERRYLINE_DROPPED_ENTRY, entries, name.start, name.textEnd);
                state = STATE_AFTER;
            }
            break;
        case STATE_AFTER:
            if (c == '+') {
                complete = true;
                state = STATE_END;
            } else {
                state = c == '\0' ? STATE_END : STATE_GROUP;
            }
            break;
        case STATE_END:
            break;
        }
    }
    if (highBytes != nullptr) {
        *highBytes = ScannedHighBytes(&scan);
    }
    if (output->status != FERRYLINE_OK) {
        return 0;
    }
    if (!complete) {
        Tell(env, FERRYLINE_ERROR, kNotAnAddressBook, inputTitle);
        return 0;
    }
    return 1;
}
