// The least any converter of this design can cost: read the input whole into one block, write it back
// unchanged in 256 KiB pieces to a temporary file beside the output, and rename that over the output.
// tools/bench times it next to cp and the converters.
//   floor INPUT OUTPUT
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

static bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t done = write(fd, data, size);
        if (done <= 0) {
            return false;
        }
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: floor INPUT OUTPUT\n");
        return 2;
    }
    int in = open(argv[1], O_RDONLY);
    struct stat info;
    if (in < 0 || fstat(in, &info) != 0) {
        perror(argv[1]);
        return 1;
    }
    size_t size = static_cast<size_t>(info.st_size);
    // One block, huge pages asked for and made resident at once, as the converter's allocator does.
    size_t length = size > 0 ? size : 1;
    void* pages = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    madvise(pages, length, MADV_HUGEPAGE);
    madvise(pages, length, MADV_POPULATE_WRITE);
    char* block = static_cast<char*>(pages);
    size_t got = 0;
    while (got < size) {
        ssize_t done = read(in, block + got, size - got);
        if (done <= 0) {
            perror(argv[1]);
            return 1;
        }
        got += static_cast<size_t>(done);
    }
    close(in);

    std::string temporary = std::string(argv[2]) + ".floor-XXXXXX";
    int out = mkstemp(&temporary[0]);
    if (out < 0) {
        perror("mkstemp");
        return 1;
    }
    const size_t kPiece = 256 * 1024;
    for (size_t at = 0; at < size; at += kPiece) {
        if (!WriteAll(out, block + at, size - at < kPiece ? size - at : kPiece)) {
            perror("write");
            return 1;
        }
    }
    if (close(out) != 0 || rename(temporary.c_str(), argv[2]) != 0) {
        perror(argv[2]);
        return 1;
    }
    return 0;
}
