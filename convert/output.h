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
    int status;  // FERRYLINE_WRITTEN until the writer refuses a piece; then nothing more is taken
};

// Takes the block from `env`, sized for an input of `inputSize` bytes. Returns 0 when refused.
int OpenOutput(Output* output, FerrylineWriter write, void* writeContext, size_t inputSize,
               const FerrylineEnv* env);
// Hands on what is gathered. Returns the status.
int FlushOutput(Output* output);
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

// Room for `size` bytes (at most the capacity) at the end of the block, to be filled and then counted
// with `output->used += size`; null once the writer has refused a piece.
char* OutputRoom(Output* output, size_t size);

#endif
