#include "convert/convert.h"
#include "convert/frame.h"
#include "platform/platform.h"

HWND__* g_hwndMain = nullptr;
ChangeObserver g_changeObserver = nullptr;

void ShowInfo(HWND__* owner, const char* text)
{
    g_platform.showMessage(owner, MESSAGE_INFO, text);
}

void ShowError(HWND__* owner, const char* text)
{
    g_platform.showMessage(owner, MESSAGE_ERROR, text);
}

void NoteChange(ChangeKind kind, unsigned long line, const char* text, size_t length)
{
    if (g_changeObserver != nullptr) {
        g_changeObserver(kind, line, text, length);
    }
}
