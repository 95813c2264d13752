// What the rest of the program calls to convert Corvella address books, and the two message helpers
// through which every outcome reaches the user.
#ifndef FERRYLINE_CONVERT_H
#define FERRYLINE_CONVERT_H

#include <stddef.h>

struct HWND__;  // the Win32 window handle type (HWND); only passed on as the owner of messages

// The main window, owner of every message; null until the window exists (and in the console converter).
extern HWND__* g_hwndMain;

// Each converter reads `inputPath` and writes `outputPath`; the titles name the files in messages.
// Returns 1 when the output was written completely, 0 after telling the user what failed.
int ConvertMacToWin(const char* inputPath, const char* inputTitle, const char* outputPath,
                    const char* outputTitle);
int ConvertWinToMac(const char* inputPath, const char* inputTitle, const char* outputPath,
                    const char* outputTitle);

// Information (success, warnings, Help, About) and error messages, under the caption "Convert CV Address Book".
void ShowInfo(HWND__* owner, const char* text);
void ShowError(HWND__* owner, const char* text);

// Changes a user may want to fix by hand, reported one at a time while a converter runs.
enum ChangeKind {
    CHANGE_PLACEHOLDER_NAME,  // a Mac line without a name; `text` is the name it was given
    CHANGE_RESERVED_REPLACED, // a Mac line whose reserved characters became dashes; `text` is empty
    CHANGE_DROPPED_ENTRY      // a W95 entry without an address, left out; `text` is its name
};
// `line` is the 1-based line of the Mac input, or the 1-based entry number in a W95 input.
typedef void (*ChangeObserver)(ChangeKind kind, unsigned long line, const char* text, size_t length);

// Null unless a front end wants the details; set it before a conversion, clear it after.
extern ChangeObserver g_changeObserver;

#endif
