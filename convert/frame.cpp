// The frame of a conversion between files: read the whole input, write the output where it replaces the
// chosen name only once complete, and on any failure tell the user, release everything and leave no
// output behind.
#include <stdio.h>
#include <string.h>

#include "convert/converters.h"
#include "convert/env.h"

static const char kCouldNotOpen[] = "Could not open the file %s";
static const char kCouldNotAllocate[] = "Could not allocate memory to read file";
static const char kCouldNotRead[] = "Could not read the file %s";
static const char kCouldNotCreate[] = "Could not create the output file %s";
static const char kBackupFound[] =
    "A backup of %s from an interrupted conversion is at %s.ferryline-backup: restore or remove it first";

// Read at a time from an input whose size the system does not know.
static const size_t kUnknownSizeStep = 64 * 1024;

struct InputBlock {
    char* bytes;
    size_t size;
    size_t capacity;
};

// Reads the open input to its end into one block. The size the system gives is where the block starts,
// one byte larger so that the end shows without growing it; an input that holds more (a pipe, a file
// still growing, a /proc file said to be empty) grows the block. Nothing is held when it returns 0.
static int ReadToEnd(const FerrylineFiles* files, FerrylineFile file, uint64_t sizeHint, const char* title,
                     const FerrylineEnv* env, InputBlock* input)
{
    input->size = 0;
    input->capacity = sizeHint < SIZE_MAX - kUnknownSizeStep ? static_cast<size_t>(sizeHint) + 1 : 0;
    input->bytes = static_cast<char*>(Allocate(env, input->capacity));
    if (input->bytes == nullptr) {
        Tell(env, FERRYLINE_ERROR, kCouldNotAllocate, nullptr);
        return 0;
    }
    for (;;) {
        if (input->size == input->capacity) {
            size_t grown = input->capacity < SIZE_MAX / 2 ? input->capacity * 2 + kUnknownSizeStep : 0;
            void* bytes = grown > input->capacity ? Resize(env, input->bytes, input->capacity, grown) : nullptr;
            if (bytes == nullptr) {
                Tell(env, FERRYLINE_ERROR, kCouldNotAllocate, nullptr);
                Release(env, input->bytes, input->capacity);
                return 0;
            }
            input->bytes = static_cast<char*>(bytes);
            input->capacity = grown;
        }
        size_t got = 0;
        size_t room = input->capacity - input->size;
        if (!files->read(files, file, input->bytes + input->size, room, &got) || got > room) {
            Tell(env, FERRYLINE_ERROR, kCouldNotRead, title);
            Release(env, input->bytes, input->capacity);
            return 0;
        }
        if (got == 0) {
            return 1;
        }
        input->size += got;
    }
}

static int ReadWholeInput(const FerrylineFiles* files, const char* path, const char* title, const FerrylineEnv* env,
                          InputBlock* input)
{
    FerrylineFile file = nullptr;
    if (!files->openInput(files, path, &file)) {
        Tell(env, FERRYLINE_ERROR, kCouldNotOpen, title);
        return 0;
    }
    uint64_t size = 0;
    if (!files->inputSize(files, file, &size)) {
        Tell(env, FERRYLINE_ERROR, kCouldNotRead, title);
        files->closeInput(files, file);
        return 0;
    }
    int read = ReadToEnd(files, file, size, title, env, input);
    files->closeInput(files, file);
    return read;
}

// Names the output twice: the file, and the backup an interrupted conversion left beside it.
static void TellBackupFound(const FerrylineEnv* env, const char* title)
{
    size_t size = sizeof kBackupFound + 2 * strlen(title);
    char* text = static_cast<char*>(Allocate(env, size));
    if (text == nullptr) {
        Tell(env, FERRYLINE_ERROR, kBackupFound, title);
        return;
    }
    snprintf(text, size, kBackupFound, title, title);
    Tell(env, FERRYLINE_ERROR, text, nullptr);
    Release(env, text, size);
}

struct FileWriter {
    const FerrylineFiles* files;
    FerrylineFile file;
};

static int WriteToFile(void* context, const void* data, size_t size)
{
    FileWriter* writer = static_cast<FileWriter*>(context);
    return writer->files->write(writer->files, writer->file, data, size);
}

int ferryline_convert_file(FerrylineDirection direction, const FerrylineOptions* options, const char* inputPath, const char* inputTitle,
                           const char* outputPath, const char* outputTitle, const FerrylineFiles* files,
                           const FerrylineEnv* env, FerrylineLook* look)
{
    env = UsableEnv(env);
    if (files == nullptr) {
        files = ferryline_system_files();
    }
    InputBlock input;
    if (!ReadWholeInput(files, inputPath, inputTitle, env, &input)) {
        return 0;
    }
    FileWriter writer = {files, nullptr};
    Output output;
    if (!OpenOutput(&output, WriteToFile, &writer, input.size, env)) {
        Tell(env, FERRYLINE_ERROR, kCouldNotAllocateConversion, nullptr);
        Release(env, input.bytes, input.capacity);
        return 0;
    }
    int created = files->createOutput(files, outputPath, &writer.file);
    if (created != 1) {
        if (created == FERRYLINE_OUTPUT_BACKUP_FOUND) {
            TellBackupFound(env, outputTitle);
        } else {
            Tell(env, FERRYLINE_ERROR, kCouldNotCreate, outputTitle);
        }
        CloseOutput(&output, env);
        Release(env, input.bytes, input.capacity);
        return 0;
    }
    // A failure has been told already, while the partial output still exists.
    unsigned warnings = 0;
    int converted = ConvertInto(direction, options, input.bytes, input.size, inputTitle, &output, env, &warnings, look);
    CloseOutput(&output, env);
    Release(env, input.bytes, input.capacity);
    if (!converted) {
        files->discardOutput(files, writer.file);
        return 0;
    }
    if (!files->commitOutput(files, writer.file)) {
        Tell(env, FERRYLINE_ERROR, kCouldNotWrite, nullptr);
        files->discardOutput(files, writer.file);
        return 0;
    }
    TellWarnings(env, warnings);
    return 1;
}

int ferryline_inspect_file(const char* path, const char* title, const FerrylineFiles* files, const FerrylineEnv* env,
                           FerrylineInspection* inspection)
{
    env = UsableEnv(env);
    InputBlock input;
    if (!ReadWholeInput(files != nullptr ? files : ferryline_system_files(), path, title, env, &input)) {
        return 0;
    }
    ferryline_inspect(input.bytes, input.size, inspection);
    Release(env, input.bytes, input.capacity);
    return 1;
}
