// The conversion command and the open and save dialogs it shows.
#ifndef FERRYLINE_SHELL_CONVERSION_H
#define FERRYLINE_SHELL_CONVERSION_H

#include <windows.h>

#include <commdlg.h>

#include "convert/ferryline.h"
#include "shell/details.h"

// Buffer sizes of one file: its full path and its title (the name without the directory).
const size_t kPathSize = 1024;
const size_t kTitleSize = 512;

// Directions of RunConversion.
const int kMacToWin = 1;
const int kWinToMac = 0;

// The record both dialogs share for the whole run, so the filter the user picks carries over, and the
// folder every dialog starts in.
struct FileDialogState {
    OPENFILENAMEA record;
    char initialDir[kPathSize];
};

// Records the current directory and fills the shared dialog record; once, after the main window exists.
void InitFileDialogs(FileDialogState* dialogs, HWND owner, HINSTANCE instance);

// Show the open or the save dialog; nonzero when the user chose a file.
int ChooseInputFile(FileDialogState* dialogs, char (&path)[kPathSize], char (&title)[kTitleSize], const char* prompt);
int ChooseOutputFile(FileDialogState* dialogs, char (&path)[kPathSize], char (&title)[kTitleSize], const char* prompt);

// Asks for the input and output files and converts in `direction` (kMacToWin or kWinToMac) with
// `options` (null for none), telling the user the outcome. Its changes go into `details`.
void RunConversion(FileDialogState* dialogs, ConversionDetails* details, int direction, const FerrylineOptions* options);

// Formats of RunExport.
const int kExportVcard = 1;
const int kExportCsv = 2;
const int kExportLdif = 3;

// Asks for a book of either edition and the file to export it to, and exports it; its changes go into
// `details`.
void RunExport(FileDialogState* dialogs, ConversionDetails* details, int format);

// Asks for a vCard or CSV file, which edition to write, and the book to write, and imports it; its
// changes go into `details`.
void RunImport(FileDialogState* dialogs, ConversionDetails* details);

#endif
