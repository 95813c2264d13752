// ferryline-convert as a user runs it: a real process on real files.
#include <gtest/gtest.h>

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

TEST_F(Cli, WarningsGoToStandardErrorInOrder)
{
    WriteBytes(In("book.txt"), "a&b\r\n");
    Outcome run = RunCli(folder, "mac2win book.txt book.cv");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.\n"
              "Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. "
              "These now have \"No Name ##\"\nas their names so you will need to fix them within Corvella.\n");
}

TEST_F(Cli, VerboseListsEachChangeAsItHappens)
{
    WriteBytes(In("book.txt"), "Bob <A1>\r\nplain\r\nA&B <x>\r\n");
    Outcome run = RunCli(folder, "-v mac2win book.txt book.cv");
    EXPECT_EQ(run.status, 0);
    std::string changes = "line 2: no personal name, named \"No Name 01\": \"plain\" became \"No Name 01\" <plain>\n"
                          "line 3: reserved characters (&#^+) replaced with dashes: \"A&B\" <x> became \"A-B\" <x>\n";
    EXPECT_EQ(run.err.substr(0, changes.size()), changes) << "changes come before the warnings";
    EXPECT_NE(run.err.find("Some of the addresses contained invalid characters"), std::string::npos);

    WriteBytes(In("book.cv"), "&Main #Bob &G #Ann ^A2 #Cy +");
    run = RunCli(folder, "win2mac --verbose book.cv out.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "entry 1: \"Bob\" left out, it has no address\nentry 3: \"Cy\" left out, it has no address\n");
}

TEST_F(Cli, FailuresNameTheFileByItsTitleAndExitWithOne)
{
    Outcome run = RunCli(folder, "mac2win missing/nothing.txt out.cv");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string("Could not open the file nothing.txt\n") + kFailed);
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
    EXPECT_EQ(run.out, "ferryline-convert 1.0\n");
    run = RunCli(folder, "--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: ferryline-convert", 0), 0u);
    for (const char* wrong : {"", "mac2win a", "mac2win a b c", "towin a b", "--bogus mac2win a b", "mac2win '' b"}) {
        run = RunCli(folder, wrong);
        EXPECT_EQ(run.status, 2) << wrong;
        EXPECT_EQ(run.out, "") << wrong;
        EXPECT_NE(run.err.find("usage: ferryline-convert"), std::string::npos) << wrong;
    }
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
    EXPECT_EQ(run.err, std::string("Could not write to output file\n") + kFailed);
    EXPECT_EQ(ReadBytes(In("out.cv")), "kept");
    EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"book.txt", "out.cv"}));
}

TEST_F(Cli, ReadOnlyFolderGivesTheCreateMessage)
{
    WriteBytes(In("book.txt"), "Bob <A1>\r\n");
    Outcome run = RunCli(folder, "mac2win book.txt /proc/out.cv");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string("Could not create the output file out.cv\n") + kFailed);
}

}  // namespace
