#include "convert/frame.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "convert/convert.h"

static const char kCouldNotOpen[] = "Could not open the file %s";
static const char kCouldNotAllocate[] = "Could not allocate memory to read file";
static const char kCouldNotRead[] = "Could not read the file %s";
static const char kCouldNotCreate[] = "Could not create the output file %s";
static const char kCouldNotWrite[] = "Could not write to output file";

void ReportError(const char* format, const char* argument)
{
    if (argument == nullptr) {
        ShowError(g_hwndMain, format);
        return;
    }
    // The format holds one %s; the text is sized to the argument, however long the file title is.
    std::string text(strlen(format) + strlen(argument) + 1, '\0');
    int length = snprintf(&text[0], text.size(), format, argument);
    text.resize(length > 0 ? static_cast<size_t>(length) : 0);
    ShowError(g_hwndMain, text.c_str());
}

// Reads the whole input into a zero-terminated block. Nothing is held when it returns 0.
static int ReadWholeInput(const char* path, const char* title, InputData* input)
{
    PlatformFile file = nullptr;
    if (!g_platform.openRead(path, &file)) {
        ReportError(kCouldNotOpen, title);
        return 0;
    }
    uint64_t size = 0;
    if (!g_platform.fileSize(file, &size)) {
        ReportError(kCouldNotRead, title);
        g_platform.closeFile(file);
        return 0;
    }
    // One byte more than the file for the end mark; a size that can't be held is an allocation failure.
    char* bytes = nullptr;
    if (size < SIZE_MAX) {
        bytes = static_cast<char*>(g_platform.allocZeroed(static_cast<size_t>(size) + 1));
    }
    if (bytes == nullptr) {
        ReportError(kCouldNotAllocate, nullptr);
        g_platform.closeFile(file);
        return 0;
    }
    size_t count = 0;
    if (!g_platform.readFile(file, bytes, static_cast<size_t>(size), &count) || count > size) {
        ReportError(kCouldNotRead, title);
        g_platform.freeBlock(bytes);
        g_platform.closeFile(file);
        return 0;
    }
    g_platform.closeFile(file);
    bytes[count] = '\0';
    input->bytes = bytes;
    input->count = count;
    return 1;
}

// Refuses a chosen name that exists but can't be written, then opens the temporary file beside it.
static int CreateOutput(const char* path, const char* title, OutputFile* output)
{
    output->finalPath = path;
    output->file = nullptr;
    output->tempPath.assign(strlen(path) + 64, '\0');
    if (!g_platform.probeWritable(path) ||
        !g_platform.createTemp(path, &output->tempPath[0], output->tempPath.size(), &output->file)) {
        ReportError(kCouldNotCreate, title);
        return 0;
    }
    output->tempPath.resize(strlen(output->tempPath.c_str()));
    return 1;
}

// Closes and deletes the temporary file; the chosen name is untouched.
static void DiscardOutput(OutputFile* output)
{
    g_platform.closeFile(output->file);
    g_platform.deleteFile(output->tempPath.c_str());
}

// Closes the finished temporary file and moves it over the chosen name.
static int FinishOutput(OutputFile* output)
{
    int closed = g_platform.closeFile(output->file);
    if (!closed || !g_platform.replaceFile(output->tempPath.c_str(), output->finalPath)) {
        ReportError(kCouldNotWrite, nullptr);
        g_platform.deleteFile(output->tempPath.c_str());
        return 0;
    }
    return 1;
}

int WritePiece(OutputFile* output, const char* data, size_t length)
{
    size_t written = 0;
    // A write the system took only in part is as failed as one it refused.
    if (!g_platform.writeFile(output->file, data, length, &written) || written != length) {
        ReportError(kCouldNotWrite, nullptr);
        return 0;
    }
    return 1;
}

char* PieceRoom(std::string* piece, size_t length)
{
    if (piece->size() < length) {
        piece->resize(length);
    }
    return &(*piece)[0];
}

int RunConversionFrame(const char* inputPath, const char* inputTitle, const char* outputPath,
                       const char* outputTitle, ConversionBody body, void* context)
{
    InputData input = {nullptr, 0};
    if (!ReadWholeInput(inputPath, inputTitle, &input)) {
        return 0;
    }
    OutputFile output;
    if (!CreateOutput(outputPath, outputTitle, &output)) {
        g_platform.freeBlock(input.bytes);
        return 0;
    }
    // The body has already shown its failure, so the partial file still exists while the user reads it.
    int converted = body(&input, &output, context);
    g_platform.freeBlock(input.bytes);
    if (!converted) {
        DiscardOutput(&output);
        return 0;
    }
    return FinishOutput(&output);
}
