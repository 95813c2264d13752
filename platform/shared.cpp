// What every platform shares.
#include "platform/platform.h"

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
