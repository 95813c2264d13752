#include "shell/details.h"

#include <stdio.h>

#include "resources/resource.h"

// Past this the changes are only counted, so a hostile book can't fill the memory or the window.
static const size_t kDetailsLimit = 1u << 20;

void StartDetails(ConversionDetails* details, const char* direction, const char* inputTitle, const char* outputTitle)
{
    details->text = std::string(direction) + ": " + inputTitle + " to " + outputTitle + "\r\n";
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
        SetWindowTextA(list, reinterpret_cast<const char*>(lParam));
        // The focus in the list, at its first line: the dialog's own choice would select it all and
        // show its end.
        SetFocus(list);
        SendMessageA(list, EM_SETSEL, 0, 0);
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
    const char* text = details->text.empty() ? "No conversion yet.\r\n" : details->text.c_str();
    DialogBoxParamA(reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE)),
                    MAKEINTRESOURCEA(IDD_DETAILS), owner, DetailsProc, reinterpret_cast<LPARAM>(text));
}
