#include "shell/conversion.h"

#include <commdlg.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "convert/ferryline.h"
#include "shell/converters.h"

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

// After the conversion has refused a W95 book chosen as a Mac one, and said so: it is converted only when
// the user says so; No is the default.
bool ConfirmMacBook(const char* title)
{
    char question[kTitleSize + 80];
    snprintf(question, sizeof question, "Convert %s as a Macintosh address book anyway?", title);
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

namespace {

// What a command runs on the files chosen: a converter of shell/converters.h.
using RunFiles = FerrylineStatus (*)(const char* inputPath, const char* inputTitle, const char* outputPath,
                                     const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details);

// One command of the File menu: what its dialogs ask, and what it runs on the files chosen.
struct FileCommand {
    const char* openPrompt;
    const char* savePrompt;
    const char* saveFilter;        // null: the dialogs' own
    const char* defaultExtension;  // added to a name typed without one; null: none
    RunFiles run;
    const FerrylineOptions* options;
    bool confirmMacBook;  // a W95 book refused as a Mac one may be converted all the same
    const char* openFilter;  // null: the dialogs' own
    // Not null: asked once the input is chosen, it fills in the rest of the command (false: cancelled).
    bool (*completeCommand)(FileCommand* command);
};

// The save dialog with the command's own filter, picked, and its default extension; the shared record
// is as it was afterwards, so the conversions' dialogs don't change.
int ChooseCommandOutput(FileDialogState* dialogs, const FileCommand& command, char (&path)[kPathSize],
                        char (&title)[kTitleSize])
{
    if (command.saveFilter == nullptr) {
        return ChooseOutputFile(dialogs, path, title, command.savePrompt);
    }
    OPENFILENAMEA* record = &dialogs->record;
    const DWORD filterIndex = record->nFilterIndex;
    PrepareDialog(record, path, title, command.savePrompt, kSaveFlags);
    record->lpstrFilter = command.saveFilter;
    record->nFilterIndex = 1;
    record->lpstrDefExt = command.defaultExtension;
    const int chosen = GetSaveFileNameA(record) ? 1 : 0;
    record->nFilterIndex = filterIndex;
    record->lpstrDefExt = nullptr;
    return chosen;
}

void RunFileCommand(FileDialogState* dialogs, ConversionDetails* details, FileCommand command)
{
    // Fresh buffers every time: no file name carries over from one conversion to the next.
    char inputPath[kPathSize] = "";
    char inputTitle[kTitleSize] = "";
    char outputPath[kPathSize] = "";
    char outputTitle[kTitleSize] = "";

    OPENFILENAMEA* record = &dialogs->record;
    const DWORD filterIndex = record->nFilterIndex;
    bool opened = false;
    if (command.openFilter != nullptr) {
        PrepareDialog(record, inputPath, inputTitle, command.openPrompt, kOpenFlags);
        record->lpstrFilter = command.openFilter;
        record->nFilterIndex = 1;
        opened = GetOpenFileNameA(record) != 0;
        record->nFilterIndex = filterIndex;
    } else {
        opened = ChooseInputFile(dialogs, inputPath, inputTitle, command.openPrompt) != 0;
    }
    if (!opened) {
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
    if (command.completeCommand != nullptr && !command.completeCommand(&command)) {
        return;
    }
    if (!ChooseCommandOutput(dialogs, command, outputPath, outputTitle)) {
        return;
    }
    FerrylineOptions options = {};
    if (command.options != nullptr) {
        options = *command.options;
    }
    FerrylineStatus status = command.run(inputPath, inputTitle, outputPath, outputTitle, &options, details);
    if (status == FERRYLINE_WRONG_EDITION && command.confirmMacBook) {
        if (!ConfirmMacBook(inputTitle)) {
            return;
        }
        options.force = 1;
        status = command.run(inputPath, inputTitle, outputPath, outputTitle, &options, details);
    }
    // The conversion compares the files themselves, so another spelling of the input (letter case, a
    // short name, a relative part) is refused as well, with a message of its own and nothing more.
    if (status == FERRYLINE_OK) {
        ShowInfo(g_hwndMain, "Conversion successful");
    } else if (status != FERRYLINE_SAME_FILE) {
        ShowError(g_hwndMain, "An error occurred while converting the file");
    }
}

}  // namespace

void RunConversion(FileDialogState* dialogs, ConversionDetails* details, int direction, const FerrylineOptions* options)
{
    const bool macToWin = direction == kMacToWin;
    const FileCommand command = {
        macToWin ? "Select a Corvella (for Macintosh) address book" : "Select a Corvella (for Windows) address book",
        macToWin ? "Save Corvella (for Window) address book as" : "Save Corvella (for Macintosh) address book as",
        nullptr, nullptr, macToWin ? ConvertMacToWin : ConvertWinToMac, options, macToWin, nullptr, nullptr};
    RunFileCommand(dialogs, details, command);
}

namespace {

// What a command writes, chosen by `key` (an export's format, or the answer to the edition question):
// the save dialog's prompt, filter and extension, and the converter.
struct SaveChoice {
    int key;
    const char* savePrompt;
    const char* saveFilter;
    const char* extension;
    RunFiles run;
};

const SaveChoice kExports[] = {
    {kExportVcard, "Export the address book as vCard", "vCard Files\0*.vcf\0All Files\0*.*\0", "vcf", ExportToVcard},
    {kExportCsv, "Export the address book as CSV", "CSV Files\0*.csv\0All Files\0*.*\0", "csv", ExportToCsv},
    {kExportLdif, "Export the address book as LDIF for Thunderbird", "LDIF Files\0*.ldif\0All Files\0*.*\0", "ldif", ExportToLdif},
};

const SaveChoice kImportEditions[] = {
    {IDYES, "Save Corvella (for Window) address book as", "Corvella Files\0*.cv\0All Files\0*.*\0", "cv", ImportToWin},
    {IDNO, "Save Corvella (for Macintosh) address book as", "Text Files\0*.txt\0All Files\0*.*\0", "txt", ImportToMac},
};

// Fills in the save dialog and the converter of the choice with `key`; false when there is none.
template <size_t count>
bool ApplySaveChoice(const SaveChoice (&choices)[count], int key, FileCommand* command)
{
    for (const SaveChoice& choice : choices) {
        if (choice.key == key) {
            command->savePrompt = choice.savePrompt;
            command->saveFilter = choice.saveFilter;
            command->defaultExtension = choice.extension;
            command->run = choice.run;
            return true;
        }
    }
    return false;
}

// Which edition an import writes, asked between the open and the save dialog.
bool ChooseImportEdition(FileCommand* command)
{
    const int answer = AskYesNoCancel(g_hwndMain, "Which edition of Corvella is the address book for?\n\n"
                                                  "Yes: Corvella for Windows (a W95 book)\n"
                                                  "No: Corvella for Macintosh (a text book)");
    return ApplySaveChoice(kImportEditions, answer, command);
}

}  // namespace

void RunExport(FileDialogState* dialogs, ConversionDetails* details, int format)
{
    FileCommand command = {"Select a Corvella address book to export", nullptr, nullptr, nullptr, nullptr, nullptr, false, nullptr, nullptr};
    if (ApplySaveChoice(kExports, format, &command)) {
        RunFileCommand(dialogs, details, command);
    }
}

void RunImport(FileDialogState* dialogs, ConversionDetails* details)
{
    const FileCommand command = {"Select a vCard or CSV file to import", nullptr, nullptr, nullptr, nullptr, nullptr, false,
                                 "vCard and CSV Files\0*.vcf;*.vcard;*.csv\0All Files\0*.*\0", ChooseImportEdition};
    RunFileCommand(dialogs, details, command);
}
