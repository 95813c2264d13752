#include "convert/env.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The C library's allocator, for a caller that brings none.
static void* StandardAlloc(void* /*context*/, void* block, size_t /*oldSize*/, size_t newSize)
{
    if (newSize == 0) {
        free(block);
        return nullptr;
    }
    return realloc(block, newSize);
}

static void* Reallocate(const FerrylineEnv* env, void* block, size_t oldSize, size_t newSize)
{
    if (env->alloc == nullptr) {
        return StandardAlloc(nullptr, block, oldSize, newSize);
    }
    return env->alloc(env->allocContext, block, oldSize, newSize);
}

const FerrylineEnv* UsableEnv(const FerrylineEnv* env)
{
    static const FerrylineEnv kQuiet = {nullptr, nullptr, nullptr};
    return env != nullptr ? env : &kQuiet;
}

void* Allocate(const FerrylineEnv* env, size_t size)
{
    return size == 0 ? nullptr : Reallocate(env, nullptr, 0, size);
}

void* Resize(const FerrylineEnv* env, void* block, size_t oldSize, size_t newSize)
{
    return newSize == 0 ? nullptr : Reallocate(env, block, oldSize, newSize);
}

void Release(const FerrylineEnv* env, void* block, size_t size)
{
    if (block != nullptr) {
        Reallocate(env, block, size, 0);
    }
}

void Tell(const FerrylineEnv* env, FerrylineMessageKind kind, const char* format, const char* argument)
{
    const FerrylineListener* listener = env->listener;
    if (listener == nullptr || listener->message == nullptr) {
        return;
    }
    if (argument == nullptr) {
        listener->message(listener->context, kind, format);
        return;
    }
    // The format holds one %s. A long title gets a block of its own; when even that is refused the text
    // is told cut short rather than not at all.
    char small[512];
    size_t size = strlen(format) + strlen(argument) + 1;
    char* text = size <= sizeof small ? nullptr : static_cast<char*>(Allocate(env, size));
    if (text == nullptr) {
        snprintf(small, sizeof small, format, argument);
        listener->message(listener->context, kind, small);
        return;
    }
    snprintf(text, size, format, argument);
    listener->message(listener->context, kind, text);
    Release(env, text, size);
}

FerrylineStatus Fail(const FerrylineEnv* env, FerrylineStatus status, const char* format, const char* argument)
{
    Tell(env, FERRYLINE_ERROR, format, argument);
    return status;
}

void NoteChange(const FerrylineEnv* env, FerrylineChangeKind kind, uint64_t line, const char* text, size_t size)
{
    NoteLineChange(env, kind, line, {text, size}, {nullptr, 0}, {nullptr, 0});
}

void TellLineChange(const FerrylineEnv* env, FerrylineChangeKind kind, uint64_t line, FerrylineText text,
                    FerrylineText name, FerrylineText address)
{
    FerrylineChange change = {kind, line, text, name, address};
    env->listener->change(env->listener->context, &change);
}
