// What the platform's own file operations do with files that other programs hold or protect.
#include <gtest/gtest.h>

#include "convert/ferryline.h"
#include "support/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace ferryline;

namespace {

struct Folder {
    ScratchFolder scratch;
    std::string input;
    std::string output;
    Folder() : scratch(MakeScratchFolder()), input(PathIn(scratch, "in.txt")), output(PathIn(scratch, "out.txt"))
    {
        WriteBytes(input, "Bob <A1>\r\n");
    }
    ~Folder() { RemoveScratchFolder(scratch); }
};

// 1 converted, 0 not.
int Convert(const Folder& folder, TestEnv* test)
{
    OpenTestEnv(test, FaultPlan());
    return ConvertFiles(test, FERRYLINE_MAC_TO_WIN, folder.input, "in.txt", folder.output, "out.txt") == FERRYLINE_OK;
}

TEST(Platform, SameFileIsFoundHoweverSpelled)
{
    Folder folder;
    EXPECT_TRUE(PlatformSameFile(folder.input.c_str(), folder.input.c_str()));
    std::string dotted = folder.scratch.path + "/./in.txt";
    EXPECT_TRUE(PlatformSameFile(folder.input.c_str(), dotted.c_str()));
    EXPECT_FALSE(PlatformSameFile(folder.input.c_str(), folder.output.c_str()));
    WriteBytes(folder.output, "other");
    EXPECT_FALSE(PlatformSameFile(folder.input.c_str(), folder.output.c_str()));
#ifdef _WIN32
    std::string upper = folder.scratch.path + "\\IN.TXT";
    EXPECT_TRUE(PlatformSameFile(folder.input.c_str(), upper.c_str()));
    std::string missingUpper = folder.scratch.path + "\\NEW.TXT";
    std::string missing = folder.scratch.path + "\\new.txt";
    EXPECT_TRUE(PlatformSameFile(missing.c_str(), missingUpper.c_str()));
#else
    std::string linked = PathIn(folder.scratch, "link.txt");
    ASSERT_EQ(symlink(folder.input.c_str(), linked.c_str()), 0);
    EXPECT_TRUE(PlatformSameFile(folder.input.c_str(), linked.c_str()));
    std::string hard = PathIn(folder.scratch, "hard.txt");
    ASSERT_EQ(link(folder.input.c_str(), hard.c_str()), 0);
    EXPECT_TRUE(PlatformSameFile(hard.c_str(), folder.input.c_str()));
#endif
}

TEST(Platform, ReadOnlyOutputCannotBeCreated)
{
    Folder folder;
    TestEnv test;
    WriteBytes(folder.output, "kept");
#ifdef _WIN32
    ASSERT_TRUE(SetFileAttributesA(folder.output.c_str(), FILE_ATTRIBUTE_READONLY));
#else
    ASSERT_EQ(chmod(folder.output.c_str(), 0444), 0);
#endif
    EXPECT_EQ(Convert(folder, &test), 0);
    EXPECT_EQ(test.record.messages, std::vector<std::string>{"error: Could not create the output file out.txt"});
    EXPECT_EQ(test.record.blocksHeld, 0);
    EXPECT_EQ(ReadBytes(folder.output), "kept");
    EXPECT_EQ(ListFolder(folder.scratch), (std::vector<std::string>{"in.txt", "out.txt"}));
#ifdef _WIN32
    SetFileAttributesA(folder.output.c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
}

TEST(Platform, FolderAsInputOrOutputIsRefused)
{
    Folder folder;
    TestEnv test;
    OpenTestEnv(&test, FaultPlan());
    EXPECT_NE(ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, folder.scratch.path, "dir", folder.output, "out.txt"), FERRYLINE_OK);
    EXPECT_NE(ConvertFiles(&test, FERRYLINE_WIN_TO_MAC, folder.input, "in.txt", folder.scratch.path, "dir"), FERRYLINE_OK);
    EXPECT_EQ(test.record.messages, (std::vector<std::string>{"error: Could not open the file dir",
                                                             "error: Could not create the output file dir"}));
}

// A backup that a conversion killed while it wrote in place left beside the output stops the next
// conversion to that output before anything is written, and the user is told where it is.
TEST(Platform, ABackupLeftBesideTheOutputIsPointedOutAndKept)
{
    for (bool earlier : {true, false}) {
        Folder folder;
        std::string backup = folder.output + ".ferryline-backup";
        WriteBytes(backup, "earlier book");
        if (earlier) {
            WriteBytes(folder.output, "half written");
        }
        TestEnv test;
        EXPECT_EQ(Convert(folder, &test), 0);
        EXPECT_EQ(test.record.messages,
                  std::vector<std::string>{"error: A backup of out.txt from an interrupted conversion is at "
                                           "out.txt.ferryline-backup: restore or remove it first"});
        EXPECT_EQ(ReadBytes(backup), "earlier book");
        EXPECT_EQ(FileExists(folder.output), earlier);
        EXPECT_EQ(ListFolder(folder.scratch).size(), earlier ? 3u : 2u) << "nothing else made";
        EXPECT_EQ(test.record.outputsOpen + test.record.inputsOpen + test.record.blocksHeld, 0);
    }
}

#ifdef _WIN32
// A file with a second name (a hard link) is written in place, so that both names show the new book,
// and nothing is left beside it.
TEST(Platform, AHardLinkedOutputIsWrittenInPlace)
{
    Folder folder;
    WriteBytes(folder.output, "earlier book");
    std::string alias = PathIn(folder.scratch, "alias.txt");
    ASSERT_TRUE(CreateHardLinkA(alias.c_str(), folder.output.c_str(), nullptr));
    TestEnv test;
    EXPECT_EQ(Convert(folder, &test), 1);
    EXPECT_EQ(ReadBytes(folder.output), "&Main #Bob ^A1 +");
    EXPECT_EQ(ReadBytes(alias), "&Main #Bob ^A1 +");
    EXPECT_EQ(ListFolder(folder.scratch), (std::vector<std::string>{"alias.txt", "in.txt", "out.txt"}));
}

// Temporary files carry the id of their process; a conversion removes those in its folder whose
// process has ended, and only those.
TEST(Platform, TemporaryFilesOfEndedProcessesAreRemoved)
{
    Folder folder;
    char own[64];
    snprintf(own, sizeof own, "~ferryline-%08lx-0002.tmp", static_cast<unsigned long>(GetCurrentProcessId()));
    const struct {
        std::string name;
        bool removed;
    } kCases[] = {
        {"~ferryline-7ffffff0-0001.tmp", true},  // no process has this id
        {own, false},                            // this process runs
        {"~ferryline-7ffffff0-01.tmp", false},   // not a name the program makes
        {"~ferryline-7ffffff0.tmp", false},
        {"~ferryline-7ffffff0-0001.txt", false},
    };
    for (const auto& stray : kCases) {
        WriteBytes(PathIn(folder.scratch, stray.name), "stray");
    }
    TestEnv test;
    EXPECT_EQ(Convert(folder, &test), 1);
    for (const auto& stray : kCases) {
        EXPECT_EQ(FileExists(PathIn(folder.scratch, stray.name)), !stray.removed) << stray.name;
    }
    EXPECT_EQ(ListFolder(folder.scratch).size(), 2u + 4u) << "in.txt, out.txt and the files kept";
}

TEST(Platform, InputHeldOpenForWritingCannotBeOpened)
{
    Folder folder;
    TestEnv test;
    HANDLE writer = CreateFileA(folder.input.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Convert(folder, &test), 0);
    CloseHandle(writer);
    EXPECT_EQ(test.record.messages, std::vector<std::string>{"error: Could not open the file in.txt"});
    EXPECT_FALSE(FileExists(folder.output));
}

TEST(Platform, OutputLockedByAnotherProgramSurvives)
{
    Folder folder;
    TestEnv test;
    WriteBytes(folder.output, "kept");
    HANDLE holder = CreateFileA(folder.output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Convert(folder, &test), 0);
    CloseHandle(holder);
    EXPECT_EQ(test.record.messages, std::vector<std::string>{"error: Could not create the output file out.txt"});
    EXPECT_EQ(ReadBytes(folder.output), "kept");
    EXPECT_EQ(ListFolder(folder.scratch), (std::vector<std::string>{"in.txt", "out.txt"}));
}

TEST(Platform, ReplacedFileKeepsItsAttributes)
{
    Folder folder;
    TestEnv test;
    WriteBytes(folder.output, "old");
    ASSERT_TRUE(SetFileAttributesA(folder.output.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(Convert(folder, &test), 1);
    EXPECT_EQ(ReadBytes(folder.output), "&Main #Bob ^A1 +");
    EXPECT_TRUE(GetFileAttributesA(folder.output.c_str()) & FILE_ATTRIBUTE_HIDDEN);
}
#else
TEST(Platform, ReplacedFileKeepsItsPermissions)
{
    Folder folder;
    TestEnv test;
    WriteBytes(folder.output, "old");
    ASSERT_EQ(chmod(folder.output.c_str(), 0640), 0);
    EXPECT_EQ(Convert(folder, &test), 1);
    struct stat info;
    ASSERT_EQ(stat(folder.output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(folder.output), "&Main #Bob ^A1 +");
}

TEST(Platform, ALinkedOutputStaysALink)
{
    Folder folder;
    TestEnv test;
    std::string target = PathIn(folder.scratch, "target.txt");
    WriteBytes(target, "old");
    ASSERT_EQ(symlink(target.c_str(), folder.output.c_str()), 0);
    EXPECT_EQ(Convert(folder, &test), 1);
    struct stat info;
    ASSERT_EQ(lstat(folder.output.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadBytes(target), "&Main #Bob ^A1 +");

    // A link to a missing file creates that file, and stays a link.
    ASSERT_EQ(unlink(target.c_str()), 0);
    EXPECT_EQ(Convert(folder, &test), 1);
    ASSERT_EQ(lstat(folder.output.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadBytes(target), "&Main #Bob ^A1 +");
}

// A link that another user planted in a sticky folder anybody may write is not followed, whether it
// is the last component of the output's path or a folder on the way, reached directly or through a
// link of one's own; the kernel's protected_symlinks setting is not relied on.
TEST(Platform, AnotherUsersLinkInASharedFolderIsNotFollowed)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "only the superuser can plant a link as another user";
    }
    struct LinkCase {
        const char* what;
        const char* planted;  // in the shared folder, leading to the victim or to its folder
        bool toFolder;
        const char* output;   // from the scratch folder
    };
    const LinkCase kCases[] = {
        {"the last component", "pub/out.txt", false, "pub/out.txt"},
        {"a folder component", "pub/d", true, "pub/d/victim.txt"},
        {"a folder reached through one's own link", "pub/d", true, "mine/d/victim.txt"},
    };
    for (const LinkCase& link : kCases) {
        SCOPED_TRACE(link.what);
        Folder folder;
        std::string shared = PathIn(folder.scratch, "pub");
        ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
        ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
        ASSERT_EQ(symlink(shared.c_str(), PathIn(folder.scratch, "mine").c_str()), 0);
        std::string victim = PathIn(folder.scratch, "victim.txt");
        WriteBytes(victim, "victim");
        std::string planted = PathIn(folder.scratch, link.planted);
        ASSERT_EQ(symlink(link.toFolder ? folder.scratch.path.c_str() : victim.c_str(), planted.c_str()), 0);
        ASSERT_EQ(lchown(planted.c_str(), 65534, 65534), 0);
        std::string output = PathIn(folder.scratch, link.output);
        TestEnv test;
        OpenTestEnv(&test, FaultPlan());
        EXPECT_NE(ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, folder.input, "in.txt", output, "out.txt"), FERRYLINE_OK);
        EXPECT_EQ(test.record.reasons, std::vector<std::string>{output + ": " + std::to_string(EACCES)});
        EXPECT_EQ(ReadBytes(victim), "victim");
    }
}

// Where the output is written under a temporary name, a conversion first removes the named temporary
// files that killed conversions left in the folder: only this program's names, only the user's own,
// only those whose process has ended.
TEST(Platform, NamedTemporaryFilesOfEndedProcessesAreRemoved)
{
    pid_t ended = fork();
    ASSERT_GE(ended, 0);
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    std::string own = std::to_string(getpid());
    std::string gone = std::to_string(ended);
    const struct {
        std::string name;
        bool removed;
        bool othersFile;
    } kCases[] = {
        {".ferryline-" + gone + "-aB3xY9", true, false},
        {".ferryline-" + own + "-aB3xY9", false, false},  // this process's
        {".ferryline-1-aB3xY9", false, false},            // a process that runs
        {".ferryline-" + gone + "-aB3xY", false, false},  // not a name the program makes
        {".ferryline-" + gone + "-aB3x.9", false, false},
        {"ferryline-" + gone + "-aB3xY9", false, false},
        {".ferryline-" + gone + "-zzzzzz", false, true},  // another user's
    };
    Folder folder;
    for (const auto& stray : kCases) {
        WriteBytes(PathIn(folder.scratch, stray.name), "stray");
        if (stray.othersFile && (geteuid() != 0 || chown(PathIn(folder.scratch, stray.name).c_str(), 65534, 65534) != 0)) {
            unlink(PathIn(folder.scratch, stray.name).c_str());
        }
    }
    FaultPlan plan = FaultPlan();
    plan.refusedSteps = 1u << PLATFORM_STEP_UNNAMED_FILE;
    plan.refusedError = EOPNOTSUPP;
    TestEnv test;
    OpenTestEnv(&test, plan);
    EXPECT_EQ(ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, folder.input, "in.txt", folder.output, "out.txt"), FERRYLINE_OK);
    for (const auto& stray : kCases) {
        if (!stray.othersFile || geteuid() == 0) {
            EXPECT_EQ(FileExists(PathIn(folder.scratch, stray.name)), !stray.removed) << stray.name;
        }
    }
}

struct Interrupt {
    const ScratchFolder* folder;
    int signalNumber;
};

// Raises the signal while the output stands under a temporary name beside the input.
void RaiseWhileNamed(void* context)
{
    Interrupt* interrupt = static_cast<Interrupt*>(context);
    if (ListFolder(*interrupt->folder).size() != 2) {
        _exit(3);
    }
    raise(interrupt->signalNumber);
    _exit(4);
}

TEST(Platform, AnInterruptRemovesTheNamedTemporaryFileAndEndsByItsSignal)
{
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2}) {
        Folder folder;
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A shell's background job starts with SIGINT ignored, and an ignored signal rightly stays so.
            signal(signalNumber, SIG_DFL);
            FaultPlan plan = FaultPlan();
            plan.refusedSteps = 1u << PLATFORM_STEP_UNNAMED_FILE;
            plan.refusedError = EOPNOTSUPP;
            TestEnv test;
            OpenTestEnv(&test, plan);
            PlatformRemoveTemporaryOnInterrupt(&test.observer);
            Interrupt interrupt{&folder.scratch, signalNumber};
            test.beforeCommit = RaiseWhileNamed;
            test.beforeCommitContext = &interrupt;
            ConvertFiles(&test, FERRYLINE_MAC_TO_WIN, folder.input, "in.txt", folder.output, "out.txt");
            _exit(5);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << "signal " << signalNumber << ", status " << status;
        EXPECT_EQ(ListFolder(folder.scratch), std::vector<std::string>{"in.txt"}) << "signal " << signalNumber;
    }
}

// Writes `pieces` to a new output through the system's files and commits it; 0 at the first refusal,
// after which the output is discarded.
int WritePieces(const std::string& path, const std::vector<std::string>& pieces)
{
    const FerrylineFiles* files = ferryline_system_files();
    FerrylineFile file;
    if (!files->createOutput(files, path.c_str(), &file)) {
        return 0;
    }
    for (const std::string& piece : pieces) {
        if (files->write(files, file, piece.data(), piece.size()) != FERRYLINE_OK) {
            files->discardOutput(files, file);
            return 0;
        }
    }
    if (!files->commitOutput(files, file)) {
        files->discardOutput(files, file);
        return 0;
    }
    return 1;
}

// The output's pieces are written by a thread of their own while the conversion goes on: they arrive
// whole and in order, pieces larger than its slots too, and a write that fails there is told at a later
// piece or at the commit, with the earlier file kept and nothing left beside it.
TEST(Platform, PiecesWrittenBehindTheConversionArriveWholeAndAFailureIsTold)
{
    Folder folder;
    std::vector<std::string> pieces;
    std::string whole;
    for (size_t size : {1ul, 300000ul, 262144ul, 700000ul, 5ul}) {
        std::string piece;
        for (size_t i = 0; i < size; ++i) {
            piece += static_cast<char>('a' + (whole.size() + i) % 23);
        }
        pieces.push_back(piece);
        whole += piece;
    }
    ASSERT_EQ(WritePieces(folder.output, pieces), 1);
    EXPECT_EQ(ReadBytes(folder.output), whole);

    // A limit on the size of files makes the thread's writes fail (EFBIG) past 100,000 bytes.
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    struct rlimit small = limit;
    small.rlim_cur = 100000;
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int written = WritePieces(folder.output, std::vector<std::string>(8, std::string(65536, 'x')));
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(ReadBytes(folder.output), whole);
    EXPECT_EQ(ListFolder(folder.scratch), (std::vector<std::string>{"in.txt", "out.txt"}));
}
#endif

}  // namespace
