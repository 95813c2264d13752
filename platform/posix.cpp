// Files, memory and messages on Linux and other POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

// Small pieces are gathered before they reach the system; a failed flush fails the write or close
// that triggered it, so every failure still takes the frame's path.
static const size_t kGatherSize = 256 * 1024;
// One read or write call moves at most this much; the system may move less and is asked again.
static const size_t kChunkLimit = 1u << 30;

struct PosixFile {
    int fd;
    char* gather;  // null for files opened for reading
    size_t pending;
};

static PosixFile* WrapDescriptor(int fd, bool forWriting)
{
    PosixFile* file = static_cast<PosixFile*>(calloc(1, sizeof(PosixFile)));
    if (file != nullptr && forWriting) {
        file->gather = static_cast<char*>(malloc(kGatherSize));
        if (file->gather == nullptr) {
            free(file);
            file = nullptr;
        }
    }
    if (file == nullptr) {
        close(fd);
        return nullptr;
    }
    file->fd = fd;
    return file;
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

static int FlushGathered(PosixFile* file)
{
    size_t pending = file->pending;
    file->pending = 0;
    return WriteAll(file->fd, file->gather, pending);
}

static int PosixOpenRead(const char* path, PlatformFile* result)
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
    *result = WrapDescriptor(fd, false);
    return *result != nullptr;
}

static int PosixFileSize(PlatformFile handle, uint64_t* size)
{
    struct stat info;
    if (fstat(static_cast<PosixFile*>(handle)->fd, &info) != 0 || info.st_size < 0) {
        return 0;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return 1;
}

static int PosixReadFile(PlatformFile handle, void* buffer, size_t bytes, size_t* got)
{
    int fd = static_cast<PosixFile*>(handle)->fd;
    char* into = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < bytes) {
        size_t want = bytes - total < kChunkLimit ? bytes - total : kChunkLimit;
        ssize_t done = read(fd, into + total, want);
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

static int PosixCloseFile(PlatformFile handle)
{
    PosixFile* file = static_cast<PosixFile*>(handle);
    int ok = file->gather == nullptr || FlushGathered(file);
    if (close(file->fd) != 0) {
        ok = 0;
    }
    free(file->gather);
    free(file);
    return ok;
}

static int PosixProbeWritable(const char* path)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno == ENOENT;
    }
    // The superuser may write anything; a file nobody may write is still treated as read-only.
    struct stat info;
    int writable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0;
    close(fd);
    return writable;
}

static int PosixCreateTemp(const char* finalPath, char* tempPath, size_t tempCapacity, PlatformFile* result)
{
    static const char kTempName[] = ".ferryline-XXXXXX";
    const char* slash = strrchr(finalPath, '/');
    size_t folderLength = slash != nullptr ? static_cast<size_t>(slash - finalPath) + 1 : 0;
    if (folderLength + sizeof kTempName > tempCapacity) {
        return 0;
    }
    memcpy(tempPath, finalPath, folderLength);
    memcpy(tempPath + folderLength, kTempName, sizeof kTempName);
    int fd = mkostemp(tempPath, O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    // A replaced file keeps its permissions (and owner, where allowed); a new one gets the usual ones.
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
        return 0;
    }
    *result = WrapDescriptor(fd, true);
    if (*result == nullptr) {
        unlink(tempPath);
        return 0;
    }
    return 1;
}

static int PosixWriteFile(PlatformFile handle, const void* data, size_t bytes, size_t* written)
{
    PosixFile* file = static_cast<PosixFile*>(handle);
    *written = 0;
    if (file->pending + bytes > kGatherSize && file->pending > 0 && !FlushGathered(file)) {
        return 0;
    }
    if (bytes >= kGatherSize) {
        if (!WriteAll(file->fd, static_cast<const char*>(data), bytes)) {
            return 0;
        }
    } else {
        memcpy(file->gather + file->pending, data, bytes);
        file->pending += bytes;
    }
    *written = bytes;
    return 1;
}

static int PosixDeleteFile(const char* path)
{
    return unlink(path) == 0;
}

static int PosixReplaceFile(const char* tempPath, const char* finalPath)
{
    // A symbolic link stays a link: the file it points to is the one replaced.
    char* target = nullptr;
    struct stat info;
    if (lstat(finalPath, &info) == 0 && S_ISLNK(info.st_mode)) {
        target = realpath(finalPath, nullptr);
    }
    int ok = rename(tempPath, target != nullptr ? target : finalPath) == 0;
    free(target);
    return ok;
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

static void* PosixAllocZeroed(size_t bytes)
{
    void* block = calloc(1, bytes);
    if (block != nullptr && bytes >= kPopulateSize) {
        AdviseBlock(block, bytes);
    }
    return block;
}

static void PosixFreeBlock(void* block)
{
    free(block);
}

PlatformOps PlatformDefaultOps()
{
    PlatformOps ops;
    ops.openRead = PosixOpenRead;
    ops.fileSize = PosixFileSize;
    ops.readFile = PosixReadFile;
    ops.closeFile = PosixCloseFile;
    ops.probeWritable = PosixProbeWritable;
    ops.createTemp = PosixCreateTemp;
    ops.writeFile = PosixWriteFile;
    ops.deleteFile = PosixDeleteFile;
    ops.replaceFile = PosixReplaceFile;
    ops.allocZeroed = PosixAllocZeroed;
    ops.freeBlock = PosixFreeBlock;
    ops.showMessage = PlatformPrintMessage;
    return ops;
}

PlatformOps g_platform = PlatformDefaultOps();

int PlatformSameFile(const char* pathA, const char* pathB)
{
    struct stat a;
    struct stat b;
    if (stat(pathA, &a) != 0 || stat(pathB, &b) != 0) {
        return 0;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
