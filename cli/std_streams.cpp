#include "cli/std_streams.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

const char kStandardStreamPath[] = "-";

// A stream held in memory: all of standard input, or the converted output on its way to standard output.
struct MemoryStream {
    char* bytes;
    size_t size;
    size_t capacity;
    size_t readPosition;
};

static MemoryStream g_input;
static MemoryStream g_output;
static PlatformOps g_files;  // the platform's operations, for every other path

static bool IsStandardStream(const char* path)
{
    return strcmp(path, kStandardStreamPath) == 0;
}

static void ReleaseStream(MemoryStream* stream)
{
    free(stream->bytes);
    memset(stream, 0, sizeof *stream);
}

static int AppendToStream(MemoryStream* stream, const void* data, size_t bytes)
{
    if (bytes > stream->capacity - stream->size) {
        size_t wanted = stream->capacity > 0 ? stream->capacity : 64 * 1024;
        while (wanted - stream->size < bytes) {
            if (wanted > SIZE_MAX / 2) {
                return 0;
            }
            wanted *= 2;
        }
        char* grown = static_cast<char*>(realloc(stream->bytes, wanted));
        if (grown == nullptr) {
            return 0;
        }
        stream->bytes = grown;
        stream->capacity = wanted;
    }
    memcpy(stream->bytes + stream->size, data, bytes);
    stream->size += bytes;
    return 1;
}

static int StreamOpenRead(const char* path, PlatformFile* file)
{
    if (!IsStandardStream(path)) {
        return g_files.openRead(path, file);
    }
    *file = &g_input;
    return 1;
}

// Standard input has no size until it has been read to its end.
static int StreamFileSize(PlatformFile file, uint64_t* size)
{
    if (file != &g_input) {
        return g_files.fileSize(file, size);
    }
    char chunk[64 * 1024];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, stdin)) > 0) {
        if (!AppendToStream(&g_input, chunk, got)) {
            return 0;
        }
    }
    if (ferror(stdin)) {
        return 0;
    }
    *size = g_input.size;
    return 1;
}

static int StreamReadFile(PlatformFile file, void* buffer, size_t bytes, size_t* got)
{
    if (file != &g_input) {
        return g_files.readFile(file, buffer, bytes, got);
    }
    size_t left = g_input.size - g_input.readPosition;
    *got = bytes < left ? bytes : left;
    if (*got > 0) {
        memcpy(buffer, g_input.bytes + g_input.readPosition, *got);
    }
    g_input.readPosition += *got;
    return 1;
}

static int StreamCloseFile(PlatformFile file)
{
    if (file == &g_input) {
        ReleaseStream(&g_input);
        return 1;
    }
    return file == &g_output ? 1 : g_files.closeFile(file);
}

static int StreamProbeWritable(const char* path)
{
    return IsStandardStream(path) ? 1 : g_files.probeWritable(path);
}

static int StreamCreateTemp(const char* finalPath, char* tempPath, size_t tempCapacity, PlatformFile* file)
{
    if (!IsStandardStream(finalPath)) {
        return g_files.createTemp(finalPath, tempPath, tempCapacity, file);
    }
    if (tempCapacity < sizeof kStandardStreamPath) {
        return 0;
    }
    memcpy(tempPath, kStandardStreamPath, sizeof kStandardStreamPath);
    *file = &g_output;
    return 1;
}

static int StreamWriteFile(PlatformFile file, const void* data, size_t bytes, size_t* written)
{
    if (file != &g_output) {
        return g_files.writeFile(file, data, bytes, written);
    }
    *written = 0;
    if (!AppendToStream(&g_output, data, bytes)) {
        return 0;
    }
    *written = bytes;
    return 1;
}

static int StreamDeleteFile(const char* path)
{
    if (!IsStandardStream(path)) {
        return g_files.deleteFile(path);
    }
    ReleaseStream(&g_output);
    return 1;
}

// The finished output reaches standard output in one go.
static int StreamReplaceFile(const char* tempPath, const char* finalPath)
{
    if (!IsStandardStream(finalPath)) {
        return g_files.replaceFile(tempPath, finalPath);
    }
    int ok = (g_output.size == 0 || fwrite(g_output.bytes, 1, g_output.size, stdout) == g_output.size) &&
             fflush(stdout) == 0;
    ReleaseStream(&g_output);
    return ok;
}

void InstallStandardStreams()
{
    g_files = g_platform;
    g_platform.openRead = StreamOpenRead;
    g_platform.fileSize = StreamFileSize;
    g_platform.readFile = StreamReadFile;
    g_platform.closeFile = StreamCloseFile;
    g_platform.probeWritable = StreamProbeWritable;
    g_platform.createTemp = StreamCreateTemp;
    g_platform.writeFile = StreamWriteFile;
    g_platform.deleteFile = StreamDeleteFile;
    g_platform.replaceFile = StreamReplaceFile;
}
