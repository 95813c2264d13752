// What the page calls in the WebAssembly build: conversions by name over ferryline_convert_bytes, and
// plain accessors for the result, so the page's script never depends on how a structure is laid out.
#include <stdlib.h>
#include <string.h>

#include "convert/charset.h"
#include "convert/ferryline.h"

using namespace ferryline;

// Every conversion the page may offer. A new direction of the library is one more line here; the page
// builds its choices from this table. `from` is the edition the input must be ("mac" or "win"), or the
// kind of file an import takes ("vcf" or "csv").
struct WebDirection {
    const char* name;  // as the command line spells it
    FerrylineDirection direction;
    const char* from;
    const char* label;      // what the page's choice says
    const char* extension;  // of the saved result, without the dot
};

static const WebDirection kDirections[] = {
    {"mac2win", FERRYLINE_MAC_TO_WIN, "mac", "W95 book for Corvella on Windows", "cv"},
    {"win2mac", FERRYLINE_WIN_TO_MAC, "win", "Text book for Corvella on the Macintosh", "txt"},
    {"mac2vcf", FERRYLINE_MAC_TO_VCARD, "mac", "vCard for Apple Contacts, Google Contacts, Outlook", "vcf"},
    {"win2vcf", FERRYLINE_WIN_TO_VCARD, "win", "vCard for Apple Contacts, Google Contacts, Outlook", "vcf"},
    {"mac2csv", FERRYLINE_MAC_TO_CSV, "mac", "CSV for spreadsheets, Google Contacts, Outlook", "csv"},
    {"win2csv", FERRYLINE_WIN_TO_CSV, "win", "CSV for spreadsheets, Google Contacts, Outlook", "csv"},
    {"mac2ldif", FERRYLINE_MAC_TO_LDIF, "mac", "LDIF for Thunderbird", "ldif"},
    {"win2ldif", FERRYLINE_WIN_TO_LDIF, "win", "LDIF for Thunderbird", "ldif"},
    {"vcf2mac", FERRYLINE_VCARD_TO_MAC, "vcf", "Text book for Corvella on the Macintosh", "txt"},
    {"vcf2win", FERRYLINE_VCARD_TO_WIN, "vcf", "W95 book for Corvella on Windows", "cv"},
    {"csv2mac", FERRYLINE_CSV_TO_MAC, "csv", "Text book for Corvella on the Macintosh", "txt"},
    {"csv2win", FERRYLINE_CSV_TO_WIN, "csv", "W95 book for Corvella on Windows", "cv"},
};
static const int kDirectionCount = static_cast<int>(sizeof kDirections / sizeof kDirections[0]);

static const WebDirection* DirectionNamed(const char* name)
{
    for (const WebDirection& entry : kDirections) {
        if (strcmp(entry.name, name) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

// The options the page can set: as FerrylineOptions has them (0 for a default).
static FerrylineOptions WebOptions(int recode, int vcardVersion, int csvLayout)
{
    FerrylineOptions options;
    memset(&options, 0, sizeof options);
    options.recode = recode != 0 ? 1 : 0;
    options.vcardVersion = vcardVersion;
    options.csvLayout = csvLayout;
    return options;
}

// A conversion's result, and how many of its lines or entries lost letters to '?'.
struct WebResult {
    FerrylineResult result;
    size_t questionMarks;
};

static void CountQuestionMarks(void* context, const FerrylineChange* change)
{
    if (change->kind == FERRYLINE_CHARACTER_REPLACED) {
        ++static_cast<WebResult*>(context)->questionMarks;
    }
}

extern "C" {

int ferryline_web_offers_recode(void)
{
    return 1;
}

int ferryline_web_direction_count(void)
{
    return kDirectionCount;
}

// Field `field` of the direction at `index`, in the order name, from, label, extension; null past
// the end of either.
const char* ferryline_web_direction_field(int index, int field)
{
    if (index < 0 || index >= kDirectionCount) {
        return nullptr;
    }
    const WebDirection& entry = kDirections[index];
    const char* const fields[] = {entry.name, entry.from, entry.label, entry.extension};
    const int fieldCount = static_cast<int>(sizeof fields / sizeof fields[0]);
    return field >= 0 && field < fieldCount ? fields[field] : nullptr;
}

// Which edition `bytes` are, as the library tells it: "win" for a W95 book, "mac" for anything else
// (a W95 book in UTF-16 too, which recoding reads). Sets *readAs to the character set the conversions
// read its letters in, and *beyondAscii to 1 when it holds letters beyond ASCII: bytes above 127 besides
// a UTF-8 byte order mark, or UTF-16 text.
const char* ferryline_web_look(const char* bytes, size_t size, const char** readAs, int* beyondAscii)
{
    FerrylineLook look;
    ferryline_look(bytes, size, FERRYLINE_CHARSET_AUTO, &look);
    const bool w95 = look.edition == FERRYLINE_EDITION_W95;
    *readAs = CharsetName(ChooseCharset(bytes, size, FERRYLINE_CHARSET_AUTO, w95 ? CHARSET_WINDOWS_1252 : CHARSET_MAC_ROMAN));
    *beyondAscii = ferryline_look_beyond_ascii(&look);
    return w95 ? "win" : "mac";
}

// Converts `size` bytes at `bytes` the way `direction` names, with the export options as FerrylineOptions
// numbers them. Returns null for a name that is no direction or when there is no memory for the result;
// otherwise a result for the accessors below, released with ferryline_web_free.
WebResult* ferryline_web_convert(const char* direction, const void* bytes, size_t size, const char* inputTitle,
                                 int recode, int vcardVersion, int csvLayout)
{
    const WebDirection* entry = DirectionNamed(direction);
    if (entry == nullptr) {
        return nullptr;
    }
    WebResult* web = static_cast<WebResult*>(malloc(sizeof(WebResult)));
    if (web == nullptr) {
        return nullptr;
    }
    web->questionMarks = 0;
    FerrylineOptions options = WebOptions(recode, vcardVersion, csvLayout);
    FerrylineListener listener = {web, nullptr, CountQuestionMarks};
    FerrylineEnv env = {nullptr, nullptr, &listener};
    ferryline_convert_bytes(entry->direction, &options, bytes, size, inputTitle, &env, &web->result);
    return web;
}

// The result's status as the page's script names it.
const char* ferryline_web_status(const WebResult* web)
{
    static const char* const kNames[] = {"ok",           "wrong-edition",   "not-a-book",      "utf16-refused",
                                         "could-not-open", "could-not-read", "could-not-create", "could-not-write",
                                         "no-memory",    "same-file"};
    const size_t index = static_cast<size_t>(web->result.status);
    return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "failed";
}

const char* ferryline_web_output(const WebResult* web)
{
    return web->result.output;
}

size_t ferryline_web_output_size(const WebResult* web)
{
    return web->result.outputSize;
}

size_t ferryline_web_message_count(const WebResult* web)
{
    return web->result.messageCount;
}

// The text of message `index`, or null past the last.
const char* ferryline_web_message(const WebResult* web, size_t index)
{
    return index < web->result.messageCount ? web->result.messages[index].text : nullptr;
}

const char* ferryline_web_changes(const WebResult* web)
{
    return web->result.changes;
}

size_t ferryline_web_changes_size(const WebResult* web)
{
    return web->result.changesSize;
}

// How many lines or entries had letters the target can't hold, now '?'.
size_t ferryline_web_question_marks(const WebResult* web)
{
    return web->questionMarks;
}

void ferryline_web_free(WebResult* web)
{
    if (web != nullptr) {
        ferryline_result_free(&web->result);
        free(web);
    }
}

}  // extern "C"
