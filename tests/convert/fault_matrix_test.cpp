// Every call of every platform operation along a conversion, failed in turn, in both directions, with and
// without an earlier file under the output's name: the user is told exactly what failed and nothing
// else, and nothing is left open, held, half written or lost.
#include <gtest/gtest.h>

#include <stdio.h>

#include "convert/ferryline.h"
#include "support/test_support.h"

namespace {

// Four records and a trailer after the header, with a nameless line and a reserved character, so a
// failure must also keep both warnings from showing.
const char kMacBook[] =
    "Bob Smith <bob@example.org>\r\nanne@example.org\r\n\"Friends\" <GROUP@GROUP>\r\nC&D <cd@example.org>\r\n";
// Five lines, an entry without an address among them.
const char kW95Book[] =
    "&Main #Bob Smith ^bob@example.org &Friends #Dr. Who ^who@example.org #Nobody &Work #Ann ^ann@example.org +";
const char kExisting[] = "\"Kept\" <GROUP@GROUP>\r\nan address book from an earlier run <x@example.org>\r\n";

// Messages name files by their titles, which differ from the names on disk here.
const char kInputTitle[] = "Address Book.txt";
const char kOutputTitle[] = "Converted Book";
const char kOpenFailed[] = "error: Could not open the file Address Book.txt";
const char kAllocFailed[] = "error: Could not allocate memory to read file";
const char kReadFailed[] = "error: Could not read the file Address Book.txt";
const char kCreateFailed[] = "error: Could not create the output file Converted Book";
const char kWriteFailed[] = "error: Could not write to output file";
const char kConvertAllocFailed[] = "error: Could not allocate memory to convert the file";

// The input's block is the first allocation; the output's block comes after it.
const int kInputBlock = 1;

struct Injection {
    std::string what;
    FaultPlan plan;
    const char* message;  // null: the failure can't harm the conversion, which must succeed as usual
    bool afterCreate;     // the partial output exists when the failure is reported
};

const char* CallName(PlatformCall call)
{
    static const char* const kNames[CALL_COUNT] = {"",       "open",  "size",   "read",    "close input",
                                                   "create", "write", "commit", "discard", "allocation"};
    return kNames[call];
}

Injection Inject(PlatformCall call, int at, const char* message, bool afterCreate)
{
    return Injection{std::string(CallName(call)) + " #" + std::to_string(at), FailCall(call, at), message, afterCreate};
}

// One injection for every call that a clean conversion made, and a size no buffer can hold.
std::vector<Injection> InjectionsFor(const PlatformRecord& clean)
{
    std::vector<Injection> injections;
    for (int c = CALL_NONE + 1; c < CALL_COUNT; ++c) {
        PlatformCall call = static_cast<PlatformCall>(c);
        for (int at = 1; at <= clean.calls[call]; ++at) {
            switch (call) {
            case CALL_OPEN_INPUT:
                injections.push_back(Inject(call, at, kOpenFailed, false));
                break;
            case CALL_INPUT_SIZE:
            case CALL_READ:
                injections.push_back(Inject(call, at, kReadFailed, false));
                break;
            case CALL_ALLOC:
                injections.push_back(Inject(call, at, at == kInputBlock ? kAllocFailed : kConvertAllocFailed, false));
                break;
            case CALL_CREATE_OUTPUT:
                injections.push_back(Inject(call, at, kCreateFailed, false));
                break;
            case CALL_CLOSE_INPUT:
            case CALL_DISCARD:
                break;  // they can't fail
            default:
                injections.push_back(Inject(call, at, kWriteFailed, true));
                break;
            }
        }
    }
    Injection huge{"size too large to hold", FaultPlan(), kAllocFailed, false};
    huge.plan.hugeSize = true;
    injections.push_back(huge);
    return injections;
}

// The folder of one run: the input, and maybe an earlier output.
struct Run {
    ScratchFolder folder;
    std::string inputPath;
    std::string outputPath;
};

Run PrepareRun(const std::string& input, bool outputExisted)
{
    Run run{MakeScratchFolder(), "", ""};
    run.inputPath = PathIn(run.folder, "in.txt");
    run.outputPath = PathIn(run.folder, "out.txt");
    WriteBytes(run.inputPath, input);
    if (outputExisted) {
        WriteBytes(run.outputPath, kExisting);
    }
    return run;
}

// How many outputs were open, and how many files stood in the folder, when each message was delivered.
struct Watch {
    const ScratchFolder* folder;
    const TestEnv* test;
    std::vector<int> outputsAtMessage;
    std::vector<size_t> filesAtMessage;
};

void CountFiles(void* context)
{
    Watch* watch = static_cast<Watch*>(context);
    watch->outputsAtMessage.push_back(watch->test->record.outputsOpen);
    watch->filesAtMessage.push_back(ListFolder(*watch->folder).size());
}

int Convert(FerrylineDirection direction, const Run& run, TestEnv* test, Watch* watch)
{
    watch->folder = &run.folder;
    watch->test = test;
    test->onMessage = CountFiles;
    test->onMessageContext = watch;
    return ConvertFiles(test, direction, run.inputPath, kInputTitle, run.outputPath, kOutputTitle);
}

struct Tally {
    int injected;
    int handled;
};

// Fails every call of every operation in turn; each one that is handled in every respect counts.
void RunMatrix(FerrylineDirection direction, const std::string& input, Tally* tally)
{
    Run cleanRun = PrepareRun(input, false);
    TestEnv cleanTest;
    OpenTestEnv(&cleanTest, FaultPlan());
    Watch cleanWatch{nullptr, nullptr, {}, {}};
    ASSERT_EQ(Convert(direction, cleanRun, &cleanTest, &cleanWatch), 1);
    const PlatformRecord clean = cleanTest.record;
    const std::string converted = ReadBytes(cleanRun.outputPath);
    RemoveScratchFolder(cleanRun.folder);
    ASSERT_EQ(clean.calls[CALL_ALLOC], 2);
    ASSERT_GE(clean.calls[CALL_WRITE], 1);

    for (bool outputExisted : {false, true}) {
        for (const Injection& injection : InjectionsFor(clean)) {
            SCOPED_TRACE(injection.what + (outputExisted ? ", output existed" : ", new output"));
            Run run = PrepareRun(input, outputExisted);
            size_t filesBefore = outputExisted ? 2 : 1;
            TestEnv test;
            OpenTestEnv(&test, injection.plan);
            Watch watch{nullptr, nullptr, {}, {}};
            int result = Convert(direction, run, &test, &watch);
            const PlatformRecord& record = test.record;
            bool harmless = injection.message == nullptr;
            std::vector<std::string> expectedFolder{"in.txt"};
            if (outputExisted || harmless) {
                expectedFolder.push_back("out.txt");
            }

            bool ok = true;
            auto check = [&ok](bool holds, const char* what) {
                EXPECT_TRUE(holds) << what;
                ok = ok && holds;
            };
            check(result == (harmless ? 1 : 0), "the result tells the outcome");
            check(record.messages == (harmless ? clean.messages : std::vector<std::string>{injection.message}),
                  "exactly the failure's message, nothing more");
            // The partial output has no name where the system allows it, so it is seen as an open output.
            check(harmless || watch.outputsAtMessage == std::vector<int>{injection.afterCreate ? 1 : 0},
                  "the partial output still exists while the failure is shown, and only then");
            check(harmless || watch.filesAtMessage.size() != 1 || watch.filesAtMessage[0] <= filesBefore + 1,
                  "no file but the partial output is added before the failure is shown");
            check(record.inputsOpen == 0 && record.outputsOpen == 0, "every file opened is closed");
            check(record.blocksHeld == 0, "every block is freed");
            check(ListFolder(run.folder) == expectedFolder, "no new file is left in the folder");
            if (harmless) {
                check(ReadBytes(run.outputPath) == converted, "the output is complete");
            } else if (outputExisted) {
                check(ReadBytes(run.outputPath) == kExisting, "the earlier output is kept byte for byte");
            }
            check(ReadBytes(run.inputPath) == input, "the input is unchanged");
            RemoveScratchFolder(run.folder);
            ++tally->injected;
            tally->handled += ok ? 1 : 0;
        }
    }
}

TEST(FaultMatrix, EveryCallOfEveryOperationFailsCleanlyInBothDirections)
{
    Tally macToWin{0, 0};
    Tally winToMac{0, 0};
    {
        SCOPED_TRACE("Mac to Windows");
        RunMatrix(FERRYLINE_MAC_TO_WIN, kMacBook, &macToWin);
    }
    {
        SCOPED_TRACE("Windows to Mac");
        RunMatrix(FERRYLINE_WIN_TO_MAC, kW95Book, &winToMac);
    }
    printf("Mac to Windows: %d faults injected, %d handled\n", macToWin.injected, macToWin.handled);
    printf("Windows to Mac: %d faults injected, %d handled\n", winToMac.injected, winToMac.handled);
    printf("%d faults injected, %d handled\n", macToWin.injected + winToMac.injected,
           macToWin.handled + winToMac.handled);
    EXPECT_GT(macToWin.injected, 0);
    EXPECT_EQ(macToWin.handled, macToWin.injected);
    EXPECT_EQ(winToMac.handled, winToMac.injected);
}

}  // namespace
