// Mac address book (one "Name <address>" per line) to W95 stream ("&Main #Name ^address +").
#include <string.h>
#include <string>

#include "convert/convert.h"
#include "convert/format.h"
#include "convert/frame.h"

static const char kW95Header[] = "&Main ";
static const char kW95Trailer[] = "+";
static const char kReplacedWarning[] =
    "Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.";
static const char kNoNameWarning[] =
    "Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. "
    "These now have \"No Name ##\"\nas their names so you will need to fix them within Corvella.";

// The first placeholder name, "No Name %02lu" for 1; later ones count up from it.
static const char kFirstPlaceholder[] = "No Name 01";
static const size_t kPlaceholderPrefixLength = 8;  // "No Name "
// Room for the prefix and the twenty digits that would outnumber the lines of any input.
static const size_t kPlaceholderCapacity = 32;

// State of one run, fresh for every conversion.
struct MacToWinRun {
    bool badChars;
    bool noName;
    // The next placeholder name. Its number is kept as decimal text and counted up digit by digit:
    // formatting a number for every nameless line cost more than all the rest of the line.
    char placeholder[kPlaceholderCapacity];
    size_t placeholderLength;
    std::string record;  // reused for every line, so its storage grows only now and then
};

// A line is a span of the input; name and address are cut out of it without copying.
struct TextSpan {
    const char* text;
    size_t length;
};

static bool IsMacLineEnd(char c)
{
    return c == '\r' || c == '\n' || c == '\0';
}

// Where a line splits into name and address: at its first '<', except that a line starting with a
// quote splits at the first '<' that follows a later quote and any spaces, so a quoted name may hold '<'.
// Returns the line's length when there is no '<' at all.
static size_t FindNameEnd(const char* line, size_t length)
{
    if (length > 0 && line[0] == '"') {
        size_t i = 1;
        while (i < length) {
            const void* quote = memchr(line + i, '"', length - i);
            if (quote == nullptr) {
                break;
            }
            size_t next = static_cast<size_t>(static_cast<const char*>(quote) - line) + 1;
            while (next < length && line[next] == ' ') {
                ++next;
            }
            if (next < length && line[next] == '<') {
                return next;
            }
            i = next;
        }
    }
    const void* bracket = memchr(line, '<', length);
    return bracket != nullptr ? static_cast<size_t>(static_cast<const char*>(bracket) - line) : length;
}

// Splits a line that holds a '<' at `nameEnd`: the name loses a leading quote and any trailing quotes
// and spaces, the address loses one closing '>'.
static void SplitLine(TextSpan line, size_t nameEnd, TextSpan* name, TextSpan* address)
{
    size_t nameStart = (line.length > 0 && line.text[0] == '"') ? 1 : 0;
    if (nameStart > nameEnd) {
        nameStart = nameEnd;
    }
    name->text = line.text + nameStart;
    name->length = nameEnd - nameStart;
    while (name->length > 0 && (name->text[name->length - 1] == '"' || name->text[name->length - 1] == ' ')) {
        --name->length;
    }
    address->text = line.text + nameEnd + 1;
    address->length = line.length - nameEnd - 1;
    if (address->length > 0 && address->text[address->length - 1] == '>') {
        --address->length;
    }
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

// Copies a name or an address into the record; only a line that holds a marker needs the replacing copy.
static char* PutField(char* out, TextSpan field, bool lineHasMarkers, bool* replaced)
{
    if (lineHasMarkers) {
        *replaced = CopyReplacingMarkers(out, field.text, field.length) || *replaced;
    } else {
        memcpy(out, field.text, field.length);
    }
    return out + field.length;
}

static int WriteLineAsRecord(MacToWinRun* run, TextSpan line, bool hasMarkers, unsigned long lineNumber,
                             OutputFile* output)
{
    TextSpan name;
    TextSpan address;
    size_t nameEnd = FindNameEnd(line.text, line.length);
    bool nameless = nameEnd == line.length;
    if (nameless) {
        name.text = run->placeholder;
        name.length = run->placeholderLength;
        address = line;
        run->noName = true;
        NoteChange(CHANGE_PLACEHOLDER_NAME, lineNumber, name.text, name.length);
    } else {
        SplitLine(line, nameEnd, &name, &address);
    }

    // Markers can't be replaced in a way that makes or unmakes the group address, so it is checked first.
    // The record is "#name ^address " or "&name ", built in place.
    bool isGroup = TextEquals(address.text, address.length, kGroupAddress);
    char* record = PieceRoom(&run->record, name.length + address.length + 4);
    char* end = record;
    bool replaced = false;
    *end++ = isGroup ? '&' : '#';
    end = PutField(end, name, hasMarkers, &replaced);
    *end++ = ' ';
    if (!isGroup) {
        *end++ = '^';
        end = PutField(end, address, hasMarkers, &replaced);
        *end++ = ' ';
    }
    if (nameless) {
        CountPlaceholderUp(run);  // the name has been copied into the record
    }
    if (replaced) {
        run->badChars = true;
        NoteChange(CHANGE_RESERVED_REPLACED, lineNumber, "", 0);
    }
    return WritePiece(output, record, static_cast<size_t>(end - record));
}

// Every maximal run of bytes other than CR, LF and the zero byte is one line, whatever its length.
// Line numbers count CR, LF and CR LF line ends, the way an editor shows them.
static int WriteMacBook(const InputData* input, OutputFile* output, void* context)
{
    MacToWinRun* run = static_cast<MacToWinRun*>(context);
    if (!WritePiece(output, kW95Header, strlen(kW95Header))) {
        return 0;
    }
    const char* bytes = input->bytes;
    size_t count = input->count;
    unsigned long lineNumber = 1;
    size_t position = 0;
    while (position < count) {
        char c = bytes[position];
        if (IsMacLineEnd(c)) {
            ++position;
            if (c == '\n' || (c == '\r' && !(position < count && bytes[position] == '\n'))) {
                ++lineNumber;
            }
            continue;
        }
        // The line runs to its end; on the way, note whether it holds a marker that must be replaced.
        // The zero byte after the data stops both searches at the byte count at the latest.
        size_t start = position;
        position += strcspn(bytes + position, "\r\n&#^+");
        bool hasMarkers = !IsMacLineEnd(bytes[position]);
        if (hasMarkers) {
            position += strcspn(bytes + position, "\r\n");
        }
        TextSpan line = {bytes + start, position - start};
        if (!WriteLineAsRecord(run, line, hasMarkers, lineNumber, output)) {
            return 0;
        }
    }
    return WritePiece(output, kW95Trailer, strlen(kW95Trailer));
}

int ConvertMacToWin(const char* inputPath, const char* inputTitle, const char* outputPath,
                    const char* outputTitle)
{
    MacToWinRun run;
    run.badChars = false;
    run.noName = false;
    memcpy(run.placeholder, kFirstPlaceholder, sizeof kFirstPlaceholder - 1);
    run.placeholderLength = sizeof kFirstPlaceholder - 1;
    if (!RunConversionFrame(inputPath, inputTitle, outputPath, outputTitle, WriteMacBook, &run)) {
        return 0;
    }
    if (run.badChars) {
        ShowInfo(g_hwndMain, kReplacedWarning);
    }
    if (run.noName) {
        ShowInfo(g_hwndMain, kNoNameWarning);
    }
    return 1;
}
