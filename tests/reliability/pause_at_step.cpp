// For the reliability suite's build of ferryline-convert: where FERRYLINE_PAUSE_AT names a step of
// writing the output ("backup", "write-in-place"), the program writes that name as a line into the
// FIFO FERRYLINE_PAUSE_DIR/at and waits there until a byte arrives in FERRYLINE_PAUSE_DIR/go. A test
// thus sends its signal at that very step, without guessing at timing.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/platform.h"

static const char* StepName(PlatformStep step)
{
    switch (step) {
    case PLATFORM_STEP_BACKUP:
        return "backup";
    case PLATFORM_STEP_WRITE_IN_PLACE:
        return "write-in-place";
    default:
        return "";
    }
}

int PauseAtStep(void*, PlatformStep step)
{
    const char* wanted = getenv("FERRYLINE_PAUSE_AT");
    const char* folder = getenv("FERRYLINE_PAUSE_DIR");
    if (wanted == nullptr || folder == nullptr || strcmp(wanted, StepName(step)) != 0) {
        return 0;
    }
    char path[4096];
    snprintf(path, sizeof path, "%s/at", folder);
    int at = open(path, O_WRONLY | O_CLOEXEC);
    if (at >= 0) {
        dprintf(at, "%s\n", wanted);
        close(at);
    }
    snprintf(path, sizeof path, "%s/go", folder);
    int go = open(path, O_RDONLY | O_CLOEXEC);
    char byte = 0;
    if (go >= 0) {
        while (read(go, &byte, 1) < 0 && errno == EINTR) {
        }
        close(go);
    }
    return 0;
}
