// ferryline_convert_bytes: one conversion in memory with everything it produced gathered for the caller.
#include <inttypes.h>
#include <stdio.h>
#include <string.h>

#include "convert/env.h"
#include "convert/ferryline.h"

// The change lines kept at most; past that they are counted, so a hostile book can't fill the memory.
static const size_t kChangeTextLimit = 4u << 20;

struct Collector {
    const FerrylineEnv* env;      // the caller's: its allocator, and its listener to pass everything on to
    FerrylineResult* result;
    uint64_t unlistedChanges;
    bool lostMessage;             // a message that could not be kept
};

// Makes room for `more` bytes after `used` in `*block`, doubling it as needed. Returns false when refused.
static bool Reserve(const FerrylineEnv* env, void** block, size_t* capacity, size_t used, size_t more)
{
    if (more <= *capacity - used) {
        return true;
    }
    size_t wanted = *capacity > 0 ? *capacity : 256;
    while (wanted - used < more) {
        if (wanted > SIZE_MAX / 2) {
            return false;
        }
        wanted *= 2;
    }
    void* grown = Resize(env, *block, *capacity, wanted);
    if (grown == nullptr) {
        return false;
    }
    *block = grown;
    *capacity = wanted;
    return true;
}

static FerrylineStatus CollectOutput(void* context, const void* data, size_t size)
{
    Collector* collector = static_cast<Collector*>(context);
    FerrylineResult* result = collector->result;
    void* block = result->output;
    if (!Reserve(collector->env, &block, &result->outputCapacity, result->outputSize, size)) {
        return FERRYLINE_NO_MEMORY;
    }
    result->output = static_cast<char*>(block);
    memcpy(result->output + result->outputSize, data, size);
    result->outputSize += size;
    return FERRYLINE_OK;
}

static void CollectMessage(void* context, FerrylineMessageKind kind, const char* text)
{
    Collector* collector = static_cast<Collector*>(context);
    const FerrylineListener* passOn = collector->env->listener;
    if (passOn != nullptr && passOn->message != nullptr) {
        passOn->message(passOn->context, kind, text);
    }
    FerrylineResult* result = collector->result;
    size_t bytes = result->messageCount * sizeof(FerrylineMessage);
    size_t capacity = result->messageCapacity * sizeof(FerrylineMessage);
    void* block = result->messages;
    size_t length = strlen(text);
    char* copy = static_cast<char*>(Allocate(collector->env, length + 1));
    if (copy == nullptr || !Reserve(collector->env, &block, &capacity, bytes, sizeof(FerrylineMessage))) {
        Release(collector->env, copy, length + 1);
        collector->lostMessage = true;
        return;
    }
    memcpy(copy, text, length + 1);
    result->messages = static_cast<FerrylineMessage*>(block);
    result->messageCapacity = capacity / sizeof(FerrylineMessage);
    result->messages[result->messageCount].kind = kind;
    result->messages[result->messageCount].text = copy;
    ++result->messageCount;
}

static void AppendChangeText(Collector* collector, const char* text, size_t length)
{
    FerrylineResult* result = collector->result;
    void* block = result->changes;
    if (!Reserve(collector->env, &block, &result->changesCapacity, result->changesSize, length)) {
        ++collector->unlistedChanges;
        return;
    }
    result->changes = static_cast<char*>(block);
    memcpy(result->changes + result->changesSize, text, length);
    result->changesSize += length;
}

static void CollectChange(void* context, const FerrylineChange* change)
{
    Collector* collector = static_cast<Collector*>(context);
    const FerrylineListener* passOn = collector->env->listener;
    if (passOn != nullptr && passOn->change != nullptr) {
        passOn->change(passOn->context, change);
    }
    if (collector->unlistedChanges > 0 || collector->result->changesSize >= kChangeTextLimit) {
        ++collector->unlistedChanges;
        return;
    }
    // A short line is described on the stack; a long name gets a block of its own.
    char line[256];
    size_t length = ferryline_describe_change(change, line, sizeof line);
    if (length < sizeof line) {
        line[length] = '\n';
        AppendChangeText(collector, line, length + 1);
        return;
    }
    char* text = static_cast<char*>(Allocate(collector->env, length + 1));
    if (text == nullptr) {
        ++collector->unlistedChanges;
        return;
    }
    ferryline_describe_change(change, text, length + 1);
    text[length] = '\n';
    AppendChangeText(collector, text, length + 1);
    Release(collector->env, text, length + 1);
}

FerrylineStatus ferryline_convert_bytes(FerrylineDirection direction, const FerrylineOptions* options, const void* input,
                                        size_t size, const char* inputTitle, const FerrylineEnv* env, FerrylineResult* result)
{
    env = UsableEnv(env);
    memset(result, 0, sizeof *result);
    result->alloc = env->alloc;
    result->allocContext = env->allocContext;
    Collector collector = {env, result, 0, false};
    FerrylineListener listener = {&collector, CollectMessage, CollectChange};
    FerrylineEnv collecting = {env->alloc, env->allocContext, &listener};
    result->status = ferryline_convert(direction, options, input, size, inputTitle, CollectOutput, &collector,
                                       &collecting, &result->look);
    if (collector.unlistedChanges > 0) {
        char line[96];
        int length = snprintf(line, sizeof line, "(%" PRIu64 " more changes not listed)\n", collector.unlistedChanges);
        collector.unlistedChanges = 0;
        AppendChangeText(&collector, line, length > 0 ? static_cast<size_t>(length) : 0);
    }
    // A message that could not be kept leaves the caller an incomplete story: that is a failure too.
    if (collector.lostMessage && result->status == FERRYLINE_OK) {
        result->status = FERRYLINE_NO_MEMORY;
    }
    if (result->status != FERRYLINE_OK) {
        Release(env, result->output, result->outputCapacity);
        result->output = nullptr;
        result->outputSize = 0;
        result->outputCapacity = 0;
    }
    return result->status;
}

void ferryline_result_free(FerrylineResult* result)
{
    const FerrylineEnv held = {result->alloc, result->allocContext, nullptr};
    const FerrylineEnv* env = &held;
    for (size_t i = 0; i < result->messageCount; ++i) {
        Release(env, result->messages[i].text, strlen(result->messages[i].text) + 1);
    }
    Release(env, result->messages, result->messageCapacity * sizeof(FerrylineMessage));
    Release(env, result->output, result->outputCapacity);
    Release(env, result->changes, result->changesCapacity);
    memset(result, 0, sizeof *result);
}
