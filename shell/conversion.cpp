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

// One look at the chosen book, before the save dialog: which edition it is and whether it holds letters
// beyond ASCII. False when it can't be read; the conversion then tells why.
bool LookAtBook(const char* path, const char* title, FerrylineInspection* book)
{
    FerrylineEnv quiet = {ferryline_system_alloc, nullptr, nullptr};
    return ferryline_inspect_file(path, title, nullptr, &quiet, book) == FERRYLINE_OK;
}

bool IsUtf16(FerrylineCharset charset)
{
    return charset == FERRYLINE_CHARSET_UTF16LE || charset == FERRYLINE_CHARSET_UTF16BE;
}

// The character set the conversion reads the book in when it converts accented letters: what the text
// plainly is (UTF-16, or UTF-8 by its mark or its bytes), as the first look found, otherwise the set of
// the edition it reads.
const char* ReadCharsetName(const FerrylineInspection& book, bool macToWin)
{
    if (IsUtf16(book.look.charset)) {
        return "UTF-16";
    }
    if (book.look.charset == FERRYLINE_CHARSET_UTF8) {
        return "UTF-8";
    }
    return WrittenCharsetName(!macToWin);
}

// With Options > "Convert accented letters" off, a book with such letters brings a question whose
// default, Yes, converts them for this conversion only.
bool AskConvertLetters(const char* title, const FerrylineInspection& book, bool macToWin)
{
    char question[kTitleSize + 320];
    snprintf(question, sizeof question,
             "The file %s holds letters beyond plain ASCII (accented letters, most likely), which the two "
             "editions store differently.\n\n"
             "Convert them from %s to %s for this conversion?\n"
             "No copies their bytes unchanged.",
             title, ReadCharsetName(book, macToWin), WrittenCharsetName(macToWin));
    return AskYesNo(g_hwndMain, question, true);
}

// After the conversion has refused a W95 book chosen as a Mac one, and said so: it is converted only when
// the user says so; No is the default.
bool ConfirmMacBook(const char* title)
{
    char question[kTitleSize + 80];
    snprintf(question, sizeof question, "Convert %s as a Macintosh address book anyway?", title);
    return AskYesNo(g_hwndMain, question, false);
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
    int conversion;  // kMacToWin or kWinToMac, whose book is looked at first; kNoConversion for the others
    const char* openFilter;  // null: the dialogs' own
    // Not null: asked once the input is chosen, it fills in the rest of the command (false: cancelled).
    bool (*completeCommand)(FileCommand* command);
    // Not null: what the save filter the user picked, counted from 1, asks of the export.
    void (*chooseByFilter)(DWORD filter, FerrylineOptions* options);
};

const int kNoConversion = -1;

// The save dialog with the command's own filter, picked, and its default extension; the shared record
// is as it was afterwards, so the conversions' dialogs don't change.
int ChooseCommandOutput(FileDialogState* dialogs, const FileCommand& command, char (&path)[kPathSize],
                        char (&title)[kTitleSize], DWORD* pickedFilter)
{
    *pickedFilter = 0;
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
    *pickedFilter = record->nFilterIndex;
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
    FerrylineOptions options = {};
    if (command.options != nullptr) {
        options = *command.options;
    }
    const bool macToWin = command.conversion == kMacToWin;
    bool macBookForWinToMac = false;
    FerrylineInspection book;
    if (command.conversion != kNoConversion && LookAtBook(inputPath, inputTitle, &book)) {
        if (!options.recode && ferryline_look_beyond_ascii(&book.look) && AskConvertLetters(inputTitle, book, macToWin)) {
            options.recode = 1;
        }
        macBookForWinToMac = !macToWin && book.look.edition == FERRYLINE_EDITION_MAC;
    }
    if (command.completeCommand != nullptr && !command.completeCommand(&command)) {
        return;
    }
    DWORD pickedFilter = 0;
    if (!ChooseCommandOutput(dialogs, command, outputPath, outputTitle, &pickedFilter)) {
        return;
    }
    if (command.chooseByFilter != nullptr) {
        command.chooseByFilter(pickedFilter, &options);
    }
    FerrylineStatus status = command.run(inputPath, inputTitle, outputPath, outputTitle, &options, details);
    if (status == FERRYLINE_WRONG_EDITION && macToWin) {
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
    } else if (status == FERRYLINE_SAME_FILE) {
        return;
    } else if (macBookForWinToMac) {
        char message[kTitleSize + 160];
        snprintf(message, sizeof message,
                 "An error occurred while converting the file\n\n"
                 "The file %s looks like a Macintosh address book: Mac to Win... converts it.", inputTitle);
        ShowError(g_hwndMain, message);
    } else {
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
        nullptr, nullptr, macToWin ? ConvertMacToWin : ConvertWinToMac, options, direction, nullptr, nullptr, nullptr};
    RunFileCommand(dialogs, details, command);
}

namespace {

void ChooseVcardVersion(DWORD filter, FerrylineOptions* options)
{
    options->vcardVersion = filter == 2 ? 4 : 3;
}

void ChooseCsvLayout(DWORD filter, FerrylineOptions* options)
{
    options->csvLayout = filter == 2 ? FERRYLINE_CSV_GOOGLE : FERRYLINE_CSV_OUTLOOK;
}

// What a command writes, chosen by `key` (an export's format, or the answer to the edition question):
// the save dialog's prompt, filter and extension, the converter, and what the filter picked chooses.
struct SaveChoice {
    int key;
    const char* savePrompt;
    const char* saveFilter;
    const char* extension;
    RunFiles run;
    void (*chooseByFilter)(DWORD filter, FerrylineOptions* options);
};

// The vCard and CSV save dialogs offer the version or the layout as their first two filters.
const SaveChoice kExports[] = {
    {kExportVcard, "Export the address book as vCard",
     "vCard 3.0 (Apple, Google, Outlook)\0*.vcf\0vCard 4.0 (keeps group cards)\0*.vcf\0All Files\0*.*\0", "vcf",
     ExportToVcard, ChooseVcardVersion},
    {kExportCsv, "Export the address book as CSV",
     "CSV, Outlook-style\0*.csv\0CSV for Google Contacts\0*.csv\0All Files\0*.*\0", "csv", ExportToCsv,
     ChooseCsvLayout},
    {kExportLdif, "Export the address book as LDIF for Thunderbird", "LDIF Files\0*.ldif\0All Files\0*.*\0", "ldif",
     ExportToLdif, nullptr},
};

const SaveChoice kImportEditions[] = {
    {IDYES, "Save Corvella (for Window) address book as", "Corvella Files\0*.cv\0All Files\0*.*\0", "cv", ImportToWin,
     nullptr},
    {IDNO, "Save Corvella (for Macintosh) address book as", "Text Files\0*.txt\0All Files\0*.*\0", "txt", ImportToMac,
     nullptr},
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
            command->chooseByFilter = choice.chooseByFilter;
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
    FileCommand command = {"Select a Corvella address book to export", nullptr, nullptr, nullptr, nullptr, nullptr,
                           kNoConversion, nullptr, nullptr, nullptr};
    if (ApplySaveChoice(kExports, format, &command)) {
        RunFileCommand(dialogs, details, command);
    }
}

void RunImport(FileDialogState* dialogs, ConversionDetails* details)
{
    const FileCommand command = {"Select a vCard or CSV file to import", nullptr, nullptr, nullptr, nullptr, nullptr, kNoConversion,
                                 "vCard and CSV Files\0*.vcf;*.vcard;*.csv\0All Files\0*.*\0", ChooseImportEdition, nullptr};
    RunFileCommand(dialogs, details, command);
}
