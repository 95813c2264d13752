// ferryline-convert: the address book converters for the command line and for scripts.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cli/std_streams.h"
#include "convert/convert.h"
#include "platform/platform.h"

static const char kVersion[] = "ferryline-convert 1.0";
static const char kUsage[] =
    "usage: ferryline-convert [-v] mac2win|win2mac INPUT OUTPUT\n"
    "\n"
    "Converts a Corvella address book between the Macintosh edition's text file\n"
    "(mac2win reads it) and the Windows edition's W95 stream (win2mac reads it).\n"
    "INPUT or OUTPUT may be - for standard input or standard output.\n"
    "\n"
    "  -v, --verbose  also list each line that got a placeholder name or had\n"
    "                 reserved characters replaced, and each entry left out\n"
    "                 for having no address\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "\n"
    "Exit status: 0 converted, 1 not converted, 2 wrong usage.\n";
static const char kSameFile[] = "Input and output file must be different.";
static const char kConversionFailed[] = "An error occurred while converting the file";

enum ExitStatus { EXIT_CONVERTED = 0, EXIT_NOT_CONVERTED = 1, EXIT_USAGE = 2 };

struct CommandLine {
    bool verbose;
    bool help;
    bool version;
    const char* operands[3];
    int operandCount;
};

// The details that -v lists, kept until the warnings have been shown.
static std::string g_changes;

static void CollectChange(ChangeKind kind, unsigned long line, const char* text, size_t length)
{
    char prefix[64];
    switch (kind) {
    case CHANGE_PLACEHOLDER_NAME:
        snprintf(prefix, sizeof prefix, "line %lu: no personal name, named \"", line);
        g_changes.append(prefix).append(text, length).append("\"\n");
        break;
    case CHANGE_RESERVED_REPLACED:
        snprintf(prefix, sizeof prefix, "line %lu: ", line);
        g_changes.append(prefix).append("reserved characters (&#^+) replaced with dashes\n");
        break;
    case CHANGE_DROPPED_ENTRY:
        snprintf(prefix, sizeof prefix, "entry %lu: \"", line);
        g_changes.append(prefix).append(text, length).append("\" left out, it has no address\n");
        break;
    }
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
    if (strcmp(path, kStandardStreamPath) == 0) {
        return streamName;
    }
    const char* title = path;
    for (const char* p = path; *p != '\0'; ++p) {
#ifdef _WIN32
        bool separator = *p == '/' || *p == '\\' || *p == ':';
#else
        bool separator = *p == '/';
#endif
        if (separator && p[1] != '\0') {
            title = p + 1;
        }
    }
    return title;
}

static void PrepareStreams()
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#else
    // A refused write (file size limit, closed pipe) must fail the conversion, not end the process.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
#endif
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
    int (*convert)(const char*, const char*, const char*, const char*) = nullptr;
    if (strcmp(direction, "mac2win") == 0) {
        convert = ConvertMacToWin;
    } else if (strcmp(direction, "win2mac") == 0) {
        convert = ConvertWinToMac;
    } else {
        fprintf(stderr, "ferryline-convert: unknown direction %s\n", direction);
        fputs(kUsage, stderr);
        return EXIT_USAGE;
    }

    PrepareStreams();
    g_platform.showMessage = PlatformPrintMessage;
    InstallStandardStreams();
    const char* input = command.operands[1];
    const char* output = command.operands[2];
    bool streamed = strcmp(input, kStandardStreamPath) == 0 || strcmp(output, kStandardStreamPath) == 0;
    if (!streamed && (strcmp(input, output) == 0 || PlatformSameFile(input, output))) {
        ShowError(g_hwndMain, kSameFile);
        return EXIT_NOT_CONVERTED;
    }
    if (command.verbose) {
        g_changeObserver = CollectChange;
    }
    int converted = convert(input, FileTitle(input, "standard input"), output, FileTitle(output, "standard output"));
    if (!converted) {
        ShowError(g_hwndMain, kConversionFailed);
        return EXIT_NOT_CONVERTED;
    }
    fputs(g_changes.c_str(), stderr);
    return EXIT_CONVERTED;
}
