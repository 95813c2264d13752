// ferryline-convert: the address book converters for the command line and for scripts.
#include <errno.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "cli/std_streams.h"
#include "convert/ferryline.h"
#include "platform/platform.h"

#ifdef FERRYLINE_PAUSE_HOOK
int PauseAtStep(void* context, PlatformStep step);  // tests/reliability/pause_at_step.cpp
#endif

static const char kUsage[] =
    "usage: ferryline-convert [OPTIONS] [--] DIRECTION INPUT OUTPUT\n"
    "       ferryline-convert -i INPUT\n"
    "\n"
    "Converts a Corvella address book between the Macintosh edition's text file\n"
    "and the Windows edition's W95 stream, exports either to vCard, CSV or LDIF,\n"
    "or imports vCard or CSV into either.\n"
    "INPUT or OUTPUT may be - for standard input or standard output.\n"
    "\n"
    "Directions:\n"
    "  mac2win, win2mac   a Mac book to a W95 one, and back\n"
    "  mac2vcf, win2vcf   a Mac or a W95 book to vCard (UTF-8)\n"
    "  mac2csv, win2csv   a Mac or a W95 book to CSV (UTF-8)\n"
    "  mac2ldif, win2ldif a Mac or a W95 book to LDIF for Thunderbird (UTF-8)\n"
    "  vcf2mac, vcf2win   a vCard file (2.1, 3.0, 4.0) to a Mac or a W95 book\n"
    "  csv2mac, csv2win   a CSV file (Google's, Outlook's or Ferryline's layout) to\n"
    "                     a Mac or a W95 book\n"
    "\n"
    "  -v, --verbose  also list each change the other edition forces, with what\n"
    "                 it was and what it became: placeholder names, reserved\n"
    "                 characters replaced, entries left out for having no\n"
    "                 address, groups named \"Main\", letters that became \"?\",\n"
    "                 CSV cells given a \"'\" so that spreadsheets run no formula\n"
    "  -f, --force    convert a W95 book given to mac2win all the same\n"
    "  -i, --info     tell what INPUT holds and write nothing\n"
    "  --recode       mac2win and win2mac: convert accented letters (the Mac side\n"
    "                 in Mac OS Roman, the W95 side in Windows-1252)\n"
    "  --charset SET  the input's character set: mac-roman, windows-1252, utf-8\n"
    "                 or latin-1 (by default told from the input and its edition;\n"
    "                 imports: UTF-8 or UTF-16 when plainly so, else windows-1252)\n"
    "  --vcard 4.0    write vCard 4.0 instead of 3.0\n"
    "  --csv LAYOUT   the CSV's columns: outlook (the default; Outlook's names,\n"
    "                 which most address books import) or google (Google\n"
    "                 Contacts' own, the groups as its labels)\n"
    "  --help         show this text\n"
    "  --version      show the version\n"
    "  --             end of options: every word after it is a direction or a file\n"
    "\n"
    "Exit status: 0 converted, 1 not converted, 2 wrong usage.\n";
static const char kConversionFailed[] = "An error occurred while converting the file";
// Every line this program adds to the texts the Windows program shows starts so.
static const char kPrefix[] = "ferryline-convert: ";

enum ExitStatus { EXIT_CONVERTED = 0, EXIT_NOT_CONVERTED = 1, EXIT_USAGE = 2 };

struct CommandLine {
    bool verbose;
    bool force;
    bool info;
    bool help;
    bool version;
    bool recode;
    const char* charset;  // the words after --charset, --vcard and --csv, null when not given
    const char* vcard;
    const char* csv;
    const char* operands[3];
    int operandCount;
};

// The options: each a switch in CommandLine, or a word that follows it.
struct OptionEntry {
    const char* shortName;  // null when there is none
    const char* longName;
    bool CommandLine::*flag;         // null for an option that takes a word
    const char* CommandLine::*word;  // null for a switch
};
static const OptionEntry kOptions[] = {
    {"-v", "--verbose", &CommandLine::verbose, nullptr},
    {"-h", "--help", &CommandLine::help, nullptr},
    {nullptr, "--version", &CommandLine::version, nullptr},
    {"-f", "--force", &CommandLine::force, nullptr},
    {"-i", "--info", &CommandLine::info, nullptr},
    {nullptr, "--recode", &CommandLine::recode, nullptr},
    {nullptr, "--charset", nullptr, &CommandLine::charset},
    {nullptr, "--vcard", nullptr, &CommandLine::vcard},
    {nullptr, "--csv", nullptr, &CommandLine::csv},
};

// The words --charset, --vcard and --csv take, and what each sets: a character set, or `number` (the
// vCard version, the CSV layout).
struct OptionValue {
    const char* CommandLine::*option;
    const char* word;
    FerrylineCharset charset;
    int number;
};
static const OptionValue kOptionValues[] = {
    {&CommandLine::charset, "mac-roman", FERRYLINE_CHARSET_MAC_ROMAN, 0},
    {&CommandLine::charset, "windows-1252", FERRYLINE_CHARSET_WINDOWS_1252, 0},
    {&CommandLine::charset, "utf-8", FERRYLINE_CHARSET_UTF8, 0},
    {&CommandLine::charset, "latin-1", FERRYLINE_CHARSET_LATIN1, 0},
    {&CommandLine::vcard, "3.0", FERRYLINE_CHARSET_AUTO, 3},
    {&CommandLine::vcard, "4.0", FERRYLINE_CHARSET_AUTO, 4},
    {&CommandLine::csv, "outlook", FERRYLINE_CHARSET_AUTO, FERRYLINE_CSV_OUTLOOK},
    {&CommandLine::csv, "google", FERRYLINE_CHARSET_AUTO, FERRYLINE_CSV_GOOGLE},
};

struct DirectionEntry {
    const char* name;
    FerrylineDirection direction;
};
static const DirectionEntry kDirections[] = {
    {"mac2win", FERRYLINE_MAC_TO_WIN},   {"win2mac", FERRYLINE_WIN_TO_MAC}, {"mac2vcf", FERRYLINE_MAC_TO_VCARD},
    {"win2vcf", FERRYLINE_WIN_TO_VCARD}, {"mac2csv", FERRYLINE_MAC_TO_CSV}, {"win2csv", FERRYLINE_WIN_TO_CSV},
    {"vcf2mac", FERRYLINE_VCARD_TO_MAC}, {"vcf2win", FERRYLINE_VCARD_TO_WIN}, {"csv2mac", FERRYLINE_CSV_TO_MAC},
    {"csv2win", FERRYLINE_CSV_TO_WIN},   {"mac2ldif", FERRYLINE_MAC_TO_LDIF}, {"win2ldif", FERRYLINE_WIN_TO_LDIF},
};

// What the operands are, for naming the ones missing.
static const char* const kMissingOperands[] = {
    "a direction, an input and an output",
    "an input and an output",
    "an output",
};

// What the system said about the latest failure, shown after the message it explains.
struct FailureReason {
    std::string path;
    int error;  // 0 when there is nothing to add
    std::string backupOf;
    std::string backup;
};

// A file name or title as it is printed: UTF-8, its control characters and the bytes that are no part
// of a UTF-8 character escaped, so that a name can't send the terminal a command.
static std::string Shown(const char* text)
{
    size_t size = strlen(text);
    std::string shown(ferryline_shown_text(text, size, nullptr, 0) + 1, '\0');
    shown.resize(ferryline_shown_text(text, size, &shown[0], shown.size()));
    return shown;
}

static void NoteReason(void* context, const char* path, int error)
{
    FailureReason* reason = static_cast<FailureReason*>(context);
    reason->path = Shown(path);
    reason->error = error;
}

static void NoteBackupKept(void* context, const char* path, const char* backup)
{
    FailureReason* reason = static_cast<FailureReason*>(context);
    reason->backupOf = Shown(path);
    reason->backup = Shown(backup);
}

// What the conversion's listener hears about.
struct Listening {
    FailureReason reason;
    bool verbose;
    uint64_t lettersLost;  // lines or entries with letters that became '?'
};

// Messages go to standard error, one a line, as they happen: a box's line breaks become spaces, so that
// grep and wc -l count messages. A failure's reason follows it.
static void PrintMessage(void* context, FerrylineMessageKind kind, const char* text)
{
    for (const char* c = text; *c != '\0'; ++c) {
        fputc(*c == '\n' ? ' ' : *c, stderr);
    }
    fputc('\n', stderr);
    FailureReason* reason = context != nullptr ? &static_cast<Listening*>(context)->reason : nullptr;
    if (kind == FERRYLINE_ERROR && reason != nullptr && reason->error != 0) {
        char description[256];
        PlatformDescribeError(reason->error, description, sizeof description);
        fprintf(stderr, "%s%s: %s\n", kPrefix, reason->path.c_str(), description);
        reason->error = 0;
    }
    if (kind == FERRYLINE_ERROR && reason != nullptr && !reason->backup.empty()) {
        fprintf(stderr, "%sthe earlier content of %s could not be put back and is kept in %s\n", kPrefix,
                reason->backupOf.c_str(), reason->backup.c_str());
        reason->backup.clear();
    }
    fflush(stderr);
}

static void PrintChange(void* context, const FerrylineChange* change)
{
    Listening* listening = static_cast<Listening*>(context);
    listening->lettersLost += change->kind == FERRYLINE_CHARACTER_REPLACED ? 1 : 0;
    if (!listening->verbose) {
        return;
    }
    char line[256];
    size_t length = ferryline_describe_change(change, line, sizeof line);
    if (length < sizeof line) {
        fprintf(stderr, "%s%s\n", kPrefix, line);
        return;
    }
    // A long name: the line is described once more into a block that holds it, or shown cut short.
    char* whole = static_cast<char*>(malloc(length + 1));
    if (whole != nullptr) {
        ferryline_describe_change(change, whole, length + 1);
    }
    fprintf(stderr, "%s%s\n", kPrefix, whole != nullptr ? whole : line);
    free(whole);
}

// Says what was wrong with the command line and where to learn more; returns 0 for the caller to return.
static void SuggestHelp()
{
    fprintf(stderr, "%sTry 'ferryline-convert --help' for more information.\n", kPrefix);
}

static int UsageError(const char* format, const char* argument)
{
    fputs(kPrefix, stderr);
    fprintf(stderr, format, argument);
    fputc('\n', stderr);
    SuggestHelp();
    return 0;
}

static const OptionEntry* FindOption(const char* word)
{
    for (const OptionEntry& option : kOptions) {
        if ((option.shortName != nullptr && strcmp(word, option.shortName) == 0) || strcmp(word, option.longName) == 0) {
            return &option;
        }
    }
    return nullptr;
}

// Returns 0, after saying why, when the words are not a command line this program takes.
static int ParseCommandLine(int argc, char** argv, CommandLine* command)
{
    memset(command, 0, sizeof *command);
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (!optionsEnded && strcmp(word, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && word[0] == '-' && word[1] != '\0') {
            const OptionEntry* option = FindOption(word);
            if (option == nullptr) {
                return UsageError("unknown option %s", word);
            }
            if (option->flag != nullptr) {
                command->*(option->flag) = true;
            } else if (i + 1 < argc) {
                command->*(option->word) = argv[++i];
            } else {
                return UsageError("%s needs a word after it", word);
            }
        } else if (command->operandCount < 3) {
            command->operands[command->operandCount++] = word;
        } else {
            return UsageError("too many arguments, from %s on", word);
        }
    }
    if (command->help || command->version) {
        return 1;
    }
    if (command->info) {
        if (command->operandCount != 1 || command->operands[0][0] == '\0') {
            return UsageError("%s takes one input", "--info");
        }
        return 1;
    }
    if (command->operandCount < 3) {
        return UsageError("missing %s", kMissingOperands[command->operandCount]);
    }
    if (command->operands[1][0] == '\0' || command->operands[2][0] == '\0') {
        return UsageError("the %s file name is empty", command->operands[1][0] == '\0' ? "input" : "output");
    }
    return 1;
}

// Turns the words of --charset, --vcard and --csv into conversion options; returns 0, after saying why,
// for a word none of them takes.
static int ChooseOptions(const CommandLine& command, FerrylineOptions* options)
{
    memset(options, 0, sizeof *options);
    options->recode = command.recode ? 1 : 0;
    for (const char* CommandLine::*option : {&CommandLine::charset, &CommandLine::vcard, &CommandLine::csv}) {
        const char* word = command.*option;
        if (word == nullptr) {
            continue;
        }
        const OptionValue* chosen = nullptr;
        for (const OptionValue& value : kOptionValues) {
            chosen = value.option == option && strcmp(word, value.word) == 0 ? &value : chosen;
        }
        if (chosen == nullptr) {
            return UsageError("%s is not a choice here; see the options in --help", word);
        }
        if (option == &CommandLine::charset) {
            options->charset = chosen->charset;
        } else if (option == &CommandLine::vcard) {
            options->vcardVersion = chosen->number;
        } else {
            options->csvLayout = chosen->number;
        }
    }
    return 1;
}

// Writes --help or --version; a refused write ends the program with 1, as any output would.
static int PrintInformation(const char* text)
{
    if (fputs(text, stdout) < 0 || fflush(stdout) != 0) {
        fprintf(stderr, "%sstandard output: %s\n", kPrefix, strerror(errno));
        return EXIT_NOT_CONVERTED;
    }
    return EXIT_CONVERTED;
}

// Messages name a file by its last path component, as the Windows program names it by its title.
static std::string FileTitle(const char* path, const char* streamName)
{
    return IsStandardStream(path) ? streamName : Shown(PlatformFileTitle(path));
}

static bool WritesW95(FerrylineDirection direction)
{
    return direction == FERRYLINE_MAC_TO_WIN || direction == FERRYLINE_VCARD_TO_WIN || direction == FERRYLINE_CSV_TO_WIN;
}

// One line, for a book whose accented letters were (or would be) copied byte for byte.
static void PrintRecodeHint(FILE* stream, size_t bytesAbove127)
{
    fprintf(stream,
            "%s%zu %s above 127 (accented letters?) %s copied unchanged; "
            "--recode converts them between the editions' character sets\n",
            kPrefix, bytesAbove127, bytesAbove127 == 1 ? "byte" : "bytes", bytesAbove127 == 1 ? "is" : "are");
}

static const char* CharsetName(FerrylineBytesLookLike charset)
{
    switch (charset) {
    case FERRYLINE_LOOKS_UTF8:
        return "UTF-8";
    case FERRYLINE_LOOKS_MAC_ROMAN:
        return "Mac OS Roman";
    case FERRYLINE_LOOKS_WINDOWS_1252:
        return "Windows-1252";
    default:
        return "ASCII";
    }
}

// The direction that reads a book of `edition` as `direction` would, when that is another one.
static const char* RightDirection(FerrylineDirection direction, FerrylineEdition edition)
{
    const bool w95 = edition == FERRYLINE_EDITION_W95;
    switch (direction) {
    case FERRYLINE_MAC_TO_WIN:
        return w95 ? "win2mac" : nullptr;
    case FERRYLINE_MAC_TO_VCARD:
        return w95 ? "win2vcf" : nullptr;
    case FERRYLINE_MAC_TO_CSV:
        return w95 ? "win2csv" : nullptr;
    case FERRYLINE_WIN_TO_VCARD:
        return w95 ? nullptr : "mac2vcf";
    case FERRYLINE_WIN_TO_CSV:
        return w95 ? nullptr : "mac2csv";
    case FERRYLINE_MAC_TO_LDIF:
        return w95 ? "win2ldif" : nullptr;
    case FERRYLINE_WIN_TO_LDIF:
        return w95 ? nullptr : "mac2ldif";
    default:
        return nullptr;
    }
}

static void PrintInspection(const char* title, const FerrylineInspection& book)
{
    static const char* const kMarks[] = {"none", "UTF-8", "UTF-16 little-endian", "UTF-16 big-endian"};
    const bool utf16 = book.look.charset == FERRYLINE_CHARSET_UTF16LE || book.look.charset == FERRYLINE_CHARSET_UTF16BE;
    printf("%s: %s%s%s\n", title, book.look.edition == FERRYLINE_EDITION_W95 ? "a W95 address book" : "a Macintosh address book",
           utf16 ? " in Unicode (UTF-16), converted only with --recode" : "",
           book.complete ? "" : ", incomplete: it does not end with its '+' as win2mac needs");
    if (!utf16) {
        printf("entries: %" PRIu64 "\ngroups: %" PRIu64 "\nnameless lines: %" PRIu64
               "\nlines with reserved characters (&#^+): %" PRIu64 "\nentries without an address: %" PRIu64
               "\ngroups named \"Main\": %" PRIu64 "\n",
               book.entries, book.groups, book.namelessLines, book.reservedLines, book.withoutAddress,
               book.mainGroups);
    }
    printf("longest line: %" PRIu64 " bytes (line %" PRIu64 ")\nline ends: CR LF %" PRIu64 ", LF %" PRIu64
           ", CR %" PRIu64 "\nzero bytes: %" PRIu64 "\n",
           book.longestLine, book.longestLineNumber, book.crlfEnds, book.lfEnds, book.crEnds, book.zeroBytes);
    printf("bytes above 127: %zu", book.look.bytesAbove127);
    if (book.look.bytesAbove127 > 0 && !utf16) {
        printf(", they look like %s", CharsetName(book.charset));
    }
    printf("\nbyte order mark: %s\n", kMarks[book.look.byteOrderMark]);
    if (book.look.bytesAbove127 > 0 && !utf16) {
        PrintRecodeHint(stdout, book.look.bytesAbove127);
    }
}

int main(int argc, char** argv)
{
    CommandLine command;
    if (!ParseCommandLine(argc, argv, &command)) {
        return EXIT_USAGE;
    }
    if (command.help) {
        return PrintInformation(kUsage);
    }
    if (command.version) {
        return PrintInformation((std::string("ferryline-convert ") + ferryline_version() + "\n").c_str());
    }
    FerrylineOptions options;
    if (!ChooseOptions(command, &options)) {
        return EXIT_USAGE;
    }
    const DirectionEntry* chosen = nullptr;
    for (const DirectionEntry& direction : kDirections) {
        if (!command.info && strcmp(command.operands[0], direction.name) == 0) {
            chosen = &direction;
        }
    }
    if (!command.info && chosen == nullptr) {
        fprintf(stderr, "%sunknown direction %s; the directions are", kPrefix, command.operands[0]);
        for (const DirectionEntry& direction : kDirections) {
            fprintf(stderr, " %s", direction.name);
        }
        fputc('\n', stderr);
        SuggestHelp();
        return EXIT_USAGE;
    }

    PlatformPrepareStandardStreams();
    Listening listening{{std::string(), 0, std::string(), std::string()}, command.verbose, 0};
#ifdef FERRYLINE_PAUSE_HOOK
    // The reliability suite's build, which stops at a step of the output's commit to signal it there.
    PlatformObserver observer = {&listening.reason, NoteReason, nullptr, NoteBackupKept, PauseAtStep};
#else
    PlatformObserver observer = {&listening.reason, NoteReason, nullptr, NoteBackupKept, nullptr};
#endif
    PlatformRemoveTemporaryOnInterrupt(&observer);
    FerrylineFiles files = PlatformObservedFiles(&observer);
    // Changes are heard when listed, or counted for the line about letters lost to '?', which only a
    // conversion that reads letters can lose: not mac2win or win2mac copying bytes, the fastest, which
    // then need not describe a change nobody reads.
    const bool copiesBytes = command.info || ((chosen->direction == FERRYLINE_MAC_TO_WIN ||
                                               chosen->direction == FERRYLINE_WIN_TO_MAC) && !command.recode);
    FerrylineListener listener = {&listening, PrintMessage, command.verbose || !copiesBytes ? PrintChange : nullptr};
    FerrylineEnv env = {ferryline_system_alloc, nullptr, &listener};
    StandardStreams streams;
    OpenStandardStreams(&streams, &files, ferryline_system_alloc, nullptr, &observer);
    if (command.info) {
        std::string title = FileTitle(command.operands[0], "standard input");
        FerrylineInspection book;
        if (ferryline_inspect_file(command.operands[0], title.c_str(), &streams.files, &env, &book) != FERRYLINE_OK) {
            return EXIT_NOT_CONVERTED;
        }
        PrintInspection(title.c_str(), book);
        return EXIT_CONVERTED;
    }
    const char* input = command.operands[1];
    const char* output = command.operands[2];
    FerrylineLook look = {};
    options.force = command.force ? 1 : 0;
    std::string inputTitle = FileTitle(input, "standard input");
    std::string outputTitle = FileTitle(output, "standard output");
    FerrylineStatus status = ferryline_convert_file(chosen->direction, &options, input, inputTitle.c_str(), output,
                                                    outputTitle.c_str(), &streams.files, &env, &look);
    if (status == FERRYLINE_SAME_FILE) {
        return EXIT_NOT_CONVERTED;  // as in the Windows program, refused before any conversion is tried
    }
    if (status != FERRYLINE_OK) {
        PrintMessage(nullptr, FERRYLINE_ERROR, kConversionFailed);
        const char* rightDirection = RightDirection(chosen->direction, look.edition);
        if (status == FERRYLINE_WRONG_EDITION && rightDirection != nullptr) {
            fprintf(stderr, "%s%s converts it; -f converts it as a %s book all the same\n", kPrefix, rightDirection,
                    look.edition == FERRYLINE_EDITION_W95 ? "Macintosh" : "W95");
        }
        return EXIT_NOT_CONVERTED;
    }
    // Accented letters keep their bytes unless asked for: a book with any gets one hint.
    const bool converting = chosen->direction == FERRYLINE_MAC_TO_WIN || chosen->direction == FERRYLINE_WIN_TO_MAC;
    if (converting && !options.recode && look.bytesAbove127 > 0) {
        PrintRecodeHint(stderr, look.bytesAbove127);
    }
    // Letters lost to '?' are said even without -v, which lists them.
    if (listening.lettersLost > 0) {
        fprintf(stderr, "%s%" PRIu64 " %s letters that %s can't hold; they became \"?\"%s\n", kPrefix, listening.lettersLost,
                listening.lettersLost == 1 ? "entry has" : "entries have",
                WritesW95(chosen->direction) ? "Windows-1252" : "Mac OS Roman",
                command.verbose ? " (listed above)" : "; -v lists them");
    }
    return EXIT_CONVERTED;
}
