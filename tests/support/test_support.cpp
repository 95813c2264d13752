#include "support/test_support.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

static FaultPlan g_plan;
static PlatformRecord g_record;
static PlatformOps g_real;
static bool g_installed = false;

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

static void RecordMessage(HWND__*, MessageKind kind, const char* text)
{
    g_record.messages.push_back((kind == MESSAGE_ERROR ? "error: " : "info: ") + std::string(text));
}

// Counts a call of `call`; true when the plan makes this very call fail.
static bool CallFails(PlatformCall call)
{
    int number = ++g_record.calls[call];
    return g_plan.failCall == call && number == g_plan.failCallAt;
}

static int TestOpenRead(const char* path, PlatformFile* file)
{
    if (CallFails(CALL_OPEN_READ) || g_plan.failOpen || !g_real.openRead(path, file)) {
        return 0;
    }
    ++g_record.opens;
    return 1;
}

static int TestFileSize(PlatformFile file, uint64_t* size)
{
    if (CallFails(CALL_FILE_SIZE) || g_plan.failSize) {
        return 0;
    }
    if (g_plan.hugeSize) {
        *size = UINT64_MAX;
        return 1;
    }
    return g_real.fileSize(file, size);
}

static int TestReadFile(PlatformFile file, void* buffer, size_t bytes, size_t* got)
{
    return CallFails(CALL_READ) || g_plan.failRead ? 0 : g_real.readFile(file, buffer, bytes, got);
}

static PlatformFile g_output = nullptr;

static int TestCloseFile(PlatformFile file)
{
    ++g_record.closes;
    bool fails = CallFails(CALL_CLOSE);
    // A failed close still releases the file, as a real one does.
    int closed = g_real.closeFile(file);
    return fails || (file == g_output && g_plan.failClose) ? 0 : closed;
}

static int TestProbeWritable(const char* path)
{
    return CallFails(CALL_PROBE_WRITABLE) || g_plan.failProbe ? 0 : g_real.probeWritable(path);
}

static int TestCreateTemp(const char* finalPath, char* tempPath, size_t capacity, PlatformFile* file)
{
    if (CallFails(CALL_CREATE_TEMP) || g_plan.failCreate || !g_real.createTemp(finalPath, tempPath, capacity, file)) {
        return 0;
    }
    ++g_record.opens;
    g_output = *file;
    return 1;
}

static int TestWriteFile(PlatformFile file, const void* data, size_t bytes, size_t* written)
{
    int number = ++g_record.writes;
    bool planned = CallFails(CALL_WRITE);
    bool shortened = number == g_plan.shortWriteAt || (planned && g_plan.shortCall);
    if (number == g_plan.failWriteAt || (planned && !g_plan.shortCall)) {
        *written = 0;
        return 0;
    }
    if (shortened && bytes > 0) {
        return g_real.writeFile(file, data, bytes - 1, written);
    }
    return g_real.writeFile(file, data, bytes, written);
}

static int TestDeleteFile(const char* path)
{
    return CallFails(CALL_DELETE) ? 0 : g_real.deleteFile(path);
}

static int TestReplaceFile(const char* tempPath, const char* finalPath)
{
    return CallFails(CALL_REPLACE) || g_plan.failReplace ? 0 : g_real.replaceFile(tempPath, finalPath);
}

static void* TestAllocZeroed(size_t bytes)
{
    if (CallFails(CALL_ALLOC) || g_plan.failAlloc) {
        return nullptr;
    }
    void* block = g_real.allocZeroed(bytes);
    if (block != nullptr) {
        ++g_record.allocations;
    }
    return block;
}

static void TestFreeBlock(void* block)
{
    ++g_record.frees;
    g_real.freeBlock(block);
}

void InstallTestPlatform(const FaultPlan& plan)
{
    if (!g_installed) {
        g_real = g_platform;
        g_installed = true;
    }
    g_plan = plan;
    g_record = PlatformRecord();
    g_output = nullptr;
    g_platform.openRead = TestOpenRead;
    g_platform.fileSize = TestFileSize;
    g_platform.readFile = TestReadFile;
    g_platform.closeFile = TestCloseFile;
    g_platform.probeWritable = TestProbeWritable;
    g_platform.createTemp = TestCreateTemp;
    g_platform.writeFile = TestWriteFile;
    g_platform.deleteFile = TestDeleteFile;
    g_platform.replaceFile = TestReplaceFile;
    g_platform.allocZeroed = TestAllocZeroed;
    g_platform.freeBlock = TestFreeBlock;
    g_platform.showMessage = RecordMessage;
}

void RestorePlatform()
{
    if (g_installed) {
        g_platform = g_real;
    }
}

const PlatformRecord& Recorded()
{
    return g_record;
}

ConversionResult RunConverterWithFaults(Converter convert, const std::string& input, const FaultPlan& plan)
{
    ScratchFolder folder = MakeScratchFolder();
    std::string inputPath = PathIn(folder, "in.txt");
    std::string outputPath = PathIn(folder, "out.txt");
    WriteBytes(inputPath, input);
    InstallTestPlatform(plan);
    ConversionResult run;
    run.result = convert(inputPath.c_str(), "in.txt", outputPath.c_str(), "out.txt");
    RestorePlatform();
    run.outputExists = FileExists(outputPath);
    run.output = run.outputExists ? ReadBytes(outputPath) : std::string();
    run.messages = g_record.messages;
    RemoveScratchFolder(folder);
    return run;
}

ConversionResult RunConverter(Converter convert, const std::string& input)
{
    return RunConverterWithFaults(convert, input, FaultPlan());
}
