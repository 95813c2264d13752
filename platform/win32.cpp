// Files, memory and standard streams through KERNEL32 and the C runtime.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

// ReadFile and WriteFile take a 32-bit count; larger requests are split.
static const size_t kChunkLimit = 1u << 30;

struct Win32Output {
    HANDLE handle;
    char* tempPath;
    char* finalPath;
};

static HANDLE AsHandle(FerrylineFile file)
{
    return static_cast<HANDLE>(file);
}

static int Win32OpenInput(const FerrylineFiles*, const char* path, FerrylineFile* file)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    *file = handle;
    return 1;
}

static int Win32InputSize(const FerrylineFiles*, FerrylineFile file, uint64_t* size)
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return 0;
    }
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return 1;
}

static int Win32Read(const FerrylineFiles*, FerrylineFile file, void* buffer, size_t bytes, size_t* got)
{
    char* into = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < bytes) {
        DWORD want = static_cast<DWORD>(bytes - total < kChunkLimit ? bytes - total : kChunkLimit);
        DWORD done = 0;
        if (!ReadFile(AsHandle(file), into + total, want, &done, nullptr)) {
            return 0;
        }
        if (done == 0) {
            break;
        }
        total += done;
    }
    *got = total;
    return 1;
}

static void Win32CloseInput(const FerrylineFiles*, FerrylineFile file)
{
    CloseHandle(AsHandle(file));
}

// Whether `path` may be replaced: it does not exist, or it can be opened for writing. The read-only
// attribute is checked on its own as well, since a file system that ignores it for some users (Wine
// running as the superuser) would otherwise let a read-only file be replaced.
static int MayReplace(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return 0;
    }
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    CloseHandle(handle);
    return 1;
}

// Creates a new, unshared file beside `finalPath` under a fresh name, written to `tempPath`.
static HANDLE CreateTemp(const char* finalPath, char* tempPath, size_t tempCapacity)
{
    const char* folderEnd = finalPath;
    for (const char* p = finalPath; *p != '\0'; ++p) {
        if (PlatformIsPathSeparator(*p)) {
            folderEnd = p + 1;
        }
    }
    int folderLength = static_cast<int>(folderEnd - finalPath);
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        int length = snprintf(tempPath, tempCapacity, "%.*s~ferryline-%08lx.tmp", folderLength, finalPath,
                              static_cast<unsigned long>(seed + attempt));
        if (length < 0 || static_cast<size_t>(length) >= tempCapacity) {
            return INVALID_HANDLE_VALUE;
        }
        HANDLE handle = CreateFileA(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return handle;
        }
    }
    return INVALID_HANDLE_VALUE;
}

static void FreeOutput(Win32Output* output)
{
    free(output->tempPath);
    free(output->finalPath);
    free(output);
}

static int Win32CreateOutput(const FerrylineFiles*, const char* path, FerrylineFile* file)
{
    if (!MayReplace(path)) {
        return 0;
    }
    size_t capacity = strlen(path) + 32;
    Win32Output* output = static_cast<Win32Output*>(calloc(1, sizeof(Win32Output)));
    if (output == nullptr) {
        return 0;
    }
    output->tempPath = static_cast<char*>(malloc(capacity));
    output->finalPath = static_cast<char*>(malloc(strlen(path) + 1));
    output->handle = INVALID_HANDLE_VALUE;
    if (output->tempPath != nullptr && output->finalPath != nullptr) {
        memcpy(output->finalPath, path, strlen(path) + 1);
        output->handle = CreateTemp(path, output->tempPath, capacity);
    }
    if (output->handle == INVALID_HANDLE_VALUE) {
        FreeOutput(output);
        return 0;
    }
    *file = output;
    return 1;
}

static int Win32Write(const FerrylineFiles*, FerrylineFile file, const void* data, size_t bytes)
{
    HANDLE handle = static_cast<Win32Output*>(file)->handle;
    const char* from = static_cast<const char*>(data);
    while (bytes > 0) {
        DWORD want = static_cast<DWORD>(bytes < kChunkLimit ? bytes : kChunkLimit);
        DWORD done = 0;
        // A write the system took only in part is as failed as one it refused.
        if (!WriteFile(handle, from, want, &done, nullptr) || done != want) {
            return 0;
        }
        from += done;
        bytes -= done;
    }
    return 1;
}

// The replaced file's attributes (hidden, system, archive) carry over to its successor.
static int MoveOver(const char* tempPath, const char* finalPath)
{
    DWORD attributes = GetFileAttributesA(finalPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && !SetFileAttributesA(tempPath, attributes)) {
        return 0;
    }
    return MoveFileExA(tempPath, finalPath, MOVEFILE_REPLACE_EXISTING) != 0;
}

static int Win32CommitOutput(const FerrylineFiles*, FerrylineFile file)
{
    Win32Output* output = static_cast<Win32Output*>(file);
    // A failed close still closes the handle, so it is not closed again by the discard.
    int closed = CloseHandle(output->handle) != 0;
    output->handle = INVALID_HANDLE_VALUE;
    if (!closed || !MoveOver(output->tempPath, output->finalPath)) {
        return 0;
    }
    FreeOutput(output);
    return 1;
}

static void Win32DiscardOutput(const FerrylineFiles*, FerrylineFile file)
{
    Win32Output* output = static_cast<Win32Output*>(file);
    if (output->handle != INVALID_HANDLE_VALUE) {
        CloseHandle(output->handle);
    }
    DeleteFileA(output->tempPath);
    FreeOutput(output);
}

void* ferryline_system_alloc(void*, void* block, size_t, size_t newSize)
{
    if (newSize == 0) {
        free(block);
        return nullptr;
    }
    return realloc(block, newSize);
}

const FerrylineFiles* ferryline_system_files(void)
{
    static const FerrylineFiles kFiles = {nullptr,         Win32OpenInput,    Win32InputSize,
                                          Win32Read,       Win32CloseInput,   Win32CreateOutput,
                                          Win32Write,      Win32CommitOutput, Win32DiscardOutput};
    return &kFiles;
}

// Identifies an existing file by its volume and index, which every spelling of its path shares.
static int GetFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info)
{
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int ok = GetFileInformationByHandle(handle, info) != 0;
    CloseHandle(handle);
    return ok;
}

// The full, long form of a path, for comparing paths of which one names no file yet.
static void GetComparablePath(const char* path, char* full, DWORD capacity)
{
    DWORD length = GetFullPathNameA(path, capacity, full, nullptr);
    if (length == 0 || length >= capacity) {
        lstrcpynA(full, path, static_cast<int>(capacity));
        return;
    }
    char longForm[1024];
    length = GetLongPathNameA(full, longForm, sizeof longForm);
    if (length > 0 && length < sizeof longForm) {
        lstrcpynA(full, longForm, static_cast<int>(capacity));
    }
}

int PlatformSameFile(const char* pathA, const char* pathB)
{
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    if (GetFileIdentity(pathA, &a) && GetFileIdentity(pathB, &b)) {
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
               a.nFileIndexLow == b.nFileIndexLow;
    }
    char fullA[1024];
    char fullB[1024];
    GetComparablePath(pathA, fullA, sizeof fullA);
    GetComparablePath(pathB, fullB, sizeof fullB);
    return lstrcmpiA(fullA, fullB) == 0;
}

bool PlatformIsPathSeparator(char c)
{
    return c == '/' || c == '\\' || c == ':';
}

void PlatformPrepareStandardStreams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}
