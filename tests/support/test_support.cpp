#include "support/test_support.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

ScratchFolder MakeScratchFolder()
{
    static std::mt19937_64 random(static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path candidate = base / ("ferryline-test-" + std::to_string(random() % 1000000000ull));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            return ScratchFolder{candidate.string()};
        }
    }
}

void RemoveScratchFolder(const ScratchFolder& folder)
{
    std::error_code error;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder.path, error)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(folder.path, error);
}

std::string PathIn(const ScratchFolder& folder, const std::string& name)
{
    return (fs::path(folder.path) / name).string();
}

std::vector<std::string> ListFolder(const ScratchFolder& folder)
{
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

std::string RecordedMessage(FerrylineMessageKind kind, const char* text)
{
    const char* prefix = kind == FERRYLINE_ERROR ? "error: " : kind == FERRYLINE_WARNING ? "warning: " : "info: ";
    return prefix + std::string(text);
}

FaultPlan FailCall(PlatformCall call, int at)
{
    FaultPlan plan = FaultPlan();
    plan.failCall = call;
    plan.failCallAt = at;
    return plan;
}

static TestEnv* Test(const FerrylineFiles* self)
{
    return static_cast<TestEnv*>(self->context);
}

// Counts a call of `call`; true when the plan makes this very call fail.
static bool CallFails(TestEnv* test, PlatformCall call)
{
    int number = ++test->record.calls[call];
    return test->plan.failCall == call && number == test->plan.failCallAt;
}

static int TestOpenInput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    TestEnv* test = Test(self);
    if (CallFails(test, CALL_OPEN_INPUT) || !test->parent->openInput(test->parent, path, file)) {
        return 0;
    }
    ++test->record.inputsOpen;
    return 1;
}

static int TestInputSize(const FerrylineFiles* self, FerrylineFile file, uint64_t* size)
{
    TestEnv* test = Test(self);
    if (CallFails(test, CALL_INPUT_SIZE)) {
        return 0;
    }
    if (test->plan.hugeSize) {
        *size = UINT64_MAX;
        return 1;
    }
    return test->parent->inputSize(test->parent, file, size);
}

static int TestRead(const FerrylineFiles* self, FerrylineFile file, void* buffer, size_t bytes, size_t* got)
{
    TestEnv* test = Test(self);
    return CallFails(test, CALL_READ) ? 0 : test->parent->read(test->parent, file, buffer, bytes, got);
}

static void TestCloseInput(const FerrylineFiles* self, FerrylineFile file)
{
    TestEnv* test = Test(self);
    CallFails(test, CALL_CLOSE_INPUT);
    --test->record.inputsOpen;
    test->parent->closeInput(test->parent, file);
}

static int TestCreateOutput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    TestEnv* test = Test(self);
    if (CallFails(test, CALL_CREATE_OUTPUT)) {
        return 0;
    }
    int created = test->parent->createOutput(test->parent, path, file);
    if (created != 1) {
        return created;
    }
    ++test->record.outputsOpen;
    return 1;
}

static FerrylineStatus TestWrite(const FerrylineFiles* self, FerrylineFile file, const void* data, size_t bytes)
{
    TestEnv* test = Test(self);
    return CallFails(test, CALL_WRITE) ? FERRYLINE_COULD_NOT_WRITE : test->parent->write(test->parent, file, data, bytes);
}

// A failed commit leaves the output held, to be discarded.
static int TestCommitOutput(const FerrylineFiles* self, FerrylineFile file)
{
    TestEnv* test = Test(self);
    if (test->beforeCommit != nullptr) {
        test->beforeCommit(test->beforeCommitContext);
    }
    if (CallFails(test, CALL_COMMIT) || !test->parent->commitOutput(test->parent, file)) {
        return 0;
    }
    --test->record.outputsOpen;
    return 1;
}

static void TestDiscardOutput(const FerrylineFiles* self, FerrylineFile file)
{
    TestEnv* test = Test(self);
    CallFails(test, CALL_DISCARD);
    --test->record.outputsOpen;
    test->parent->discardOutput(test->parent, file);
}

static void* TestAlloc(void* context, void* block, size_t oldSize, size_t newSize)
{
    TestEnv* test = static_cast<TestEnv*>(context);
    PlatformRecord& record = test->record;
    if (newSize > oldSize && CallFails(test, CALL_ALLOC)) {
        return nullptr;
    }
    void* result = ferryline_system_alloc(nullptr, block, oldSize, newSize);
    if (result == nullptr && newSize != 0) {
        return nullptr;
    }
    record.blocksHeld += (block == nullptr ? 1 : 0) - (newSize == 0 ? 1 : 0);
    record.bytesHeld = record.bytesHeld - (block != nullptr ? oldSize : 0) + newSize;
    record.peakBytesHeld = std::max(record.peakBytesHeld, record.bytesHeld);
    return result;
}

static void RecordMessage(void* context, FerrylineMessageKind kind, const char* text)
{
    TestEnv* test = static_cast<TestEnv*>(context);
    if (test->onMessage != nullptr) {
        test->onMessage(test->onMessageContext);
    }
    test->record.messages.push_back(RecordedMessage(kind, text));
}

static void RecordChange(void* context, const FerrylineChange* change)
{
    TestEnv* test = static_cast<TestEnv*>(context);
    test->record.changes.push_back(*change);
    test->record.changeTexts.push_back(std::string(change->text.bytes, change->text.size));
    std::string line(ferryline_describe_change(change, nullptr, 0), '\0');
    ferryline_describe_change(change, &line[0], line.size() + 1);
    test->record.changeLines.push_back(line);
    // The texts are gone once the call returns.
    test->record.changes.back().text = FerrylineText{nullptr, 0};
    test->record.changes.back().name = FerrylineText{nullptr, 0};
    test->record.changes.back().address = FerrylineText{nullptr, 0};
}

static void RecordReason(void* context, const char* path, int error)
{
    static_cast<TestEnv*>(context)->record.reasons.push_back(std::string(path) + ": " + std::to_string(error));
}

static void RecordTemporary(void* context, const char*, bool standing)
{
    static_cast<TestEnv*>(context)->record.namedTemporaries += standing ? 1 : -1;
}

static void RecordBackupKept(void* context, const char*, const char* backup)
{
    static_cast<TestEnv*>(context)->record.keptBackup = backup;
}

static int RefuseAsPlanned(void* context, PlatformStep step)
{
    TestEnv* test = static_cast<TestEnv*>(context);
    return (test->plan.refusedSteps & (1u << step)) != 0 ? test->plan.refusedError : 0;
}

static int TestSameFile(const FerrylineFiles* self, const char* pathA, const char* pathB)
{
    const FerrylineFiles* parent = Test(self)->parent;
    return parent->sameFile(parent, pathA, pathB);
}

void OpenTestEnv(TestEnv* test, const FaultPlan& plan)
{
    test->files = FerrylineFiles{test,          TestOpenInput,    TestInputSize,
                                 TestRead,      TestCloseInput,   TestCreateOutput,
                                 TestWrite,     TestCommitOutput, TestDiscardOutput,
                                 TestSameFile};
    test->observer = PlatformObserver{test, RecordReason, RecordTemporary, RecordBackupKept, RefuseAsPlanned};
    test->system = PlatformObservedFiles(&test->observer);
    test->parent = &test->system;
    test->listener = FerrylineListener{test, RecordMessage, RecordChange};
    test->env = FerrylineEnv{TestAlloc, test, &test->listener};
    test->plan = plan;
    test->record = PlatformRecord();
    test->onMessage = nullptr;
    test->onMessageContext = nullptr;
    test->beforeCommit = nullptr;
    test->beforeCommitContext = nullptr;
}

FerrylineStatus ConvertFiles(TestEnv* test, FerrylineDirection direction, const std::string& inputPath, const char* inputTitle,
                 const std::string& outputPath, const char* outputTitle)
{
    return ferryline_convert_file(direction, nullptr, inputPath.c_str(), inputTitle, outputPath.c_str(), outputTitle,
                                  &test->files, &test->env, nullptr);
}

ConversionResult RunConverterWithFaults(FerrylineDirection direction, const std::string& input, const FaultPlan& plan)
{
    ScratchFolder folder = MakeScratchFolder();
    std::string inputPath = PathIn(folder, "in.txt");
    std::string outputPath = PathIn(folder, "out.txt");
    WriteBytes(inputPath, input);
    TestEnv test;
    OpenTestEnv(&test, plan);
    ConversionResult run;
    run.status = ConvertFiles(&test, direction, inputPath, "in.txt", outputPath, "out.txt");
    run.result = run.status == FERRYLINE_OK ? 1 : 0;
    run.outputExists = FileExists(outputPath);
    run.output = run.outputExists ? ReadBytes(outputPath) : std::string();
    run.messages = test.record.messages;
    run.changes = test.record.changes;
    run.changeTexts = test.record.changeTexts;
    run.changeLines = test.record.changeLines;
    RemoveScratchFolder(folder);
    return run;
}

ConversionResult RunConverter(FerrylineDirection direction, const std::string& input)
{
    return RunConverterWithFaults(direction, input, FaultPlan());
}
