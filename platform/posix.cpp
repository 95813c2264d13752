// Files, memory and standard streams on Linux and other POSIX systems.
#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

// One read or write call moves at most this much; the system may move less and is asked again.
static const size_t kChunkLimit = 1u << 30;

struct PosixOutput {
    int fd;
    char* tempPath;
    char* finalPath;
};

static int Descriptor(FerrylineFile file)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1;
}

// Descriptors are kept one up, so that descriptor 0 is not the null file.
static FerrylineFile AsFile(int fd)
{
    return reinterpret_cast<FerrylineFile>(static_cast<intptr_t>(fd) + 1);
}

static int WriteAll(int fd, const char* data, size_t bytes)
{
    while (bytes > 0) {
        ssize_t done = write(fd, data, bytes < kChunkLimit ? bytes : kChunkLimit);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return 0;
        }
        data += done;
        bytes -= static_cast<size_t>(done);
    }
    return 1;
}

static int PosixOpenInput(const FerrylineFiles*, const char* path, FerrylineFile* file)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return 0;
    }
    *file = AsFile(fd);
    return 1;
}

static int PosixInputSize(const FerrylineFiles*, FerrylineFile file, uint64_t* size)
{
    struct stat info;
    if (fstat(Descriptor(file), &info) != 0 || info.st_size < 0) {
        return 0;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return 1;
}

static int PosixRead(const FerrylineFiles*, FerrylineFile file, void* buffer, size_t bytes, size_t* got)
{
    char* into = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < bytes) {
        size_t want = bytes - total < kChunkLimit ? bytes - total : kChunkLimit;
        ssize_t done = read(Descriptor(file), into + total, want);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return 0;
        }
        if (done == 0) {
            break;
        }
        total += static_cast<size_t>(done);
    }
    *got = total;
    return 1;
}

static void PosixCloseInput(const FerrylineFiles*, FerrylineFile file)
{
    close(Descriptor(file));
}

// Whether `path` may be replaced: it does not exist, or it is a regular file that can be opened for
// writing and that somebody may write (the superuser may write anything, but a file nobody may write
// is still treated as read-only).
static int MayReplace(const char* path)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT;
    }
    struct stat info;
    int writable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0;
    close(fd);
    return writable;
}

// Creates a new, unshared file beside `finalPath` under a fresh name, with the permissions (and owner,
// where allowed) of an existing `finalPath`, or the usual ones for a new file.
static int CreateTemp(const char* finalPath, char* tempPath, size_t tempCapacity)
{
    static const char kTempName[] = ".ferryline-XXXXXX";
    const char* slash = strrchr(finalPath, '/');
    size_t folderLength = slash != nullptr ? static_cast<size_t>(slash - finalPath) + 1 : 0;
    if (folderLength + sizeof kTempName > tempCapacity) {
        return -1;
    }
    memcpy(tempPath, finalPath, folderLength);
    memcpy(tempPath + folderLength, kTempName, sizeof kTempName);
    int fd = mkostemp(tempPath, O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat existing;
    mode_t mode;
    if (stat(finalPath, &existing) == 0) {
        mode = existing.st_mode & 07777;
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
            // Only the superuser may give a file away; the permission bits still carry over.
        }
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd, mode) != 0) {
        close(fd);
        unlink(tempPath);
        return -1;
    }
    return fd;
}

static void FreeOutput(PosixOutput* output)
{
    free(output->tempPath);
    free(output->finalPath);
    free(output);
}

static int PosixCreateOutput(const FerrylineFiles*, const char* path, FerrylineFile* file)
{
    if (!MayReplace(path)) {
        return 0;
    }
    size_t capacity = strlen(path) + 32;
    PosixOutput* output = static_cast<PosixOutput*>(calloc(1, sizeof(PosixOutput)));
    if (output == nullptr) {
        return 0;
    }
    output->tempPath = static_cast<char*>(malloc(capacity));
    output->finalPath = strdup(path);
    output->fd = output->tempPath != nullptr && output->finalPath != nullptr
                     ? CreateTemp(path, output->tempPath, capacity)
                     : -1;
    if (output->fd < 0) {
        FreeOutput(output);
        return 0;
    }
    *file = output;
    return 1;
}

static int PosixWrite(const FerrylineFiles*, FerrylineFile file, const void* data, size_t bytes)
{
    return WriteAll(static_cast<PosixOutput*>(file)->fd, static_cast<const char*>(data), bytes);
}

// Moves a finished temporary file over `finalPath`. A symbolic link stays a link: the file it points to
// is the one replaced.
static int MoveOver(const char* tempPath, const char* finalPath)
{
    char* target = nullptr;
    struct stat info;
    if (lstat(finalPath, &info) == 0 && S_ISLNK(info.st_mode)) {
        target = realpath(finalPath, nullptr);
    }
    int ok = rename(tempPath, target != nullptr ? target : finalPath) == 0;
    free(target);
    return ok;
}

static int PosixCommitOutput(const FerrylineFiles*, FerrylineFile file)
{
    PosixOutput* output = static_cast<PosixOutput*>(file);
    // A failed close still closes the descriptor, so it is not closed again by the discard.
    int closed = close(output->fd) == 0;
    output->fd = -1;
    if (!closed || !MoveOver(output->tempPath, output->finalPath)) {
        return 0;
    }
    FreeOutput(output);
    return 1;
}

static void PosixDiscardOutput(const FerrylineFiles*, FerrylineFile file)
{
    PosixOutput* output = static_cast<PosixOutput*>(file);
    if (output->fd >= 0) {
        close(output->fd);
    }
    unlink(output->tempPath);
    FreeOutput(output);
}

// The input block is fresh memory that the read would fault in page by page, and on a virtual
// machine each fault and each TLB miss costs more than the bytes read. So a large block is asked
// for huge pages, and any block of more than a few pages is made resident in one call first.
static const size_t kPopulateSize = 256 * 1024;
static const size_t kHugePageSize = 4 * 1024 * 1024;

static void AdviseBlock(void* block, size_t bytes)
{
    // Only whole pages inside the block, past the allocator's own header, are advised.
    long pageSize = sysconf(_SC_PAGESIZE);
    uintptr_t page = pageSize > 0 ? static_cast<uintptr_t>(pageSize) : 4096;
    uintptr_t start = reinterpret_cast<uintptr_t>(block);
    uintptr_t first = (start + page - 1) / page * page;
    uintptr_t end = (start + bytes) / page * page;
    if (end <= first) {
        return;
    }
    void* pages = reinterpret_cast<void*>(first);
    size_t length = end - first;
    // Both are hints: where the system refuses one, the block works the same, more slowly.
#ifdef MADV_HUGEPAGE
    if (bytes >= kHugePageSize) {
        madvise(pages, length, MADV_HUGEPAGE);
    }
#endif
#ifdef MADV_POPULATE_WRITE
    madvise(pages, length, MADV_POPULATE_WRITE);
#endif
}

void* ferryline_system_alloc(void*, void* block, size_t oldSize, size_t newSize)
{
    if (newSize == 0) {
        free(block);
        return nullptr;
    }
    void* grown = realloc(block, newSize);
    if (grown != nullptr && newSize >= kPopulateSize && newSize > oldSize) {
        AdviseBlock(grown, newSize);
    }
    return grown;
}

const FerrylineFiles* ferryline_system_files(void)
{
    static const FerrylineFiles kFiles = {nullptr,         PosixOpenInput,    PosixInputSize,
                                          PosixRead,       PosixCloseInput,   PosixCreateOutput,
                                          PosixWrite,      PosixCommitOutput, PosixDiscardOutput};
    return &kFiles;
}

int PlatformSameFile(const char* pathA, const char* pathB)
{
    struct stat a;
    struct stat b;
    if (stat(pathA, &a) != 0 || stat(pathB, &b) != 0) {
        return 0;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool PlatformIsPathSeparator(char c)
{
    return c == '/';
}

void PlatformPrepareStandardStreams()
{
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}
