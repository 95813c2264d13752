// The output's writer thread on POSIX systems.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include "platform/posix.h"

// The pieces are written by a thread of its own while the conversion makes the next ones: copying a
// piece into a slot costs a fraction of its write, in which the system copies it into its cache and
// finds pages for it. Two slots: one being written, one being filled.
static const size_t kSlotCount = 2;
static const size_t kSlotCapacity = 256 * 1024;

struct Writer {
    PieceWriter write;
    void* context;
    pthread_t thread;
    pthread_mutex_t lock;
    pthread_cond_t changed;  // a slot was handed over or written, or the last one will not come
    char* slots;             // kSlotCount slots of kSlotCapacity bytes
    size_t sizes[kSlotCount];
    size_t next;             // the slot the thread writes next
    size_t handed;           // slots handed over and not yet written
    bool finishing;          // no slot will be handed over any more
    int error;               // the errno of the first write that failed, 0 while none has
};

static void* WriteSlots(void* argument)
{
    Writer* writer = static_cast<Writer*>(argument);
    pthread_mutex_lock(&writer->lock);
    for (;;) {
        while (writer->handed == 0 && !writer->finishing) {
            pthread_cond_wait(&writer->changed, &writer->lock);
        }
        if (writer->handed == 0) {
            break;
        }
        size_t slot = writer->next;
        bool failed = writer->error != 0;
        pthread_mutex_unlock(&writer->lock);
        // After a failure the rest is only taken, never written: the output is lost anyway.
        int error = 0;
        if (!failed && !writer->write(writer->context, writer->slots + slot * kSlotCapacity, writer->sizes[slot])) {
            error = errno;
        }
        pthread_mutex_lock(&writer->lock);
        writer->error = writer->error != 0 ? writer->error : error;
        writer->next = (slot + 1) % kSlotCount;
        --writer->handed;
        pthread_cond_broadcast(&writer->changed);
    }
    pthread_mutex_unlock(&writer->lock);
    return nullptr;
}

Writer* StartWriter(PieceWriter write, void* context)
{
    Writer* writer = static_cast<Writer*>(calloc(1, sizeof(Writer)));
    char* slots = static_cast<char*>(malloc(kSlotCount * kSlotCapacity));
    if (writer == nullptr || slots == nullptr) {
        free(writer);
        free(slots);
        return nullptr;
    }
    writer->write = write;
    writer->context = context;
    writer->slots = slots;
    pthread_mutex_init(&writer->lock, nullptr);
    pthread_cond_init(&writer->changed, nullptr);
    // The thread takes no signal: an interrupt is handled where the conversion runs.
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &saved);
    int started = pthread_create(&writer->thread, nullptr, WriteSlots, writer);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (started != 0) {
        pthread_cond_destroy(&writer->changed);
        pthread_mutex_destroy(&writer->lock);
        free(slots);
        free(writer);
        return nullptr;
    }
    return writer;
}

int HandOver(Writer* writer, const char* data, size_t bytes)
{
    while (bytes > 0) {
        pthread_mutex_lock(&writer->lock);
        while (writer->handed == kSlotCount && writer->error == 0) {
            pthread_cond_wait(&writer->changed, &writer->lock);
        }
        int error = writer->error;
        size_t slot = (writer->next + writer->handed) % kSlotCount;
        pthread_mutex_unlock(&writer->lock);
        if (error != 0) {
            errno = error;
            return 0;
        }
        // The thread does not touch a slot before it is handed over.
        size_t size = bytes < kSlotCapacity ? bytes : kSlotCapacity;
        memcpy(writer->slots + slot * kSlotCapacity, data, size);
        writer->sizes[slot] = size;
        pthread_mutex_lock(&writer->lock);
        ++writer->handed;
        pthread_cond_broadcast(&writer->changed);
        pthread_mutex_unlock(&writer->lock);
        data += size;
        bytes -= size;
    }
    return 1;
}

int FinishWriter(Writer* writer)
{
    pthread_mutex_lock(&writer->lock);
    writer->finishing = true;
    pthread_cond_broadcast(&writer->changed);
    pthread_mutex_unlock(&writer->lock);
    pthread_join(writer->thread, nullptr);
    int error = writer->error;
    pthread_cond_destroy(&writer->changed);
    pthread_mutex_destroy(&writer->lock);
    free(writer->slots);
    free(writer);
    if (error != 0) {
        errno = error;
    }
    return error == 0;
}
