// What a conversion was given (memory, a listener), and the few ways the library uses it.
#ifndef FERRYLINE_ENV_H
#define FERRYLINE_ENV_H

#include <stddef.h>

#include "convert/ferryline.h"

// `env`, or for null the C library's allocator and nobody to tell.
const FerrylineEnv* UsableEnv(const FerrylineEnv* env);

// A block of `size` bytes from the conversion's allocator, or null when it refused.
void* Allocate(const FerrylineEnv* env, size_t size);
// `block` (of `oldSize` bytes) at `newSize` bytes, or null when refused; then `block` is as it was.
void* Resize(const FerrylineEnv* env, void* block, size_t oldSize, size_t newSize);
void Release(const FerrylineEnv* env, void* block, size_t size);

// Tells the listener `format` filled in with one string (or `format` itself when `argument` is null),
// held whole however long the argument is.
void Tell(const FerrylineEnv* env, FerrylineMessageKind kind, const char* format, const char* argument);
// Tells a failure as an error and returns its status, for `return Fail(...)`.
FerrylineStatus Fail(const FerrylineEnv* env, FerrylineStatus status, const char* format, const char* argument);

void NoteChange(const FerrylineEnv* env, FerrylineChangeKind kind, uint64_t line, const char* text,
                size_t size);
// Hands a change to the listener; for NoteLineChange only.
void TellLineChange(const FerrylineEnv* env, FerrylineChangeKind kind, uint64_t line, FerrylineText text,
                    FerrylineText name, FerrylineText address);

// The same with the name and the address the change concerns. Inline, so that a conversion nobody
// listens to spends one test on each change of a line, as it may on every line.
inline void NoteLineChange(const FerrylineEnv* env, FerrylineChangeKind kind, uint64_t line, FerrylineText text,
                           FerrylineText name, FerrylineText address)
{
    if (env->listener != nullptr && env->listener->change != nullptr) {
        TellLineChange(env, kind, line, text, name, address);
    }
}

#endif
