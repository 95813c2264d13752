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

// A title with its control characters escaped: C0 and DEL as \xNN, U+0080-U+009F in UTF-8 as \u00NN.
// Other bytes stay as they are: a title may be in the system's 8-bit set, as Windows programs have it.
// Writes at most `capacity` bytes with a terminating zero; returns the whole length.
static size_t EscapeControls(const char* title, char* out, size_t capacity)
{
    static const char kHex[] = "0123456789abcdef";
    size_t length = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(title); *p != 0; ++p) {
        char escaped[7];
        size_t size = 1;
        escaped[0] = static_cast<char>(*p);
        if (*p < 0x20 || *p == 0x7F) {
            memcpy(escaped, "\\x", 2);
            escaped[2] = kHex[*p >> 4];
            escaped[3] = kHex[*p & 15];
            size = 4;
        } else if (*p == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F) {
            memcpy(escaped, "\\u00", 4);
            escaped[4] = kHex[p[1] >> 4];
            escaped[5] = kHex[p[1] & 15];
            size = 6;
            ++p;
        }
        for (size_t i = 0; i < size; ++i, ++length) {
            if (length + 1 < capacity) {
                out[length] = escaped[i];
            }
        }
    }
    if (capacity > 0) {
        out[length < capacity ? length : capacity - 1] = '\0';
    }
    return length;
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
    char shortTitle[256];
    size_t titleSize = EscapeControls(argument, shortTitle, sizeof shortTitle) + 1;
    char* title = titleSize <= sizeof shortTitle ? nullptr : static_cast<char*>(Allocate(env, titleSize));
    if (title != nullptr) {
        EscapeControls(argument, title, titleSize);
    }
    const char* shown = title != nullptr ? title : shortTitle;
    size_t size = strlen(format) + strlen(shown) + 1;
    char* text = size <= sizeof small ? nullptr : static_cast<char*>(Allocate(env, size));
    if (text == nullptr) {
        snprintf(small, sizeof small, format, shown);
        listener->message(listener->context, kind, small);
    } else {
        snprintf(text, size, format, shown);
        listener->message(listener->context, kind, text);
        Release(env, text, size);
    }
    Release(env, title, titleSize);
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
