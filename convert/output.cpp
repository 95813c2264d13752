#include "convert/output.h"

// Large enough that handing on a piece costs little next to making it; smaller for small inputs.
static const size_t kLargestBlock = 256 * 1024;
static const size_t kSmallestBlock = 4 * 1024;

int OpenOutput(Output* output, FerrylineWriter write, void* writeContext, size_t inputSize, const FerrylineEnv* env)
{
    size_t capacity = inputSize < kLargestBlock ? inputSize + inputSize / 2 : kLargestBlock;
    if (capacity < kSmallestBlock) {
        capacity = kSmallestBlock;
    }
    output->write = write;
    output->writeContext = writeContext;
    output->block = static_cast<char*>(Allocate(env, capacity));
    output->capacity = output->block != nullptr ? capacity : 0;
    output->used = 0;
    output->status = FERRYLINE_OK;
    return output->block != nullptr;
}

FerrylineStatus FlushOutput(Output* output)
{
    if (output->status == FERRYLINE_OK && output->used > 0) {
        output->status = output->write(output->writeContext, output->block, output->used);
    }
    output->used = 0;
    return output->status;
}

void CloseOutput(Output* output, const FerrylineEnv* env)
{
    Release(env, output->block, output->capacity);
    output->block = nullptr;
    output->capacity = 0;
}

void PutBytesSlowly(Output* output, const char* data, size_t size)
{
    if (FlushOutput(output) != FERRYLINE_OK) {
        return;
    }
    if (size >= output->capacity) {
        output->status = output->write(output->writeContext, data, size);
        return;
    }
    memcpy(output->block, data, size);
    output->used = size;
}

char* OutputRoomSlowly(Output* output, size_t size)
{
    if (size > output->capacity - output->used && FlushOutput(output) != FERRYLINE_OK) {
        return nullptr;
    }
    return output->status == FERRYLINE_OK ? output->block + output->used : nullptr;
}
