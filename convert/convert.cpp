// Conversion in memory: the converters between the caller's bytes and the caller's writer.
#include "convert/book.h"
#include "convert/charset.h"
#include "convert/converters.h"
#include "convert/env.h"
#include "convert/import.h"
#include "convert/scan.h"

const char kCouldNotWrite[] = "Could not write to output file";
const char kCouldNotAllocateConversion[] = "Could not allocate memory to convert the file";
static const char kReplacedWarning[] =
    "Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.";
static const char kLeftOutWarning[] = "Some of the cards or rows had no e-mail address and were left out.";
static const char kNoNameWarning[] =
    "Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. "
    "These now have \"No Name ##\"\nas their names so you will need to fix them within Corvella.";

static bool ExportsTo(FerrylineDirection direction, FerrylineDirection fromMac, FerrylineDirection fromW95,
                      FerrylineDirection fromEither)
{
    return direction == fromMac || direction == fromW95 || direction == fromEither;
}

// Reads the book into its list and writes the list as vCard or CSV. A refused piece is left to the caller
// to tell.
static FerrylineStatus Export(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size,
                  const char* inputTitle, Output* output, const FerrylineEnv* env)
{
    bool fromMac = direction == FERRYLINE_MAC_TO_VCARD || direction == FERRYLINE_MAC_TO_CSV || direction == FERRYLINE_MAC_TO_LDIF;
    bool fromW95 = direction == FERRYLINE_WIN_TO_VCARD || direction == FERRYLINE_WIN_TO_CSV || direction == FERRYLINE_WIN_TO_LDIF;
    FerrylineEdition edition = fromMac ? FERRYLINE_EDITION_MAC : fromW95 ? FERRYLINE_EDITION_W95 : FERRYLINE_EDITION_EITHER;
    FerrylineBook book;
    FerrylineStatus status = ferryline_read_book(edition, options, bytes, size, inputTitle, env, &book);
    if (status != FERRYLINE_OK) {
        return status;
    }
    int written = 1;
    if (ExportsTo(direction, FERRYLINE_MAC_TO_VCARD, FERRYLINE_WIN_TO_VCARD, FERRYLINE_BOOK_TO_VCARD)) {
        written = WriteVcard(&book, options->vcardVersion == 4 ? 4 : 3, output, env);
    } else if (direction == FERRYLINE_MAC_TO_LDIF || direction == FERRYLINE_WIN_TO_LDIF) {
        written = WriteLdif(&book, output, env);
    } else {
        WriteCsv(&book, options->csvLayout, output, env);
    }
    ferryline_book_free(&book);
    return written ? FERRYLINE_OK : Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
}

static const char kUnicodeText[] =
    "The file %s is saved as Unicode (UTF-16) and can't be converted byte by byte.\n"
    "Save it as ANSI text, or have its accented letters converted.";
static const char kW95GivenAsMac[] = "The file %s is a Corvella W95 address book, not a Macintosh one.";

FerrylineStatus ConvertInto(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size, const char* inputTitle,
                Output* output, const FerrylineEnv* env, unsigned* warnings)
{
    static const FerrylineOptions kDefaults = {};
    options = options != nullptr ? options : &kDefaults;
    *warnings = 0;
    bool converting = direction == FERRYLINE_MAC_TO_WIN || direction == FERRYLINE_WIN_TO_MAC;
    // Converting bytes as they are, the converters count the bytes above 127 as they classify them, at
    // next to no cost; a pass of its own over a large input took a tenth of the conversion's time.
    bool countWhileConverting = options->look != nullptr && converting && options->recode == 0;
    FerrylineLook look;
    LookAt(bytes, size, options->look != nullptr && !countWhileConverting, &look);
    // UTF-16 can't be converted byte by byte; recoding and the exports decode it.
    const FerrylineStatus refusal =
        look.edition == FERRYLINE_UTF16_TEXT && converting && options->recode == 0 ? FERRYLINE_UTF16_REFUSED
        : direction == FERRYLINE_MAC_TO_WIN && look.edition == FERRYLINE_W95_BOOK && !options->force
            ? FERRYLINE_WRONG_EDITION
            : FERRYLINE_OK;
    if (refusal != FERRYLINE_OK && countWhileConverting) {
        look.bytesAbove127 = CountHighBytes(bytes, size);
    }
    if (options->look != nullptr) {
        *options->look = look;
    }
    if (refusal != FERRYLINE_OK) {
        return Fail(env, refusal, refusal == FERRYLINE_UTF16_REFUSED ? kUnicodeText : kW95GivenAsMac, inputTitle);
    }
    TextBlock recoded = {nullptr, 0, 0};
    size_t skippedHighBytes = 0;
    if (converting && options->recode != 0) {
        if (!RecodeBook(bytes, size, direction == FERRYLINE_MAC_TO_WIN, options->charset, env, &recoded)) {
            return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
        }
        bytes = recoded.bytes;
        size = recoded.size;
    } else if (direction == FERRYLINE_MAC_TO_WIN && look.byteOrderMark == FERRYLINE_UTF8_BOM) {
        bytes += 3;  // the mark says how the text is stored; it is not part of the first name
        size -= 3;
        skippedHighBytes = 3;  // but its bytes are above 127 all the same
    }
    size_t convertedHighBytes = 0;
    size_t* counting = countWhileConverting ? &convertedHighBytes : nullptr;
    // The converters fail only by a refused piece, or (a W95 book) by its content, told already.
    FerrylineStatus status = FERRYLINE_OK;
    if (IsImport(direction)) {
        status = Import(direction, options, bytes, size, inputTitle, output, env, warnings);
    } else if (!converting) {
        status = Export(direction, options, bytes, size, inputTitle, output, env);
    } else if (direction == FERRYLINE_MAC_TO_WIN) {
        WriteW95FromMac(bytes, size, output, env, warnings, counting);
    } else if (!WriteMacFromW95(bytes, size, inputTitle, output, env, counting) && output->status == FERRYLINE_OK) {
        status = FERRYLINE_NOT_A_BOOK;
    }
    if (countWhileConverting) {
        options->look->bytesAbove127 = skippedHighBytes + convertedHighBytes;
    }
    ReleaseText(&recoded, env);
    if (status == FERRYLINE_OK && FlushOutput(output) == FERRYLINE_OK) {
        return FERRYLINE_OK;
    }
    // A refused piece is told here: no memory to keep it, or any other refusal as a failed write.
    switch (output->status) {
    case FERRYLINE_OK:
        return status;
    case FERRYLINE_NO_MEMORY:
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    default:
        return Fail(env, FERRYLINE_COULD_NOT_WRITE, kCouldNotWrite, nullptr);
    }
}

void TellWarnings(const FerrylineEnv* env, unsigned warnings)
{
    if ((warnings & WARNING_RESERVED_REPLACED) != 0) {
        Tell(env, FERRYLINE_WARNING, kReplacedWarning, nullptr);
    }
    if ((warnings & WARNING_PLACEHOLDER_NAMES) != 0) {
        Tell(env, FERRYLINE_WARNING, kNoNameWarning, nullptr);
    }
    if ((warnings & WARNING_LEFT_OUT) != 0) {
        Tell(env, FERRYLINE_INFO, kLeftOutWarning, nullptr);
    }
}

FerrylineStatus ferryline_convert(FerrylineDirection direction, const FerrylineOptions* options, const void* input, size_t size,
                                  const char* inputTitle, FerrylineWriter write, void* writeContext, const FerrylineEnv* env)
{
    env = UsableEnv(env);
    Output output;
    if (!OpenOutput(&output, write, writeContext, size, env)) {
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
    }
    unsigned warnings = 0;
    FerrylineStatus status =
        ConvertInto(direction, options, static_cast<const char*>(input), size, inputTitle, &output, env, &warnings);
    CloseOutput(&output, env);
    if (status == FERRYLINE_OK) {
        TellWarnings(env, warnings);
    }
    return status;
}

const char* ferryline_version(void)
{
    return FERRYLINE_VERSION;
}
