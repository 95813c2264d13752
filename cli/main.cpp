// ferryline-convert: the address book converters for the command line and for scripts.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cli/std_streams.h"
#include "convert/ferryline.h"
#include "platform/platform.h"

static const char kVersion[] = "ferryline-convert 1.0";
static const char kUsage[] =
    "usage: ferryline-convert [-v] [-f] mac2win|win2mac INPUT OUTPUT\n"
    "       ferryline-convert -i INPUT\n"
    "\n"
    "Converts a Corvella address book between the Macintosh edition's text file\n"
    "(mac2win reads it) and the Windows edition's W95 stream (win2mac reads it).\n"
    "INPUT or OUTPUT may be - for standard input or standard output.\n"
    "\n"
    "  -v, --verbose  also list each change the other edition forces, with what\n"
    "                 it was and what it became: placeholder names, reserved\n"
    "                 characters replaced, entries left out for having no\n"
    "                 address, groups named \"Main\"\n"
    "  -f, --force    convert a W95 book given to mac2win all the same\n"
    "  -i, --info     tell what INPUT holds and write nothing\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 converted, 1 not converted, 2 wrong usage.\n";
static const char kSameFile[] = "Input and output file must be different.";
static const char kConversionFailed[] = "An error occurred while converting the file";

enum ExitStatus { EXIT_CONVERTED = 0, EXIT_NOT_CONVERTED = 1, EXIT_USAGE = 2 };

struct CommandLine {
    bool verbose;
    bool force;
    bool info;
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

// Returns 0 when the words are not a command line this program takes.
static int ParseCommandLine(int argc, char** argv, CommandLine* command)
{
    memset(command, 0, sizeof *command);
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (strcmp(word, "-v") == 0 || strcmp(word, "--verbose") == 0) {
            command->verbose = true;
        } else if (strcmp(word, "-f") == 0 || strcmp(word, "--force") == 0) {
            command->force = true;
        } else if (strcmp(word, "-i") == 0 || strcmp(word, "--info") == 0) {
            command->info = true;
        } else if (strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0) {
            command->help = true;
        } else if (strcmp(word, "--version") == 0) {
            command->version = true;
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
    if (command->info) {
        if (command->operandCount != 1 || command->operands[0][0] == '\0') {
            fprintf(stderr, "ferryline-convert: --info takes one input\n");
            return 0;
        }
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

// One line, for a book whose accented letters were (or would be) copied byte for byte.
static void PrintRecodeHint(FILE* stream, size_t bytesAbove127)
{
    fprintf(stream,
            "ferryline-convert: %zu %s above 127 (accented letters?) %s copied unchanged; "
            "--recode converts them between the editions' character sets\n",
            bytesAbove127, bytesAbove127 == 1 ? "byte" : "bytes", bytesAbove127 == 1 ? "is" : "are");
}

static const char* CharsetName(FerrylineCharset charset)
{
    switch (charset) {
    case FERRYLINE_UTF8:
        return "UTF-8";
    case FERRYLINE_MAC_ROMAN:
        return "Mac OS Roman";
    case FERRYLINE_WINDOWS_1252:
        return "Windows-1252";
    default:
        return "ASCII";
    }
}

static void PrintInspection(const char* title, const FerrylineInspection& book)
{
    static const char* const kEditions[] = {"a Macintosh address book", "a W95 address book",
                                            "Unicode (UTF-16) text, not converted byte by byte"};
    static const char* const kMarks[] = {"none", "UTF-8", "UTF-16 little-endian", "UTF-16 big-endian"};
    printf("%s: %s%s\n", title, kEditions[book.look.edition],
           book.complete ? "" : ", incomplete: it does not end with its '+' as win2mac needs");
    if (book.look.edition != FERRYLINE_UTF16_TEXT) {
        printf("entries: %lu\ngroups: %lu\nnameless lines: %lu\nlines with reserved characters (&#^+): %lu\n"
               "entries without an address: %lu\ngroups named \"Main\": %lu\n",
               book.entries, book.groups, book.namelessLines, book.reservedLines, book.withoutAddress,
               book.mainGroups);
    }
    printf("longest line: %zu bytes (line %lu)\nline ends: CR LF %lu, LF %lu, CR %lu\nzero bytes: %zu\n",
           book.longestLine, book.longestLineNumber, book.crlfEnds, book.lfEnds, book.crEnds, book.zeroBytes);
    printf("bytes above 127: %zu", book.look.bytesAbove127);
    if (book.look.bytesAbove127 > 0 && book.look.edition != FERRYLINE_UTF16_TEXT) {
        printf(", they look like %s", CharsetName(book.charset));
    }
    printf("\nbyte order mark: %s\n", kMarks[book.look.byteOrderMark]);
    if (book.look.bytesAbove127 > 0 && book.look.edition != FERRYLINE_UTF16_TEXT) {
        PrintRecodeHint(stdout, book.look.bytesAbove127);
    }
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
    PlatformPrepareStandardStreams();
    FerrylineListener listener = {nullptr, PrintMessage, command.verbose ? PrintChange : nullptr};
    FerrylineEnv env = {ferryline_system_alloc, nullptr, &listener};
    StandardStreams streams;
    OpenStandardStreams(&streams, ferryline_system_files(), ferryline_system_alloc, nullptr);
    if (command.info) {
        const char* title = FileTitle(command.operands[0], "standard input");
        FerrylineInspection book;
        if (!ferryline_inspect_file(command.operands[0], title, &streams.files, &env, &book)) {
            return EXIT_NOT_CONVERTED;
        }
        PrintInspection(title, book);
        return EXIT_CONVERTED;
    }
    const char* direction = command.operands[0];
    FerrylineDirection chosen;
    if (strcmp(direction, "mac2win") == 0) {
        chosen = FERRYLINE_MAC_TO_WIN;
    } else if (strcmp(direction, "win2mac") == 0) {
        chosen = FERRYLINE_WIN_TO_MAC;
    } else {
        fprintf(stderr, "ferryline-convert: unknown direction %s\n", direction);
        fputs(kUsage, stderr);
        return EXIT_USAGE;
    }
    const char* input = command.operands[1];
    const char* output = command.operands[2];
    bool streamed = IsStandardStream(input) || IsStandardStream(output);
    if (!streamed && (strcmp(input, output) == 0 || PlatformSameFile(input, output))) {
        PrintMessage(nullptr, FERRYLINE_ERROR, kSameFile);
        return EXIT_NOT_CONVERTED;
    }
    FerrylineLook look = {};
    FerrylineOptions options = {};
    options.force = command.force ? 1 : 0;
    options.look = &look;
    int converted = ferryline_convert_file(chosen, &options, input, FileTitle(input, "standard input"), output,
                                           FileTitle(output, "standard output"), &streams.files, &env);
    if (!converted) {
        PrintMessage(nullptr, FERRYLINE_ERROR, kConversionFailed);
        if (chosen == FERRYLINE_MAC_TO_WIN && look.edition == FERRYLINE_W95_BOOK && !command.force) {
            fputs("ferryline-convert: win2mac converts it; -f converts it as a Macintosh book all the same\n", stderr);
        }
        return EXIT_NOT_CONVERTED;
    }
    if (look.bytesAbove127 > 0) {
        PrintRecodeHint(stderr, look.bytesAbove127);
    }
    return EXIT_CONVERTED;
}
