// Conversions between real files: what replaces the output, what is kept, what is released, and what
// the messages say. Every failure of every operation is in the fault matrix.
#include <gtest/gtest.h>

#include "convert/ferryline.h"
#include "support/test_support.h"

namespace {

const char kMacBook[] = "Bob <A1>\r\nAnn <A2>\r\n";  // written as header, two records, trailer
const char kW95Book[] = "&Main #Bob ^A1 &G #Ann ^A2 +";  // written as three lines
const char kExisting[] = "an address book that must survive";

const char kCreateFailed[] = "error: Could not create the output file out.txt";

TEST(ConversionFrame, RejectedContentKeepsAnExistingOutput)
{
    ScratchFolder folder = MakeScratchFolder();
    std::string inputPath = PathIn(folder, "in.txt");
    std::string outputPath = PathIn(folder, "out.txt");
    WriteBytes(inputPath, "&Main #Bob ^A1 &Friends ");
    WriteBytes(outputPath, kExisting);
    TestEnv test;
    OpenTestEnv(&test, FaultPlan());
    EXPECT_EQ(ConvertFiles(&test, FERRYLINE_WIN_TO_MAC, inputPath, "in.txt", outputPath, "out.txt"), FERRYLINE_NOT_A_BOOK);
    EXPECT_EQ(test.record.blocksHeld, 0);
    EXPECT_EQ(test.record.inputsOpen + test.record.outputsOpen, 0);
    EXPECT_EQ(ReadBytes(outputPath), kExisting);
    EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"in.txt", "out.txt"}));
    RemoveScratchFolder(folder);
}

TEST(ConversionFrame, SuccessReplacesTheOutputAndReleasesEverything)
{
    const struct {
        FerrylineDirection direction;
        const char* input;
        const char* output;
    } cases[] = {
        {FERRYLINE_MAC_TO_WIN, kMacBook, "&Main #Bob ^A1 #Ann ^A2 +"},
        {FERRYLINE_WIN_TO_MAC, kW95Book, "Bob <A1>\r\n\"G\" <GROUP@GROUP>\r\nAnn <A2>\r\n"},
    };
    for (const auto& c : cases) {
        ScratchFolder folder = MakeScratchFolder();
        std::string inputPath = PathIn(folder, "in.txt");
        std::string outputPath = PathIn(folder, "out.txt");
        WriteBytes(inputPath, c.input);
        WriteBytes(outputPath, std::string(100000, 'x'));
        TestEnv test;
        OpenTestEnv(&test, FaultPlan());
        EXPECT_EQ(ConvertFiles(&test, c.direction, inputPath, "in.txt", outputPath, "out.txt"), FERRYLINE_OK);
        EXPECT_TRUE(test.record.messages.empty());
        EXPECT_EQ(test.record.calls[CALL_ALLOC], 2) << "the input's block and the output's";
        EXPECT_EQ(test.record.blocksHeld, 0);
        EXPECT_EQ(test.record.inputsOpen + test.record.outputsOpen, 0);
        EXPECT_EQ(ReadBytes(outputPath), c.output);
        EXPECT_EQ(ListFolder(folder), (std::vector<std::string>{"in.txt", "out.txt"}));
        RemoveScratchFolder(folder);
    }
}

TEST(ConversionFrame, TheInputNamedAsOutputIsRefusedBeforeItIsOpened)
{
    ScratchFolder folder = MakeScratchFolder();
    std::string inputPath = PathIn(folder, "in.txt");
    WriteBytes(inputPath, kMacBook);
    for (const std::string& output : {inputPath, PathIn(folder, "./in.txt")}) {
        TestEnv test;
        OpenTestEnv(&test, FaultPlan());
        EXPECT_EQ(ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, inputPath, "in.txt", output, "in.txt"), FERRYLINE_SAME_FILE);
        EXPECT_EQ(test.record.messages, std::vector<std::string>{"error: Input and output file must be different."});
        EXPECT_EQ(test.record.calls[CALL_OPEN_INPUT] + test.record.calls[CALL_CREATE_OUTPUT], 0);
    }
    EXPECT_EQ(ReadBytes(inputPath), kMacBook);
    RemoveScratchFolder(folder);
}

TEST(ConversionFrame, LongFileTitlesAppearWholeInMessages)
{
    std::string title(3000, 't');
    TestEnv test;
    OpenTestEnv(&test, FaultPlan());
    ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, "/no/such/folder/in.txt", title.c_str(), "/no/such/folder/out.txt",
                 "out.txt");
    EXPECT_EQ(test.record.messages, std::vector<std::string>{"error: Could not open the file " + title});
}

TEST(ConversionFrame, OutputInAMissingFolderCannotBeCreated)
{
    ScratchFolder folder = MakeScratchFolder();
    std::string inputPath = PathIn(folder, "in.txt");
    WriteBytes(inputPath, kMacBook);
    std::string outputPath = PathIn(folder, "missing/out.txt");
    TestEnv test;
    OpenTestEnv(&test, FaultPlan());
    EXPECT_EQ(ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, inputPath, "in.txt", outputPath, "out.txt"),
              FERRYLINE_COULD_NOT_CREATE);
    EXPECT_EQ(test.record.messages, std::vector<std::string>{kCreateFailed});
    EXPECT_EQ(test.record.blocksHeld, 0);
    RemoveScratchFolder(folder);
}

}  // namespace
