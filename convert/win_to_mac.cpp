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

struct WinToMacRun {
    const char* inputTitle;
    std::string field;     // the field just read
    std::string line;      // the Mac line under construction
    unsigned long entries; // entries seen so far, to name a dropped one
};

// Reads the field after the marker at `*position`, up to the next delimiter, whatever its length.
// Line breaks are dropped, so a stream an editor broke into lines reads as one; then one trailing
// space, the separator the writer puts after every field, is removed.
static void ReadField(const char** position, std::string* field)
{
    const char* p = *position + 1;
    field->clear();
    while (!IsW95Delimiter(*p)) {
        const char* start = p;
        while (!IsW95Delimiter(*p) && *p != '\r' && *p != '\n') {
            ++p;
        }
        field->append(start, static_cast<size_t>(p - start));
        while (*p == '\r' || *p == '\n') {
            ++p;
        }
    }
    if (!field->empty() && field->back() == ' ') {
        field->pop_back();
    }
    *position = p;
}

static int WriteGroupLine(const std::string& name, std::string* line, OutputFile* output)
{
    if (name == kMainGroup) {
        return 1;
    }
    line->assign(1, '"');
    line->append(name);
    line->append(kGroupLineEnd);
    return WriteText(output, *line);
}

static void StartEntryLine(const std::string& name, std::string* line)
{
    bool quoted = NeedsQuotes(name.data(), name.size());
    line->clear();
    if (quoted) {
        *line += '"';
    }
    line->append(name);
    line->append(quoted ? "\" <" : " <");
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
            ReadField(&p, &run->field);
            if (!WriteGroupLine(run->field, &run->line, output)) {
                return 0;
            }
            state = STATE_ENTRY;
            break;
        case STATE_ENTRY:
            if (c == '#') {
                ReadField(&p, &run->field);
                ++run->entries;
                StartEntryLine(run->field, &run->line);
                state = STATE_ADDRESS;
            } else {
                state = STATE_AFTER;
            }
            break;
        case STATE_ADDRESS:
            if (c == '^') {
                ReadField(&p, &run->field);
                run->line.append(run->field);
                run->line.append(kEntryLineEnd);
                if (!WriteText(output, run->line)) {
                    return 0;
                }
                state = STATE_ENTRY;
            } else {
                NoteChange(CHANGE_DROPPED_ENTRY, run->entries, run->field.data(), run->field.size());
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
    run.entries = 0;
    return RunConversionFrame(inputPath, inputTitle, outputPath, outputTitle, WriteW95Book, &run);
}
