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

bool AskYesNo(HWND owner, const char* text)
{
    return MessageBoxA(owner, text, kMessageCaption,
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2 | MB_SETFOREGROUND | MB_TOPMOST) == IDYES;
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
                       const char* outputPath, const char* outputTitle, ConversionDetails* details)
{
    StartDetails(details, direction == FERRYLINE_MAC_TO_WIN ? "Mac to Win" : "Win to Mac", inputTitle, outputTitle);
    FerrylineListener listener = {details, ShowConversionMessage, NoteDetailsChange};
    FerrylineEnv env = {ferryline_system_alloc, nullptr, &listener};
    FerrylineOptions options = {};
    options.force = 1;
    int converted = ferryline_convert_file(direction, &options, inputPath, inputTitle, outputPath, outputTitle, nullptr, &env);
    FinishDetails(details, converted);
    return converted;
}

int ConvertMacToWin(const char* inputPath, const char* inputTitle, const char* outputPath, const char* outputTitle,
                    ConversionDetails* details)
{
    return ConvertFile(FERRYLINE_MAC_TO_WIN, inputPath, inputTitle, outputPath, outputTitle, details);
}

int ConvertWinToMac(const char* inputPath, const char* inputTitle, const char* outputPath, const char* outputTitle,
                    ConversionDetails* details)
{
    return ConvertFile(FERRYLINE_WIN_TO_MAC, inputPath, inputTitle, outputPath, outputTitle, details);
}
