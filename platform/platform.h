// The operations the conversion frame needs from the operating system, gathered in one table.
// Each platform installs its own set by default (win32.cpp, posix.cpp); a front end or a test may
// replace single entries, for example to read from memory or to make the third write fail.
#ifndef FERRYLINE_PLATFORM_H
#define FERRYLINE_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

struct HWND__;  // the Win32 window handle type; only ever passed through as an owner

// An open file as the platform knows it; null is never a valid file.
typedef void* PlatformFile;

enum MessageKind { MESSAGE_INFO, MESSAGE_ERROR };

// Every int-returning operation gives 1 for success and 0 for failure.
struct PlatformOps {
    // Opens an existing regular file for reading, letting others only read it meanwhile.
    int (*openRead)(const char* path, PlatformFile* file);
    int (*fileSize)(PlatformFile file, uint64_t* size);
    // Reads up to `bytes` bytes; `got` is how many arrived (fewer only at the end of the file).
    int (*readFile)(PlatformFile file, void* buffer, size_t bytes, size_t* got);
    // Releases the file; for an output file this also makes what was written durable,
    // and a failure here means the output is not to be trusted.
    int (*closeFile)(PlatformFile file);

    // Whether `path` may be replaced: 1 when it does not exist or can be opened for writing.
    int (*probeWritable)(const char* path);
    // Creates a new, unshared file beside `finalPath` under a fresh name, written to `tempPath`
    // (which holds `tempCapacity` bytes). The file takes over the permissions of an existing
    // `finalPath`.
    int (*createTemp)(const char* finalPath, char* tempPath, size_t tempCapacity, PlatformFile* file);
    // Writes `bytes` bytes; `written` is how many the system took.
    int (*writeFile)(PlatformFile file, const void* data, size_t bytes, size_t* written);
    int (*deleteFile)(const char* path);
    // Moves a finished temporary file over `finalPath`, replacing whatever stood there.
    int (*replaceFile)(const char* tempPath, const char* finalPath);

    // A zero-filled block, or null.
    void* (*allocZeroed)(size_t bytes);
    void (*freeBlock)(void* block);

    // Delivers one message to the user; returns once the user has it.
    void (*showMessage)(HWND__* owner, MessageKind kind, const char* text);
};

// The table the frame calls through. Starts as PlatformDefaultOps().
extern PlatformOps g_platform;

// The platform's own operations, for restoring the table or wrapping single entries.
PlatformOps PlatformDefaultOps();

// Whether two paths name the same file, however spelled: 1 same, 0 different.
int PlatformSameFile(const char* pathA, const char* pathB);

// Writes `text` and a line feed to standard error; the console way of delivering a message.
void PlatformPrintMessage(HWND__* owner, MessageKind kind, const char* text);

#endif
