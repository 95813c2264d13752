// Files, memory and message boxes through KERNEL32 and USER32.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

static_assert((MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST) == 0x50040, "information box type");
static_assert((MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST) == 0x50010, "error box type");

static const char kMessageCaption[] = "Convert CV Address Book";
// ReadFile and WriteFile take a 32-bit count; larger requests are split.
static const size_t kChunkLimit = 1u << 30;

static HANDLE AsHandle(PlatformFile file)
{
    return static_cast<HANDLE>(file);
}

static int Win32OpenRead(const char* path, PlatformFile* file)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    *file = handle;
    return 1;
}

static int Win32FileSize(PlatformFile file, uint64_t* size)
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

static int Win32ReadFile(PlatformFile file, void* buffer, size_t bytes, size_t* got)
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

static int Win32CloseFile(PlatformFile file)
{
    return CloseHandle(AsHandle(file)) != 0;
}

static int Win32ProbeWritable(const char* path)
{
    // Checked on its own as well, since a file system that ignores the attribute for some users
    // (Wine running as the superuser) would otherwise let a read-only file be replaced.
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

static int Win32CreateTemp(const char* finalPath, char* tempPath, size_t tempCapacity, PlatformFile* file)
{
    const char* folderEnd = finalPath;
    for (const char* p = finalPath; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') {
            folderEnd = p + 1;
        }
    }
    int folderLength = static_cast<int>(folderEnd - finalPath);
    DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        int length = snprintf(tempPath, tempCapacity, "%.*s~ferryline-%08lx.tmp", folderLength, finalPath,
                              static_cast<unsigned long>(seed + attempt));
        if (length < 0 || static_cast<size_t>(length) >= tempCapacity) {
            return 0;
        }
        HANDLE handle = CreateFileA(tempPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            *file = handle;
            return 1;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            return 0;
        }
    }
    return 0;
}

static int Win32WriteFile(PlatformFile file, const void* data, size_t bytes, size_t* written)
{
    const char* from = static_cast<const char*>(data);
    size_t total = 0;
    do {
        DWORD want = static_cast<DWORD>(bytes - total < kChunkLimit ? bytes - total : kChunkLimit);
        DWORD done = 0;
        if (!WriteFile(AsHandle(file), from + total, want, &done, nullptr)) {
            *written = total;
            return 0;
        }
        total += done;
        if (done < want) {
            break;
        }
    } while (total < bytes);
    *written = total;
    return 1;
}

static int Win32DeleteFile(const char* path)
{
    return DeleteFileA(path) != 0;
}

static int Win32ReplaceFile(const char* tempPath, const char* finalPath)
{
    // The replaced file's attributes (hidden, system, archive) carry over to its successor.
    DWORD attributes = GetFileAttributesA(finalPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && !SetFileAttributesA(tempPath, attributes)) {
        return 0;
    }
    return MoveFileExA(tempPath, finalPath, MOVEFILE_REPLACE_EXISTING) != 0;
}

static void* Win32AllocZeroed(size_t bytes)
{
    return GlobalAlloc(GMEM_ZEROINIT, bytes);
}

static void Win32FreeBlock(void* block)
{
    GlobalFree(static_cast<HGLOBAL>(block));
}

static void Win32ShowMessage(HWND owner, MessageKind kind, const char* text)
{
    UINT icon = kind == MESSAGE_ERROR ? MB_ICONERROR : MB_ICONINFORMATION;
    MessageBoxA(owner, text, kMessageCaption, MB_OK | icon | MB_SETFOREGROUND | MB_TOPMOST);
}

PlatformOps PlatformDefaultOps()
{
    PlatformOps ops;
    ops.openRead = Win32OpenRead;
    ops.fileSize = Win32FileSize;
    ops.readFile = Win32ReadFile;
    ops.closeFile = Win32CloseFile;
    ops.probeWritable = Win32ProbeWritable;
    ops.createTemp = Win32CreateTemp;
    ops.writeFile = Win32WriteFile;
    ops.deleteFile = Win32DeleteFile;
    ops.replaceFile = Win32ReplaceFile;
    ops.allocZeroed = Win32AllocZeroed;
    ops.freeBlock = Win32FreeBlock;
    ops.showMessage = Win32ShowMessage;
    return ops;
}

PlatformOps g_platform = PlatformDefaultOps();

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
