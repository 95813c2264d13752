// The frame both converters run in: read the whole input, write the output under a temporary name,
// and on any failure tell the user, release everything and leave no output behind.
#ifndef FERRYLINE_FRAME_H
#define FERRYLINE_FRAME_H

#include <stddef.h>
#include <string>

#include "convert/convert.h"
#include "platform/platform.h"

// The whole input file, followed by one zero byte: bytes[count] == 0.
struct InputData {
    char* bytes;
    size_t count;
};

// The output being written. Pieces go to a temporary file beside the chosen name, which is only
// replaced once every piece was written.
struct OutputFile {
    PlatformFile file;
    const char* finalPath;
    std::string tempPath;
};

// Writes the converted text of `input` to `output`. Returns 0 after reporting a failure itself.
typedef int (*ConversionBody)(const InputData* input, OutputFile* output, void* context);

// Runs one conversion: read, create, `body`, finish. Returns 1 when the output is complete under
// `outputPath`, 0 after the user was told the failure (and nothing new is left under `outputPath`).
int RunConversionFrame(const char* inputPath, const char* inputTitle, const char* outputPath,
                       const char* outputTitle, ConversionBody body, void* context);

// Writes one piece whole. Returns 0 after "Could not write to output file" when the system refused it.
int WritePiece(OutputFile* output, const char* data, size_t length);

// Room for a piece of `length` bytes at the start of `piece`, which is reused from piece to piece so
// its storage grows only now and then; the piece is built in place and written with WritePiece.
char* PieceRoom(std::string* piece, size_t length);

// ShowError with `format` filled in with one string (or none, when `argument` is null), held whole.
void ReportError(const char* format, const char* argument);

// Passes a change on to g_changeObserver, when one is set.
void NoteChange(ChangeKind kind, unsigned long line, const char* text, size_t length);

#endif
