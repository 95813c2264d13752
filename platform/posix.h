// What the POSIX platform files share: each holds one concern of the system's files (reading, paths
// and links, replacing the output, the writer thread, signals, memory), and this is how they meet.
// Linux's own calls are fast paths, each with a portable path beside it for other POSIX systems.
#ifndef FERRYLINE_PLATFORM_POSIX_H
#define FERRYLINE_PLATFORM_POSIX_H

#include <signal.h>
#include <stddef.h>
#include <sys/stat.h>

#include "platform/platform.h"

// One read or write call moves at most this much; the system may move less and is asked again.
static const size_t kChunkLimit = 1u << 30;

// posix_files.cpp: what every operation uses.
// Writes all `bytes` or returns 0 with errno set (EIO where the system wrote nothing and said nothing).
int WriteAll(int fd, const char* data, size_t bytes);
const PlatformObserver* Observer(const FerrylineFiles* self);
// Tells the observer why an operation on `path` failed, and returns 0 for the operation to return.
int Failed(const PlatformObserver* observer, const char* path, int error);
// Whether a test refuses `step`; errno is then the error it chose.
bool Refused(const PlatformObserver* observer, PlatformStep step);

// posix_read.cpp: the input.
int PosixOpenInput(const FerrylineFiles* self, const char* path, FerrylineFile* file);
int PosixInputSize(const FerrylineFiles* self, FerrylineFile file, uint64_t* size);
int PosixRead(const FerrylineFiles* self, FerrylineFile file, void* buffer, size_t bytes, size_t* got);
void PosixCloseInput(const FerrylineFiles* self, FerrylineFile file);

// posix_replace.cpp: the output.
int PosixCreateOutput(const FerrylineFiles* self, const char* path, FerrylineFile* file);
FerrylineStatus PosixWrite(const FerrylineFiles* self, FerrylineFile file, const void* data, size_t bytes);
int PosixCommitOutput(const FerrylineFiles* self, FerrylineFile file);
void PosixDiscardOutput(const FerrylineFiles* self, FerrylineFile file);

// posix_paths.cpp: following an output's path.
// `pattern` in the folder of `path`: a new block, with the name's start in *nameAt.
char* PathBeside(const char* path, const char* pattern, size_t* nameAt);
// The folder of `path` in a new block ("." when it names none), with its name's start in *nameAt.
char* FolderOf(const char* path, size_t* nameAt);
// What the end of an output path is, as far as following it showed.
struct PathEnd {
    bool openFile;      // a link to a file some process holds open (/proc/PID/fd/N, /dev/fd/N)
    int ownDescriptor;  // this process's descriptor it names, or -1
};
int WalkPath(const char* path, PathEnd* end);
char* ResolveLinks(const char* path, bool* magic);

// posix_writer.cpp: a thread that writes pieces while the conversion makes the next ones.
struct Writer;
// Writes one piece; 0 with errno set when it failed.
typedef int (*PieceWriter)(void* context, const char* data, size_t bytes);
// Null, with nothing held, where the system gives no thread or memory for it.
Writer* StartWriter(PieceWriter write, void* context);
// Hands a piece over, waiting for a free slot; 0 with errno set once a write has failed.
int HandOver(Writer* writer, const char* data, size_t bytes);
// Lets the thread write what it holds, ends it and releases the writer; 0 with errno set when a
// write failed.
int FinishWriter(Writer* writer);

// posix_signals.cpp: the signals an output's steps hold off.
// Blocks the signals whose handler removes the temporary files; returns the mask before.
sigset_t BlockInterrupts();
// Restores the signal mask without losing the errno of the step before.
void RestoreInterrupts(const sigset_t& saved);
// Blocks every signal that can be blocked, but those the processor raises for a fault of this
// process; returns the mask before.
sigset_t HoldAllSignals();
// Takes the held signals that would end the process, so that the mask `saved` can be restored.
void DropEndingSignals(const sigset_t& saved);

#endif
