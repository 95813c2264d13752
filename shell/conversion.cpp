#include "shell/conversion.h"

#include <commdlg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "convert/ferryline.h"
#include "shell/converters.h"
#include "platform/platform.h"

namespace {

// Two description/pattern pairs; the literal's own terminating zero ends the list.
const char kFilter[] = "All Files\0*.*\0Corvella Files\0*.cv\0";

const DWORD kOpenFlags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
const DWORD kSaveFlags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;

static_assert(kOpenFlags == 0x81804, "open dialog flags");
static_assert(kSaveFlags == 0x80806, "save dialog flags");
// The record is handed over in its Windows 95 size, without the fields later systems appended;
// those fields stay zero.
const DWORD kDialogRecordSize = sizeof(OPENFILENAME_NT4A);
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == kDialogRecordSize,
              "the older record is the start of the current one");
#if defined(_WIN32) && !defined(_WIN64)
static_assert(kDialogRecordSize == 76, "OPENFILENAMEA size on 32-bit Windows");
#endif

// Points the shared record at this call's buffers and prompt.
void PrepareDialog(OPENFILENAMEA* record, char (&path)[kPathSize], char (&title)[kTitleSize], const char* prompt, DWORD flags)
{
    record->lpstrFilter = kFilter;
    record->lpstrFile = path;
    record->nMaxFile = kPathSize;
    record->lpstrFileTitle = title;
    record->nMaxFileTitle = kTitleSize;
    record->lpstrTitle = prompt;
    record->Flags = flags;
}

// A W95 book chosen as a Mac one is converted only when the user says so; No is the default. A book
// that can't be read is left to the conversion to report.
bool ConfirmMacBook(const char* path, const char* title)
{
    FerrylineEnv quiet = {ferryline_system_alloc, nullptr, nullptr};
    FerrylineInspection book;
    if (!ferryline_inspect_file(path, title, nullptr, &quiet, &book) || book.look.edition != FERRYLINE_W95_BOOK) {
        return true;
    }
    char question[kTitleSize + 160];
    snprintf(question, sizeof question,
             "The file %s looks like a Corvella W95 address book, not a Macintosh one.\n\n"
             "Convert it as a Macintosh address book anyway?", title);
    return AskYesNo(g_hwndMain, question);
}

}  // namespace

void InitFileDialogs(FileDialogState* dialogs, HWND owner, HINSTANCE instance)
{
    const DWORD length = GetCurrentDirectoryA(kPathSize, dialogs->initialDir);
    if (length == 0 || length >= kPathSize) {
        // No usable directory: the dialogs then start in the system's own choice.
        dialogs->initialDir[0] = '\0';
    }
    OPENFILENAMEA* record = &dialogs->record;
    memset(record, 0, sizeof *record);
    record->lStructSize = kDialogRecordSize;
    record->hwndOwner = owner;
    record->hInstance = instance;
    record->nFilterIndex = 0;
    record->lpstrInitialDir = dialogs->initialDir;
}

int ChooseInputFile(FileDialogState* dialogs, char (&path)[kPathSize], char (&title)[kTitleSize], const char* prompt)
{
    PrepareDialog(&dialogs->record, path, title, prompt, kOpenFlags);
    return GetOpenFileNameA(&dialogs->record) ? 1 : 0;
}

int ChooseOutputFile(FileDialogState* dialogs, char (&path)[kPathSize], char (&title)[kTitleSize], const char* prompt)
{
    PrepareDialog(&dialogs->record, path, title, prompt, kSaveFlags);
    return GetSaveFileNameA(&dialogs->record) ? 1 : 0;
}

void RunConversion(FileDialogState* dialogs, ConversionDetails* details, int direction)
{
    // Fresh buffers every time: no file name carries over from one conversion to the next.
    char inputPath[kPathSize] = "";
    char inputTitle[kTitleSize] = "";
    char outputPath[kPathSize] = "";
    char outputTitle[kTitleSize] = "";
    char prompt[256];

    snprintf(prompt, sizeof prompt, "Select a Corvella (for %s) address book",
             direction == kMacToWin ? "Macintosh" : "Windows");
    if (!ChooseInputFile(dialogs, inputPath, inputTitle, prompt)) {
        const DWORD code = CommDlgExtendedError();
        if (code != 0) {
            // A failed dialog may leave the title unterminated.
            inputTitle[kTitleSize - 1] = '\0';
            char message[kTitleSize + 64];
            snprintf(message, sizeof message, "Cannot convert %s (%d)", inputTitle, static_cast<int>(code));
            ShowError(g_hwndMain, message);
        }
        return;
    }
    if (inputPath[0] == '\0') {
        return;
    }
    if (direction == kMacToWin && !ConfirmMacBook(inputPath, inputTitle)) {
        return;
    }

    snprintf(prompt, sizeof prompt, "Save Corvella (for %s) address book as",
             direction == kMacToWin ? "Window" : "Macintosh");
    if (!ChooseOutputFile(dialogs, outputPath, outputTitle, prompt)) {
        return;
    }
    // Compares the files themselves, so another spelling of the input (letter case, a short name,
    // a relative part) is refused as well.
    if (PlatformSameFile(inputPath, outputPath)) {
        ShowError(g_hwndMain, "Input and output file must be different.");
        return;
    }

    const int converted = direction == kMacToWin
                              ? ConvertMacToWin(inputPath, inputTitle, outputPath, outputTitle, details)
                              : ConvertWinToMac(inputPath, inputTitle, outputPath, outputTitle, details);
    if (converted) {
        ShowInfo(g_hwndMain, "Conversion successful");
    } else {
        ShowError(g_hwndMain, "An error occurred while converting the file");
    }
}
