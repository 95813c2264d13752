// The Windows program's two converters and its two message boxes, over the conversion library.
#ifndef FERRYLINE_SHELL_CONVERTERS_H
#define FERRYLINE_SHELL_CONVERTERS_H

#include <windows.h>

#include "convert/ferryline.h"
#include "shell/details.h"

// The main window, owner of every message box; null until the window exists.
extern HWND g_hwndMain;

// Each converter reads `inputPath` and writes `outputPath`; the titles name the files in messages.
// Returns FERRYLINE_OK when the output was written completely, or what failed after telling the user.
// Warnings are shown before it returns FERRYLINE_OK, the last of them how many entries lost letters to '?'.
// `options` (null for none) asks for accented letters to be converted, and for a W95 book to be
// converted as a Mac one (`force`). Every change goes into `details`.
FerrylineStatus ConvertMacToWin(const char* inputPath, const char* inputTitle, const char* outputPath,
                                const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);
FerrylineStatus ConvertWinToMac(const char* inputPath, const char* inputTitle, const char* outputPath,
                                const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);
// Exports a book of either edition to vCard or CSV, the same way; of `options` (null: the defaults)
// only the vCard version and the CSV layout count: an export always reads the book's characters.
FerrylineStatus ExportToVcard(const char* inputPath, const char* inputTitle, const char* outputPath,
                              const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);
FerrylineStatus ExportToCsv(const char* inputPath, const char* inputTitle, const char* outputPath,
                            const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);
// LDIF for Thunderbird, from a book of either edition.
FerrylineStatus ExportToLdif(const char* inputPath, const char* inputTitle, const char* outputPath,
                             const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);
// A vCard file, or a CSV file (its name ends in .csv), written as a book of one edition.
FerrylineStatus ImportToMac(const char* inputPath, const char* inputTitle, const char* outputPath,
                            const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);
FerrylineStatus ImportToWin(const char* inputPath, const char* inputTitle, const char* outputPath,
                            const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);

// The character set a conversion writes accented letters in: Windows-1252 for the W95 edition
// (macToWin), Mac OS Roman for the Macintosh one.
const char* WrittenCharsetName(bool macToWin);

// Information (success, warnings, Help, About) and error boxes, under the caption "Convert CV Address Book".
void ShowInfo(HWND owner, const char* text);
void ShowError(HWND owner, const char* text);
// A box with the warning icon, for a loss the user should see before "Conversion successful".
void ShowWarning(HWND owner, const char* text);
// A box with Yes and No, the warning icon and No the default, or the question icon and Yes the default;
// true for Yes.
bool AskYesNo(HWND owner, const char* text, bool yesByDefault);
// A question box with Yes, No and Cancel, Yes the default; IDYES, IDNO or IDCANCEL.
int AskYesNoCancel(HWND owner, const char* text);

#endif
