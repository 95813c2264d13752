// Lets the frame read standard input and write standard output, named "-" in place of a path.
#ifndef FERRYLINE_STD_STREAMS_H
#define FERRYLINE_STD_STREAMS_H

#include <stddef.h>

#include "convert/ferryline.h"
#include "platform/platform.h"

extern const char kStandardStreamPath[];

// A wrapper over other file operations: the path "-" reads standard input to its end, and an output
// named "-" is held in memory and copied to standard output only once the conversion succeeded.
// Every other path goes to `parent`.
struct StandardStreams {
    FerrylineFiles files;  // what the frame is given; its context is this structure
    const FerrylineFiles* parent;
    FerrylineAlloc alloc;  // for the held output
    void* allocContext;
    char* output;
    size_t outputSize;
    size_t outputCapacity;
    const ferryline::PlatformObserver* observer;  // told why a standard stream failed; may be null
};

void OpenStandardStreams(StandardStreams* streams, const FerrylineFiles* parent, FerrylineAlloc alloc,
                         void* allocContext, const ferryline::PlatformObserver* observer);

bool IsStandardStream(const char* path);

#endif
