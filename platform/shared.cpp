// What every platform shares.
#include "platform/shared.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/platform.h"

std::atomic<const char*> g_removeOnInterrupt[2];

void NoteTemporary(void*, const char* path, bool standing)
{
    static_assert(std::atomic<const char*>::is_always_lock_free, "a handler may only use lock-free atomics");
    for (std::atomic<const char*>& slot : g_removeOnInterrupt) {
        const char* expected = standing ? nullptr : path;
        if (slot.compare_exchange_strong(expected, standing ? path : nullptr)) {
            return;
        }
    }
}

void RemoveRecordedTemporaries()
{
    for (std::atomic<const char*>& slot : g_removeOnInterrupt) {
        const char* path = slot.load();
        if (path != nullptr) {
#ifdef _WIN32
            DeleteFileA(path);
#else
            unlink(path);  // safe in a signal handler, as remove() is not said to be
#endif
        }
    }
}

const char* PlatformFileTitle(const char* path)
{
    const char* title = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (PlatformIsPathSeparator(*p) && p[1] != '\0') {
            title = p + 1;
        }
    }
    return title;
}

int PlatformSameFileOperation(const FerrylineFiles*, const char* pathA, const char* pathB)
{
    return PlatformSameFile(pathA, pathB);
}

FerrylineFiles PlatformObservedFiles(const PlatformObserver* observer)
{
    FerrylineFiles files = *ferryline_system_files();
    files.context = const_cast<PlatformObserver*>(observer);
    return files;
}
