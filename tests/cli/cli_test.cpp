// ferryline-convert as a user runs it: a real process on real files.
#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the converter through the shell in `folder`; `arguments` is shell text.
Outcome RunCli(const ScratchFolder& folder, const std::string& arguments, const std::string& prefix = "")
{
    std::string command = "cd '" + folder.path + "' && " + prefix + "'" FERRYLINE_CONVERT "' " + arguments +
                          " >.stdout 2>.stderr";
    int raw = std::system(command.c_str());
    Outcome outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadBytes(PathIn(folder, ".stdout")),
                    ReadBytes(PathIn(folder, ".stderr"))};
    unlink(PathIn(folder, ".stdout").c_str());
    unlink(PathIn(folder, ".stderr").c_str());
    return outcome;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override { folder = MakeScratchFolder(); }
    void TearDown() override { RemoveScratchFolder(folder); }
    std::string In(const std::string& name) { return PathIn(folder, name); }
    ScratchFolder folder;
};

const char kFailed[] = "An error occurred while converting the file\n";

TEST_F(Cli, ConvertsBothWays)
{
    WriteBytes(In("book.txt"), "Bob Smith <A1>\r\n\"Dr. Who\" <A2>\r\n\"Friends\" <GROUP@GROUP>\r\n");
    Outcome toWin = RunCli(folder, "mac2win book.txt book.cv");
    EXPECT_EQ(toWin.status, 0);
    EXPECT_EQ(toWin.out, "");
    EXPECT_EQ(toWin.err, "");
    EXPECT_EQ(ReadBytes(In("book.cv")), "&Main #Bob Smith ^A1 #Dr. Who ^A2 &Friends +");
    Outcome toMac = RunCli(folder, "win2mac book.cv back.txt");
    EXPECT_EQ(toMac.status, 0);
    EXPECT_EQ(ReadBytes(In("back.txt")), ReadBytes(In("book.txt")));
}

TEST_F(Cli, WarningsGoToStandardErrorInOrderOneALine)
{
    WriteBytes(In("book.txt"), "a&b\r\n");
    Outcome run = RunCli(folder, "mac2win book.txt book.cv");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "Some of the addresses contained invalid characters (&#^+). These characters were replaced with dashes.\n"
              "Some of the addresses did not have personal names, which are required by Corvella for Windows. "
              "These now have \"No Name ##\" as their names so you will need to fix them within Corvella.\n");
}

TEST_F(Cli, VerboseListsEachChangeAsItHappens)
{
    WriteBytes(In("book.txt"), "Bob <A1>\r\nplain\r\nA&B <x>\r\n");
    Outcome run = RunCli(folder, "-v mac2win book.txt book.cv");
    EXPECT_EQ(run.status, 0);
    std::string changes = "ferryline-convert: line 2: no personal name, named \"No Name 01\": \"plain\" became "
                          "\"No Name 01\" <plain>\n"
                          "ferryline-convert: line 3: reserved characters (&#^+) replaced with dashes: \"A&B\" <x> "
                          "became \"A-B\" <x>\n";
    EXPECT_EQ(run.err.substr(0, changes.size()), changes) << "changes come before the warnings";
    EXPECT_NE(run.err.find("Some of the addresses contained invalid characters"), std::string::npos);

    WriteBytes(In("book.cv"), "&Main #Bob &G #Ann ^A2 #Cy +");
    run = RunCli(folder, "win2mac --verbose book.cv out.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "ferryline-convert: entry 1: \"Bob\" left out, it has no address\n"
                       "ferryline-convert: entry 3: \"Cy\" left out, it has no address\n");
}

const char kRecodeHint[] = " bytes above 127 (accented letters?) are copied unchanged; --recode converts them "
                           "between the editions' character sets\n";

TEST_F(Cli, ABookOfTheOtherEditionIsRefusedUnlessForcedWithTheRightDirectionNamed)
{
    WriteBytes(In("book.cv"), "&Main #Bob ^A1 +");
    WriteBytes(In("book.txt"), "Bob <A1>\r\n");
    const std::string w95 = "The file book.cv is a Corvella W95 address book, not a Macintosh one.\n";
    const std::string mac = "The file book.txt is a Macintosh address book, not a Corvella W95 one.\n";
    const struct {
        const char* command;
        std::string refusal;
        const char* hint;
        const char* forced;  // the start of what -f writes
    } cases[] = {
        {"mac2win book.cv", w95, "win2mac converts it; -f converts it as a Macintosh book", "&Main #No Name 01 ^-Main -Bob -A1 - +"},
        {"mac2vcf book.cv", w95, "win2vcf converts it; -f converts it as a Macintosh book", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:&Main"},
        {"mac2csv book.cv", w95, "win2csv converts it; -f converts it as a Macintosh book", "\xEF\xBB\xBF"},
        {"win2vcf book.txt", mac, "mac2vcf converts it; -f converts it as a W95 book", ""},
        {"win2csv book.txt", mac, "mac2csv converts it; -f converts it as a W95 book", ""},
    };
    for (const auto& c : cases) {
        Outcome run = RunCli(folder, std::string(c.command) + " out");
        EXPECT_EQ(run.status, 1) << c.command;
        EXPECT_EQ(run.err, c.refusal + kFailed + "ferryline-convert: " + c.hint + " all the same\n") << c.command;
        EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"book.cv", "book.txt"})) << c.command;
        if (c.forced[0] != '\0') {
            run = RunCli(folder, std::string("-f ") + c.command + " out");
            EXPECT_EQ(run.status, 0) << c.command;
            EXPECT_EQ(ReadBytes(In("out")).compare(0, strlen(c.forced), c.forced), 0) << c.command;
            remove(In("out").c_str());
        }
    }
    Outcome run = RunCli(folder, "--force mac2win - out.cv <book.cv");
    EXPECT_EQ(run.status, 0);
}

// What the command line prints is UTF-8 with no control character: a file name's escape sequence and
// a Mac OS Roman name alike.
TEST_F(Cli, FileNamesAndChangesReachTheTerminalAsUtf8WithoutControls)
{
    WriteBytes(In("a\x1B[7mX.txt"), "Zo\x91 & Co <z@x>\r\n");
    const struct {
        const char* arguments;
        const char* line;  // a line the run prints
    } cases[] = {
        {"-i \"$(printf 'a\\033[7mX.txt')\"", "a\\x1b[7mX.txt: a Macintosh address book\n"},
        {"-v mac2win \"$(printf 'a\\033[7mX.txt')\" out.cv",
         "ferryline-convert: line 1: reserved characters (&#^+) replaced with dashes: \"Zo\xC3\xAB & Co\" <z@x> "
         "became \"Zo\xC3\xAB - Co\" <z@x>\n"},
        {"win2vcf \"$(printf 'a\\033[7mX.txt')\" out.vcf",
         "The file a\\x1b[7mX.txt is a Macintosh address book, not a Corvella W95 one.\n"},
    };
    for (const auto& c : cases) {
        Outcome run = RunCli(folder, c.arguments);
        std::string printed = run.out + run.err;
        EXPECT_NE(printed.find(c.line), std::string::npos) << printed;
        EXPECT_EQ(printed.find('\x1B'), std::string::npos) << printed;
    }
}

TEST_F(Cli, UnicodeTextIsRefusedBothWaysAndAccentsGetOneHint)
{
    WriteBytes(In("book.txt"), std::string("\xFF\xFE" "B\0o\0b\0", 8));
    for (const char* direction : {"mac2win", "win2mac"}) {
        Outcome run = RunCli(folder, std::string(direction) + " book.txt out");
        EXPECT_EQ(run.status, 1) << direction;
        EXPECT_EQ(run.err, std::string("The file book.txt is saved as Unicode (UTF-16) and can't be converted byte by "
                                       "byte. Save it as ANSI text, or have its accented letters converted.\n") +
                               kFailed);
    }
    WriteBytes(In("book.txt"), "Ren\x8E C\x99t\x8E <r@x>\r\n");
    Outcome run = RunCli(folder, "mac2win book.txt out.cv");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, std::string("ferryline-convert: 3") + kRecodeHint);
    run = RunCli(folder, "-i book.txt");
    EXPECT_NE(run.out.find("bytes above 127: 3, they look like Mac OS Roman\nbyte order mark: none\n"
                           "ferryline-convert: 3" + std::string(kRecodeHint)),
              std::string::npos);
    // Letters that --recode turned into '?' get a line of their own, -v or not; none lost, no line.
    WriteBytes(In("lost.txt"), "Ann <a@x>\r\n\xCF\x80\xE2\x88\x9E <b@x>\r\n\xC5\x81ukasz <c@x>\r\n");
    WriteBytes(In("lost.cv"), "&Main #\x8A\xE9 ^a@x +");
    WriteBytes(In("lost.vcf"), "BEGIN:VCARD\r\nFN:\xE2\x98\x83 Snow\r\nEMAIL:s@x\r\nEND:VCARD\r\n");
    const struct {
        const char* arguments;
        const char* err;
    } kLost[] = {
        {"--recode mac2win lost.txt out.cv",
         "ferryline-convert: 2 entries have letters that Windows-1252 can't hold; they became \"?\"; -v lists them\n"},
        {"-v --recode mac2win lost.txt out.cv",
         "ferryline-convert: line 2: \"\xCF\x80\xE2\x88\x9E <b@x>\": 2 characters that Windows-1252 can't hold became \"?\"\n"
         "ferryline-convert: line 3: \"\xC5\x81ukasz <c@x>\": 1 character that Windows-1252 can't hold became \"?\"\n"
         "ferryline-convert: 2 entries have letters that Windows-1252 can't hold; they became \"?\" (listed above)\n"},
        {"--recode win2mac lost.cv out.txt",
         "ferryline-convert: 1 entry has letters that Mac OS Roman can't hold; they became \"?\"; -v lists them\n"},
        {"--recode mac2win book.txt out.cv", ""},
        {"vcf2win lost.vcf out2.cv",
         "ferryline-convert: 1 entry has letters that Windows-1252 can't hold; they became \"?\"; -v lists them\n"},
    };
    for (const auto& lost : kLost) {
        run = RunCli(folder, lost.arguments);
        EXPECT_EQ(run.status, 0) << lost.arguments;
        EXPECT_EQ(run.err, lost.err) << lost.arguments;
    }
}

struct InfoCase {
    std::string book;
    std::string report;
};

TEST_F(Cli, InfoTellsWhatABookHoldsAndWritesNothing)
{
    const InfoCase cases[] = {
        {ReadBytes(FERRYLINE_SAMPLES "/mac-book.txt"),
         "book: a Macintosh address book\nentries: 7\ngroups: 2\nnameless lines: 1\n"
         "lines with reserved characters (&#^+): 1\nentries without an address: 0\ngroups named \"Main\": 0\n"
         "longest line: 41 bytes (line 2)\nline ends: CR LF 9, LF 0, CR 0\nzero bytes: 0\nbytes above 127: 0\n"
         "byte order mark: none\n"},
        {ReadBytes(FERRYLINE_SAMPLES "/w95-book.cv"),
         "book: a W95 address book\nentries: 7\ngroups: 2\nnameless lines: 0\n"
         "lines with reserved characters (&#^+): 0\nentries without an address: 1\ngroups named \"Main\": 0\n"
         "longest line: 238 bytes (line 1)\nline ends: CR LF 0, LF 0, CR 0\nzero bytes: 0\nbytes above 127: 0\n"
         "byte order mark: none\n"},
        {std::string("\xFE\xFF\0B\0o\0b\0\n", 10),
         "book: a Macintosh address book in Unicode (UTF-16), converted only with --recode\nlongest line: 9 bytes (line 1)\n"
         "line ends: CR LF 0, LF 1, CR 0\nzero bytes: 4\nbytes above 127: 2\nbyte order mark: UTF-16 big-endian\n"},
    };
    for (const InfoCase& c : cases) {
        WriteBytes(In("book"), c.book);
        for (const char* option : {"-i book", "--info - <book"}) {
            Outcome run = RunCli(folder, option);
            EXPECT_EQ(run.status, 0) << option;
            std::string report = c.report;
            if (option[1] == '-') {
                report.replace(0, 4, "standard input");
            }
            EXPECT_EQ(run.out, report) << option;
            EXPECT_EQ(run.err, "") << option;
        }
    }
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"book"});
    Outcome run = RunCli(folder, "-i missing.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Could not open the file missing.txt\nferryline-convert: missing.txt: No such file or directory\n");
    for (const char* wrong : {"-i", "-i a b", "--info mac2win a b"}) {
        EXPECT_EQ(RunCli(folder, wrong).status, 2) << wrong;
    }
}

TEST_F(Cli, FailuresNameTheFileByItsTitleAndExitWithOne)
{
    Outcome run = RunCli(folder, "mac2win missing/nothing.txt out.cv");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string("Could not open the file nothing.txt\n"
                                   "ferryline-convert: missing/nothing.txt: No such file or directory\n") +
                           kFailed);
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{});

    WriteBytes(In("bad.cv"), "&Main #Bob ^A1 ");
    WriteBytes(In("out.txt"), "kept");
    run = RunCli(folder, "win2mac bad.cv out.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string("The file bad.cv is not a Corvella W95 address book or is corrupt.\n") + kFailed);
    EXPECT_EQ(ReadBytes(In("out.txt")), "kept");
    EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"bad.cv", "out.txt"}));
}

TEST_F(Cli, RefusesToConvertAFileOntoItself)
{
    WriteBytes(In("book.txt"), "Bob <A1>\r\n");
    ASSERT_EQ(symlink("book.txt", In("link.txt").c_str()), 0);
    ASSERT_EQ(link(In("book.txt").c_str(), In("hard.txt").c_str()), 0);
    for (const char* output : {"book.txt", "./book.txt", "link.txt", "hard.txt", "../$(basename $PWD)/book.txt"}) {
        Outcome run = RunCli(folder, std::string("mac2win book.txt ") + output);
        EXPECT_EQ(run.status, 1) << output;
        EXPECT_EQ(run.err, "Input and output file must be different.\n") << output;
        EXPECT_EQ(ReadBytes(In("book.txt")), "Bob <A1>\r\n");
    }
}

TEST_F(Cli, StandardStreams)
{
    WriteBytes(In("book.txt"), "Bob <A1>\r\n");
    Outcome run = RunCli(folder, "mac2win - - <book.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "&Main #Bob ^A1 +");

    run = RunCli(folder, "mac2win book.txt - | cat", "");
    EXPECT_EQ(run.out, "&Main #Bob ^A1 +");

    // A rejected book writes nothing at all to standard output.
    run = RunCli(folder, "win2mac - - <book.txt");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("The file standard input is not a Corvella W95 address book or is corrupt.\n") +
                           kFailed);
}

TEST_F(Cli, UsageAndVersion)
{
    Outcome run = RunCli(folder, "--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("ferryline-convert ") + FERRYLINE_VERSION + "\n");
    run = RunCli(folder, "--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: ferryline-convert", 0), 0u);
    for (const char* refused : {"--help", "--version"}) {
        run = RunCli(folder, refused, "sh -c '\"$0\" \"$@\" >/dev/full' ");
        EXPECT_EQ(run.status, 1) << refused;
        EXPECT_EQ(run.err, "ferryline-convert: standard output: No space left on device\n") << refused;
    }
    // Each usage error says what was wrong, and where to read more, not the whole help.
    struct Wrong {
        const char* arguments;
        const char* reason;
    };
    const Wrong kWrong[] = {
        {"", "missing a direction, an input and an output"},
        {"mac2win", "missing an input and an output"},
        {"mac2win a", "missing an output"},
        {"mac2win a b c", "too many arguments, from c on"},
        {"towin a b", "unknown direction towin; the directions are mac2win win2mac mac2vcf win2vcf mac2csv win2csv vcf2mac vcf2win csv2mac csv2win mac2ldif win2ldif"},
        {"--bogus mac2win a b", "unknown option --bogus"},
        {"mac2win '' b", "the input file name is empty"},
        {"mac2win a ''", "the output file name is empty"},
        {"-- -v mac2win a", "unknown direction -v; the directions are mac2win win2mac mac2vcf win2vcf mac2csv win2csv vcf2mac vcf2win csv2mac csv2win mac2ldif win2ldif"},
        {"--vcard 5 mac2vcf a b", "5 is not a choice here; see the options in --help"},
        {"--csv excel mac2csv a b", "excel is not a choice here; see the options in --help"},
        {"--charset utf-8 --vcard 3.0 mac2vcf a b --charset", "--charset needs a word after it"},
    };
    for (const Wrong& wrong : kWrong) {
        run = RunCli(folder, wrong.arguments);
        EXPECT_EQ(run.status, 2) << wrong.arguments;
        EXPECT_EQ(run.out, "") << wrong.arguments;
        EXPECT_EQ(run.err, std::string("ferryline-convert: ") + wrong.reason +
                               "\nferryline-convert: Try 'ferryline-convert --help' for more information.\n");
    }
    // After --, a word that looks like an option is a file.
    WriteBytes(In("-v"), "Bob <A1>\r\n");
    run = RunCli(folder, "-- mac2win -v --help");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(In("--help")), "&Main #Bob ^A1 +");
}

TEST_F(Cli, FileSizeLimitFailsTheConversionWithoutKillingIt)
{
    std::string book;
    for (int i = 0; i < 20000; ++i) {
        book += "Somebody Quite Long <somebody.quite.long@example.org>\r\n";
    }
    WriteBytes(In("book.txt"), book);
    WriteBytes(In("out.cv"), "kept");
    Outcome run = RunCli(folder, "mac2win book.txt out.cv", "ulimit -f 100 && ");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string("Could not write to output file\nferryline-convert: out.cv: File too large\n") + kFailed);
    EXPECT_EQ(ReadBytes(In("out.cv")), "kept");
    EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"book.txt", "out.cv"}));
}

TEST_F(Cli, ReadOnlyFolderGivesTheCreateMessage)
{
    WriteBytes(In("book.txt"), "Bob <A1>\r\n");
    Outcome run = RunCli(folder, "mac2win book.txt /proc/out.cv");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string("Could not create the output file out.cv\n"
                                   "ferryline-convert: /proc/out.cv: No such file or directory\n") +
                           kFailed);
}

}  // namespace

// The address sanitizer, which builds the converter in the sanitize preset, reserves more address space
// than any of these limits leaves.
#if defined(__SANITIZE_ADDRESS__)
#define FERRYLINE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FERRYLINE_UNDER_ASAN 1
#endif
#endif

// A memory limit that leaves no room for the book, or for the held output, is a clear failure and
// leaves nothing behind; with room for the input and one output block, a line of any length converts.
TEST(CliMemory, ALimitedMemoryIsToldAndLeavesNothing)
{
#ifdef FERRYLINE_UNDER_ASAN
    GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#else
    ScratchFolder folder = MakeScratchFolder();
    WriteBytes(PathIn(folder, "line.txt"), std::string(60 << 20, 'x'));
    const struct {
        const char* limit;
        const char* output;
        int status;
        const char* err;
    } cases[] = {
        {"ulimit -v 40000; ", "out.cv", 1, "Could not allocate memory to read file\n"},
        {"ulimit -v 100000; ", "-", 1, "Could not allocate memory to convert the file\n"},
        {"ulimit -v 100000; ", "out.cv", 0, "Some of the addresses did not have personal names"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.limit) + c.output);
        Outcome run = RunCli(folder, std::string("mac2win line.txt ") + c.output, c.limit);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err.compare(0, strlen(c.err), c.err), 0) << run.err;
        std::vector<std::string> expected{"line.txt"};
        if (c.status == 0) {
            expected.push_back(c.output);
        }
        EXPECT_EQ(ListFolder(folder), expected);
        unlink(PathIn(folder, c.output).c_str());
    }
    RemoveScratchFolder(folder);
#endif
}
