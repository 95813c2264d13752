// ferryline-convert: the address book converters for the command line and for scripts.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cli/std_streams.h"
#include "convert/ferryline.h"
#include "platform/platform.h"

static const char kVersion[] = "ferryline-convert 1.0";
static const char kUsage[] =
    "usage: ferryline-convert [OPTIONS] DIRECTION INPUT OUTPUT\n"
    "\n"
    "Converts a Corvella address book between the Macintosh edition's text file\n"
    "and the Windows edition's W95 stream, or exports either to vCard or CSV.\n"
    "INPUT or OUTPUT may be - for standard input or standard output.\n"
    "\n"
    "Directions:\n"
    "  mac2win, win2mac   a Mac book to a W95 one, and back\n"
    "  mac2vcf, win2vcf   a Mac or a W95 book to vCard (UTF-8)\n"
    "  mac2csv, win2csv   a Mac or a W95 book to CSV (UTF-8)\n"
    "\n"
    "  -v, --verbose  also list each line that got a placeholder name or had\n"
    "                 reserved characters replaced, and each entry left out\n"
    "                 for having no address\n"
    "  --recode       mac2win and win2mac: convert accented letters (the Mac side\n"
    "                 in Mac OS Roman, the W95 side in Windows-1252)\n"
    "  --charset SET  the input's character set: mac-roman, windows-1252, utf-8\n"
    "                 or latin-1 (by default told from the input and its edition)\n"
    "  --vcard 4.0    write vCard 4.0 instead of 3.0\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 converted, 1 not converted, 2 wrong usage.\n";
static const char kSameFile[] = "Input and output file must be different.";
static const char kConversionFailed[] = "An error occurred while converting the file";

enum ExitStatus { EXIT_CONVERTED = 0, EXIT_NOT_CONVERTED = 1, EXIT_USAGE = 2 };

struct CommandLine {
    bool verbose;
    FerrylineOptions options;
    bool help;
    bool version;
    const char* operands[3];
    int operandCount;
};

// Messages go to standard error, one a line, as they happen; so do the details -v asks for.
static void PrintMessage(void*, FerrylineMessageKind, const char* text)
{
    fputs(text, stderr);
    fputc('\n', stderr);
    fflush(stderr);
}

static void PrintChange(void*, const FerrylineChange* change)
{
    char line[256];
    size_t length = ferryline_describe_change(change, line, sizeof line);
    if (length < sizeof line) {
        fprintf(stderr, "%s\n", line);
        return;
    }
    // A long name: the line is described once more into a block that holds it, or shown cut short.
    char* whole = static_cast<char*>(malloc(length + 1));
    if (whole != nullptr) {
        ferryline_describe_change(change, whole, length + 1);
    }
    fprintf(stderr, "%s\n", whole != nullptr ? whole : line);
    free(whole);
}

// Sets the option `name` from `value`; returns 0 when the value is not one it takes.
static int ParseOptionValue(const char* name, const char* value, FerrylineOptions* options)
{
    struct Choice {
        const char* option;
        const char* value;
        FerrylineCharset charset;
        int vcardVersion;
    };
    static const Choice kChoices[] = {
        {"--charset", "mac-roman", FERRYLINE_CHARSET_MAC_ROMAN, 0},
        {"--charset", "windows-1252", FERRYLINE_CHARSET_WINDOWS_1252, 0},
        {"--charset", "utf-8", FERRYLINE_CHARSET_UTF8, 0},
        {"--charset", "latin-1", FERRYLINE_CHARSET_LATIN1, 0},
        {"--vcard", "3.0", FERRYLINE_CHARSET_AUTO, 3},
        {"--vcard", "4.0", FERRYLINE_CHARSET_AUTO, 4},
    };
    for (const Choice& choice : kChoices) {
        if (strcmp(name, choice.option) == 0 && strcmp(value, choice.value) == 0) {
            if (choice.vcardVersion != 0) {
                options->vcardVersion = choice.vcardVersion;
            } else {
                options->charset = choice.charset;
            }
            return 1;
        }
    }
    return 0;
}

// Returns 0 when the words are not a command line this program takes.
static int ParseCommandLine(int argc, char** argv, CommandLine* command)
{
    memset(command, 0, sizeof *command);
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (strcmp(word, "-v") == 0 || strcmp(word, "--verbose") == 0) {
            command->verbose = true;
        } else if (strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0) {
            command->help = true;
        } else if (strcmp(word, "--version") == 0) {
            command->version = true;
        } else if (strcmp(word, "--recode") == 0) {
            command->options.recode = 1;
        } else if (strcmp(word, "--charset") == 0 || strcmp(word, "--vcard") == 0) {
            if (i + 1 == argc || !ParseOptionValue(word, argv[i + 1], &command->options)) {
                fprintf(stderr, "ferryline-convert: %s needs one of %s\n", word,
                        word[2] == 'c' ? "mac-roman, windows-1252, utf-8, latin-1" : "3.0, 4.0");
                return 0;
            }
            ++i;
        } else if (word[0] == '-' && word[1] != '\0') {
            fprintf(stderr, "ferryline-convert: unknown option %s\n", word);
            return 0;
        } else if (command->operandCount < 3) {
            command->operands[command->operandCount++] = word;
        } else {
            fprintf(stderr, "ferryline-convert: too many arguments\n");
            return 0;
        }
    }
    if (command->help || command->version) {
        return 1;
    }
    if (command->operandCount != 3) {
        fprintf(stderr, "ferryline-convert: expected a direction, an input and an output\n");
        return 0;
    }
    if (command->operands[1][0] == '\0' || command->operands[2][0] == '\0') {
        fprintf(stderr, "ferryline-convert: a file name is empty\n");
        return 0;
    }
    return 1;
}

// Messages name a file by its last path component, as the Windows program names it by its title.
static const char* FileTitle(const char* path, const char* streamName)
{
    return IsStandardStream(path) ? streamName : PlatformFileTitle(path);
}

int main(int argc, char** argv)
{
    CommandLine command;
    if (!ParseCommandLine(argc, argv, &command)) {
        fputs(kUsage, stderr);
        return EXIT_USAGE;
    }
    if (command.help) {
        fputs(kUsage, stdout);
        return EXIT_CONVERTED;
    }
    if (command.version) {
        puts(kVersion);
        return EXIT_CONVERTED;
    }
    const char* direction = command.operands[0];
    static const struct {
        const char* name;
        FerrylineDirection direction;
    } kDirections[] = {
        {"mac2win", FERRYLINE_MAC_TO_WIN},   {"win2mac", FERRYLINE_WIN_TO_MAC}, {"mac2vcf", FERRYLINE_MAC_TO_VCARD},
        {"win2vcf", FERRYLINE_WIN_TO_VCARD}, {"mac2csv", FERRYLINE_MAC_TO_CSV}, {"win2csv", FERRYLINE_WIN_TO_CSV},
    };
    const FerrylineDirection* chosen = nullptr;
    for (const auto& known : kDirections) {
        chosen = strcmp(direction, known.name) == 0 ? &known.direction : chosen;
    }
    if (chosen == nullptr) {
        fprintf(stderr, "ferryline-convert: unknown direction %s\n", direction);
        fputs(kUsage, stderr);
        return EXIT_USAGE;
    }

    PlatformPrepareStandardStreams();
    FerrylineListener listener = {nullptr, PrintMessage, command.verbose ? PrintChange : nullptr};
    FerrylineEnv env = {ferryline_system_alloc, nullptr, &listener};
    const char* input = command.operands[1];
    const char* output = command.operands[2];
    bool streamed = IsStandardStream(input) || IsStandardStream(output);
    if (!streamed && (strcmp(input, output) == 0 || PlatformSameFile(input, output))) {
        PrintMessage(nullptr, FERRYLINE_ERROR, kSameFile);
        return EXIT_NOT_CONVERTED;
    }
    StandardStreams streams;
    OpenStandardStreams(&streams, ferryline_system_files(), ferryline_system_alloc, nullptr);
    // Accented letters keep their bytes unless asked for: a book with any gets one hint.
    const bool converting = *chosen == FERRYLINE_MAC_TO_WIN || *chosen == FERRYLINE_WIN_TO_MAC;
    streams.watchEightBit = converting && !command.options.recode;
    int converted = ferryline_convert_file(*chosen, &command.options, input, FileTitle(input, "standard input"), output,
                                           FileTitle(output, "standard output"), &streams.files, &env);
    if (!converted) {
        PrintMessage(nullptr, FERRYLINE_ERROR, kConversionFailed);
        return EXIT_NOT_CONVERTED;
    }
    if (streams.readEightBit) {
        fputs("ferryline-convert: the book holds bytes above 127, such as accented letters; they were kept as "
              "they are, --recode converts them to the other edition's character set\n", stderr);
    }
    return EXIT_CONVERTED;
}
