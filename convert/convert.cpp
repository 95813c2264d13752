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

// Reads the book into its list and writes the list as vCard or CSV.
static int Export(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size,
                  const char* inputTitle, Output* output, const FerrylineEnv* env)
{
    bool fromMac = direction == FERRYLINE_MAC_TO_VCARD || direction == FERRYLINE_MAC_TO_CSV || direction == FERRYLINE_MAC_TO_LDIF;
    bool fromW95 = direction == FERRYLINE_WIN_TO_VCARD || direction == FERRYLINE_WIN_TO_CSV || direction == FERRYLINE_WIN_TO_LDIF;
    FerrylineEdition edition = fromMac ? FERRYLINE_EDITION_MAC : fromW95 ? FERRYLINE_EDITION_W95 : FERRYLINE_EDITION_EITHER;
    FerrylineBook book;
    if (!ferryline_read_book(edition, options, bytes, size, inputTitle, env, &book)) {
        return 0;
    }
    int written = 1;
    if (ExportsTo(direction, FERRYLINE_MAC_TO_VCARD, FERRYLINE_WIN_TO_VCARD, FERRYLINE_BOOK_TO_VCARD)) {
        written = WriteVcard(&book, options->vcardVersion == 4 ? 4 : 3, output, env);
    } else if (direction == FERRYLINE_MAC_TO_LDIF || direction == FERRYLINE_WIN_TO_LDIF) {
        written = WriteLdif(&book, output, env);
    } else {
        WriteCsv(&book, options->csvLayout, output, env);
    }
    ferryline_book_free(&book, env);
    if (!written) {
        Tell(env, FERRYLINE_ERROR, kCouldNotAllocateConversion, nullptr);
    }
    return written && output->status == FERRYLINE_WRITTEN;
}

static const char kUnicodeText[] =
    "The file %s is saved as Unicode (UTF-16) and can't be converted byte by byte.\n"
    "Save it as ANSI text, or have its accented letters converted.";
static const char kW95GivenAsMac[] = "The file %s is a Corvella W95 address book, not a Macintosh one.";

int ConvertInto(FerrylineDirection direction, const FerrylineOptions* options, const char* bytes, size_t size, const char* inputTitle,
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
    const char* refusal = look.edition == FERRYLINE_UTF16_TEXT && converting && options->recode == 0 ? kUnicodeText
                          : direction == FERRYLINE_MAC_TO_WIN && look.edition == FERRYLINE_W95_BOOK && !options->force
                              ? kW95GivenAsMac
                              : nullptr;
    if (refusal != nullptr && countWhileConverting) {
        look.bytesAbove127 = CountHighBytes(bytes, size);
    }
    if (options->look != nullptr) {
        *options->look = look;
    }
    if (refusal != nullptr) {
        Tell(env, FERRYLINE_ERROR, refusal, inputTitle);
        return 0;
    }
    TextBlock recoded = {nullptr, 0, 0};
    size_t skippedHighBytes = 0;
    if (converting && options->recode != 0) {
        if (!RecodeBook(bytes, size, direction == FERRYLINE_MAC_TO_WIN, options->charset, env, &recoded)) {
            Tell(env, FERRYLINE_ERROR, kCouldNotAllocateConversion, nullptr);
            return 0;
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
    int converted = IsImport(direction) ? Import(direction, options, bytes, size, inputTitle, output, env, warnings)
                    : !converting ? Export(direction, options, bytes, size, inputTitle, output, env)
                    : direction == FERRYLINE_MAC_TO_WIN ? WriteW95FromMac(bytes, size, output, env, warnings, counting)
                                                        : WriteMacFromW95(bytes, size, inputTitle, output, env, counting);
    if (countWhileConverting) {
        options->look->bytesAbove127 = skippedHighBytes + convertedHighBytes;
    }
    ReleaseText(&recoded, env);
    if (converted) {
        FlushOutput(output);
    }
    // A content failure has been told already; a refused piece is told here.
    switch (output->status) {
    case FERRYLINE_WRITTEN:
        return converted;
    case FERRYLINE_WRITE_NO_MEMORY:
        Tell(env, FERRYLINE_ERROR, kCouldNotAllocateConversion, nullptr);
        return 0;
    default:
        Tell(env, FERRYLINE_ERROR, kCouldNotWrite, nullptr);
        return 0;
    }
}

void TellWarnings(const FerrylineEnv* env, unsigned warnings)
{
    if ((warnings & WARNING_RESERVED_REPLACED) != 0) {
        Tell(env, FERRYLINE_INFO, kReplacedWarning, nullptr);
    }
    if ((warnings & WARNING_PLACEHOLDER_NAMES) != 0) {
        Tell(env, FERRYLINE_INFO, kNoNameWarning, nullptr);
    }
    if ((warnings & WARNING_LEFT_OUT) != 0) {
        Tell(env, FERRYLINE_INFO, kLeftOutWarning, nullptr);
    }
}

int ferryline_convert(FerrylineDirection direction, const FerrylineOptions* options, const void* input, size_t size, const char* inputTitle,
                      FerrylineWriter write, void* writeContext, const FerrylineEnv* env)
{
    env = UsableEnv(env);
    Output output;
    if (!OpenOutput(&output, write, writeContext, size, env)) {
        Tell(env, FERRYLINE_ERROR, kCouldNotAllocateConversion, nullptr);
        return 0;
    }
    unsigned warnings = 0;
    int converted = ConvertInto(direction, options, static_cast<const char*>(input), size, inputTitle, &output, env, &warnings);
    CloseOutput(&output, env);
    if (converted) {
        TellWarnings(env, warnings);
    }
    return converted;
}
