// Files, memory and standard streams through KERNEL32 and the C runtime.
#include <windows.h>

#include <atomic>
#include <initializer_list>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "platform/shared.h"

// ReadFile and WriteFile take a 32-bit count; larger requests are split.
static const size_t kChunkLimit = 1u << 30;

struct Win32Input {
    HANDLE handle;
    const PlatformObserver* observer;
    char* path;  // for the reason of a failed read
};

struct Win32Output {
    HANDLE handle;
    const PlatformObserver* observer;
    char* tempPath;
    char* finalPath;
    bool replacing;  // a file stood under finalPath when the output started
    bool inPlace;    // that file has other names (hard links), which a replacement would leave behind
};

// A conversion ended while it wrote in place leaves the earlier content under this name beside the file.
static const char kBackupSuffix[] = ".ferryline-backup";
// Temporary files are named ~ferryline-PID-N.tmp, PID and N in hexadecimal: a later conversion in
// the same folder removes those whose process no longer runs (one ended by TerminateProcess).
static const char kTemporaryPrefix[] = "~ferryline-";
static const char kTemporaryPattern[] = "~ferryline-%08lx-%04lx.tmp";
static const char kTemporaryScan[] = "~ferryline-%8lx-%4lx.tmp";
static const size_t kTemporaryNameLength = sizeof "~ferryline-01234567-0123.tmp" - 1;

// While a file is written in place the console control handler waits instead of ending the process,
// so that it ends only once the file holds the whole new book, and then as a conversion that succeeded
// (part of the process-wide record of platform.h).
enum InPlaceState { IN_PLACE_NONE, IN_PLACE_WRITING, IN_PLACE_WRITTEN };
static std::atomic<int> g_inPlace{IN_PLACE_NONE};

static const PlatformObserver* Observer(const FerrylineFiles* self)
{
    return static_cast<const PlatformObserver*>(self->context);
}

// Tells the observer why an operation on `path` failed, and returns 0 for the operation to return.
static int Failed(const PlatformObserver* observer, const char* path, DWORD error)
{
    if (observer != nullptr && observer->failed != nullptr) {
        observer->failed(observer->context, path, static_cast<int>(error));
    }
    return 0;
}

static void AnnounceTemporary(const Win32Output* output, const char* path, bool standing)
{
    if (output->observer != nullptr && output->observer->temporary != nullptr) {
        output->observer->temporary(output->observer->context, path, standing);
    }
}

static char* CopyText(const char* text)
{
    size_t size = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(size));
    if (copy != nullptr) {
        memcpy(copy, text, size);
    }
    return copy;
}

static Win32Input* Input(FerrylineFile file)
{
    return static_cast<Win32Input*>(file);
}

static HANDLE AsHandle(FerrylineFile file)
{
    return Input(file)->handle;
}

static int Win32OpenInput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Failed(Observer(self), path, GetLastError());
    }
    Win32Input* input = static_cast<Win32Input*>(malloc(sizeof(Win32Input)));
    char* copy = input != nullptr ? CopyText(path) : nullptr;
    if (copy == nullptr) {
        free(input);
        CloseHandle(handle);
        return Failed(Observer(self), path, ERROR_NOT_ENOUGH_MEMORY);
    }
    *input = Win32Input{handle, Observer(self), copy};
    *file = input;
    return 1;
}

static int Win32InputSize(const FerrylineFiles*, FerrylineFile file, uint64_t* size)
{
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return Failed(Input(file)->observer, Input(file)->path, GetLastError());
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
            // A pipe whose writer is gone has simply ended.
            if (GetLastError() == ERROR_BROKEN_PIPE) {
                break;
            }
            return Failed(Input(file)->observer, Input(file)->path, GetLastError());
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
    free(Input(file)->path);
    free(Input(file));
}

// Whether `path` may be replaced: it does not exist, or it can be opened for writing; *exists tells
// which, and *links how many names the file has. The read-only attribute is checked on its own as
// well, since a file system that ignores it for some users (Wine running as the superuser) would
// otherwise let a read-only file be replaced.
static int MayReplace(const char* path, bool* exists, DWORD* links)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    *exists = handle != INVALID_HANDLE_VALUE;
    *links = 1;
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)) {
        *links = info.nNumberOfLinks;
    }
    CloseHandle(handle);
    return 1;
}

// The length of the folder part of `path`, up to and with its last separator.
static int FolderLength(const char* path)
{
    const char* folderEnd = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (PlatformIsPathSeparator(*p)) {
            folderEnd = p + 1;
        }
    }
    return static_cast<int>(folderEnd - path);
}

// Whether the process `id` has ended (or never ran): its temporary files are nobody's now.
static bool ProcessGone(DWORD id)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (process == nullptr) {
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    DWORD code = 0;
    bool gone = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    CloseHandle(process);
    return gone;
}

// Removes the temporary files that conversions ended from outside (TerminateProcess, a power cut) left
// in the folder of `path`: those named by this program's pattern whose process no longer runs.
static void RemoveStrayTemporaries(const char* path)
{
    int folderLength = FolderLength(path);
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%.*s%s*.tmp", folderLength, path, kTemporaryPrefix) >= MAX_PATH) {
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        unsigned long id = 0;
        unsigned long number = 0;
        char check[MAX_PATH];
        // Only a name this program makes, spelled exactly so.
        if (strlen(found.cFileName) != kTemporaryNameLength ||
            sscanf(found.cFileName, kTemporaryScan, &id, &number) != 2 ||
            snprintf(check, sizeof check, kTemporaryPattern, id, number) < 0 || strcmp(check, found.cFileName) != 0 ||
            !ProcessGone(static_cast<DWORD>(id))) {
            continue;
        }
        char stray[MAX_PATH];
        if (snprintf(stray, sizeof stray, "%.*s%s", folderLength, path, found.cFileName) < MAX_PATH) {
            DeleteFileA(stray);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Whether an interrupted conversion left a backup beside `path`.
static bool BackupStands(const char* path)
{
    char backup[MAX_PATH * 2];
    return snprintf(backup, sizeof backup, "%s%s", path, kBackupSuffix) < static_cast<int>(sizeof backup) &&
           GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES;
}

// Creates a new file beside `finalPath` under a fresh name carrying the process id, written to `tempPath`.
static HANDLE CreateTemp(const char* finalPath, char* tempPath, size_t tempCapacity)
{
    int folderLength = FolderLength(finalPath);
    DWORD seed = GetTickCount();
    for (DWORD attempt = 0; attempt < 100; ++attempt) {
        char name[kTemporaryNameLength + 1];
        snprintf(name, sizeof name, kTemporaryPattern, static_cast<unsigned long>(GetCurrentProcessId()),
                 static_cast<unsigned long>((seed + attempt) & 0xffff));
        int length = snprintf(tempPath, tempCapacity, "%.*s%s", folderLength, finalPath, name);
        if (length < 0 || static_cast<size_t>(length) >= tempCapacity) {
            return INVALID_HANDLE_VALUE;
        }
        // Others may delete it, so that an interrupt's handler can remove it while it is being written;
        // it is read back when the output is written in place.
        HANDLE handle = CreateFileA(tempPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
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

static int Win32CreateOutput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    bool exists = false;
    DWORD links = 1;
    if (!MayReplace(path, &exists, &links)) {
        return Failed(Observer(self), path, GetLastError());
    }
    if (BackupStands(path)) {
        return FERRYLINE_OUTPUT_BACKUP_FOUND;
    }
    RemoveStrayTemporaries(path);
    g_inPlace.store(IN_PLACE_NONE);
    size_t capacity = strlen(path) + kTemporaryNameLength + 1;
    Win32Output* output = static_cast<Win32Output*>(calloc(1, sizeof(Win32Output)));
    if (output == nullptr) {
        return Failed(Observer(self), path, ERROR_NOT_ENOUGH_MEMORY);
    }
    output->observer = Observer(self);
    output->replacing = exists;
    output->inPlace = exists && links > 1;
    output->tempPath = static_cast<char*>(malloc(capacity));
    output->finalPath = CopyText(path);
    output->handle = INVALID_HANDLE_VALUE;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    if (output->tempPath != nullptr && output->finalPath != nullptr) {
        output->handle = CreateTemp(path, output->tempPath, capacity);
    }
    if (output->handle == INVALID_HANDLE_VALUE) {
        Failed(output->observer, path, GetLastError());
        FreeOutput(output);
        return 0;
    }
    AnnounceTemporary(output, output->tempPath, true);
    *file = output;
    return 1;
}

static FerrylineStatus Win32Write(const FerrylineFiles*, FerrylineFile file, const void* data, size_t bytes)
{
    HANDLE handle = static_cast<Win32Output*>(file)->handle;
    SetLastError(NO_ERROR);
    const char* from = static_cast<const char*>(data);
    while (bytes > 0) {
        DWORD want = static_cast<DWORD>(bytes < kChunkLimit ? bytes : kChunkLimit);
        DWORD done = 0;
        // A write the system took only in part is as failed as one it refused.
        if (!WriteFile(handle, from, want, &done, nullptr) || done != want) {
            DWORD error = done != want && GetLastError() == NO_ERROR ? ERROR_DISK_FULL : GetLastError();
            Failed(static_cast<Win32Output*>(file)->observer, static_cast<Win32Output*>(file)->finalPath, error);
            return FERRYLINE_COULD_NOT_WRITE;
        }
        from += done;
        bytes -= done;
    }
    return FERRYLINE_OK;
}

// The full form of `path` in a new block, or null.
static char* FullPathOf(const char* path)
{
    DWORD size = GetFullPathNameA(path, 0, nullptr, nullptr);
    char* full = size > 0 ? static_cast<char*>(malloc(size)) : nullptr;
    if (full != nullptr && GetFullPathNameA(path, size, full, nullptr) >= size) {
        free(full);
        full = nullptr;
    }
    return full;
}

// ReplaceFileA with full paths, which Wine's needs.
static int ReplaceByFullPaths(const char* replaced, const char* replacement)
{
    char* fullReplaced = FullPathOf(replaced);
    char* fullReplacement = FullPathOf(replacement);
    int ok = fullReplaced != nullptr && fullReplacement != nullptr &&
             ReplaceFileA(fullReplaced, fullReplacement, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
    DWORD error = GetLastError();
    free(fullReplaced);
    free(fullReplacement);
    SetLastError(error);
    return ok;
}

// Gives the finished, flushed output its name. An earlier file is replaced by ReplaceFileA, which keeps
// its ACLs, attributes, creation time and short name; a new one is moved there, written through.
static int MoveOver(const Win32Output* output)
{
    // The attributes are set beforehand too, for systems whose ReplaceFileA does not keep them (Wine).
    DWORD attributes = output->replacing ? GetFileAttributesA(output->finalPath) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && !SetFileAttributesA(output->tempPath, attributes)) {
        return 0;
    }
    if (output->replacing && ReplaceByFullPaths(output->finalPath, output->tempPath)) {
        return 1;
    }
    // The earlier file went away meanwhile: there is nothing left to keep, and no name to take over.
    if (output->replacing && GetLastError() != ERROR_FILE_NOT_FOUND) {
        return 0;
    }
    return MoveFileExA(output->tempPath, output->finalPath, MOVEFILE_WRITE_THROUGH) != 0;
}

// Makes `to` hold what `from` holds, from their first bytes, and flushes it: written over, then cut
// to length.
static int CopyContent(HANDLE from, HANDLE to)
{
    static const DWORD kPiece = 256 * 1024;
    char* buffer = static_cast<char*>(malloc(kPiece));
    LARGE_INTEGER start = {};
    int ok = buffer != nullptr && SetFilePointerEx(from, start, nullptr, FILE_BEGIN) &&
             SetFilePointerEx(to, start, nullptr, FILE_BEGIN);
    for (;;) {
        DWORD got = 0;
        if (!ok || !ReadFile(from, buffer, kPiece, &got, nullptr) || got == 0) {
            break;
        }
        DWORD put = 0;
        ok = WriteFile(to, buffer, got, &put, nullptr) && put == got;
    }
    DWORD error = GetLastError();
    free(buffer);
    SetLastError(error);
    return ok && SetEndOfFile(to) && FlushFileBuffers(to);
}

// Overwrites the earlier file itself, so that its other names see the new book. Its content goes first
// to a backup under a fixed name beside it, flushed; an interrupt meanwhile removes the backup and ends
// the process, the file as it was. From the first byte written in place to the flush of the last the
// console control handler waits; a conversion ended from outside (TerminateProcess, a power cut)
// leaves the backup, which the next conversion to the file points out. On a failure the earlier
// content comes back from the backup; a backup that cannot be put back is kept, and named.
static int WriteInPlace(const Win32Output* output)
{
    size_t size = strlen(output->finalPath) + sizeof kBackupSuffix;
    char* backupPath = static_cast<char*>(malloc(size));
    if (backupPath == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    snprintf(backupPath, size, "%s%s", output->finalPath, kBackupSuffix);
    HANDLE target = CreateFileA(output->finalPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE backup = target != INVALID_HANDLE_VALUE
                        ? CreateFileA(backupPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)
                        : INVALID_HANDLE_VALUE;
    if (backup != INVALID_HANDLE_VALUE) {
        AnnounceTemporary(output, backupPath, true);
    }
    HANDLE source = INVALID_HANDLE_VALUE;
    int ok = backup != INVALID_HANDLE_VALUE && CopyContent(target, backup);
    if (ok) {
        source = CreateFileA(output->tempPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ok = source != INVALID_HANDLE_VALUE;
    }
    bool keepBackup = false;
    if (ok) {
        g_inPlace.store(IN_PLACE_WRITING);
        if (!CopyContent(source, target)) {
            ok = 0;
            DWORD error = GetLastError();
            keepBackup = !CopyContent(backup, target);
            if (keepBackup && output->observer != nullptr && output->observer->backupKept != nullptr) {
                output->observer->backupKept(output->observer->context, output->finalPath, backupPath);
            }
            SetLastError(error);
        }
    }
    DWORD error = GetLastError();
    for (HANDLE handle : {source, target, backup}) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    if (backup != INVALID_HANDLE_VALUE) {
        if (!keepBackup) {
            DeleteFileA(backupPath);
        }
        AnnounceTemporary(output, backupPath, false);
    }
    g_inPlace.store(ok ? IN_PLACE_WRITTEN : IN_PLACE_NONE);
    free(backupPath);
    SetLastError(error);
    return ok;
}

static int Win32CommitOutput(const FerrylineFiles*, FerrylineFile file)
{
    Win32Output* output = static_cast<Win32Output*>(file);
    int ok = FlushFileBuffers(output->handle) != 0;
    DWORD error = GetLastError();
    // A failed close still closes the handle, so it is not closed again by the discard.
    if (!CloseHandle(output->handle) && ok) {
        ok = 0;
        error = GetLastError();
    }
    output->handle = INVALID_HANDLE_VALUE;
    if (ok && !(output->inPlace ? WriteInPlace(output) && DeleteFileA(output->tempPath) : MoveOver(output))) {
        ok = 0;
        error = GetLastError();
    }
    if (!ok) {
        return Failed(output->observer, output->finalPath, error);
    }
    AnnounceTemporary(output, output->tempPath, false);
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
    AnnounceTemporary(output, output->tempPath, false);
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
                                          Win32Write,      Win32CommitOutput, Win32DiscardOutput,
                                          PlatformSameFileOperation};
    return &kFiles;
}

void PlatformDescribeError(int error, char* text, size_t capacity)
{
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(error), 0, text, static_cast<DWORD>(capacity), nullptr);
    if (length == 0) {
        snprintf(text, capacity, "error %d", error);
        return;
    }
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
}

// The console control handler runs on a thread of its own and reaches only the record of shared.h.
static BOOL WINAPI RemoveTemporaryAndEnd(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    // A file being written in place is finished first; the process then ends as a conversion that
    // succeeded, since the file holds the new book.
    while (g_inPlace.load() == IN_PLACE_WRITING) {
        Sleep(1);
    }
    // The files are opened to be shared for deletion, so they go once the process ends.
    RemoveRecordedTemporaries();
    ExitProcess(g_inPlace.load() == IN_PLACE_WRITTEN ? 0 : 130);
}

void PlatformRemoveTemporaryOnInterrupt(PlatformObserver* observer)
{
    observer->temporary = NoteTemporary;
    SetConsoleCtrlHandler(RemoveTemporaryAndEnd, TRUE);
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
