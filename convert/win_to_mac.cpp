// W95 stream ("&Main #Name ^address +") to Mac address book (one "Name <address>" per line).
#include <string.h>
#include <string>

#include "convert/convert.h"
#include "convert/format.h"
#include "convert/frame.h"

static const char kNotAnAddressBook[] = "The file %s is not a Corvella W95 address book or is corrupt.";
static const char kGroupLineEnd[] = "\" <GROUP@GROUP>\r\n";
static const char kEntryLineEnd[] = ">\r\n";

enum ParseState { STATE_GROUP, STATE_ENTRY, STATE_ADDRESS, STATE_AFTER, STATE_END };

// A field's text: a span of the input, or of a copy when line breaks had to be taken out of it.
struct FieldText {
    const char* text;
    size_t length;
};

struct WinToMacRun {
    const char* inputTitle;
    FieldText name;            // the group or personal name just read
    std::string nameCopy;      // its text, when it held line breaks
    std::string addressCopy;   // the same for an address
    std::string line;          // the Mac line under construction
    unsigned long entries;     // entries seen so far, to name a dropped one
};

// What ends a run of field text: a marker, or a line break to be dropped. strcspn also stops at the
// zero byte after the data.
static const char kFieldRunEnds[] = "&#^+\r\n";

// Reads the field after the marker at `*position`, up to the next delimiter, whatever its length.
// Line breaks are dropped, so a stream an editor broke into lines reads as one; then one trailing
// space, the separator the writer puts after every field, is removed. A field without line breaks
// is used where it stands; one with them is gathered into `copy`.
static FieldText ReadField(const char** position, std::string* copy)
{
    const char* start = *position + 1;
    const char* p = start + strcspn(start, kFieldRunEnds);
    FieldText field = {start, static_cast<size_t>(p - start)};
    if (!IsW95Delimiter(*p)) {
        copy->assign(start, field.length);
        while (!IsW95Delimiter(*p)) {
            while (*p == '\r' || *p == '\n') {
                ++p;
            }
            size_t run = strcspn(p, kFieldRunEnds);
            copy->append(p, run);
            p += run;
        }
        field.text = copy->data();
        field.length = copy->size();
    }
    if (field.length > 0 && field.text[field.length - 1] == ' ') {
        --field.length;
    }
    *position = p;
    return field;
}

static char* PutText(char* out, const char* text, size_t length)
{
    memcpy(out, text, length);
    return out + length;
}

static int WriteGroupLine(FieldText name, std::string* line, OutputFile* output)
{
    if (TextEquals(name.text, name.length, kMainGroup)) {
        return 1;
    }
    // "\"name\" <GROUP@GROUP>\r\n"
    size_t endLength = sizeof kGroupLineEnd - 1;
    char* start = PieceRoom(line, name.length + endLength + 1);
    char* end = start;
    *end++ = '"';
    end = PutText(end, name.text, name.length);
    end = PutText(end, kGroupLineEnd, endLength);
    return WritePiece(output, start, static_cast<size_t>(end - start));
}

// "name <address>\r\n", the name in quotes when it holds a special character.
static int WriteEntryLine(FieldText name, FieldText address, std::string* line, OutputFile* output)
{
    bool quoted = NeedsQuotes(name.text, name.length);
    size_t endLength = sizeof kEntryLineEnd - 1;
    char* start = PieceRoom(line, name.length + address.length + endLength + 4);
    char* end = start;
    if (quoted) {
        *end++ = '"';
    }
    end = PutText(end, name.text, name.length);
    if (quoted) {
        *end++ = '"';
    }
    *end++ = ' ';
    *end++ = '<';
    end = PutText(end, address.text, address.length);
    end = PutText(end, kEntryLineEnd, endLength);
    return WritePiece(output, start, static_cast<size_t>(end - start));
}

// Parses the stream group by group and entry by entry, writing each Mac line as soon as it is whole.
// Returns 0 after a failed write or when the stream does not end in its '+'.
static int WriteW95Book(const InputData* input, OutputFile* output, void* context)
{
    WinToMacRun* run = static_cast<WinToMacRun*>(context);
    const char* p = input->bytes;
    bool complete = false;
    ParseState state = STATE_GROUP;
    while (state != STATE_END) {
        char c = *p;
        switch (state) {
        case STATE_GROUP:
            if (c != '&') {
                state = STATE_END;
                break;
            }
            run->name = ReadField(&p, &run->nameCopy);
            if (!WriteGroupLine(run->name, &run->line, output)) {
                return 0;
            }
            state = STATE_ENTRY;
            break;
        case STATE_ENTRY:
            if (c == '#') {
                run->name = ReadField(&p, &run->nameCopy);
                ++run->entries;
                state = STATE_ADDRESS;
            } else {
                state = STATE_AFTER;
            }
            break;
        case STATE_ADDRESS:
            if (c == '^') {
                FieldText address = ReadField(&p, &run->addressCopy);
                if (!WriteEntryLine(run->name, address, &run->line, output)) {
                    return 0;
                }
                state = STATE_ENTRY;
            } else {
                NoteChange(CHANGE_DROPPED_ENTRY, run->entries, run->name.text, run->name.length);
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
    if (!complete) {
        ReportError(kNotAnAddressBook, run->inputTitle);
        return 0;
    }
    return 1;
}

int ConvertWinToMac(const char* inputPath, const char* inputTitle, const char* outputPath,
                    const char* outputTitle)
{
    WinToMacRun run;
    run.inputTitle = inputTitle;
    run.name.text = "";
    run.name.length = 0;
    run.entries = 0;
    return RunConversionFrame(inputPath, inputTitle, outputPath, outputTitle, WriteW95Book, &run);
}
