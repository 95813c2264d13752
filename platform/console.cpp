#include <stdio.h>

#include "platform/platform.h"

void PlatformPrintMessage(HWND__* /*owner*/, MessageKind /*kind*/, const char* text)
{
    fputs(text, stderr);
    fputc('\n', stderr);
    fflush(stderr);
}
