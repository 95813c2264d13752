// The list of changes of the last conversion, and the window that shows it.
#ifndef FERRYLINE_SHELL_DETAILS_H
#define FERRYLINE_SHELL_DETAILS_H

#include <windows.h>

#include <string>

#include "convert/ferryline.h"

struct ConversionDetails {
    std::string text;            // UTF-8 lines ending in CR LF, as the window shows them
    unsigned long unlisted;      // changes past the limit, counted only
    unsigned long questionMarks; // lines or entries whose letters the target can't hold became '?'
};

// Starts the list of a new conversion under a line that names it; the titles are in the ANSI code page.
void StartDetails(ConversionDetails* details, const char* direction, const char* inputTitle, const char* outputTitle);
// A listener's `change`: its context is the ConversionDetails.
void NoteDetailsChange(void* context, const FerrylineChange* change);
// Ends the list with what came of the conversion.
void FinishDetails(ConversionDetails* details, int converted);

// The list in a window of its own, read-only, resizable, to scroll and copy from; every character shows,
// whatever the system's code page. Returns when it is closed.
void ShowConversionDetails(HWND owner, const ConversionDetails* details);

#endif
