// The POSIX system's files: their table, and what every operation on them uses.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix.h"

int WriteAll(int fd, const char* data, size_t bytes)
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

const PlatformObserver* Observer(const FerrylineFiles* self)
{
    return static_cast<const PlatformObserver*>(self->context);
}

int Failed(const PlatformObserver* observer, const char* path, int error)
{
    if (observer != nullptr && observer->failed != nullptr) {
        observer->failed(observer->context, path, error);
    }
    return 0;
}

bool Refused(const PlatformObserver* observer, PlatformStep step)
{
    int error = observer != nullptr && observer->refuse != nullptr ? observer->refuse(observer->context, step) : 0;
    if (error != 0) {
        errno = error;
    }
    return error != 0;
}

const FerrylineFiles* ferryline_system_files(void)
{
    static const FerrylineFiles kFiles = {nullptr,         PosixOpenInput,    PosixInputSize,
                                          PosixRead,       PosixCloseInput,   PosixCreateOutput,
                                          PosixWrite,      PosixCommitOutput, PosixDiscardOutput,
                                          PlatformSameFileOperation};
    return &kFiles;
}

// strerror_r as POSIX defines it returns a status; the GNU one, which a build with _GNU_SOURCE gets,
// returns the text, which need not be in the buffer.
[[maybe_unused]] static const char* ErrorText(int status, const char* buffer)
{
    return status == 0 ? buffer : "unknown error";
}

[[maybe_unused]] static const char* ErrorText(const char* text, const char*)
{
    return text;
}

void PlatformDescribeError(int error, char* text, size_t capacity)
{
    char buffer[256] = "";
    snprintf(text, capacity, "%s", ErrorText(strerror_r(error, buffer, sizeof buffer), buffer));
}

int PlatformSameFile(const char* pathA, const char* pathB)
{
    if (strcmp(pathA, pathB) == 0) {
        return 1;  // the same spelling, even of a file not there yet
    }
    struct stat a;
    struct stat b;
    if (stat(pathA, &a) != 0 || stat(pathB, &b) != 0) {
        return 0;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
