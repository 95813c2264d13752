#include "fuzz/memory_platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>

#include "platform/platform.h"

struct MemoryHandle {
    std::string path;
    size_t readPosition;
    bool output;
};

static std::map<std::string, std::string> g_files;
static MemoryRecord g_record;
static int g_failOutputStep = 0;

// Counts one write, output close or final move; true when this is the one told to fail.
static bool OutputStepFails()
{
    return ++g_record.outputSteps == g_failOutputStep;
}

static int MemoryOpenRead(const char* path, PlatformFile* file)
{
    if (g_files.count(path) == 0) {
        return 0;
    }
    *file = new MemoryHandle{path, 0, false};
    ++g_record.opens;
    return 1;
}

static int MemoryFileSize(PlatformFile file, uint64_t* size)
{
    *size = g_files[static_cast<MemoryHandle*>(file)->path].size();
    return 1;
}

static int MemoryReadFile(PlatformFile file, void* buffer, size_t bytes, size_t* got)
{
    MemoryHandle* handle = static_cast<MemoryHandle*>(file);
    const std::string& contents = g_files[handle->path];
    size_t left = contents.size() - handle->readPosition;
    *got = bytes < left ? bytes : left;
    if (*got > 0) {
        memcpy(buffer, contents.data() + handle->readPosition, *got);
    }
    handle->readPosition += *got;
    return 1;
}

static int MemoryCloseFile(PlatformFile file)
{
    MemoryHandle* handle = static_cast<MemoryHandle*>(file);
    bool fails = handle->output && OutputStepFails();
    ++g_record.closes;
    delete handle;
    return fails ? 0 : 1;
}

static int MemoryProbeWritable(const char*)
{
    return 1;
}

static int MemoryCreateTemp(const char* finalPath, char* tempPath, size_t tempCapacity, PlatformFile* file)
{
    int length = snprintf(tempPath, tempCapacity, "%s.partial", finalPath);
    if (length < 0 || static_cast<size_t>(length) >= tempCapacity || g_files.count(tempPath) != 0) {
        return 0;
    }
    g_files[tempPath].clear();
    *file = new MemoryHandle{tempPath, 0, true};
    ++g_record.opens;
    return 1;
}

static int MemoryWriteFile(PlatformFile file, const void* data, size_t bytes, size_t* written)
{
    *written = 0;
    if (OutputStepFails()) {
        return 0;
    }
    g_files[static_cast<MemoryHandle*>(file)->path].append(static_cast<const char*>(data), bytes);
    *written = bytes;
    return 1;
}

static int MemoryDeleteFile(const char* path)
{
    return g_files.erase(path) == 1;
}

static int MemoryReplaceFile(const char* tempPath, const char* finalPath)
{
    if (OutputStepFails() || g_files.count(tempPath) == 0) {
        return 0;
    }
    g_files[finalPath].swap(g_files[tempPath]);
    g_files.erase(tempPath);
    return 1;
}

// A block of exactly the size asked, so the address sanitizer sees any access past it.
static void* MemoryAllocZeroed(size_t bytes)
{
    void* block = calloc(1, bytes);
    if (block != nullptr) {
        ++g_record.allocations;
    }
    return block;
}

static void MemoryFreeBlock(void* block)
{
    ++g_record.frees;
    free(block);
}

static void MemoryShowMessage(HWND__*, MessageKind kind, const char* text)
{
    g_record.messages.push_back((kind == MESSAGE_ERROR ? "error: " : "info: ") + std::string(text));
}

void InstallMemoryPlatform()
{
    g_platform.openRead = MemoryOpenRead;
    g_platform.fileSize = MemoryFileSize;
    g_platform.readFile = MemoryReadFile;
    g_platform.closeFile = MemoryCloseFile;
    g_platform.probeWritable = MemoryProbeWritable;
    g_platform.createTemp = MemoryCreateTemp;
    g_platform.writeFile = MemoryWriteFile;
    g_platform.deleteFile = MemoryDeleteFile;
    g_platform.replaceFile = MemoryReplaceFile;
    g_platform.allocZeroed = MemoryAllocZeroed;
    g_platform.freeBlock = MemoryFreeBlock;
    g_platform.showMessage = MemoryShowMessage;
}

void ResetMemoryPlatform(int failOutputStep)
{
    g_files.clear();
    g_record = MemoryRecord();
    g_failOutputStep = failOutputStep;
}

void PutMemoryFile(const std::string& path, const std::string& bytes)
{
    g_files[path] = bytes;
}

bool GetMemoryFile(const std::string& path, std::string* bytes)
{
    std::map<std::string, std::string>::const_iterator found = g_files.find(path);
    if (found == g_files.end()) {
        return false;
    }
    *bytes = found->second;
    return true;
}

size_t MemoryFileCount()
{
    return g_files.size();
}

const MemoryRecord& MemoryRecorded()
{
    return g_record;
}
