// Every way the platform can fail along a conversion: the message, what is released, and that nothing
// is left behind or lost.
#include <gtest/gtest.h>

#include "convert/convert.h"
#include "support/test_support.h"

namespace {

const char kMacBook[] = "Bob <A1>\r\nAnn <A2>\r\n";  // written as header, two records, trailer
const char kW95Book[] = "&Main #Bob ^A1 &G #Ann ^A2 +";  // written as three lines
const char kExisting[] = "an address book that must survive";

const char kOpenFailed[] = "error: Could not open the file in.txt";
const char kAllocFailed[] = "error: Could not allocate memory to read file";
const char kReadFailed[] = "error: Could not read the file in.txt";
const char kCreateFailed[] = "error: Could not create the output file out.txt";
const char kWriteFailed[] = "error: Could not write to output file";

struct FailureCase {
    const char* what;
    FaultPlan plan;
    const char* message;
};

std::vector<FailureCase> FailuresFor(int writes)
{
    std::vector<FailureCase> cases;
    auto add = [&cases](const char* what, const char* message, void (*set)(FaultPlan*, int), int n) {
        FailureCase c{what, FaultPlan(), message};
        set(&c.plan, n);
        cases.push_back(c);
    };
    add("open", kOpenFailed, [](FaultPlan* p, int) { p->failOpen = true; }, 0);
    add("size", kReadFailed, [](FaultPlan* p, int) { p->failSize = true; }, 0);
    add("huge size", kAllocFailed, [](FaultPlan* p, int) { p->hugeSize = true; }, 0);
    add("allocation", kAllocFailed, [](FaultPlan* p, int) { p->failAlloc = true; }, 0);
    add("read", kReadFailed, [](FaultPlan* p, int) { p->failRead = true; }, 0);
    add("unwritable output", kCreateFailed, [](FaultPlan* p, int) { p->failProbe = true; }, 0);
    add("create", kCreateFailed, [](FaultPlan* p, int) { p->failCreate = true; }, 0);
    add("first write", kWriteFailed, [](FaultPlan* p, int) { p->failWriteAt = 1; }, 0);
    add("middle write", kWriteFailed, [](FaultPlan* p, int n) { p->failWriteAt = n; }, 2);
    add("last write", kWriteFailed, [](FaultPlan* p, int n) { p->failWriteAt = n; }, writes);
    add("short first write", kWriteFailed, [](FaultPlan* p, int) { p->shortWriteAt = 1; }, 0);
    add("short last write", kWriteFailed, [](FaultPlan* p, int n) { p->shortWriteAt = n; }, writes);
    add("closing the output", kWriteFailed, [](FaultPlan* p, int) { p->failClose = true; }, 0);
    add("final move", kWriteFailed, [](FaultPlan* p, int) { p->failReplace = true; }, 0);
    return cases;
}

void CheckFailures(Converter convert, const std::string& input, int writes)
{
    for (bool outputExisted : {false, true}) {
        for (const FailureCase& c : FailuresFor(writes)) {
            SCOPED_TRACE(std::string(c.what) + (outputExisted ? ", output existed" : ", new output"));
            ScratchFolder folder = MakeScratchFolder();
            std::string inputPath = PathIn(folder, "in.txt");
            std::string outputPath = PathIn(folder, "out.txt");
            WriteBytes(inputPath, input);
            if (outputExisted) {
                WriteBytes(outputPath, kExisting);
            }
            InstallTestPlatform(c.plan);
            int result = convert(inputPath.c_str(), "in.txt", outputPath.c_str(), "out.txt");
            RestorePlatform();
            const PlatformRecord& record = Recorded();

            EXPECT_EQ(result, 0);
            EXPECT_EQ(record.messages, std::vector<std::string>{c.message});
            EXPECT_EQ(record.opens, record.closes) << "a file was left open";
            EXPECT_EQ(record.allocations, record.frees) << "the buffer was not freed";
            EXPECT_EQ(ReadBytes(inputPath), input);
            std::vector<std::string> expected{"in.txt"};
            if (outputExisted) {
                expected.push_back("out.txt");
                EXPECT_EQ(ReadBytes(outputPath), kExisting);
            }
            EXPECT_EQ(ListFolder(folder), expected) << "something was left behind";
            RemoveScratchFolder(folder);
        }
    }
}

TEST(ConversionFrame, MacToWinFailuresLeaveNothingBehind)
{
    CheckFailures(ConvertMacToWin, kMacBook, 4);
}

TEST(ConversionFrame, WinToMacFailuresLeaveNothingBehind)
{
    CheckFailures(ConvertWinToMac, kW95Book, 3);
}

TEST(ConversionFrame, RejectedContentKeepsAnExistingOutput)
{
    ScratchFolder folder = MakeScratchFolder();
    std::string inputPath = PathIn(folder, "in.txt");
    std::string outputPath = PathIn(folder, "out.txt");
    WriteBytes(inputPath, "&Main #Bob ^A1 &Friends ");
    WriteBytes(outputPath, kExisting);
    InstallTestPlatform(FaultPlan());
    EXPECT_EQ(ConvertWinToMac(inputPath.c_str(), "in.txt", outputPath.c_str(), "out.txt"), 0);
    RestorePlatform();
    EXPECT_EQ(Recorded().allocations, Recorded().frees);
    EXPECT_EQ(Recorded().opens, Recorded().closes);
    EXPECT_EQ(ReadBytes(outputPath), kExisting);
    EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"in.txt", "out.txt"}));
    RemoveScratchFolder(folder);
}

TEST(ConversionFrame, SuccessReplacesTheOutputAndReleasesEverything)
{
    const struct {
        Converter convert;
        const char* input;
        const char* output;
    } cases[] = {
        {ConvertMacToWin, kMacBook, "&Main #Bob ^A1 #Ann ^A2 +"},
        {ConvertWinToMac, kW95Book, "Bob <A1>\r\n\"G\" <GROUP@GROUP>\r\nAnn <A2>\r\n"},
    };
    for (const auto& c : cases) {
        ScratchFolder folder = MakeScratchFolder();
        std::string inputPath = PathIn(folder, "in.txt");
        std::string outputPath = PathIn(folder, "out.txt");
        WriteBytes(inputPath, c.input);
        WriteBytes(outputPath, std::string(100000, 'x'));
        InstallTestPlatform(FaultPlan());
        EXPECT_EQ(c.convert(inputPath.c_str(), "in.txt", outputPath.c_str(), "out.txt"), 1);
        RestorePlatform();
        EXPECT_TRUE(Recorded().messages.empty());
        EXPECT_EQ(Recorded().allocations, 1);
        EXPECT_EQ(Recorded().frees, 1);
        EXPECT_EQ(Recorded().opens, Recorded().closes);
        EXPECT_EQ(ReadBytes(outputPath), c.output);
        EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"in.txt", "out.txt"}));
        RemoveScratchFolder(folder);
    }
}

TEST(ConversionFrame, LongFileTitlesAppearWholeInMessages)
{
    std::string title(3000, 't');
    InstallTestPlatform(FaultPlan());
    ConvertMacToWin("/no/such/folder/in.txt", title.c_str(), "/no/such/folder/out.txt", "out.txt");
    RestorePlatform();
    EXPECT_EQ(Recorded().messages, std::vector<std::string>{"error: Could not open the file " + title});
}

TEST(ConversionFrame, OutputInAMissingFolderCannotBeCreated)
{
    ScratchFolder folder = MakeScratchFolder();
    std::string inputPath = PathIn(folder, "in.txt");
    WriteBytes(inputPath, kMacBook);
    std::string outputPath = PathIn(folder, "missing/out.txt");
    InstallTestPlatform(FaultPlan());
    EXPECT_EQ(ConvertMacToWin(inputPath.c_str(), "in.txt", outputPath.c_str(), "out.txt"), 0);
    RestorePlatform();
    EXPECT_EQ(Recorded().messages, std::vector<std::string>{kCreateFailed});
    EXPECT_EQ(Recorded().allocations, Recorded().frees);
    RemoveScratchFolder(folder);
}

}  // namespace
