// The operating system beneath the library: its files and memory (ferryline_system_files and
// ferryline_system_alloc in convert/ferryline.h), and what the front ends need besides.
#ifndef FERRYLINE_PLATFORM_H
#define FERRYLINE_PLATFORM_H

#include <stddef.h>

#include "convert/ferryline.h"

// Steps inside the system's file operations that a test can make fail as a file system would.
enum PlatformStep {
    PLATFORM_STEP_UNNAMED_FILE,    // creating the output without a name (Linux O_TMPFILE)
    PLATFORM_STEP_SET_OWNER,       // giving the new file the replaced file's owner and group
    PLATFORM_STEP_SET_MODE,        // and its permission bits
    PLATFORM_STEP_SET_ATTRIBUTES,  // and its extended attributes (ACLs among them)
    PLATFORM_STEP_BACKUP,          // copying the replaced file's content to its backup beside it
    PLATFORM_STEP_WRITE_IN_PLACE,  // writing the output into the replaced file itself (every signal held)
    PLATFORM_STEP_RESTORE,         // putting the replaced file's content back from its backup
    PLATFORM_STEP_COUNT
};

// Who hears from the system's file operations what the frame's messages leave out. Every member may
// be null. The operations only call it; it is never changed, so one observer may serve many threads.
struct PlatformObserver {
    void* context;
    // An operation failed on `path` for the system's reason `error` (errno, or GetLastError on
    // Windows), taken at the failing call.
    void (*failed)(void* context, const char* path, int error);
    // A temporary file or a backup now stands under `path` (standing true), or no longer does. Called
    // with the interrupting signals blocked, so a handler that removes the file never races the change.
    // At most two stand at once.
    void (*temporary)(void* context, const char* path, bool standing);
    // The replaced file's earlier content could not be put back; it is kept in the file `backup`.
    void (*backupKept)(void* context, const char* path, const char* backup);
    // For tests: a nonzero result makes `step` fail with that error, as a file system refusing it would.
    int (*refuse)(void* context, PlatformStep step);
};

// The system's files (ferryline_system_files) telling `observer`, which must outlive every call.
FerrylineFiles PlatformObservedFiles(const PlatformObserver* observer);

// The system's text for an error an observer was told of, without a line end.
void PlatformDescribeError(int error, char* text, size_t capacity);

// Ends the process on SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1 and SIGUSR2 (Ctrl+C, Ctrl+Break
// and closing the console on Windows) as a shell reports it, 128 + the signal, after removing the
// temporary files `observer` was told stand. It sets the observer's `temporary`. A signal handler
// reaches nothing that is passed, so this keeps the one process-wide record of the library: the names
// to remove, set and cleared with the signals blocked.
void PlatformRemoveTemporaryOnInterrupt(PlatformObserver* observer);

// Whether two paths name the same file, however spelled: 1 same, 0 different.
int PlatformSameFile(const char* pathA, const char* pathB);
// PlatformSameFile as the system's file operations offer it.
int PlatformSameFileOperation(const FerrylineFiles* self, const char* pathA, const char* pathB);

// Whether `c` separates the folders of a path ('/'; on Windows also '\\' and ':').
bool PlatformIsPathSeparator(char c);

// The name of the file without its folders, as messages name a file: "book.txt" for "a/b/book.txt".
const char* PlatformFileTitle(const char* path);

// Makes standard input and output carry bytes unchanged, and a refused write (a closed pipe, a file
// size limit) a failed write rather than the end of the process.
void PlatformPrepareStandardStreams();

#endif
