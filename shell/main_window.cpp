// The program's entry point, its main window with the two buttons, and the message loop.
#include <windows.h>

#include "resources/resource.h"
#include "shell/conversion.h"
#include "shell/converters.h"
#include "shell/layout.h"

namespace {

const char kClassName[] = "Ferryline";
const char kWindowTitle[] = "Convert Corvella Address Book";
const char kAboutText[] =
    "Convert Corvella Address Books " FERRYLINE_VERSION " - by the Ferryline project\n"
    "Copyright (C) 2026 The Ferryline authors. MIT licence.";

// A fixed-size window: title bar, system menu and minimize box, no maximize box or sizing border.
const DWORD kMainStyle = WS_SYSMENU | WS_MINIMIZEBOX;
static_assert(kMainStyle == 0xA0000, "main window style");

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA size on 32-bit Windows");
#endif

// What the program keeps for as long as it runs. WinMain owns it; the window holds a pointer to it.
struct ShellState {
    HWND button1;
    HWND button2;
    WNDPROC prevButton1Proc;
    WNDPROC prevButton2Proc;
    LayoutMetrics layout;
    FileDialogState dialogs;
    FerrylineOptions options;  // recode: the checked Options > "Convert accented letters", off at start
    ConversionDetails details;  // of the last conversion
};

ShellState* StateOf(HWND window)
{
    return reinterpret_cast<ShellState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

HFONT DialogFont()
{
    return static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
}

// Creates one push button at the left edge, routes its messages through ButtonProc and
// gives it the window's font; `previous` keeps the button's own procedure.
HWND CreateCommandButton(HWND parent, HINSTANCE instance, const LayoutMetrics& layout, const char* text, int id,
                         int top, WNDPROC* previous)
{
    HWND button = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE, layout.button1Left, top,
                                  layout.buttonWidth, layout.buttonHeight, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    *previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ButtonProc)));
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    return button;
}

void OnCreate(HWND hwnd, const CREATESTRUCTA* create)
{
    ShellState* state = static_cast<ShellState*>(create->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    RECT client;
    GetClientRect(hwnd, &client);
    HDC dc = GetDC(hwnd);
    SelectObject(dc, DialogFont());
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    state->layout = ComputeLayout(metrics.tmHeight, metrics.tmExternalLeading, client.bottom - client.top);
    ReleaseDC(hwnd, dc);

    const LayoutMetrics& layout = state->layout;
    state->button1 = CreateCommandButton(hwnd, create->hInstance, layout, "Mac to Win...", IDM_MACTOWIN,
                                         layout.button1Top, &state->prevButton1Proc);
    state->button2 = CreateCommandButton(hwnd, create->hInstance, layout, "Win to Mac...", IDM_WINTOMAC,
                                         layout.button2Top, &state->prevButton2Proc);
}

void DrawCaption(HDC dc, const LayoutMetrics& layout, int buttonTop, const TEXTMETRICA& metrics, const char* text)
{
    TextOutA(dc, CaptionLeft(layout), CaptionTop(layout, buttonTop, metrics.tmHeight, metrics.tmExternalLeading),
             text, lstrlenA(text));
}

void OnPaint(HWND hwnd)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    RECT client;
    GetClientRect(hwnd, &client);
    // The etched line separates the client area from the menu bar.
    DrawEdge(dc, &client, EDGE_ETCHED, BF_TOP);
    SelectObject(dc, DialogFont());
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    const LayoutMetrics& layout = StateOf(hwnd)->layout;
    DrawCaption(dc, layout, layout.button1Top, metrics, "Convert Mac address book to Windows address book");
    DrawCaption(dc, layout, layout.button2Top, metrics, "Convert Windows address book to Mac address book");
    EndPaint(hwnd, &paint);
}

void OnCommand(HWND hwnd, int id)
{
    switch (id) {
    case IDM_MACTOWIN:
        RunConversion(&StateOf(hwnd)->dialogs, &StateOf(hwnd)->details, kMacToWin, &StateOf(hwnd)->options);
        break;
    case IDM_WINTOMAC:
        RunConversion(&StateOf(hwnd)->dialogs, &StateOf(hwnd)->details, kWinToMac, &StateOf(hwnd)->options);
        break;
    case IDM_DETAILS:
        ShowConversionDetails(hwnd, &StateOf(hwnd)->details);
        break;
    case IDM_EXPORT_VCARD:
        RunExport(&StateOf(hwnd)->dialogs, &StateOf(hwnd)->details, kExportVcard);
        break;
    case IDM_EXPORT_CSV:
        RunExport(&StateOf(hwnd)->dialogs, &StateOf(hwnd)->details, kExportCsv);
        break;
    case IDM_EXPORT_LDIF:
        RunExport(&StateOf(hwnd)->dialogs, &StateOf(hwnd)->details, kExportLdif);
        break;
    case IDM_IMPORT:
        RunImport(&StateOf(hwnd)->dialogs, &StateOf(hwnd)->details);
        break;
    case IDM_RECODE: {
        FerrylineOptions* options = &StateOf(hwnd)->options;
        options->recode = !options->recode;
        const UINT check = options->recode ? MF_CHECKED : MF_UNCHECKED;
        CheckMenuItem(GetMenu(hwnd), IDM_RECODE, MF_BYCOMMAND | check);
        break;
    }
    case IDM_EXIT:
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        break;
    case IDM_HELP:
        ShowInfo(g_hwndMain, "Sorry, help not available (yet)");
        break;
    case IDM_ABOUT:
        ShowInfo(g_hwndMain, kAboutText);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(hwnd, reinterpret_cast<const CREATESTRUCTA*>(lParam));
        return 0;
    case WM_PAINT:
        OnPaint(hwnd);
        return 0;
    case WM_KEYDOWN:
        // No dialog navigation here: Tab in the window itself starts at the first button.
        if (wParam == VK_TAB) {
            SetFocus(StateOf(hwnd)->button1);
        }
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        return 0;
    case WM_SETFOCUS:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// Installed on both buttons: Tab moves the focus to the other one, with or without Shift.
LRESULT CALLBACK ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool isButton1 = GetWindowLongA(hwnd, GWL_ID) == IDM_MACTOWIN;
    const ShellState* state = StateOf(GetParent(hwnd));
    if (message == WM_KEYDOWN && wParam == VK_TAB) {
        SetFocus(isButton1 ? state->button2 : state->button1);
    }
    return CallWindowProcA(isButton1 ? state->prevButton1Proc : state->prevButton2Proc, hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    windowClass.lpszMenuName = kClassName;
    windowClass.lpszClassName = kClassName;
    windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
    RegisterClassExA(&windowClass);

    // The window reaches the program's state through its creation data.
    ShellState state = {};
    HWND window = CreateWindowExA(0, kClassName, kWindowTitle, kMainStyle, 100, 100, 420, 120, nullptr,
                                  nullptr, instance, &state);
    g_hwndMain = window;
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    // Resource names ignore letter case: this is the table FERRYLINE.
    HACCEL accelerators = LoadAcceleratorsA(instance, kClassName);
    InitFileDialogs(&state.dialogs, window, instance);

    // Accelerators are translated for every window, so they also work while a button has the focus.
    MSG msg;
    msg.wParam = 0;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorA(window, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
