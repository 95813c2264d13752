#include "shell/converters.h"

#include "convert/ferryline.h"

HWND g_hwndMain = nullptr;

static const char kMessageCaption[] = "Convert CV Address Book";
static const UINT kInfoBox = MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST;
static const UINT kErrorBox = MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;
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

// Every message of a conversion is a box the user closes before the conversion goes on.
static void ShowConversionMessage(void*, FerrylineMessageKind kind, const char* text)
{
    if (kind == FERRYLINE_ERROR) {
        ShowError(g_hwndMain, text);
    } else {
        ShowInfo(g_hwndMain, text);
    }
}

static int ConvertFile(FerrylineDirection direction, const char* inputPath, const char* inputTitle,
                       const char* outputPath, const char* outputTitle, const FerrylineOptions* options)
{
    FerrylineListener listener = {nullptr, ShowConversionMessage, nullptr};
    FerrylineEnv env = {ferryline_system_alloc, nullptr, &listener};
    return ferryline_convert_file(direction, options, inputPath, inputTitle, outputPath, outputTitle, nullptr, &env);
}

int ConvertMacToWin(const char* inputPath, const char* inputTitle, const char* outputPath, const char* outputTitle,
                    const FerrylineOptions* options)
{
    return ConvertFile(FERRYLINE_MAC_TO_WIN, inputPath, inputTitle, outputPath, outputTitle, options);
}

int ConvertWinToMac(const char* inputPath, const char* inputTitle, const char* outputPath, const char* outputTitle,
                    const FerrylineOptions* options)
{
    return ConvertFile(FERRYLINE_WIN_TO_MAC, inputPath, inputTitle, outputPath, outputTitle, options);
}

int ExportToVcard(const char* inputPath, const char* inputTitle, const char* outputPath, const char* outputTitle,
                  const FerrylineOptions*)
{
    return ConvertFile(FERRYLINE_BOOK_TO_VCARD, inputPath, inputTitle, outputPath, outputTitle, nullptr);
}

int ExportToCsv(const char* inputPath, const char* inputTitle, const char* outputPath, const char* outputTitle,
                const FerrylineOptions*)
{
    return ConvertFile(FERRYLINE_BOOK_TO_CSV, inputPath, inputTitle, outputPath, outputTitle, nullptr);
}
