#include "cli/std_streams.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

const char kStandardStreamPath[] = "-";

// The two files the wrapper stands in for, told apart from the parent's files by their addresses.
static char g_standardInputMark;
static char g_standardOutputMark;
static FerrylineFile const kStandardInput = &g_standardInputMark;
static FerrylineFile const kStandardOutput = &g_standardOutputMark;

bool IsStandardStream(const char* path)
{
    return strcmp(path, kStandardStreamPath) == 0;
}

static StandardStreams* Streams(const FerrylineFiles* self)
{
    return static_cast<StandardStreams*>(self->context);
}

// Tells the observer the system's reason for a failed standard stream; returns 0 for the caller.
static int StreamFailed(const StandardStreams* streams, const char* name, int error)
{
    if (streams->observer != nullptr && streams->observer->failed != nullptr && error != 0) {
        streams->observer->failed(streams->observer->context, name, error);
    }
    return 0;
}

static void ReleaseOutput(StandardStreams* streams)
{
    if (streams->output != nullptr) {
        streams->alloc(streams->allocContext, streams->output, streams->outputCapacity, 0);
    }
    streams->output = nullptr;
    streams->outputSize = 0;
    streams->outputCapacity = 0;
}

static int StreamOpenInput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    if (!IsStandardStream(path)) {
        return Streams(self)->parent->openInput(Streams(self)->parent, path, file);
    }
    *file = kStandardInput;
    return 1;
}

// Standard input has no size until it has been read to its end; the frame reads on until then.
static int StreamInputSize(const FerrylineFiles* self, FerrylineFile file, uint64_t* size)
{
    if (file != kStandardInput) {
        return Streams(self)->parent->inputSize(Streams(self)->parent, file, size);
    }
    *size = 0;
    return 1;
}

static int StreamRead(const FerrylineFiles* self, FerrylineFile file, void* buffer, size_t bytes, size_t* got)
{
    if (file != kStandardInput) {
        return Streams(self)->parent->read(Streams(self)->parent, file, buffer, bytes, got);
    }
    errno = 0;
    *got = fread(buffer, 1, bytes, stdin);
    return *got > 0 || !ferror(stdin) ? 1 : StreamFailed(Streams(self), "standard input", errno);
}

static void StreamCloseInput(const FerrylineFiles* self, FerrylineFile file)
{
    if (file != kStandardInput) {
        Streams(self)->parent->closeInput(Streams(self)->parent, file);
    }
}

static int StreamCreateOutput(const FerrylineFiles* self, const char* path, FerrylineFile* file)
{
    if (!IsStandardStream(path)) {
        return Streams(self)->parent->createOutput(Streams(self)->parent, path, file);
    }
    ReleaseOutput(Streams(self));
    *file = kStandardOutput;
    return 1;
}

static FerrylineStatus StreamWrite(const FerrylineFiles* self, FerrylineFile file, const void* data, size_t bytes)
{
    StandardStreams* streams = Streams(self);
    if (file != kStandardOutput) {
        return streams->parent->write(streams->parent, file, data, bytes);
    }
    if (bytes > streams->outputCapacity - streams->outputSize) {
        size_t wanted = streams->outputCapacity > 0 ? streams->outputCapacity : 64 * 1024;
        while (wanted - streams->outputSize < bytes) {
            if (wanted > SIZE_MAX / 2) {
                return FERRYLINE_NO_MEMORY;
            }
            wanted *= 2;
        }
        void* grown = streams->alloc(streams->allocContext, streams->output, streams->outputCapacity, wanted);
        if (grown == nullptr) {
            return FERRYLINE_NO_MEMORY;
        }
        streams->output = static_cast<char*>(grown);
        streams->outputCapacity = wanted;
    }
    memcpy(streams->output + streams->outputSize, data, bytes);
    streams->outputSize += bytes;
    return FERRYLINE_OK;
}

// The finished output reaches standard output in one go.
static int StreamCommitOutput(const FerrylineFiles* self, FerrylineFile file)
{
    StandardStreams* streams = Streams(self);
    if (file != kStandardOutput) {
        return streams->parent->commitOutput(streams->parent, file);
    }
    errno = 0;
    int ok = (streams->outputSize == 0 ||
              fwrite(streams->output, 1, streams->outputSize, stdout) == streams->outputSize) &&
             fflush(stdout) == 0;
    if (!ok) {
        return StreamFailed(streams, "standard output", errno);
    }
    ReleaseOutput(streams);
    return 1;
}

static void StreamDiscardOutput(const FerrylineFiles* self, FerrylineFile file)
{
    if (file != kStandardOutput) {
        Streams(self)->parent->discardOutput(Streams(self)->parent, file);
        return;
    }
    ReleaseOutput(Streams(self));
}

// Standard input and standard output are two streams, whatever the names say.
static int StreamSameFile(const FerrylineFiles* self, const char* pathA, const char* pathB)
{
    const FerrylineFiles* parent = Streams(self)->parent;
    return !IsStandardStream(pathA) && !IsStandardStream(pathB) && parent->sameFile != nullptr &&
           parent->sameFile(parent, pathA, pathB);
}

void OpenStandardStreams(StandardStreams* streams, const FerrylineFiles* parent, FerrylineAlloc alloc,
                         void* allocContext, const PlatformObserver* observer)
{
    streams->observer = observer;
    streams->files = FerrylineFiles{streams,           StreamOpenInput,    StreamInputSize,
                                    StreamRead,        StreamCloseInput,   StreamCreateOutput,
                                    StreamWrite,       StreamCommitOutput, StreamDiscardOutput,
                                    StreamSameFile};
    streams->parent = parent;
    streams->alloc = alloc;
    streams->allocContext = allocContext;
    streams->output = nullptr;
    streams->outputSize = 0;
    streams->outputCapacity = 0;
}
