// Conversion in memory: the converters between the caller's bytes and the caller's writer.
#include "convert/converters.h"
#include "convert/env.h"

const char kCouldNotWrite[] = "Could not write to output file";
const char kCouldNotAllocateConversion[] = "Could not allocate memory to convert the file";
static const char kReplacedWarning[] =
    "Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.";
static const char kNoNameWarning[] =
    "Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. "
    "These now have \"No Name ##\"\nas their names so you will need to fix them within Corvella.";

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
    FerrylineLook look;
    LookAt(bytes, size, options->look != nullptr, &look);
    if (options->look != nullptr) {
        *options->look = look;
    }
    if (look.edition == FERRYLINE_UTF16_TEXT) {
        Tell(env, FERRYLINE_ERROR, kUnicodeText, inputTitle);
        return 0;
    }
    if (direction == FERRYLINE_MAC_TO_WIN && look.edition == FERRYLINE_W95_BOOK && !options->force) {
        Tell(env, FERRYLINE_ERROR, kW95GivenAsMac, inputTitle);
        return 0;
    }
    if (direction == FERRYLINE_MAC_TO_WIN && look.byteOrderMark == FERRYLINE_UTF8_BOM) {
        bytes += 3;  // the mark says how the text is stored; it is not part of the first name
        size -= 3;
    }
    int converted = direction == FERRYLINE_MAC_TO_WIN ? WriteW95FromMac(bytes, size, output, env, warnings)
                                                      : WriteMacFromW95(bytes, size, inputTitle, output, env);
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
