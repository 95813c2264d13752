// Mac address book (one "Name <address>" per line) to W95 stream ("&Main #Name ^address +").
#include <string.h>

#include "convert/converters.h"
#include "convert/env.h"
#include "convert/format.h"
#include "convert/mac_grammar.h"
#include "convert/scan.h"
#include "convert/words.h"


// The first placeholder name, "No Name %02lu" for 1; later ones count up from it.
static const char kFirstPlaceholder[] = "No Name 01";
static const size_t kPlaceholderPrefixLength = 8;  // "No Name "
// Room for the prefix and the twenty digits that would outnumber the lines of any input.
static const size_t kPlaceholderCapacity = 32;

// State of one run, fresh for every conversion.
struct MacToWinRun {
    unsigned warnings;
    // The next placeholder name. Its number is kept as decimal text and counted up digit by digit:
    // formatting a number for every nameless line cost more than all the rest of the line.
    char placeholder[kPlaceholderCapacity];
    size_t placeholderLength;
    Output* output;
    const FerrylineEnv* env;
    const char* lastGroup;  // the name of the group line before, null while there was none
    size_t lastGroupLength;
    // A nameless group line's placeholder, kept as it was: `placeholder` counts on.
    char lastGroupPlaceholder[kPlaceholderCapacity];
};

// Whether the '<' at `bracket` follows a quote other than the line's first byte, and any spaces: then
// it is where a quoted line splits, since no '<' comes before it. Spares the search of the common
// quoted line.
static bool FollowsClosingQuote(TextSpan line, size_t bracket)
{
    size_t before = bracket;
    while (before > 1 && line.text[before - 1] == ' ') {
        --before;
    }
    return bracket < line.length && before > 1 && line.text[before - 1] == '"';
}

// Counts the placeholder's number up by one: 09 becomes 10, 99 becomes 100.
static void CountPlaceholderUp(MacToWinRun* run)
{
    char* digits = run->placeholder + kPlaceholderPrefixLength;
    size_t count = run->placeholderLength - kPlaceholderPrefixLength;
    for (size_t i = count; i > 0; --i) {
        if (digits[i - 1] != '9') {
            ++digits[i - 1];
            return;
        }
        digits[i - 1] = '0';
    }
    // All nines, now all zeros: one digit more in front.
    if (run->placeholderLength < kPlaceholderCapacity) {
        memmove(digits + 1, digits, count);
        digits[0] = '1';
        ++run->placeholderLength;
    }
}

// Puts a name or an address; only a line that holds a marker needs the replacing copy, made in the
// output's block a stretch at a time.
static bool PutField(Output* output, TextSpan field, bool lineHasMarkers)
{
    if (!lineHasMarkers) {
        PutBytes(output, field.text, field.length);
        return false;
    }
    bool replaced = false;
    while (field.length > 0) {
        size_t stretch = field.length < output->capacity ? field.length : output->capacity;
        char* room = OutputRoom(output, stretch);
        if (room == nullptr) {
            return replaced;
        }
        replaced = CopyReplacingMarkers(room, field.text, stretch) || replaced;
        output->used += stretch;
        field.text += stretch;
        field.length -= stretch;
    }
    return replaced;
}

// Copies a field into room already taken, with kCopySlack bytes to spare; returns whether a marker was
// replaced.
static bool CopyField(char* out, TextSpan field, bool lineHasMarkers)
{
    if (lineHasMarkers) {
        // Rounded up to whole words, the copy stays inside the slack; the input must hold as much.
        if (field.length + 8 <= field.readable) {
            return CopyReplacingMarkersByWords(out, field.text, field.length);
        }
        return CopyReplacingMarkers(out, field.text, field.length);
    }
    CopyShortly(out, field.text, field.length, field.readable);
    return false;
}

// "#name ^address " or "&name ". A record that fits the block is made in it in one go, with one test
// for room; a longer one goes piece by piece.
static bool PutRecord(Output* output, TextSpan name, TextSpan address, bool isGroup, bool hasMarkers)
{
    size_t size = isGroup ? name.length + 2 : name.length + address.length + 4;
    if (size + kCopySlack <= output->capacity) {
        char* out = OutputRoom(output, size + kCopySlack);
        if (out == nullptr) {
            return false;
        }
        out[0] = isGroup ? '&' : '#';
        bool replaced = CopyField(out + 1, name, hasMarkers);
        out += 1 + name.length;
        if (isGroup) {
            out[0] = ' ';
        } else {
            out[0] = ' ';
            out[1] = '^';
            replaced = CopyField(out + 2, address, hasMarkers) || replaced;
            out[2 + address.length] = ' ';
        }
        output->used += size;
        return replaced;
    }
    PutByte(output, isGroup ? '&' : '#');
    bool replaced = PutField(output, name, hasMarkers);
    if (isGroup) {
        PutByte(output, ' ');
    } else {
        PutBytes(output, " ^", 2);
        replaced = PutField(output, address, hasMarkers) || replaced;
        PutByte(output, ' ');
    }
    return replaced;
}

// A group named "Main" reads as the W95 default group: on the way back it gets no line of its own.
static void NoteGroup(MacToWinRun* run, TextSpan name, uint64_t lineNumber)
{
    if (TextEquals(name.text, name.length, kMainGroup)) {
        NoteLineChange(run->env, FERRYLINE_MAIN_GROUP_MARKED, lineNumber, {run->lastGroup, run->lastGroupLength},
                       {name.text, name.length}, {kGroupAddress, sizeof kGroupAddress - 1});
        return;  // its entries join the group before it
    }
    run->lastGroup = name.text;
    run->lastGroupLength = name.length;
    if (name.text == run->placeholder) {
        memcpy(run->lastGroupPlaceholder, name.text, name.length);
        run->lastGroup = run->lastGroupPlaceholder;
    }
}

static void NoteReplacedMarkers(MacToWinRun* run, TextSpan name, TextSpan address, uint64_t lineNumber)
{
    run->warnings |= WARNING_RESERVED_REPLACED;
    NoteLineChange(run->env, FERRYLINE_RESERVED_REPLACED, lineNumber, {"", 0}, {name.text, name.length},
                   {address.text, address.length});
}

// The record for one line; `bracket` is its first '<', or null.
static void PutLineAsRecord(MacToWinRun* run, TextSpan line, const char* bracket, bool hasMarkers,
                            uint64_t lineNumber)
{
    TextSpan name;
    TextSpan address;
    size_t nameEnd = bracket != nullptr ? static_cast<size_t>(bracket - line.text) : line.length;
    if (line.text[0] == '"' && !FollowsClosingQuote(line, nameEnd)) {
        nameEnd = FindNameEnd(line.text, line.length);
    }
    bool nameless = nameEnd == line.length;
    if (nameless) {
        name.text = run->placeholder;
        name.length = run->placeholderLength;
        name.readable = sizeof run->placeholder;
        address = line;
        run->warnings |= WARNING_PLACEHOLDER_NAMES;
        NoteLineChange(run->env, FERRYLINE_PLACEHOLDER_NAME, lineNumber, {name.text, name.length}, {nullptr, 0},
                       {address.text, address.length});
    } else {
        SplitLine(line, nameEnd, &name, &address);
    }

    // Markers can't be replaced in a way that makes or unmakes the group address, so it is checked first.
    bool isGroup = TextEquals(address.text, address.length, kGroupAddress);
    if (isGroup) {
        NoteGroup(run, name, lineNumber);
    }
    if (PutRecord(run->output, name, address, isGroup, hasMarkers)) {
        NoteReplacedMarkers(run, name, address, lineNumber);
    }
    if (nameless) {
        CountPlaceholderUp(run);  // the name has been put and told
    }
}

// Lines no longer than this, with as much again readable after them, are candidates for PutPlainEntry.
static const size_t kPlainLineLimit = 2 * kCopySlack;

// The one copy of a plain entry's field: kCopySlack bytes at once for a short one, which PutPlainEntry
// leaves readable.
static inline void CopyPlainField(char* out, const char* from, size_t length)
{
    if (length <= kCopySlack) {
        memcpy(out, from, kCopySlack);
    } else {
        memcpy(out, from, length);
    }
}

// The bits of `bits` from bit `at` on, for `length` of them; no shift is of 64 or more.
static inline uint64_t BitField(uint64_t bits, size_t at, size_t length)
{
    uint64_t from = at < 64 ? bits >> at : 0;
    return length < 64 ? from & ((uint64_t{1} << length) - 1) : from;
}

// For each eight bits, the word with 0xFF in the byte of every bit set.
struct ByteMasks {
    uint64_t of[256];
};

static constexpr ByteMasks MakeByteMasks()
{
    ByteMasks masks = {};
    for (int bits = 0; bits < 256; ++bits) {
        for (int i = 0; i < 8; ++i) {
            if ((bits >> i) & 1) {
                masks.of[bits] |= uint64_t{0xFF} << (8 * i);
            }
        }
    }
    return masks;
}

static constexpr ByteMasks kByteMasks = MakeByteMasks();

// Makes the bytes of the word at `out` whose bits are set in the low eight of `bits` dashes; the others
// are written back as they were.
static inline void DashWord(char* out, uint64_t bits)
{
    uint64_t mask = kByteMasks.of[bits & 0xFF];
    uint64_t word = LoadLittleEndian(out);
    StoreLittleEndian(out, (word & ~mask) | (kByteOnes * static_cast<uint8_t>('-') & mask));
}

// Writes a dash at `out` + i for every bit i of `markers`. A field of the first sixteen bytes, as
// short fields full of markers are, takes two words with no branch; `out` has room for them.
static inline void DashMarkers(char* out, uint64_t markers)
{
    if (markers >> 16 == 0) {
        DashWord(out, markers);
        DashWord(out + 8, markers >> 8);
        return;
    }
    for (; markers != 0; markers &= markers - 1) {
        out[__builtin_ctzll(markers)] = '-';
    }
}

// Where the fields of a plain entry lie in its line; the address starts after the '<' at `nameEnd`.
struct PlainSplit {
    size_t nameEnd;
    size_t nameStart;
    size_t nameLength;
    size_t addressLength;
};

// Whether a line of `length` bytes at `text`, no longer than kPlainLineLimit and with as many again
// readable after it, whose first '<' is at `nameEnd`, is a plain entry: a '<' that ends the name (after
// a closing quote, for a quoted one), no more quotes and spaces before it than the common ends hold, and
// not a group line. Then `split` says where its fields lie.
static inline bool SplitPlainEntry(const char* text, size_t length, size_t nameEnd, PlainSplit* split)
{
    size_t nameStart = text[0] == '"';
    // A quoted line splits here only when the '<' follows the closing quote and at most one space.
    // Tested without a branch on the quote: quoted and plain names come in no order a processor could
    // learn. The two bytes before the '<' are read from byte 2 on, which the line's room holds.
    size_t before = nameEnd >= 2 ? nameEnd : 2;
    char oneBack = text[before - 1];
    char twoBack = text[before - 2];
    bool closedNear = (nameEnd >= 3) & ((oneBack == '"') | ((oneBack == ' ') & (twoBack == '"')));
    if (nameStart > static_cast<size_t>(closedNear)) {
        return false;
    }
    size_t nameLength = nameEnd - nameStart;
    if (nameLength >= 2) {
        size_t last = IsNameTrailer(text[nameEnd - 1]);
        nameLength -= last + (last & static_cast<size_t>(IsNameTrailer(text[nameEnd - 2])));
    }
    if (nameLength > 0 && IsNameTrailer(text[nameStart + nameLength - 1])) {
        return false;  // more quotes or spaces to drop than the common ends hold
    }
    const char* bracket = text + nameEnd;
    size_t addressLength = length - nameEnd - 1;
    addressLength -= bracket[addressLength] == '>';  // bracket[0] is the '<'; no test of the length
    if (TextEquals(bracket + 1, addressLength, kGroupAddress)) {
        return false;
    }
    *split = PlainSplit{nameEnd, nameStart, nameLength, addressLength};
    return true;
}

// The largest record of a plain entry.
static const size_t kPlainRecordLimit = kPlainLineLimit + 4;

// Writes the record of the plain entry in the line at `text` at `out`, which has room for it and
// kCopySlack bytes more. Returns its size.
static inline size_t WritePlainEntry(char* out, const char* text, const PlainSplit& split)
{
    out[0] = '#';
    CopyPlainField(out + 1, text + split.nameStart, split.nameLength);
    out[1 + split.nameLength] = ' ';
    out[2 + split.nameLength] = '^';
    CopyPlainField(out + 3 + split.nameLength, text + split.nameEnd + 1, split.addressLength);
    out[3 + split.nameLength + split.addressLength] = ' ';
    return split.nameLength + split.addressLength + 4;
}

enum PlainEntry { NOT_PLAIN, PUT_PLAIN, PUT_PLAIN_REPLACED };

// A plain entry (see SplitPlainEntry) becomes its record here, with one test for room;
// PUT_PLAIN_REPLACED says markers were replaced, in the `name` and `address` given back. Any other line,
// or a block without that room, is left to PutLineAsRecord: NOT_PLAIN, having put nothing.
static inline PlainEntry PutPlainEntry(Output* output, TextSpan line, const char* bracket, uint64_t markers,
                                       TextSpan* name, TextSpan* address)
{
    PlainSplit split;
    if (bracket == nullptr || line.length > kPlainLineLimit || line.readable - line.length < kPlainLineLimit ||
        !SplitPlainEntry(line.text, line.length, static_cast<size_t>(bracket - line.text), &split)) {
        return NOT_PLAIN;
    }
    if (output->capacity - output->used < kPlainRecordLimit + kCopySlack || output->status != FERRYLINE_OK) {
        return NOT_PLAIN;
    }
    char* out = output->block + output->used;
    output->used += WritePlainEntry(out, line.text, split);
    if (markers == 0) {
        return PUT_PLAIN;
    }
    // The scan found the markers of the whole line, which is no longer than 64 bytes; they all lie in
    // the two fields, since what the split leaves out is quotes, spaces, '<' and '>'. They become
    // dashes where the fields now stand.
    DashMarkers(out + 1, BitField(markers, split.nameStart, split.nameLength));
    DashMarkers(out + 3 + split.nameLength, BitField(markers, split.nameEnd + 1, split.addressLength));
    *name = TextSpan{line.text + split.nameStart, split.nameLength, line.readable - split.nameStart};
    *address = TextSpan{bracket + 1, split.addressLength, line.readable - split.nameEnd - 1};
    return PUT_PLAIN_REPLACED;
}

// Plain entries without markers in a row, each ended by CR LF, as most of a book is: put in a
// loop that keeps its place in the block and in the input in registers (written through a char
// pointer, the block could otherwise hold the Output itself, to be read again after every byte).
// Stops at any other line, when the block may lack room or the input's end is near; returns the
// start of the line it stopped at, with `lineNumber` counted up.
static const char* PutPlainLines(Scan* scan, const char* p, const char* end, Output* output,
                                 uint64_t* lineNumber)
{
    if (output->status != FERRYLINE_OK || output->capacity < kPlainRecordLimit + kCopySlack) {
        return p;
    }
    char* block = output->block;
    size_t used = output->used;
    size_t lastRoomy = output->capacity - kPlainRecordLimit - kCopySlack;
    uint64_t lines = *lineNumber;
    while (used <= lastRoomy && static_cast<size_t>(end - p) > 2 * kPlainLineLimit) {
        ScanWindow window = WindowAt(scan, p);
        if (window.ends == 0) {
            break;
        }
        uint64_t inLine = BitsBefore(window.ends);
        uint64_t brackets = window.third & inLine;
        size_t length = static_cast<size_t>(__builtin_ctzll(window.ends));
        PlainSplit split;
        // The CR LF is tested with a branch, which the processor learns, so that the next line's start
        // waits for no load of this line's bytes.
        if (brackets == 0 || (window.second & inLine) != 0 || (p[length] != '\r') | (p[length + 1] != '\n') ||
            !SplitPlainEntry(p, length, static_cast<size_t>(__builtin_ctzll(brackets)), &split)) {
            break;
        }
        used += WritePlainEntry(block + used, p, split);
        p += length + 2;
        ++lines;
    }
    output->used = used;
    *lineNumber = lines;
    return p;
}

// A short line without '<' (and not the group address) is an address alone: its record gets the next
// placeholder name, as PutLineAsRecord gives it, here with one test for room. Returns false having put
// nothing for any other line, or a block without that room.
static inline bool PutPlainNameless(MacToWinRun* run, TextSpan line, uint64_t markers, uint64_t lineNumber)
{
    Output* output = run->output;
    if (line.length > kPlainLineLimit || line.readable - line.length < kPlainLineLimit ||
        TextEquals(line.text, line.length, kGroupAddress)) {
        return false;
    }
    size_t size = run->placeholderLength + line.length + 4;
    if (output->capacity - output->used < size + kCopySlack || output->status != FERRYLINE_OK) {
        return false;
    }
    char* out = output->block + output->used;
    out[0] = '#';
    CopyPlainField(out + 1, run->placeholder, run->placeholderLength);  // the whole array is readable
    out[1 + run->placeholderLength] = ' ';
    out[2 + run->placeholderLength] = '^';
    CopyPlainField(out + 3 + run->placeholderLength, line.text, line.length);
    out[3 + run->placeholderLength + line.length] = ' ';
    DashMarkers(out + 3 + run->placeholderLength, markers);
    output->used += size;
    TextSpan name = {run->placeholder, run->placeholderLength, sizeof run->placeholder};
    run->warnings |= WARNING_PLACEHOLDER_NAMES;
    NoteLineChange(run->env, FERRYLINE_PLACEHOLDER_NAME, lineNumber, {name.text, name.length}, {nullptr, 0},
                   {line.text, line.length});
    if (markers != 0) {
        NoteReplacedMarkers(run, name, line, lineNumber);
    }
    CountPlaceholderUp(run);
    return true;
}

// One line's record, the common kinds of line the short way. Returns whether it was a plain entry
// without markers, after which PutPlainLines may well take the lines that follow.
static inline bool PutLine(MacToWinRun* run, TextSpan line, const ScannedRun& found, uint64_t lineNumber)
{
    if (found.third == nullptr) {
        if (!PutPlainNameless(run, line, found.secondBits, lineNumber)) {
            PutLineAsRecord(run, line, found.third, found.second != nullptr, lineNumber);
        }
        return false;
    }
    TextSpan name;
    TextSpan address;
    PlainEntry plain = PutPlainEntry(run->output, line, found.third, found.secondBits, &name, &address);
    if (plain == NOT_PLAIN) {
        PutLineAsRecord(run, line, found.third, found.second != nullptr, lineNumber);
    } else if (plain == PUT_PLAIN_REPLACED) {
        NoteReplacedMarkers(run, name, address, lineNumber);
    }
    return plain == PUT_PLAIN;
}

static bool IsMacLineEnd(char c)
{
    return c == '\r' || c == '\n' || c == '\0';
}

// Every maximal run of bytes other than CR, LF and the zero byte is one line, whatever its length.
// Line numbers count CR, LF and CR LF line ends, the way an editor shows them.
int WriteW95FromMac(const char* bytes, size_t size, Output* output, const FerrylineEnv* env, unsigned* warnings,
                    size_t* highBytes)
{
    MacToWinRun run;
    run.warnings = 0;
    memcpy(run.placeholder, kFirstPlaceholder, sizeof kFirstPlaceholder - 1);
    run.placeholderLength = sizeof kFirstPlaceholder - 1;
    run.output = output;
    run.env = env;
    run.lastGroup = nullptr;
    run.lastGroupLength = 0;
    Scan scan;
    StartScan(&scan, bytes, size, ChooseClassifiers().mac);

    PutBytes(output, kW95Header, sizeof kW95Header - 1);
    const char* end = bytes + size;
    const char* p = bytes;
    uint64_t lineNumber = 1;
    // Whether the lines ahead are likely plain: PutPlainLines costs a look at a line it does not take,
    // so a book of other lines does not call it line after line.
    bool plainAhead = true;
    while (p < end && output->status == FERRYLINE_OK) {
        if (plainAhead) {
            p = PutPlainLines(&scan, p, end, output, &lineNumber);
            if (p == end) {
                break;
            }
        }
        char c = *p;
        if (c == '\r' && end - p >= 2 && p[1] == '\n') {
            p += 2;
            ++lineNumber;
            continue;
        }
        if (IsMacLineEnd(c)) {
            ++p;
            if (c == '\n' || (c == '\r' && !(p < end && *p == '\n'))) {
                ++lineNumber;
            }
            continue;
        }
        // The line runs to its end; on the way, note its first '<' and whether it holds a marker that
        // must be replaced.
        const char* start = p;
        ScannedRun found = ScanRun(&scan, p);  // its first marker and first '<'
        p = found.end;
        TextSpan line = {start, static_cast<size_t>(p - start), static_cast<size_t>(end - start)};
        plainAhead = PutLine(&run, line, found, lineNumber);
        // The CR LF after a line, taken here: most lines have one, and the loop then needs no turn for it.
        if (end - p >= 2 && (p[0] == '\r') & (p[1] == '\n')) {
            p += 2;
            ++lineNumber;
        }
    }
    PutBytes(output, kW95Trailer, sizeof kW95Trailer - 1);
    *warnings = run.warnings;
    if (highBytes != nullptr) {
        *highBytes = ScannedHighBytes(&scan);
    }
    return output->status == FERRYLINE_OK;
}
