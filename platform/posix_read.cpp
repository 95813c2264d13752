// Reading the input on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix.h"

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
int PosixOpenInput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
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

int PosixInputSize(const FerrylineFiles*, FerrylineFile file, uint64_t* size)
{
    struct stat info;
    if (fstat(Input(file)->fd, &info) != 0 || info.st_size < 0) {
        return Failed(Input(file)->observer, Input(file)->path, errno);
    }
    *size = static_cast<uint64_t>(info.st_size);
    return 1;
}

int PosixRead(const FerrylineFiles*, FerrylineFile file, void* buffer, size_t bytes, size_t* got)
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

void PosixCloseInput(const FerrylineFiles*, FerrylineFile file)
{
    close(Input(file)->fd);
    free(Input(file)->path);
    free(Input(file));
}
