// What the platform files of every system share beneath platform.h.
#ifndef FERRYLINE_PLATFORM_SHARED_H
#define FERRYLINE_PLATFORM_SHARED_H

#include <atomic>

// The one process-wide record of the library (see PlatformRemoveTemporaryOnInterrupt): the files an
// interrupt's handler removes, a temporary file and a backup at most. A handler reaches nothing else.
extern std::atomic<const char*> g_removeOnInterrupt[2];

// An observer's `temporary` that keeps the record: a file standing takes a free slot, a file gone
// frees its own.
void NoteTemporary(void* context, const char* path, bool standing);

// Removes the files of the record, from a handler: only calls a handler may make.
void RemoveRecordedTemporaries();

#endif
