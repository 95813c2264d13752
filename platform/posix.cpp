// Files, memory and standard streams on Linux and other POSIX systems.
#include <atomic>
#include <initializer_list>

#include <errno.h>
#include <signal.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

// One read or write call moves at most this much; the system may move less and is asked again.
static const size_t kChunkLimit = 1u << 30;

static int WriteAll(int fd, const char* data, size_t bytes)
{
    while (bytes > 0) {
        ssize_t done = write(fd, data, bytes < kChunkLimit ? bytes : kChunkLimit);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            errno = done == 0 ? EIO : errno;
            return 0;
        }
        data += done;
        bytes -= static_cast<size_t>(done);
    }
    return 1;
}

static const PlatformObserver* Observer(const FerrylineFiles* self)
{
    return static_cast<const PlatformObserver*>(self->context);
}

// Tells the observer why an operation on `path` failed, and returns 0 for the operation to return.
static int Failed(const PlatformObserver* observer, const char* path, int error)
{
    if (observer != nullptr && observer->failed != nullptr) {
        observer->failed(observer->context, path, error);
    }
    return 0;
}

// Whether a test refuses `step`; errno is then the error it chose.
static bool Refused(const PlatformObserver* observer, PlatformStep step)
{
    int error = observer != nullptr && observer->refuse != nullptr ? observer->refuse(observer->context, step) : 0;
    if (error != 0) {
        errno = error;
    }
    return error != 0;
}

struct PosixInput {
    int fd;
    const PlatformObserver* observer;
    char* path;  // for the reason of a failed read
};

static PosixInput* Input(FerrylineFile file)
{
    return static_cast<PosixInput*>(file);
}

// Anything readable but a folder is read to its end: a FIFO waits here for its writer, and a /proc
// file or a pipe says nothing true of its size.
static int PosixOpenInput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return Failed(Observer(self), path, errno);
    }
    struct stat info;
    int error = fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    PosixInput* input = error == 0 ? static_cast<PosixInput*>(malloc(sizeof(PosixInput))) : nullptr;
    char* copy = input != nullptr ? strdup(path) : nullptr;
    if (copy == nullptr) {
        free(input);
        close(fd);
        return Failed(Observer(self), path, error != 0 ? error : ENOMEM);
    }
    *input = PosixInput{fd, Observer(self), copy};
    *file = input;
    return 1;
}

static int PosixInputSize(const FerrylineFiles*, FerrylineFile file, uint64_t* size)
{
    struct stat info;
    if (fstat(Input(file)->fd, &info) != 0 || info.st_size < 0) {
        return Failed(Input(file)->observer, Input(file)->path, errno);
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
        ssize_t done = read(Input(file)->fd, into + total, want);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return Failed(Input(file)->observer, Input(file)->path, errno);
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
    close(Input(file)->fd);
    free(Input(file)->path);
    free(Input(file));
}

enum OutputKind {
    OUTPUT_NEW,       // nothing stood under the name: the output takes it
    OUTPUT_REPLACE,   // a file is replaced by a rename, its identity copied onto the output first
    OUTPUT_IN_PLACE,  // a file whose identity a rename would lose is overwritten, a backup beside it
    OUTPUT_STREAM     // a device, a pipe or a file open elsewhere, written directly once the output is complete
};

struct Writer;

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

static const char kTemporaryName[] = ".ferryline-XXXXXX";
// A conversion killed while it wrote in place leaves the earlier content under this name beside the file.
static const char kBackupSuffix[] = ".ferryline-backup";
// Above every signal number of the systems this runs on; sigismember refuses those beyond its own.
static const int kHighestSignal = 65;
static const int kMaxLinkHops = 40;

// The signals whose handler removes the temporary files (PlatformRemoveTemporaryOnInterrupt).
static const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2};

static sigset_t BlockInterrupts()
{
    sigset_t interrupts;
    sigset_t saved;
    sigemptyset(&interrupts);
    for (int signalNumber : kInterrupts) {
        sigaddset(&interrupts, signalNumber);
    }
    pthread_sigmask(SIG_BLOCK, &interrupts, &saved);
    return saved;
}

// Restores the signal mask without losing the errno of the step before.
static void RestoreInterrupts(const sigset_t& saved)
{
    int error = errno;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    errno = error;
}

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
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        // Only a clash with another name is at stake, which the caller retries.
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        unsigned long mixed = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(getpid()) << 20);
        memcpy(random, &mixed, sizeof mixed);
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
        FillRandom(name, 6);
        int fd = openat(folderFd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// `pattern` in the folder of `path`: a new block, with the name's start in *nameAt.
static char* PathBeside(const char* path, const char* pattern, size_t* nameAt)
{
    const char* slash = strrchr(path, '/');
    *nameAt = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    size_t patternSize = strlen(pattern) + 1;
    char* beside = static_cast<char*>(malloc(*nameAt + patternSize));
    if (beside != nullptr) {
        memcpy(beside, path, *nameAt);
        memcpy(beside + *nameAt, pattern, patternSize);
    } else {
        errno = ENOMEM;
    }
    return beside;
}

// The folder of `path` in a new block ("." when it names none), with its name's start in *nameAt.
static char* FolderOf(const char* path, size_t* nameAt)
{
    char* folder = PathBeside(path, "", nameAt);
    if (folder != nullptr && *nameAt == 0) {
        free(folder);
        folder = strdup(".");
    } else if (folder != nullptr) {
        folder[*nameAt > 1 ? *nameAt - 1 : *nameAt] = '\0';
    }
    return folder;
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

// Whether a link may be followed, by the kernel's rule for protected symbolic links: not a link of
// somebody else in a sticky folder that anybody may write, unless it is the folder's owner's.
static bool MayFollow(const char* linkPath, const struct stat& link)
{
    if (link.st_uid == geteuid()) {
        return true;
    }
    size_t nameAt = 0;
    char* folder = FolderOf(linkPath, &nameAt);
    struct stat info;
    bool may = folder != nullptr && stat(folder, &info) == 0 &&
               ((info.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH) || info.st_uid == link.st_uid);
    free(folder);
    return may;
}

// What the end of an output path is, as far as following it showed.
struct PathEnd {
    bool openFile;         // a link to a file some process holds open (/proc/PID/fd/N, /dev/fd/N)
    int ownDescriptor;     // this process's descriptor it names, or -1
};

// Whether `folder`, free of links, holds the open files of a process: its id in *pid, 0 for this one.
static bool IsDescriptorFolder(const char* folder, long* pid)
{
    if (strcmp(folder, "/dev/fd") == 0) {
        *pid = 0;
        return true;
    }
    if (strncmp(folder, "/proc/", 6) != 0) {
        return false;
    }
    char* end = nullptr;
    long number = strtol(folder + 6, &end, 10);
    if (end == folder + 6) {
        return false;
    }
    if (strncmp(end, "/task/", 6) == 0) {
        const char* task = end + 6;
        strtol(task, &end, 10);
        if (end == task) {
            return false;
        }
    }
    *pid = number == static_cast<long>(getpid()) ? 0 : number;
    return strcmp(end, "/fd") == 0;
}

// A descriptor number spelled in full ("1", not "01" or "1x"), or -1.
static int DescriptorNumber(const char* name)
{
    if (name[0] < '0' || name[0] > '9' || (name[0] == '0' && name[1] != '\0')) {
        return -1;
    }
    char* end = nullptr;
    long number = strtol(name, &end, 10);
    return *end == '\0' && number <= INT_MAX ? static_cast<int>(number) : -1;
}

// Follows `path` a component at a time as the system would, opening nothing, to tell two things the
// system does not: a link of another user in a sticky shared folder anywhere along it is refused
// (EACCES), whatever the kernel's protected_symlinks setting, and whether it ends at a file that a
// process holds open. A component the system cannot look at ends the walk: opening the path reports it.
static int WalkPath(const char* path, PathEnd* end)
{
    *end = PathEnd{false, -1};
    static const char* const kStandardNames[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    for (int number = 0; number < 3; ++number) {
        if (strcmp(path, kStandardNames[number]) == 0) {
            *end = PathEnd{true, number};
            return 1;
        }
    }
    char done[PATH_MAX];  // the part followed, free of links: "" (relative) or from "/"
    char rest[2 * PATH_MAX];
    char next[2 * PATH_MAX];
    if (strlen(path) >= sizeof rest) {
        return 1;
    }
    snprintf(done, sizeof done, "%s", path[0] == '/' ? "/" : "");
    snprintf(rest, sizeof rest, "%s", path);
    int hops = 0;
    for (char* at = rest; *at != '\0';) {
        while (*at == '/') {
            ++at;
        }
        char* stop = strchr(at, '/');
        size_t length = stop != nullptr ? static_cast<size_t>(stop - at) : strlen(at);
        bool last = stop == nullptr || stop[strspn(stop, "/")] == '\0';
        char name[NAME_MAX + 1];
        if (length == 0 || length > NAME_MAX) {
            return 1;
        }
        memcpy(name, at, length);
        name[length] = '\0';
        at += length;
        size_t doneLength = strlen(done);
        if (strcmp(name, ".") == 0 || (strcmp(name, "..") == 0 && strcmp(done, "/") == 0)) {
            continue;
        }
        const char* lastSlash = strrchr(done, '/');
        const char* lastName = lastSlash != nullptr ? lastSlash + 1 : done;
        if (strcmp(name, "..") == 0 && *lastName != '\0' && strcmp(lastName, "..") != 0) {
            done[lastSlash == done ? 1 : lastSlash != nullptr ? static_cast<size_t>(lastSlash - done) : 0] = '\0';
            continue;
        }
        char candidate[PATH_MAX];
        const char* separator = doneLength == 0 || done[doneLength - 1] == '/' ? "" : "/";
        if (snprintf(candidate, sizeof candidate, "%s%s%s", done, separator, name) >= static_cast<int>(sizeof candidate)) {
            return 1;
        }
        struct stat info;
        if (lstat(candidate, &info) != 0) {
            return 1;
        }
        long pid = 0;
        if (last && IsDescriptorFolder(done, &pid)) {
            int number = DescriptorNumber(name);
            *end = PathEnd{number >= 0, pid == 0 ? number : -1};
            return 1;
        }
        if (!S_ISLNK(info.st_mode)) {
            memcpy(done, candidate, strlen(candidate) + 1);
            continue;
        }
        if (!MayFollow(candidate, info)) {
            errno = EACCES;
            return 0;
        }
        char target[PATH_MAX];
        ssize_t got = readlink(candidate, target, sizeof target - 1);
        if (got <= 0 || ++hops > kMaxLinkHops) {
            errno = got <= 0 ? errno : ELOOP;
            return got <= 0;
        }
        target[got] = '\0';
        if (snprintf(next, sizeof next, "%s/%s", target, at) >= static_cast<int>(sizeof next)) {
            return 1;
        }
        memcpy(rest, next, strlen(next) + 1);
        at = rest;
        if (target[0] == '/') {
            snprintf(done, sizeof done, "/");
        }
    }
    return 1;
}

// The file `path` names, any symbolic links at its end followed now, once: a link whose target is
// missing leads to that target, to be created. A link whose text names another file than the one it
// opens (/proc/self/fd/1 to a pipe) is kept, with *magic set: only opening it reaches its file.
static char* ResolveLinks(const char* path, bool* magic)
{
    char* current = strdup(path);
    for (int hop = 0; current != nullptr && hop < kMaxLinkHops; ++hop) {
        struct stat info;
        if (lstat(current, &info) != 0 || !S_ISLNK(info.st_mode)) {
            return current;
        }
        if (!MayFollow(current, info)) {
            free(current);
            errno = EACCES;
            return nullptr;
        }
        char target[PATH_MAX];
        ssize_t length = readlink(current, target, sizeof target - 1);
        size_t nameAt = 0;
        char* next = length >= 0 ? PathBeside(current, "", &nameAt) : nullptr;
        if (next != nullptr) {
            target[length] = '\0';
            size_t prefix = target[0] == '/' ? 0 : nameAt;
            char* joined = static_cast<char*>(realloc(next, prefix + static_cast<size_t>(length) + 1));
            if (joined == nullptr) {
                free(next);
            } else {
                memcpy(joined + prefix, target, static_cast<size_t>(length) + 1);
            }
            next = joined;
        }
        if (next == nullptr) {
            free(current);
            return nullptr;
        }
        struct stat through;
        struct stat named;
        if (stat(current, &through) == 0 &&
            (stat(next, &named) != 0 || named.st_dev != through.st_dev || named.st_ino != through.st_ino)) {
            free(next);
            *magic = true;
            return current;
        }
        free(current);
        current = next;
    }
    errno = current != nullptr ? ELOOP : ENOMEM;
    free(current);
    return nullptr;
}

// Copies the extended attributes of `from` to `to`: every one it lists, which on Linux carries its ACL
// (system.posix_acl_access) with it. Returns 0 when one could not be copied.
static int CopyAttributes(const PlatformObserver* observer, int from, int to)
{
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

// The file the output is written to: one without a name where the file system allows, so that even a
// killed process or a power cut leaves nothing; else one under a fresh hidden name beside its target.
static int CreateTemporary(PosixOutput* output, mode_t mode)
{
    if (!Refused(output->observer, PLATFORM_STEP_UNNAMED_FILE)) {
        output->fd = openat(output->folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
        if (output->fd >= 0) {
            return 1;
        }
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return 0;
    }
    output->tempPath = PathBeside(output->path, kTemporaryName, &output->tempNameAt);
    if (output->tempPath == nullptr) {
        return 0;
    }
    sigset_t saved = BlockInterrupts();
    output->fd = CreateNamed(output->folderFd, output->tempPath + output->tempNameAt, mode);
    if (output->fd >= 0) {
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

static int FinishWriter(PosixOutput* output);

static void ReleaseOutput(PosixOutput* output)
{
    FinishWriter(output);
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

static int PosixCreateOutput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
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

// Written bytes handed to the disk at a time while the conversion goes on.
static const off_t kWritebackStep = 8 * 1024 * 1024;

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
static int WritePiece(PosixOutput* output, const char* data, size_t bytes)
{
    if (!WriteAll(output->fd, data, bytes)) {
        return 0;
    }
    output->written += static_cast<off_t>(bytes);
    StartWriteback(output);
    return 1;
}

// The pieces go to fd from a thread of its own while the conversion makes the next ones: copying a
// piece into a slot costs a fraction of its write, in which the system copies it into its cache and
// finds pages for it. Two slots: one being written, one being filled.
static const size_t kSlotCount = 2;
static const size_t kSlotCapacity = 256 * 1024;

struct Writer {
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t changed;  // a slot was handed over or written, or the last one will not come
    char* slots;             // kSlotCount slots of kSlotCapacity bytes
    size_t sizes[kSlotCount];
    size_t next;             // the slot the thread writes next
    size_t handed;           // slots handed over and not yet written
    bool finishing;          // no slot will be handed over any more
    int error;               // the errno of the first write that failed, 0 while none has
};

static void* WriteSlots(void* argument)
{
    PosixOutput* output = static_cast<PosixOutput*>(argument);
    Writer* writer = output->writer;
    pthread_mutex_lock(&writer->lock);
    for (;;) {
        while (writer->handed == 0 && !writer->finishing) {
            pthread_cond_wait(&writer->changed, &writer->lock);
        }
        if (writer->handed == 0) {
            break;
        }
        size_t slot = writer->next;
        bool failed = writer->error != 0;
        pthread_mutex_unlock(&writer->lock);
        // After a failure the rest is only taken, never written: the output is lost anyway.
        int error = 0;
        if (!failed && !WritePiece(output, writer->slots + slot * kSlotCapacity, writer->sizes[slot])) {
            error = errno;
        }
        pthread_mutex_lock(&writer->lock);
        writer->error = writer->error != 0 ? writer->error : error;
        writer->next = (slot + 1) % kSlotCount;
        --writer->handed;
        pthread_cond_broadcast(&writer->changed);
    }
    pthread_mutex_unlock(&writer->lock);
    return nullptr;
}

// Starts the output's writer; false, with nothing held, where the system gives no thread or memory for
// it, and the pieces are written as they come.
static bool StartWriter(PosixOutput* output)
{
    Writer* writer = static_cast<Writer*>(calloc(1, sizeof(Writer)));
    char* slots = static_cast<char*>(malloc(kSlotCount * kSlotCapacity));
    if (writer == nullptr || slots == nullptr) {
        free(writer);
        free(slots);
        return false;
    }
    writer->slots = slots;
    pthread_mutex_init(&writer->lock, nullptr);
    pthread_cond_init(&writer->changed, nullptr);
    output->writer = writer;
    // The thread takes no signal: an interrupt is handled where the conversion runs.
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &saved);
    int started = pthread_create(&writer->thread, nullptr, WriteSlots, output);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (started != 0) {
        pthread_cond_destroy(&writer->changed);
        pthread_mutex_destroy(&writer->lock);
        free(slots);
        free(writer);
        output->writer = nullptr;
        return false;
    }
    return true;
}

// Hands a piece to the writer, waiting for a free slot. Returns 0 with errno set once a write has
// failed.
static int HandOver(Writer* writer, const char* data, size_t bytes)
{
    while (bytes > 0) {
        pthread_mutex_lock(&writer->lock);
        while (writer->handed == kSlotCount && writer->error == 0) {
            pthread_cond_wait(&writer->changed, &writer->lock);
        }
        int error = writer->error;
        size_t slot = (writer->next + writer->handed) % kSlotCount;
        pthread_mutex_unlock(&writer->lock);
        if (error != 0) {
            errno = error;
            return 0;
        }
        // The thread does not touch a slot before it is handed over.
        size_t size = bytes < kSlotCapacity ? bytes : kSlotCapacity;
        memcpy(writer->slots + slot * kSlotCapacity, data, size);
        writer->sizes[slot] = size;
        pthread_mutex_lock(&writer->lock);
        ++writer->handed;
        pthread_cond_broadcast(&writer->changed);
        pthread_mutex_unlock(&writer->lock);
        data += size;
        bytes -= size;
    }
    return 1;
}

// Lets the writer write what it holds and end. Returns 0 with errno set when a write failed.
static int FinishWriter(PosixOutput* output)
{
    Writer* writer = output->writer;
    if (writer == nullptr) {
        return 1;
    }
    pthread_mutex_lock(&writer->lock);
    writer->finishing = true;
    pthread_cond_broadcast(&writer->changed);
    pthread_mutex_unlock(&writer->lock);
    pthread_join(writer->thread, nullptr);
    int error = writer->error;
    pthread_cond_destroy(&writer->changed);
    pthread_mutex_destroy(&writer->lock);
    free(writer->slots);
    free(writer);
    output->writer = nullptr;
    if (error != 0) {
        errno = error;
    }
    return error == 0;
}

static int PosixWrite(const FerrylineFiles*, FerrylineFile file, const void* data, size_t bytes)
{
    PosixOutput* output = static_cast<PosixOutput*>(file);
    if (output->kind == OUTPUT_STREAM) {
        return Hold(output, data, bytes) ? 1 : Failed(output->observer, output->path, ENOMEM);
    }
    if (!output->writerTried) {
        output->writerTried = true;
        StartWriter(output);
    }
    int written = output->writer != nullptr ? HandOver(output->writer, static_cast<const char*>(data), bytes)
                                            : WritePiece(output, static_cast<const char*>(data), bytes);
    return written ? 1 : Failed(output->observer, output->path, errno);
}

// Links the file without a name into the folder under `name`; fails when the name is taken.
static int LinkUnnamed(int fd, int folderFd, const char* name)
{
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, folderFd, name, AT_SYMLINK_FOLLOW) == 0) {
        return 1;
    }
    // Without /proc the superuser may still link the descriptor itself.
    return errno == ENOENT && linkat(fd, "", folderFd, name, AT_EMPTY_PATH) == 0;
}

// Renames `from` to `to` in the folder unless `to` is taken meanwhile.
static int RenameUnlessTaken(int folderFd, const char* from, const char* to)
{
    if (renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0) {
        return 1;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return 0;
    }
    // A file system without the flag: a hard link refuses a taken name too, and where there are no
    // hard links (FAT) a plain rename is all there is.
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
            FillRandom(passing, 6);
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

// Signals that only pause or tell of a change, which a finished rewrite lets through; every other
// one that arrived during it is dropped, the file then holding the new book.
static bool Harmless(int signalNumber)
{
    for (int harmless : {SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH}) {
        if (signalNumber == harmless) {
            return true;
        }
    }
    return false;
}

// Every signal that can be blocked, but those the processor raises for a fault of this process.
static sigset_t HoldAllSignals()
{
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
        sigdelset(&all, fault);
    }
    pthread_sigmask(SIG_BLOCK, &all, &saved);
    return saved;
}

// Takes the held signals that would end the process, so that the mask can be restored.
static void DropEndingSignals(const sigset_t& saved)
{
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return;
    }
    for (int signalNumber = 1; signalNumber < kHighestSignal; ++signalNumber) {
        if (sigismember(&pending, signalNumber) == 1 && sigismember(&saved, signalNumber) == 0 &&
            !Harmless(signalNumber)) {
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signalNumber);
            int taken = 0;
            sigwait(&one, &taken);
        }
    }
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

static int PosixCommitOutput(const FerrylineFiles*, FerrylineFile file)
{
    PosixOutput* output = static_cast<PosixOutput*>(file);
    int ok = 0;
    if (output->kind == OUTPUT_STREAM) {
        ok = WriteStream(output);
    } else if (FinishWriter(output) && fsync(output->fd) == 0) {
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

static void PosixDiscardOutput(const FerrylineFiles*, FerrylineFile file)
{
    ReleaseOutput(static_cast<PosixOutput*>(file));
}

const FerrylineFiles* ferryline_system_files(void)
{
    static const FerrylineFiles kFiles = {nullptr,         PosixOpenInput,    PosixInputSize,
                                          PosixRead,       PosixCloseInput,   PosixCreateOutput,
                                          PosixWrite,      PosixCommitOutput, PosixDiscardOutput};
    return &kFiles;
}

void PlatformDescribeError(int error, char* text, size_t capacity)
{
    char buffer[256];
    snprintf(text, capacity, "%s", strerror_r(error, buffer, sizeof buffer));
}

// The one process-wide record of the library (see platform.h): a handler can reach nothing else.
static std::atomic<const char*> g_removeOnInterrupt[2];

static void NoteTemporary(void*, const char* path, bool standing)
{
    for (std::atomic<const char*>& slot : g_removeOnInterrupt) {
        const char* expected = standing ? nullptr : path;
        if (slot.compare_exchange_strong(expected, standing ? path : nullptr)) {
            return;
        }
    }
}

static void RemoveTemporaryAndEnd(int signalNumber)
{
    for (std::atomic<const char*>& slot : g_removeOnInterrupt) {
        const char* path = slot.load();
        if (path != nullptr) {
            unlink(path);
        }
    }
    // The process ends by the signal itself, blocked until this handler returns.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void PlatformRemoveTemporaryOnInterrupt(PlatformObserver* observer)
{
    static_assert(std::atomic<const char*>::is_always_lock_free, "a signal handler may only use lock-free atomics");
    observer->temporary = NoteTemporary;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTemporaryAndEnd;
    // One handler at a time: a second signal waits while the first removes the files.
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kInterrupts) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    for (int signalNumber : kInterrupts) {
        // A signal ignored from the start (nohup) stays ignored.
        struct sigaction before;
        if (sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signalNumber, &action, nullptr);
        }
    }
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
