#include "shell/details.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "resources/resource.h"

// Past this the changes are only counted, so a hostile book can't fill the memory or the window.
static const size_t kDetailsLimit = 1u << 20;

// `size` bytes of `text` in `codePage` as UTF-16; what can't be read becomes U+FFFD.
static std::wstring Widen(const char* text, size_t size, UINT codePage)
{
    if (size == 0 || size > INT_MAX) {
        return std::wstring();
    }
    const int length = static_cast<int>(size);
    const int wide = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (wide <= 0) {
        return std::wstring();
    }
    std::wstring out(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(codePage, 0, text, length, &out[0], wide);
    return out;
}

// A file title as the system's dialogs give it (ANSI) in UTF-8, as the rest of the list is.
static std::string Utf8FromAnsi(const char* text)
{
    const std::wstring wide = Widen(text, strlen(text), CP_ACP);
    if (wide.empty() || wide.size() > INT_MAX / 3) {
        return std::string();
    }
    const int wideLength = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &out[0], length, nullptr, nullptr);
    return out;
}

void StartDetails(ConversionDetails* details, const char* direction, const char* inputTitle, const char* outputTitle)
{
    details->text = std::string(direction) + ": " + Utf8FromAnsi(inputTitle) + " to " + Utf8FromAnsi(outputTitle) + "\r\n";
    details->unlisted = 0;
    details->questionMarks = 0;
}

void NoteDetailsChange(void* context, const FerrylineChange* change)
{
    ConversionDetails* details = static_cast<ConversionDetails*>(context);
    if (change->kind == FERRYLINE_CHARACTER_REPLACED) {
        ++details->questionMarks;
    }
    if (details->text.size() >= kDetailsLimit) {
        ++details->unlisted;
        return;
    }
    std::string line(ferryline_describe_change(change, nullptr, 0), '\0');
    ferryline_describe_change(change, &line[0], line.size() + 1);
    details->text += line + "\r\n";
}

void FinishDetails(ConversionDetails* details, int converted)
{
    if (details->unlisted > 0) {
        char more[64];
        snprintf(more, sizeof more, "(%lu more changes not listed)\r\n", details->unlisted);
        details->text += more;
    }
    if (!converted) {
        details->text += "Not converted: nothing was written.\r\n";
    } else if (details->text.find("\r\n") + 2 == details->text.size()) {
        details->text += "Nothing had to change.\r\n";
    }
}

// The list fills the window but for a margin and the Close button's row below it; the button keeps to
// the bottom right corner. Measured in dialog units, so it follows the dialog's font.
static void ArrangeDetails(HWND dialog)
{
    RECT units = {7, 7, 50, 14};  // the margin across and down, the button's width and height
    MapDialogRect(dialog, &units);
    RECT client;
    GetClientRect(dialog, &client);
    const int margin = units.left;
    const int buttonWidth = units.right;
    const int buttonHeight = units.bottom;
    const int buttonTop = client.bottom - units.top - buttonHeight;
    const int listHeight = buttonTop - units.top - units.top;
    MoveWindow(GetDlgItem(dialog, IDC_DETAILS_TEXT), margin, units.top, client.right - 2 * margin,
               listHeight > 0 ? listHeight : 0, TRUE);
    MoveWindow(GetDlgItem(dialog, IDOK), client.right - margin - buttonWidth, buttonTop, buttonWidth, buttonHeight,
               TRUE);
}

static INT_PTR CALLBACK DetailsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
    {
        HWND list = GetDlgItem(dialog, IDC_DETAILS_TEXT);
        SetWindowTextW(list, reinterpret_cast<const wchar_t*>(lParam));
        ArrangeDetails(dialog);
        // The focus in the list, at its first line: the dialog's own choice would select it all and
        // show its end.
        SetFocus(list);
        SendMessageW(list, EM_SETSEL, 0, 0);
        return FALSE;
    }
    case WM_SIZE:
        ArrangeDetails(dialog);
        return TRUE;
    case WM_GETMINMAXINFO:
    {
        // Room for the Close button and a few lines of the list.
        RECT smallest = {0, 0, 160, 90};
        MapDialogRect(dialog, &smallest);
        MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize.x = smallest.right;
        limits->ptMinTrackSize.y = smallest.bottom;
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void ShowConversionDetails(HWND owner, const ConversionDetails* details)
{
    static const char kNone[] = "No conversion yet.\r\n";
    const std::wstring text = details->text.empty() ? Widen(kNone, sizeof kNone - 1, CP_UTF8)
                                                    : Widen(details->text.data(), details->text.size(), CP_UTF8);
    // The wide dialog makes the list a Unicode control, so no letter depends on the code page.
    DialogBoxParamW(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)),
                    MAKEINTRESOURCEW(IDD_DETAILS), owner, DetailsProc, reinterpret_cast<LPARAM>(text.c_str()));
}
