// The converters' output: pieces gathered in one block and handed to the caller's writer when it is
// full, so a writer sees few, large pieces however short the lines are.
#ifndef FERRYLINE_OUTPUT_H
#define FERRYLINE_OUTPUT_H

#include <stddef.h>
#include <string.h>

#include "convert/env.h"
#include "convert/ferryline.h"

struct Output {
    FerrylineWriter write;
    void* writeContext;
    char* block;
    size_t capacity;
    size_t used;
    FerrylineStatus status;  // FERRYLINE_OK until the writer refuses a piece; then nothing more is taken
};

// Takes the block from `env`, sized for an input of `inputSize` bytes. Returns 0 when refused.
int OpenOutput(Output* output, FerrylineWriter write, void* writeContext, size_t inputSize,
               const FerrylineEnv* env);
// Hands on what is gathered. Returns the status.
FerrylineStatus FlushOutput(Output* output);
void CloseOutput(Output* output, const FerrylineEnv* env);

// Takes a piece too large for the room left; for PutBytes only.
void PutBytesSlowly(Output* output, const char* data, size_t size);

// Inline, since the converters call it for every field.
inline void PutBytes(Output* output, const char* data, size_t size)
{
    if (size <= output->capacity - output->used) {
        memcpy(output->block + output->used, data, size);
        output->used += size;
        return;
    }
    PutBytesSlowly(output, data, size);
}

inline void PutByte(Output* output, char c)
{
    PutBytes(output, &c, 1);
}

// Makes room for `size` bytes at the end of the block, handing on what is gathered when they don't fit;
// for OutputRoom only. Returns null once the writer has refused a piece.
char* OutputRoomSlowly(Output* output, size_t size);

// Room for `size` bytes (at most the capacity) at the end of the block, to be filled and then counted
// with `output->used += size`; null once the writer has refused a piece. Inline, since the converters
// take room for every line.
inline char* OutputRoom(Output* output, size_t size)
{
    if (size <= output->capacity - output->used && output->status == FERRYLINE_OK) {
        return output->block + output->used;
    }
    return OutputRoomSlowly(output, size);
}

// What CopyShortly may write past the bytes it counts; ask for room for this much more.
const size_t kCopySlack = 32;

// Copies `length` bytes from `from`, where at least `readable` bytes may be read, to `out`, where
// kCopySlack bytes more may be written. A short run goes as one fixed copy of kCopySlack bytes, which
// costs less than a call to memcpy for a few bytes; what it writes past the run is overwritten by
// whatever comes next, or lies past what is counted.
inline void CopyShortly(char* out, const char* from, size_t length, size_t readable)
{
    if (length <= kCopySlack && readable >= kCopySlack) {
        memcpy(out, from, kCopySlack);
    } else {
        memcpy(out, from, length);
    }
}

#endif
