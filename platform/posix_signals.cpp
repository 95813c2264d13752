// Signals on POSIX systems: those an output's steps hold off, and the handler that removes its
// temporary files on an interrupt.
#include <atomic>
#include <initializer_list>

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix.h"
#include "platform/shared.h"

// Above every signal number of the systems this runs on; sigismember refuses those beyond its own.
static const int kHighestSignal = 65;

// The signals whose handler removes the temporary files (PlatformRemoveTemporaryOnInterrupt).
static const int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2};

sigset_t BlockInterrupts()
{
    sigset_t interrupts;
    sigset_t saved;
    sigemptyset(&interrupts);
    for (int signalNumber : kInterrupts) {
        sigaddset(&interrupts, signalNumber);
    }
    pthread_sigmask(SIG_BLOCK, &interrupts, &saved);
    return saved;
}

void RestoreInterrupts(const sigset_t& saved)
{
    int error = errno;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    errno = error;
}

// Signals that only pause or tell of a change, which a finished rewrite lets through; every other
// one that arrived during it is dropped, the file then holding the new book.
static bool Harmless(int signalNumber)
{
    for (int harmless : {SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH}) {
        if (signalNumber == harmless) {
            return true;
        }
    }
    return false;
}

sigset_t HoldAllSignals()
{
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS}) {
        sigdelset(&all, fault);
    }
    pthread_sigmask(SIG_BLOCK, &all, &saved);
    return saved;
}

void DropEndingSignals(const sigset_t& saved)
{
    sigset_t pending;
    if (sigpending(&pending) != 0) {
        return;
    }
    for (int signalNumber = 1; signalNumber < kHighestSignal; ++signalNumber) {
        if (sigismember(&pending, signalNumber) == 1 && sigismember(&saved, signalNumber) == 0 &&
            !Harmless(signalNumber)) {
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, signalNumber);
            int taken = 0;
            sigwait(&one, &taken);
        }
    }
}

static void RemoveTemporaryAndEnd(int signalNumber)
{
    RemoveRecordedTemporaries();
    // The process ends by the signal itself, blocked until this handler returns.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void PlatformRemoveTemporaryOnInterrupt(PlatformObserver* observer)
{
    observer->temporary = NoteTemporary;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTemporaryAndEnd;
    // One handler at a time: a second signal waits while the first removes the files.
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kInterrupts) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    for (int signalNumber : kInterrupts) {
        // A signal ignored from the start (nohup) stays ignored.
        struct sigaction before;
        if (sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signalNumber, &action, nullptr);
        }
    }
}

void PlatformPrepareStandardStreams()
{
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}
