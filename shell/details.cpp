#include "shell/details.h"

#include <stdio.h>

#include <string>

#include "resources/resource.h"

// Past this the changes are only counted, so a hostile book can't fill the memory or the window.
static const size_t kDetailsLimit = 1u << 20;

// `text` in the system's 8-bit set as wide text, or in UTF-8 (`codePage` CP_UTF8).
static std::wstring Widened(const char* text, UINT codePage)
{
    int length = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

// A file title, in the system's 8-bit set, in UTF-8 as the change lines are.
static std::string TitleInUtf8(const char* title)
{
    std::wstring wide = Widened(title, CP_ACP);
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::string();
    }
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(length - 1));
    return utf8;
}

// The details are kept in UTF-8, the change lines' own set, and shown as wide text.
void StartDetails(ConversionDetails* details, const char* direction, const char* inputTitle, const char* outputTitle)
{
    details->text = std::string(direction) + ": " + TitleInUtf8(inputTitle) + " to " + TitleInUtf8(outputTitle) + "\r\n";
    details->unlisted = 0;
}

void NoteDetailsChange(void* context, const FerrylineChange* change)
{
    ConversionDetails* details = static_cast<ConversionDetails*>(context);
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

static INT_PTR CALLBACK DetailsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
    {
        HWND list = GetDlgItem(dialog, IDC_DETAILS_TEXT);
        SetWindowTextW(list, reinterpret_cast<const wchar_t*>(lParam));
        // The focus in the list, at its first line: the dialog's own choice would select it all and
        // show its end.
        SetFocus(list);
        SendMessageW(list, EM_SETSEL, 0, 0);
        return FALSE;
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
    std::wstring text = Widened(details->text.empty() ? "No conversion yet.\r\n" : details->text.c_str(), CP_UTF8);
    // A dialog of wide controls, so that the edit control holds any character.
    DialogBoxParamW(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)),
                    MAKEINTRESOURCEW(IDD_DETAILS), owner, DetailsProc, reinterpret_cast<LPARAM>(text.c_str()));
}
