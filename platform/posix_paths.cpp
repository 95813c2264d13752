// Following an output's path as the system would, to find what it ends at and which links it may take.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix.h"

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif
#ifndef NAME_MAX
#define NAME_MAX 255
#endif
// The sticky bit is an X/Open name that a strictly POSIX build does not see; its value is the same
// everywhere.
#ifndef S_ISVTX
#define S_ISVTX 01000
#endif

static const int kMaxLinkHops = 40;

char* PathBeside(const char* path, const char* pattern, size_t* nameAt)
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

char* FolderOf(const char* path, size_t* nameAt)
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
int WalkPath(const char* path, PathEnd* end)
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
char* ResolveLinks(const char* path, bool* magic)
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

bool PlatformIsPathSeparator(char c)
{
    return c == '/';
}
