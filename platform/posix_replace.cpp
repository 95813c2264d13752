// Replacing the output on POSIX systems: a new file takes the old one's name only once complete, a file
// whose identity a rename would lose is written in place behind a backup, and a device, pipe or file
// open elsewhere is written through once the conversion succeeded.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix.h"

#if defined(__linux__)
#include <sys/xattr.h>
#endif
#if defined(__has_include)
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#endif
#endif

#ifndef NAME_MAX
#define NAME_MAX 255
#endif

enum OutputKind {
    OUTPUT_NEW,       // nothing stood under the name: the output takes it
    OUTPUT_REPLACE,   // a file is replaced by a rename, its identity copied onto the output first
    OUTPUT_IN_PLACE,  // a file whose identity a rename would lose is overwritten, a backup beside it
    OUTPUT_STREAM     // a device, a pipe or a file open elsewhere, written directly once the output is complete
};

struct PosixOutput {
    OutputKind kind;
    const PlatformObserver* observer;
    char* path;       // the file the output goes to, its links resolved when the output was started
    int folderFd;     // that file's folder, which every later step works in
    char* name;       // its name in that folder
    int fd;           // the new content: a file without a name, or under tempPath
    char* tempPath;   // while the new content has a name: its path, for a signal handler to remove
    size_t tempNameAt;  // where in tempPath its name in the folder starts
    int oldFd;        // the file overwritten in place, open since the start
    int streamFd;     // the descriptor of this process a stream's path names, or -1 to open the path
    char* held;       // a stream's output, kept until it is complete
    size_t heldSize;
    size_t heldCapacity;
    off_t written;          // bytes written to fd so far
    off_t writebackStarted;  // the first of them not yet handed to the disk
    Writer* writer;          // writes to fd while the conversion goes on; null before the first piece
    bool writerTried;        // whether one was started (or could not be, and pieces are written here)
};

// A named temporary file is .ferryline-PID-XXXXXX, its process's id and six made-up characters, and
// is locked while that process writes it: a later conversion in the folder removes those whose
// process has ended (a SIGKILL, a power cut).
static const char kTemporaryPrefix[] = ".ferryline-";
static const char kTemporaryName[] = ".ferryline-XXXXXX";
static const size_t kMadeUp = 6;
// A conversion killed while it wrote in place leaves the earlier content under this name beside the file.
static const char kBackupSuffix[] = ".ferryline-backup";

static void AnnounceTemporary(const PosixOutput* output, const char* path, bool standing)
{
    if (output->observer != nullptr && output->observer->temporary != nullptr) {
        output->observer->temporary(output->observer->context, path, standing);
    }
}

// Replaces the last `count` characters of `name` with random letters and digits.
static void FillRandom(char* name, size_t count)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[16] = {};
    bool filled = false;
#ifdef GRND_NONBLOCK
    filled = getrandom(random, sizeof random, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof random);
#endif
    if (!filled) {
        // Only a clash with another name is at stake, which the caller retries a moment later.
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        unsigned long mixed = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(getpid()) << 20);
        for (size_t i = 0; i < sizeof random; ++i) {
            random[i] = static_cast<unsigned char>(mixed >> (8 * (i % sizeof mixed)));
            mixed = mixed * 6364136223846793005u + 1442695040888963407u;
        }
    }
    size_t length = strlen(name);
    for (size_t i = 0; i < count && i < length; ++i) {
        name[length - count + i] = kLetters[random[i % sizeof random] % (sizeof kLetters - 1)];
    }
}

// Creates a file under `name` in the folder, its last six characters made up so that nobody holds it.
static int CreateNamed(int folderFd, char* name, mode_t mode)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        FillRandom(name, kMadeUp);
        int fd = openat(folderFd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Locks the whole of an open file for writing, or tries to; whether it is locked now.
static bool LockWhole(int fd)
{
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd, F_SETLK, &lock) == 0;
}

// The process id a temporary file's name carries, or 0 for a name this program does not make.
static long TemporaryOwner(const char* name)
{
    size_t prefix = sizeof kTemporaryPrefix - 1;
    if (strncmp(name, kTemporaryPrefix, prefix) != 0 || name[prefix] < '1' || name[prefix] > '9') {
        return 0;
    }
    char* end = nullptr;
    long pid = strtol(name + prefix, &end, 10);
    if (*end != '-' || strlen(end + 1) != kMadeUp) {
        return 0;
    }
    for (const char* c = end + 1; *c != '\0'; ++c) {
        bool letter = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (!letter) {
            return 0;
        }
    }
    return pid;
}

// Removes the temporary files that conversions ended from outside left in the folder: of this
// program's pattern, the user's own, of a process that no longer runs, and locked by nobody (a
// process of another PID namespace writing it holds its lock).
static void RemoveStrayTemporaries(int folderFd)
{
    int listFd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (folder == nullptr) {
        if (listFd >= 0) {
            close(listFd);
        }
        return;
    }
    int error = errno;
    for (struct dirent* entry = readdir(folder); entry != nullptr; entry = readdir(folder)) {
        long pid = TemporaryOwner(entry->d_name);
        if (pid == 0 || pid == static_cast<long>(getpid()) || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
            continue;
        }
        int fd = openat(folderFd, entry->d_name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat info;
        if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() && LockWhole(fd)) {
            unlinkat(folderFd, entry->d_name, 0);
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    closedir(folder);
    errno = error;
}

// The backup beside `path`, PATH.ferryline-backup, in a new block, with its name's start in *nameAt.
static char* BackupPathOf(const char* path, size_t* nameAt)
{
    size_t length = strlen(path);
    char* backup = static_cast<char*>(malloc(length + sizeof kBackupSuffix));
    if (backup == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    memcpy(backup, path, length);
    memcpy(backup + length, kBackupSuffix, sizeof kBackupSuffix);
    const char* slash = strrchr(path, '/');
    *nameAt = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    return backup;
}

// Whether an interrupted conversion left a backup beside `name` in the folder.
static bool BackupStands(int folderFd, const char* name)
{
    char backup[NAME_MAX + 1];
    struct stat info;
    return snprintf(backup, sizeof backup, "%s%s", name, kBackupSuffix) < static_cast<int>(sizeof backup) &&
           fstatat(folderFd, backup, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// Copies the extended attributes of `from` to `to`: every one it lists, which on Linux carries its ACL
// (system.posix_acl_access) with it. Returns 0 when one could not be copied. Other systems' calls for
// them differ; there none are copied.
static int CopyAttributes(const PlatformObserver* observer, int from, int to)
{
#if !defined(__linux__)
    (void)observer;
    (void)from;
    (void)to;
    return 1;
#else
    ssize_t listed = flistxattr(from, nullptr, 0);
    if (listed <= 0) {
        return listed == 0 || errno == ENOTSUP;
    }
    if (Refused(observer, PLATFORM_STEP_SET_ATTRIBUTES)) {
        return 0;
    }
    size_t listSize = static_cast<size_t>(listed);
    char* names = static_cast<char*>(malloc(listSize));
    listed = names != nullptr ? flistxattr(from, names, listSize) : -1;
    int ok = listed >= 0;
    listSize = ok ? static_cast<size_t>(listed) : 0;
    char* value = nullptr;
    size_t valueCapacity = 0;
    for (size_t at = 0; ok && at < listSize; at += strnlen(names + at, listSize - at) + 1) {
        const char* name = names + at;
        ssize_t size = fgetxattr(from, name, nullptr, 0);
        if (size > 0 && static_cast<size_t>(size) > valueCapacity) {
            free(value);
            valueCapacity = static_cast<size_t>(size);
            value = static_cast<char*>(malloc(valueCapacity));
        }
        size = size >= 0 && (size == 0 || value != nullptr) ? fgetxattr(from, name, value, valueCapacity) : -1;
        ok = size >= 0 && fsetxattr(to, name, value, static_cast<size_t>(size), 0) == 0;
    }
    free(value);
    free(names);
    return ok;
#endif
}

// Gives the new file `to` the owner, group, permissions and extended attributes of `from`. Only what
// differs is set, so a file system without Unix permissions (FAT, SMB), where every file shows the
// same, is asked nothing. Returns 0 when something differs and could not be set.
static int CopyIdentity(const PlatformObserver* observer, int from, const struct stat& old, int to)
{
    struct stat now;
    if (fstat(to, &now) != 0) {
        return 0;
    }
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        (Refused(observer, PLATFORM_STEP_SET_OWNER) || fchown(to, old.st_uid, old.st_gid) != 0)) {
        return 0;
    }
    // After the owner: a change of owner clears the set-user and set-group bits.
    if ((now.st_mode & 07777) != (old.st_mode & 07777) &&
        (Refused(observer, PLATFORM_STEP_SET_MODE) || fchmod(to, old.st_mode & 07777) != 0)) {
        return 0;
    }
    return CopyAttributes(observer, from, to);
}

// The file the output is written to: one without a name where the file system allows (Linux), so
// that even a killed process or a power cut leaves nothing; else one under a fresh hidden name beside
// its target, which the interrupt handler removes.
static int CreateTemporary(PosixOutput* output, mode_t mode)
{
#ifdef O_TMPFILE
    if (!Refused(output->observer, PLATFORM_STEP_UNNAMED_FILE)) {
        output->fd = openat(output->folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (output->fd >= 0) {
            return 1;
        }
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return 0;
    }
#endif
    RemoveStrayTemporaries(output->folderFd);
    char pattern[64];
    snprintf(pattern, sizeof pattern, "%s%ld-%s", kTemporaryPrefix, static_cast<long>(getpid()), "XXXXXX");
    output->tempPath = PathBeside(output->path, pattern, &output->tempNameAt);
    if (output->tempPath == nullptr) {
        return 0;
    }
    sigset_t saved = BlockInterrupts();
    output->fd = CreateNamed(output->folderFd, output->tempPath + output->tempNameAt, mode);
    if (output->fd >= 0) {
        // Where the file system takes no locks, a stray file is only kept longer.
        LockWhole(output->fd);
        AnnounceTemporary(output, output->tempPath, true);
    } else {
        free(output->tempPath);
        output->tempPath = nullptr;
    }
    RestoreInterrupts(saved);
    return output->fd >= 0;
}

// Decides, once, what the output is and where it goes; errno tells why when it returns 0. Returns
// FERRYLINE_OUTPUT_BACKUP_FOUND when an interrupted conversion's backup stands beside the file.
static int StartOutput(PosixOutput* output, const char* path)
{
    PathEnd end;
    if (!WalkPath(path, &end)) {
        return 0;
    }
    if (end.openFile) {
        // Written through as the shell set it up: `>>` appends and `>` truncated already. Replacing
        // the file it leads to would lose what the descriptor's holder wrote there.
        output->kind = OUTPUT_STREAM;
        output->path = strdup(path);
        output->streamFd = end.ownDescriptor;
        int flags = end.ownDescriptor >= 0 ? fcntl(end.ownDescriptor, F_GETFL) : 0;
        if (flags == -1 || (end.ownDescriptor >= 0 && (flags & O_ACCMODE) == O_RDONLY)) {
            errno = EBADF;
            return 0;
        }
        return output->path != nullptr && (end.ownDescriptor >= 0 || access(path, W_OK) == 0);
    }
    bool magic = false;
    output->path = ResolveLinks(path, &magic);
    if (output->path == nullptr) {
        return 0;
    }
    struct stat info;
    bool exists = stat(output->path, &info) == 0;
    if (!exists && errno != ENOENT) {
        return 0;
    }
    if (exists && S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return 0;
    }
    if (exists && (magic || !S_ISREG(info.st_mode))) {
        // Opened only once the output is complete: opening a pipe is what its reader waits for.
        output->kind = OUTPUT_STREAM;
        return access(output->path, W_OK) == 0;
    }
    size_t nameAt = 0;
    char* folder = FolderOf(output->path, &nameAt);
    if (folder == nullptr) {
        return 0;
    }
    output->folderFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    free(folder);
    output->name = strdup(output->path + nameAt);
    if (output->folderFd < 0 || output->name == nullptr) {
        return 0;
    }
    if (output->name[0] == '\0') {
        errno = EISDIR;
        return 0;
    }
    if (BackupStands(output->folderFd, output->name)) {
        return FERRYLINE_OUTPUT_BACKUP_FOUND;
    }
    output->kind = exists ? OUTPUT_REPLACE : OUTPUT_NEW;
    struct stat old = {};
    if (exists) {
        // Opened now, so that what is copied from or written into later is this very file.
        output->oldFd = openat(output->folderFd, output->name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (output->oldFd < 0 || fstat(output->oldFd, &old) != 0) {
            return 0;
        }
        // The superuser may write anything, but a file nobody may write is still kept as read-only.
        if (!S_ISREG(old.st_mode) || (old.st_mode & 0222) == 0) {
            errno = EACCES;
            return 0;
        }
    }
    if (!CreateTemporary(output, exists ? 0600 : 0666)) {
        return 0;
    }
    if (exists && (old.st_nlink > 1 || !CopyIdentity(output->observer, output->oldFd, old, output->fd))) {
        output->kind = OUTPUT_IN_PLACE;
    }
    return 1;
}

// Lets the output's writer write what it holds and end; 0 with errno set when a write failed.
static int FinishOutputWriter(PosixOutput* output)
{
    Writer* writer = output->writer;
    output->writer = nullptr;
    return writer == nullptr || FinishWriter(writer);
}

static void ReleaseOutput(PosixOutput* output)
{
    FinishOutputWriter(output);
    if (output->fd >= 0) {
        close(output->fd);
    }
    if (output->tempPath != nullptr) {
        sigset_t saved = BlockInterrupts();
        unlinkat(output->folderFd, output->tempPath + output->tempNameAt, 0);
        AnnounceTemporary(output, output->tempPath, false);
        RestoreInterrupts(saved);
    }
    if (output->oldFd >= 0) {
        close(output->oldFd);
    }
    if (output->folderFd >= 0) {
        close(output->folderFd);
    }
    free(output->path);
    free(output->name);
    free(output->tempPath);
    free(output->held);
    free(output);
}

int PosixCreateOutput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    PosixOutput* output = static_cast<PosixOutput*>(calloc(1, sizeof(PosixOutput)));
    if (output == nullptr) {
        return Failed(Observer(self), path, ENOMEM);
    }
    output->observer = Observer(self);
    output->folderFd = -1;
    output->fd = -1;
    output->oldFd = -1;
    output->streamFd = -1;
    int started = StartOutput(output, path);
    if (started != 1) {
        if (started == 0) {
            Failed(output->observer, output->path != nullptr ? output->path : path, errno);
        }
        ReleaseOutput(output);
        return started;
    }
    *file = output;
    return 1;
}

// Keeps a stream's output in memory until it is complete.
static int Hold(PosixOutput* output, const void* data, size_t bytes)
{
    if (bytes > output->heldCapacity - output->heldSize) {
        size_t wanted = output->heldCapacity > 0 ? output->heldCapacity : 64 * 1024;
        while (wanted - output->heldSize < bytes) {
            if (wanted > SIZE_MAX / 2) {
                return 0;
            }
            wanted *= 2;
        }
        char* grown = static_cast<char*>(realloc(output->held, wanted));
        if (grown == nullptr) {
            return 0;
        }
        output->held = grown;
        output->heldCapacity = wanted;
    }
    memcpy(output->held + output->heldSize, data, bytes);
    output->heldSize += bytes;
    return 1;
}

#ifdef SYNC_FILE_RANGE_WRITE
// Written bytes handed to the disk at a time while the conversion goes on.
static const off_t kWritebackStep = 8 * 1024 * 1024;
#endif

// The fsync before the output takes its name waits for every byte still in memory; handing them to
// the disk as they are written lets the disk work while the conversion does, and leaves the fsync
// little to wait for. Only a hint: the fsync alone makes the output durable.
static void StartWriteback(PosixOutput* output)
{
#ifdef SYNC_FILE_RANGE_WRITE
    off_t pending = output->written - output->writebackStarted;
    if (pending >= kWritebackStep) {
        sync_file_range(output->fd, output->writebackStarted, pending, SYNC_FILE_RANGE_WRITE);
        output->writebackStarted = output->written;
    }
#else
    (void)output;
#endif
}

// Writes a piece to fd, and hands what has gathered to the disk.
static int WritePiece(void* context, const char* data, size_t bytes)
{
    PosixOutput* output = static_cast<PosixOutput*>(context);
    if (!WriteAll(output->fd, data, bytes)) {
        return 0;
    }
    output->written += static_cast<off_t>(bytes);
    StartWriteback(output);
    return 1;
}

FerrylineStatus PosixWrite(const FerrylineFiles*, FerrylineFile file, const void* data, size_t bytes)
{
    PosixOutput* output = static_cast<PosixOutput*>(file);
    if (output->kind == OUTPUT_STREAM) {
        if (Hold(output, data, bytes)) {
            return FERRYLINE_OK;
        }
        Failed(output->observer, output->path, ENOMEM);
        return FERRYLINE_COULD_NOT_WRITE;
    }
    if (!output->writerTried) {
        // Where the system gives no thread for it, the pieces are written as they come.
        output->writerTried = true;
        output->writer = StartWriter(WritePiece, output);
    }
    int written = output->writer != nullptr ? HandOver(output->writer, static_cast<const char*>(data), bytes)
                                            : WritePiece(output, static_cast<const char*>(data), bytes);
    if (written) {
        return FERRYLINE_OK;
    }
    Failed(output->observer, output->path, errno);
    return FERRYLINE_COULD_NOT_WRITE;
}

// Links the file without a name (only Linux makes one) into the folder under `name`; fails when the
// name is taken.
static int LinkUnnamed(int fd, int folderFd, const char* name)
{
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, folderFd, name, AT_SYMLINK_FOLLOW) == 0) {
        return 1;
    }
#ifdef AT_EMPTY_PATH
    // Without /proc the superuser may still link the descriptor itself.
    return errno == ENOENT && linkat(fd, "", folderFd, name, AT_EMPTY_PATH) == 0;
#else
    return 0;
#endif
}

// Renames `from` to `to` in the folder unless `to` is taken meanwhile.
static int RenameUnlessTaken(int folderFd, const char* from, const char* to)
{
#ifdef RENAME_NOREPLACE
    if (renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0) {
        return 1;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return 0;
    }
#endif
    // A system or file system without the flag: a hard link refuses a taken name too, and where there
    // are no hard links (FAT) a plain rename is all there is.
    if (linkat(folderFd, from, folderFd, to, 0) == 0) {
        unlinkat(folderFd, from, 0);
        return 1;
    }
    return (errno == EPERM || errno == EOPNOTSUPP) && renameat(folderFd, from, folderFd, to) == 0;
}

// Gives the finished output the name of the file it replaces, in that file's folder. A rename follows
// no link, so a link planted under the name meanwhile is replaced rather than followed; a new output
// takes no name that somebody else took meanwhile.
static int GiveName(PosixOutput* output)
{
    sigset_t saved = BlockInterrupts();
    int ok = 0;
    if (output->tempPath != nullptr) {
        const char* tempName = output->tempPath + output->tempNameAt;
        ok = output->kind == OUTPUT_NEW ? RenameUnlessTaken(output->folderFd, tempName, output->name)
                                        : renameat(output->folderFd, tempName, output->folderFd, output->name) == 0;
        if (ok) {
            AnnounceTemporary(output, output->tempPath, false);
            free(output->tempPath);
            output->tempPath = nullptr;
        }
    } else if (output->kind == OUTPUT_NEW) {
        ok = LinkUnnamed(output->fd, output->folderFd, output->name);
    } else {
        // A link never replaces a name, so the output gets a passing one to be renamed from.
        char passing[sizeof kTemporaryName];
        memcpy(passing, kTemporaryName, sizeof passing);
        for (int attempt = 0; attempt < 100 && !ok; ++attempt) {
            FillRandom(passing, kMadeUp);
            ok = LinkUnnamed(output->fd, output->folderFd, passing);
            if (!ok && errno != EEXIST) {
                break;
            }
        }
        if (ok && renameat(output->folderFd, passing, output->folderFd, output->name) != 0) {
            int error = errno;
            unlinkat(output->folderFd, passing, 0);
            errno = error;
            ok = 0;
        }
    }
    RestoreInterrupts(saved);
    return ok;
}

// Makes `to` hold what `from` holds, from their first bytes, and flushes it: written over, then cut to
// length, so that `to` is never shorter than both.
static int CopyContent(int from, int to)
{
    static const size_t kPiece = 256 * 1024;
    char* buffer = static_cast<char*>(malloc(kPiece));
    int ok = buffer != nullptr;
    off_t offset = 0;
    while (ok) {
        ssize_t got = pread(from, buffer, kPiece, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t put = 0; ok && put < got;) {
            ssize_t done = pwrite(to, buffer + put, static_cast<size_t>(got - put), offset + put);
            ok = done > 0 || (done < 0 && errno == EINTR);
            errno = done == 0 ? EIO : errno;
            put += done > 0 ? done : 0;
        }
        offset += got;
    }
    free(buffer);
    return ok && ftruncate(to, offset) == 0 && fsync(to) == 0;
}

// Whether two descriptors are open on one file; errno is EBUSY when they are not.
static bool SameOpenFile(int a, int b)
{
    struct stat first;
    struct stat second;
    if (fstat(a, &first) != 0 || fstat(b, &second) != 0) {
        return false;
    }
    bool same = first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    errno = same ? errno : EBUSY;
    return same;
}

// Overwrites the replaced file itself, which keeps its links and all else a rename would lose; the new
// book is complete and flushed in fd by now. The earlier content is first copied to a backup under a
// fixed name beside it and flushed with its name, so that even a process killed while overwriting
// leaves it, for the next conversion to that file to point out. From the first byte written in place to
// the last every signal that can be held is held: the exit status then tells the truth, 0 with the
// new book, 128 + the signal only while the file is as it was. On a failure the earlier content comes
// back from the backup; a backup that could not be put back is kept, and named.
static int WriteInPlace(PosixOutput* output)
{
    size_t nameAt = 0;
    char* backupPath = BackupPathOf(output->path, &nameAt);
    if (backupPath == nullptr) {
        return 0;
    }
    const char* backupName = backupPath + nameAt;
    sigset_t saved = BlockInterrupts();
    int backup = openat(output->folderFd, backupName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (backup >= 0) {
        AnnounceTemporary(output, backupPath, true);
    }
    RestoreInterrupts(saved);
    int reader = backup >= 0 ? openat(output->folderFd, output->name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
    int ok = reader >= 0 && SameOpenFile(reader, output->oldFd) && !Refused(output->observer, PLATFORM_STEP_BACKUP) &&
             CopyContent(reader, backup) && fsync(output->folderFd) == 0;
    bool keepBackup = false;
    if (ok) {
        saved = HoldAllSignals();
        if (Refused(output->observer, PLATFORM_STEP_WRITE_IN_PLACE) || !CopyContent(output->fd, output->oldFd)) {
            ok = 0;
            int error = errno;
            keepBackup = Refused(output->observer, PLATFORM_STEP_RESTORE) || !CopyContent(backup, output->oldFd);
            if (keepBackup && output->observer != nullptr && output->observer->backupKept != nullptr) {
                output->observer->backupKept(output->observer->context, output->path, backupPath);
            }
            errno = error;
        }
    }
    int error = errno;
    BlockInterrupts();
    if (backup >= 0) {
        close(backup);
        if (!keepBackup) {
            unlinkat(output->folderFd, backupName, 0);
            fsync(output->folderFd);
        }
        AnnounceTemporary(output, backupPath, false);
    }
    if (ok) {
        DropEndingSignals(saved);
    }
    RestoreInterrupts(saved);
    if (reader >= 0) {
        close(reader);
    }
    free(backupPath);
    errno = error;
    return ok;
}

// Writes the held output to the device, pipe or open file, now that it is complete. A file another
// process holds open is only added to: its holder's content is not ours to cut.
static int WriteStream(PosixOutput* output)
{
    if (output->streamFd >= 0) {
        return output->heldSize == 0 || WriteAll(output->streamFd, output->held, output->heldSize);
    }
    int fd = open(output->path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    int ok = output->heldSize == 0 || WriteAll(fd, output->held, output->heldSize);
    int error = errno;
    if (close(fd) != 0 && ok) {
        return 0;
    }
    errno = error;
    return ok;
}

int PosixCommitOutput(const FerrylineFiles*, FerrylineFile file)
{
    PosixOutput* output = static_cast<PosixOutput*>(file);
    int ok = 0;
    if (output->kind == OUTPUT_STREAM) {
        ok = WriteStream(output);
    } else if (FinishOutputWriter(output) && fsync(output->fd) == 0) {
        ok = output->kind == OUTPUT_IN_PLACE ? WriteInPlace(output) : GiveName(output);
    }
    if (!ok) {
        return Failed(output->observer, output->path, errno);
    }
    if (output->kind != OUTPUT_STREAM) {
        // The name is durable once its folder is. The file is in place by now, so a folder that
        // cannot be synced (some network and FAT mounts refuse) is not reported as a lost output.
        fsync(output->folderFd);
    }
    ReleaseOutput(output);
    return 1;
}

void PosixDiscardOutput(const FerrylineFiles*, FerrylineFile file)
{
    ReleaseOutput(static_cast<PosixOutput*>(file));
}
