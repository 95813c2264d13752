// Every call of every platform operation along a conversion, failed in turn, in both directions, with and
// without an earlier file under the output's name: the user is told exactly what failed and nothing
// else, and nothing is left open, held, half written or lost.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>

#include <algorithm>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

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
    FerrylineStatus status;
    bool afterCreate;     // the partial output exists when the failure is reported
};

const char* CallName(PlatformCall call)
{
    static const char* const kNames[CALL_COUNT] = {"",       "open",  "size",   "read",    "close input",
                                                   "create", "write", "commit", "discard", "allocation"};
    return kNames[call];
}

Injection Inject(PlatformCall call, int at, const char* message, FerrylineStatus status, bool afterCreate)
{
    return Injection{std::string(CallName(call)) + " #" + std::to_string(at), FailCall(call, at), message, status,
                     afterCreate};
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
                injections.push_back(Inject(call, at, kOpenFailed, FERRYLINE_COULD_NOT_OPEN, false));
                break;
            case CALL_INPUT_SIZE:
            case CALL_READ:
                injections.push_back(Inject(call, at, kReadFailed, FERRYLINE_COULD_NOT_READ, false));
                break;
            case CALL_ALLOC:
                injections.push_back(Inject(call, at, at == kInputBlock ? kAllocFailed : kConvertAllocFailed,
                                            FERRYLINE_NO_MEMORY, false));
                break;
            case CALL_CREATE_OUTPUT:
                injections.push_back(Inject(call, at, kCreateFailed, FERRYLINE_COULD_NOT_CREATE, false));
                break;
            case CALL_CLOSE_INPUT:
            case CALL_DISCARD:
                break;  // they can't fail
            default:
                injections.push_back(Inject(call, at, kWriteFailed, FERRYLINE_COULD_NOT_WRITE, true));
                break;
            }
        }
    }
    Injection huge{"size too large to hold", FaultPlan(), kAllocFailed, FERRYLINE_NO_MEMORY, false};
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

// How many outputs were open, and how many files stood in the folder beside the named temporary
// files, when each message was delivered.
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
    watch->filesAtMessage.push_back(ListFolder(*watch->folder).size() -
                                    static_cast<size_t>(watch->test->record.namedTemporaries));
}

FerrylineStatus Convert(FerrylineDirection direction, const Run& run, TestEnv* test, Watch* watch)
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
    ASSERT_EQ(Convert(direction, cleanRun, &cleanTest, &cleanWatch), FERRYLINE_OK);
    const PlatformRecord clean = cleanTest.record;
    const std::string converted = ReadBytes(cleanRun.outputPath);
    RemoveScratchFolder(cleanRun.folder);
    ASSERT_EQ(clean.calls[CALL_ALLOC], 2);
    ASSERT_GE(clean.calls[CALL_WRITE], 1);

    // Where the system can write a file without a name, the matrix runs once more with that refused.
    for (bool unnamedRefused : {false, true})
    for (bool outputExisted : {false, true}) {
        for (const Injection& injection : InjectionsFor(clean)) {
            SCOPED_TRACE(injection.what + (outputExisted ? ", output existed" : ", new output") +
                         (unnamedRefused ? ", named temporary file" : ""));
            Run run = PrepareRun(input, outputExisted);
            size_t filesBefore = outputExisted ? 2 : 1;
            TestEnv test;
            FaultPlan plan = injection.plan;
            plan.refusedSteps = unnamedRefused ? 1u << PLATFORM_STEP_UNNAMED_FILE : 0;
            plan.refusedError = EOPNOTSUPP;
            OpenTestEnv(&test, plan);
            Watch watch{nullptr, nullptr, {}, {}};
            FerrylineStatus status = Convert(direction, run, &test, &watch);
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
            check(status == (harmless ? FERRYLINE_OK : injection.status), "the status tells what failed");
            check(record.messages == (harmless ? clean.messages : std::vector<std::string>{injection.message}),
                  "exactly the failure's message, nothing more");
            // The partial output may have no name, so it is seen as an open output.
            check(harmless || watch.outputsAtMessage == std::vector<int>{injection.afterCreate ? 1 : 0},
                  "the partial output still exists while the failure is shown, and only then");
            check(harmless || watch.filesAtMessage == std::vector<size_t>{filesBefore},
                  "no file but a named temporary one is added before the failure is shown");
            check(record.namedTemporaries == 0, "no temporary file is left named");
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

#ifndef _WIN32
// The replaced file as the system knows it: which file it is, and who may do what with it.
struct Identity {
    ino_t inode;
    uid_t owner;
    gid_t group;
    mode_t mode;
    std::string note;  // its user.note attribute
};

Identity IdentityOf(const std::string& path)
{
    struct stat info = {};
    lstat(path.c_str(), &info);
    char note[64] = {};
    ssize_t size = getxattr(path.c_str(), "user.note", note, sizeof note - 1);
    return Identity{info.st_ino, info.st_uid, info.st_gid, info.st_mode, size > 0 ? std::string(note) : ""};
}

bool operator==(const Identity& a, const Identity& b)
{
    return a.inode == b.inode && a.owner == b.owner && a.group == b.group && a.mode == b.mode && a.note == b.note;
}

// A link planted under the output's name just before the commit, pointing at a file elsewhere.
struct Planting {
    std::string outputPath;
    std::string victimPath;
};

void PlantLink(void* context)
{
    Planting* planting = static_cast<Planting*>(context);
    unlink(planting->outputPath.c_str());
    symlink(planting->victimPath.c_str(), planting->outputPath.c_str());
}

enum Earlier { NO_EARLIER, EARLIER_FILE, EARLIER_HARD_LINKED, EARLIER_NOBODYS, EARLIER_MODE_0640, EARLIER_NOTED };

struct StepCase {
    const char* what;
    Earlier earlier;
    unsigned refused;  // 1 << PlatformStep
    bool plantLink;
    int result;
    bool sameFile;     // the output is the earlier file, overwritten in place
    bool backupKept;
};

const unsigned kOwner = 1u << PLATFORM_STEP_SET_OWNER;
const unsigned kMode = 1u << PLATFORM_STEP_SET_MODE;
const unsigned kAttributes = 1u << PLATFORM_STEP_SET_ATTRIBUTES;
const unsigned kBackup = 1u << PLATFORM_STEP_BACKUP;
const unsigned kInPlace = 1u << PLATFORM_STEP_WRITE_IN_PLACE;
const unsigned kRestore = 1u << PLATFORM_STEP_RESTORE;
const unsigned kUnnamed = 1u << PLATFORM_STEP_UNNAMED_FILE;

const StepCase kStepCases[] = {
    {"an earlier file is replaced by another", EARLIER_FILE, 0, false, 1, false, false},
    {"owner refused (another user's file): written in place", EARLIER_NOBODYS, kOwner, false, 1, true, false},
    {"mode refused: written in place", EARLIER_MODE_0640, kMode, false, 1, true, false},
    {"attributes refused: written in place", EARLIER_NOTED, kAttributes, false, 1, true, false},
    {"attributes copied by the rename", EARLIER_NOTED, 0, false, 1, false, false},
    {"a hard-linked file is written in place", EARLIER_HARD_LINKED, 0, false, 1, true, false},
    {"the same, from a named temporary file", EARLIER_HARD_LINKED, kUnnamed, false, 1, true, false},
    {"copying to the backup fails: nothing is written in place", EARLIER_HARD_LINKED, kBackup, false, 0, true, false},
    {"writing in place fails: the earlier content is put back", EARLIER_HARD_LINKED, kInPlace, false, 0, true, false},
    {"putting it back fails too: the backup is kept", EARLIER_HARD_LINKED, kInPlace | kRestore, false, 0, true, true},
    {"a link planted under a new output's name is left alone", NO_EARLIER, 0, true, 0, false, false},
    {"the same, from a named temporary file", NO_EARLIER, kUnnamed, true, 0, false, false},
    {"a link planted over an earlier output is replaced, not followed", EARLIER_FILE, 0, true, 1, false, false},
};

TEST(FaultMatrix, TheSystemsOwnStepsRefusedKeepTheFileAndItsIdentity)
{
    for (const StepCase& step : kStepCases) {
        SCOPED_TRACE(step.what);
        if (step.earlier == EARLIER_NOBODYS && geteuid() != 0) {
            continue;  // only the superuser can give the earlier file away
        }
        struct Run run = PrepareRun(kMacBook, step.earlier != NO_EARLIER);
        std::string alias = PathIn(run.folder, "alias.txt");
        Planting planting{run.outputPath, PathIn(run.folder, "victim.txt")};
        WriteBytes(planting.victimPath, "victim");
        std::vector<std::string> expectedFolder{"in.txt", "victim.txt"};
        if (step.earlier == EARLIER_HARD_LINKED) {
            ASSERT_EQ(link(run.outputPath.c_str(), alias.c_str()), 0);
            expectedFolder.push_back("alias.txt");
        }
        if (step.earlier == EARLIER_NOBODYS) {
            ASSERT_EQ(chown(run.outputPath.c_str(), 65534, 65534), 0);
        }
        if (step.earlier == EARLIER_MODE_0640) {
            ASSERT_EQ(chmod(run.outputPath.c_str(), 0640), 0);
        }
        if (step.earlier == EARLIER_NOTED &&
            setxattr(run.outputPath.c_str(), "user.note", "kept", 4, 0) != 0) {
            RemoveScratchFolder(run.folder);
            continue;  // a file system without user attributes
        }
        if (step.earlier != NO_EARLIER || step.plantLink) {
            expectedFolder.push_back("out.txt");
        }
        Identity before = IdentityOf(run.outputPath);
        FaultPlan plan = FaultPlan();
        plan.refusedSteps = step.refused;
        plan.refusedError = step.refused == kUnnamed ? EOPNOTSUPP : EPERM;
        TestEnv test;
        OpenTestEnv(&test, plan);
        if (step.plantLink) {
            test.beforeCommit = PlantLink;
            test.beforeCommitContext = &planting;
        }
        EXPECT_EQ(ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, run.inputPath, kInputTitle, run.outputPath, kOutputTitle),
                  step.result == 1 ? FERRYLINE_OK : FERRYLINE_COULD_NOT_WRITE);
        std::string converted = "&Main #Bob Smith ^bob@example.org #No Name 01 ^anne@example.org &Friends "
                                "#C-D ^cd@example.org +";
        EXPECT_EQ(ReadBytes(planting.victimPath), "victim") << "a file elsewhere is never written";
        if (step.result == 1) {
            EXPECT_EQ(ReadBytes(run.outputPath), converted);
            EXPECT_EQ(test.record.messages.size(), 2u) << "the two warnings";
        } else {
            EXPECT_EQ(test.record.messages[0], kWriteFailed);
            EXPECT_EQ(test.record.reasons.size(), 1u) << "the system's reason is told";
        }
        if (step.result == 0 && !step.plantLink) {
            EXPECT_EQ(ReadBytes(run.outputPath), kExisting) << "the earlier content is back";
        }
        if (step.sameFile) {
            EXPECT_TRUE(IdentityOf(run.outputPath) == before) << "the very file, its owner, mode and attributes";
            if (step.earlier == EARLIER_HARD_LINKED) {
                EXPECT_EQ(ReadBytes(alias), ReadBytes(run.outputPath)) << "a hard link sees what the file holds";
            }
        } else if (step.result == 1 && !step.plantLink) {
            Identity after = IdentityOf(run.outputPath);
            EXPECT_TRUE(after.owner == before.owner && after.mode == before.mode && after.note == before.note);
        }
        std::vector<std::string> folder = ListFolder(run.folder);
        EXPECT_EQ(test.record.keptBackup.empty(), !step.backupKept);
        if (step.backupKept) {
            EXPECT_EQ(ReadBytes(test.record.keptBackup), kExisting) << "the backup holds the earlier content";
            unlink(test.record.keptBackup.c_str());
            folder = ListFolder(run.folder);
        }
        std::sort(expectedFolder.begin(), expectedFolder.end());
        EXPECT_EQ(folder, expectedFolder) << "no temporary file or backup is left";
        EXPECT_EQ(test.record.outputsOpen + test.record.inputsOpen + test.record.blocksHeld, 0);
        RemoveScratchFolder(run.folder);
    }
}
#endif

}  // namespace
