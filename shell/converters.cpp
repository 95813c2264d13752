#include "shell/converters.h"

#include <stdio.h>
#include <string.h>

#include "convert/ferryline.h"

HWND g_hwndMain = nullptr;

static const char kMessageCaption[] = "Convert CV Address Book";
static const UINT kInfoBox = MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST;
static const UINT kErrorBox = MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;
static const UINT kWarningBox = MB_OK | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST;
static_assert(kInfoBox == 0x50040, "information box type");
static_assert(kErrorBox == 0x50010, "error box type");

void ShowInfo(HWND owner, const char* text)
{
    MessageBoxA(owner, text, kMessageCaption, kInfoBox);
}

void ShowError(HWND owner, const char* text)
{
    MessageBoxA(owner, text, kMessageCaption, kErrorBox);
}

void ShowWarning(HWND owner, const char* text)
{
    MessageBoxA(owner, text, kMessageCaption, kWarningBox);
}

bool AskYesNo(HWND owner, const char* text, bool yesByDefault)
{
    const UINT kind = yesByDefault ? MB_ICONQUESTION | MB_DEFBUTTON1 : MB_ICONWARNING | MB_DEFBUTTON2;
    return MessageBoxA(owner, text, kMessageCaption, MB_YESNO | kind | MB_SETFOREGROUND | MB_TOPMOST) == IDYES;
}

const char* WrittenCharsetName(bool macToWin)
{
    return macToWin ? "Windows-1252" : "Mac OS Roman";
}

int AskYesNoCancel(HWND owner, const char* text)
{
    return MessageBoxA(owner, text, kMessageCaption, MB_YESNOCANCEL | MB_ICONQUESTION | MB_SETFOREGROUND | MB_TOPMOST);
}

// Every message of a conversion is a box the user closes before the conversion goes on.
static void ShowConversionMessage(void*, FerrylineMessageKind kind, const char* text)
{
    if (kind == FERRYLINE_ERROR) {
        ShowError(g_hwndMain, text);
    } else {
        ShowInfo(g_hwndMain, text);
    }
}

// A direction's name in the details window.
static const char* DirectionName(FerrylineDirection direction)
{
    switch (direction) {
    case FERRYLINE_MAC_TO_WIN:
        return "Mac to Win";
    case FERRYLINE_WIN_TO_MAC:
        return "Win to Mac";
    case FERRYLINE_BOOK_TO_VCARD:
        return "Export to vCard";
    case FERRYLINE_MAC_TO_LDIF:
    case FERRYLINE_WIN_TO_LDIF:
    case FERRYLINE_BOOK_TO_LDIF:
        return "Export to LDIF";
    case FERRYLINE_VCARD_TO_MAC:
    case FERRYLINE_CSV_TO_MAC:
        return "Import to Mac";
    case FERRYLINE_VCARD_TO_WIN:
    case FERRYLINE_CSV_TO_WIN:
        return "Import to Win";
    default:
        return "Export to CSV";
    }
}

// `options` is null for none.
static FerrylineStatus ConvertFile(FerrylineDirection direction, const char* inputPath, const char* inputTitle,
                                   const char* outputPath, const char* outputTitle, const FerrylineOptions* options,
                                   ConversionDetails* details)
{
    StartDetails(details, DirectionName(direction), inputTitle, outputTitle);
    FerrylineListener listener = {details, ShowConversionMessage, NoteDetailsChange};
    FerrylineEnv env = {ferryline_system_alloc, nullptr, &listener};
    FerrylineStatus status = ferryline_convert_file(direction, options, inputPath, inputTitle, outputPath, outputTitle,
                                                    nullptr, &env, nullptr);
    FinishDetails(details, status == FERRYLINE_OK);
    if (status == FERRYLINE_OK && details->questionMarks > 0) {
        char warning[256];
        const bool one = details->questionMarks == 1;
        snprintf(warning, sizeof warning,
                 "In %lu %s, letters that %s can't hold became \"?\".\n"
                 "File > Conversion details... lists %s.",
                 details->questionMarks, one ? "entry" : "entries",
                 WrittenCharsetName(direction == FERRYLINE_MAC_TO_WIN || direction == FERRYLINE_VCARD_TO_WIN ||
                                    direction == FERRYLINE_CSV_TO_WIN),
                 one ? "it" : "them");
        ShowWarning(g_hwndMain, warning);
    }
    return status;
}

FerrylineStatus ConvertMacToWin(const char* inputPath, const char* inputTitle, const char* outputPath,
                                const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details)
{
    return ConvertFile(FERRYLINE_MAC_TO_WIN, inputPath, inputTitle, outputPath, outputTitle, options, details);
}

FerrylineStatus ConvertWinToMac(const char* inputPath, const char* inputTitle, const char* outputPath,
                                const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details)
{
    return ConvertFile(FERRYLINE_WIN_TO_MAC, inputPath, inputTitle, outputPath, outputTitle, options, details);
}

// An export always reads the book's own characters: of the options it takes only the vCard version and
// the CSV layout.
static FerrylineOptions ExportOptions(const FerrylineOptions* options)
{
    FerrylineOptions chosen = {};
    if (options != nullptr) {
        chosen.vcardVersion = options->vcardVersion;
        chosen.csvLayout = options->csvLayout;
    }
    return chosen;
}

FerrylineStatus ExportToVcard(const char* inputPath, const char* inputTitle, const char* outputPath,
                              const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details)
{
    const FerrylineOptions chosen = ExportOptions(options);
    return ConvertFile(FERRYLINE_BOOK_TO_VCARD, inputPath, inputTitle, outputPath, outputTitle, &chosen, details);
}

FerrylineStatus ExportToCsv(const char* inputPath, const char* inputTitle, const char* outputPath,
                            const char* outputTitle, const FerrylineOptions* options, ConversionDetails* details)
{
    const FerrylineOptions chosen = ExportOptions(options);
    return ConvertFile(FERRYLINE_BOOK_TO_CSV, inputPath, inputTitle, outputPath, outputTitle, &chosen, details);
}

FerrylineStatus ExportToLdif(const char* inputPath, const char* inputTitle, const char* outputPath,
                             const char* outputTitle, const FerrylineOptions*, ConversionDetails* details)
{
    return ConvertFile(FERRYLINE_BOOK_TO_LDIF, inputPath, inputTitle, outputPath, outputTitle, nullptr, details);
}

static bool IsCsvName(const char* path)
{
    size_t length = strlen(path);
    return length >= 4 && _stricmp(path + length - 4, ".csv") == 0;
}

FerrylineStatus ImportToMac(const char* inputPath, const char* inputTitle, const char* outputPath,
                            const char* outputTitle, const FerrylineOptions*, ConversionDetails* details)
{
    FerrylineDirection direction = IsCsvName(inputPath) ? FERRYLINE_CSV_TO_MAC : FERRYLINE_VCARD_TO_MAC;
    return ConvertFile(direction, inputPath, inputTitle, outputPath, outputTitle, nullptr, details);
}

FerrylineStatus ImportToWin(const char* inputPath, const char* inputTitle, const char* outputPath,
                            const char* outputTitle, const FerrylineOptions*, ConversionDetails* details)
{
    FerrylineDirection direction = IsCsvName(inputPath) ? FERRYLINE_CSV_TO_WIN : FERRYLINE_VCARD_TO_WIN;
    return ConvertFile(direction, inputPath, inputTitle, outputPath, outputTitle, nullptr, details);
}
