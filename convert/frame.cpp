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
static const char kSameFile[] = "Input and output file must be different.";
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
// still growing, a /proc file said to be empty) grows the block. Nothing is held when it fails.
static FerrylineStatus ReadToEnd(const FerrylineFiles* files, FerrylineFile file, uint64_t sizeHint, const char* title,
                     const FerrylineEnv* env, InputBlock* input)
{
    input->size = 0;
    input->capacity = sizeHint < SIZE_MAX - kUnknownSizeStep ? static_cast<size_t>(sizeHint) + 1 : 0;
    input->bytes = static_cast<char*>(Allocate(env, input->capacity));
    if (input->bytes == nullptr) {
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocate, nullptr);
    }
    for (;;) {
        if (input->size == input->capacity) {
            size_t grown = input->capacity < SIZE_MAX / 2 ? input->capacity * 2 + kUnknownSizeStep : 0;
            void* bytes = grown > input->capacity ? Resize(env, input->bytes, input->capacity, grown) : nullptr;
            if (bytes == nullptr) {
                Release(env, input->bytes, input->capacity);
                return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocate, nullptr);
            }
            input->bytes = static_cast<char*>(bytes);
            input->capacity = grown;
        }
        size_t got = 0;
        size_t room = input->capacity - input->size;
        if (!files->read(files, file, input->bytes + input->size, room, &got) || got > room) {
            Release(env, input->bytes, input->capacity);
            return Fail(env, FERRYLINE_COULD_NOT_READ, kCouldNotRead, title);
        }
        if (got == 0) {
            return FERRYLINE_OK;
        }
        input->size += got;
    }
}

static FerrylineStatus ReadWholeInput(const FerrylineFiles* files, const char* path, const char* title,
                                      const FerrylineEnv* env, InputBlock* input)
{
    FerrylineFile file = nullptr;
    if (!files->openInput(files, path, &file)) {
        return Fail(env, FERRYLINE_COULD_NOT_OPEN, kCouldNotOpen, title);
    }
    uint64_t size = 0;
    if (!files->inputSize(files, file, &size)) {
        Tell(env, FERRYLINE_ERROR, kCouldNotRead, title);
        files->closeInput(files, file);
        return FERRYLINE_COULD_NOT_READ;
    }
    FerrylineStatus status = ReadToEnd(files, file, size, title, env, input);
    files->closeInput(files, file);
    return status;
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

static FerrylineStatus WriteToFile(void* context, const void* data, size_t size)
{
    FileWriter* writer = static_cast<FileWriter*>(context);
    return writer->files->write(writer->files, writer->file, data, size);
}

FerrylineStatus ferryline_convert_file(FerrylineDirection direction, const FerrylineOptions* options, const char* inputPath,
                                       const char* inputTitle, const char* outputPath, const char* outputTitle,
                                       const FerrylineFiles* files, const FerrylineEnv* env, FerrylineLook* look)
{
    env = UsableEnv(env);
    if (files == nullptr) {
        files = ferryline_system_files();
    }
    if (files->sameFile != nullptr && files->sameFile(files, inputPath, outputPath)) {
        return Fail(env, FERRYLINE_SAME_FILE, kSameFile, nullptr);
    }
    InputBlock input;
    FerrylineStatus status = ReadWholeInput(files, inputPath, inputTitle, env, &input);
    if (status != FERRYLINE_OK) {
        return status;
    }
    FileWriter writer = {files, nullptr};
    Output output;
    if (!OpenOutput(&output, WriteToFile, &writer, input.size, env)) {
        Release(env, input.bytes, input.capacity);
        return Fail(env, FERRYLINE_NO_MEMORY, kCouldNotAllocateConversion, nullptr);
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
        return FERRYLINE_COULD_NOT_CREATE;
    }
    // A failure has been told already, while the partial output still exists.
    unsigned warnings = 0;
    status = ConvertInto(direction, options, input.bytes, input.size, inputTitle, &output, env, &warnings, look);
    CloseOutput(&output, env);
    Release(env, input.bytes, input.capacity);
    if (status != FERRYLINE_OK) {
        files->discardOutput(files, writer.file);
        return status;
    }
    if (!files->commitOutput(files, writer.file)) {
        Tell(env, FERRYLINE_ERROR, kCouldNotWrite, nullptr);
        files->discardOutput(files, writer.file);
        return FERRYLINE_COULD_NOT_WRITE;
    }
    TellWarnings(env, warnings);
    return FERRYLINE_OK;
}

FerrylineStatus ferryline_inspect_file(const char* path, const char* title, const FerrylineFiles* files,
                                       const FerrylineEnv* env, FerrylineInspection* inspection)
{
    env = UsableEnv(env);
    InputBlock input;
    FerrylineStatus status = ReadWholeInput(files != nullptr ? files : ferryline_system_files(), path, title, env, &input);
    if (status == FERRYLINE_OK) {
        ferryline_inspect(input.bytes, input.size, inspection);
        Release(env, input.bytes, input.capacity);
    }
    return status;
}
