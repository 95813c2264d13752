// Drives ferryline.exe from outside, as a person would: real keystrokes and mouse clicks through
// SendInput, the real common dialogs, message boxes found by caption and read by their text.
// Runs under the same Wine prefix as the program. Prints one "PASS name" or "FAIL name: why" line
// per case and exits with 1 when any case failed.
//
//   driver <ferryline.exe> <work folder> [case...]   run the cases (all when none is named)
//   driver --close                                  close a running main window, for screenshots
//   driver --minimize-restore                       minimise and restore a running main window
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "convert/ferryline.h"

namespace {

const char kMainClass[] = "Ferryline";
const char kMainTitle[] = "Convert Corvella Address Book";
const char kBoxCaption[] = "Convert CV Address Book";
const char kDialogClass[] = "#32770";
const char kOpenMacTitle[] = "Select a Corvella (for Macintosh) address book";
const char kOpenWinTitle[] = "Select a Corvella (for Windows) address book";
const char kSaveWinTitle[] = "Save Corvella (for Window) address book as";
const char kSaveMacTitle[] = "Save Corvella (for Macintosh) address book as";
const char kSuccess[] = "Conversion successful";
const char kFailure[] = "An error occurred while converting the file";
const char kHelpText[] = "Sorry, help not available (yet)";
const char kOpenExportTitle[] = "Select a Corvella address book to export";
const char kSaveVcardTitle[] = "Export the address book as vCard";
const char kSaveCsvTitle[] = "Export the address book as CSV";
// The first two filters of the export dialogs choose the vCard version and the CSV layout.
const char kVcard3Filter[] = "vCard 3.0 (Apple, Google, Outlook)";
const char kVcard4Filter[] = "vCard 4.0 (keeps group cards)";
const char kOutlookCsvFilter[] = "CSV, Outlook-style";
const char kGoogleCsvFilter[] = "CSV for Google Contacts";
const char kSaveLdifTitle[] = "Export the address book as LDIF for Thunderbird";
const char kOpenImportTitle[] = "Select a vCard or CSV file to import";
const char kEditionQuestion[] = "Which edition of Corvella is the address book for?\n\n"
                                "Yes: Corvella for Windows (a W95 book)\n"
                                "No: Corvella for Macintosh (a text book)";

const DWORD kTimeoutMs = 20000;
const DWORD kPollMs = 25;

// The Mac address book of the sample and its W95 form.
const char kMacBook[] = "Bob Smith <A1>\r\n\"Dr. Who\" <A2>\r\n\"Friends\" <GROUP@GROUP>\r\n";
const char kW95Book[] = "&Main #Bob Smith ^A1 #Dr. Who ^A2 &Friends +";

// What went wrong in the current case; empty while it goes well.
std::string g_failure;

// The program under test and the folder it starts in, which is its dialogs' initial directory.
char g_exePath[MAX_PATH];
char g_workDir[MAX_PATH];
PROCESS_INFORMATION g_process;
HWND g_main;

void FailWith(const char* format, va_list args)
{
    if (!g_failure.empty()) {
        return;  // the first failure explains the case; later ones follow from it
    }
    char text[1024];
    vsnprintf(text, sizeof text, format, args);
    g_failure = text;
}

void Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FailWith(format, args);
    va_end(args);
}

bool Check(bool condition, const char* format, ...)
{
    if (!condition) {
        va_list args;
        va_start(args, format);
        FailWith(format, args);
        va_end(args);
    }
    return condition;
}

template <typename Predicate>
bool WaitUntil(Predicate predicate, DWORD timeoutMs = kTimeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(kPollMs);
    }
}

std::string WindowText(HWND hwnd)
{
    DWORD_PTR length = 0;
    SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::vector<char> text(length + 2048, '\0');
    // WM_GETTEXT is marshalled between processes, unlike GetWindowText on a foreign window.
    SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    text.back() = '\0';
    return text.data();
}

std::string ClassOf(HWND hwnd)
{
    char name[256] = "";
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

struct WindowQuery {
    DWORD processId;
    const char* className;
    const char* title;  // null: any
    HWND except;        // a window that does not count, or null
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM lParam)
{
    WindowQuery* query = reinterpret_cast<WindowQuery*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != query->processId || hwnd == query->except || !IsWindowVisible(hwnd) ||
        ClassOf(hwnd) != query->className) {
        return TRUE;
    }
    if (query->title != nullptr && WindowText(hwnd) != query->title) {
        return TRUE;
    }
    query->found = hwnd;
    return FALSE;
}

// A visible top-level window of the program under test, other than `except`.
HWND FindProgramWindow(const char* className, const char* title, HWND except = nullptr)
{
    WindowQuery query = {g_process.dwProcessId, className, title, except, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

HWND WaitForWindow(const char* className, const char* title, HWND except = nullptr)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindProgramWindow(className, title, except)) != nullptr; });
    if (found == nullptr) {
        Fail("no window \"%s\" appeared", title ? title : className);
    }
    return found;
}

bool WaitGone(HWND hwnd)
{
    return Check(WaitUntil([&] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); }),
                 "window \"%s\" did not close", WindowText(hwnd).c_str());
}

// --- Input, through the system's input queue like a real keyboard and mouse -------------------------

void SendKey(WORD vk, bool up)
{
    INPUT input;
    memset(&input, 0, sizeof input);
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

// Presses `vk` while holding each of `modifiers` (zero-terminated list of virtual keys).
void PressKeys(const WORD* modifiers, WORD vk)
{
    for (const WORD* m = modifiers; *m != 0; ++m) {
        SendKey(*m, false);
    }
    SendKey(vk, false);
    SendKey(vk, true);
    for (const WORD* m = modifiers; *m != 0; ++m) {
        SendKey(*m, true);
    }
}

void PressKey(WORD vk)
{
    const WORD none[] = {0};
    PressKeys(none, vk);
}

void PressCtrl(WORD vk)
{
    const WORD ctrl[] = {VK_CONTROL, 0};
    PressKeys(ctrl, vk);
}

void TypeText(const char* text)
{
    for (const char* c = text; *c != '\0'; ++c) {
        const SHORT scan = VkKeyScanA(*c);
        const WORD vk = static_cast<WORD>(scan & 0xFF);
        if (scan & 0x100) {
            const WORD shift[] = {VK_SHIFT, 0};
            PressKeys(shift, vk);
        } else {
            PressKey(vk);
        }
    }
}

void ClickAt(int x, int y)
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3];
    memset(inputs, 0, sizeof inputs);
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = (x * 65535 + (width - 1) / 2) / (width - 1);
        input.mi.dy = (y * 65535 + (height - 1) / 2) / (height - 1);
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &inputs[0], sizeof(INPUT));
    Sleep(50);
    SendInput(2, &inputs[1], sizeof(INPUT));
}

void ClickWindow(HWND hwnd)
{
    RECT rect;
    GetWindowRect(hwnd, &rect);
    ClickAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

// What the thread of `window` has focused and active; works across processes, unlike GetFocus.
GUITHREADINFO ThreadInfo(HWND window)
{
    GUITHREADINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info;
}

HWND FocusOf(HWND window)
{
    return ThreadInfo(window).hwndFocus;
}

HWND ActiveOf(HWND window)
{
    return ThreadInfo(window).hwndActive;
}

// Brings a window of the program to the front so that keystrokes reach it.
bool Activate(HWND hwnd)
{
    const bool active = WaitUntil([&] {
        if (GetForegroundWindow() == hwnd && ActiveOf(hwnd) == hwnd) {
            return true;
        }
        SetForegroundWindow(hwnd);
        return false;
    }, 5000);
    return Check(active, "could not bring \"%s\" to the front", WindowText(hwnd).c_str());
}

bool WaitFocus(HWND expected, const char* what)
{
    if (WaitUntil([&] { return FocusOf(g_main) == expected; }, 5000)) {
        return true;
    }
    HWND focus = FocusOf(g_main);
    Fail("focus is not on %s but on %s \"%s\"", what, focus ? ClassOf(focus).c_str() : "nothing",
         focus ? WindowText(focus).c_str() : "");
    return false;
}

// --- Files in the work folder -------------------------------------------------------------------

std::string PathIn(const char* name)
{
    return std::string(g_workDir) + "\\" + name;
}

void WriteBytes(const char* name, const std::string& bytes)
{
    HANDLE file = CreateFileA(PathIn(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE ||
        !WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        Fail("cannot write %s", name);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

bool ReadBytes(const char* name, std::string* bytes)
{
    HANDLE file = CreateFileA(PathIn(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes->clear();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes->append(chunk, got);
    }
    CloseHandle(file);
    return true;
}

// The names in the work folder, sorted, as one text.
std::string ListFolder()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(PathIn("*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0) {
                names.push_back(entry.cFileName);
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& name : names) {
        list += name + ";";
    }
    return list;
}

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

void ExpectFile(const char* name, const std::string& expected)
{
    std::string actual;
    if (!Check(ReadBytes(name, &actual), "%s was not written", name)) {
        return;
    }
    Check(actual == expected, "%s holds \"%s\", expected \"%s\"", name, Escape(actual).c_str(),
          Escape(expected).c_str());
}

// --- The program and its windows ------------------------------------------------------------------

bool WaitFocus(HWND expected, const char* what);

void StopProgram()
{
    if (g_process.hProcess == nullptr) {
        return;
    }
    if (WaitForSingleObject(g_process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(g_process.hProcess, 99);
        WaitForSingleObject(g_process.hProcess, kTimeoutMs);
    }
    CloseHandle(g_process.hProcess);
    CloseHandle(g_process.hThread);
    memset(&g_process, 0, sizeof g_process);
    g_main = nullptr;
}

bool StartProgram()
{
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", g_exePath);
    if (!CreateProcessA(g_exePath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, g_workDir, &startup,
                        &g_process)) {
        Fail("cannot start %s (error %lu)", g_exePath, GetLastError());
        return false;
    }
    WaitForInputIdle(g_process.hProcess, kTimeoutMs);
    g_main = WaitForWindow(kMainClass, kMainTitle);
    // Keys typed before the window holds the focus would go nowhere.
    return g_main != nullptr && Activate(g_main) && WaitFocus(g_main, "the main window at start");
}

// The message box's text: its one static control with text.
std::string BoxText(HWND box)
{
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "Static" && !WindowText(child).empty()) {
            text = WindowText(child);
        }
    }
    return text;
}

// Where pictures of the program's boxes and windows go (BMP; tests/gui/run makes PNG of them).
std::string g_shotsDir;

// Saves what the screen shows of `window` as `name`.bmp in the pictures' folder.
void SaveShot(HWND window, const char* name)
{
    Sleep(500);  // the window's first paint
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (!Check(width > 0 && height > 0, "no picture of %s: the window has no size", name)) {
        return;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // rows bottom up, as a BMP file stores them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const DWORD rowSize = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = rowSize * static_cast<DWORD>(height);
    BITMAPFILEHEADER header;
    memset(&header, 0, sizeof header);
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + imageSize;
    const std::string path = g_shotsDir + "\\" + name + ".bmp";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool saved = file != INVALID_HANDLE_VALUE && bits != nullptr &&
                       WriteFile(file, &header, sizeof header, &written, nullptr) &&
                       WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
                       WriteFile(file, bits, imageSize, &written, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    Check(saved, "cannot save %s", path.c_str());
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// A window's text as the wide request gives it, every character whatever the code page.
std::wstring WideWindowText(HWND hwnd)
{
    DWORD_PTR length = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::vector<wchar_t> text(length + 2048, L'\0');
    SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    text.back() = L'\0';
    return text.data();
}

// UTF-16 as UTF-8, for failure lines.
std::string Narrow(const std::wstring& text)
{
    char out[4096] = "";
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

// Waits for the program's message box, checks its text and closes it with Enter (OK is the default);
// with `shot`, a picture of it is saved first.
bool ExpectBox(const char* expected, const char* shot = nullptr)
{
    HWND box = WaitForWindow(kDialogClass, kBoxCaption);
    if (box == nullptr) {
        return false;
    }
    if (shot != nullptr) {
        SaveShot(box, shot);
    }
    const std::string text = BoxText(box);
    const bool same = Check(text == expected, "message box says \"%s\", expected \"%s\"", Escape(text).c_str(),
                            Escape(expected).c_str());
    if (Activate(box)) {
        PressKey(VK_RETURN);
    }
    return WaitGone(box) && same;
}

// The dialog's controls are Unicode windows; only the wide form of the request crosses processes whole.
std::string ComboItem(HWND combo, int index)
{
    wchar_t wide[256] = L"";
    if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0) >= 256) {
        return "(too long)";
    }
    SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide));
    char text[512] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

// The file name box of the last file dialog: the control that has the focus when it opens.
HWND g_nameBox;

// Waits for a file dialog and checks what every dialog of the program shows: its two filters (the
// Corvella ones unless named), the one it starts on, and an empty name.
HWND ExpectFileDialog(const char* title, int expectedFilter, const char* firstFilter = "All Files",
                      const char* secondFilter = "Corvella Files", const char* thirdFilter = nullptr)
{
    HWND dialog = WaitForWindow(kDialogClass, title);
    if (dialog == nullptr) {
        return nullptr;
    }
    HWND filter = GetDlgItem(dialog, 0x470);  // the file-type combo box
    if (Check(filter != nullptr, "dialog \"%s\" has no file-type box", title)) {
        const LRESULT count = SendMessageA(filter, CB_GETCOUNT, 0, 0);
        const LRESULT expectedCount = thirdFilter != nullptr ? 3 : 2;
        const std::string first = count == expectedCount ? ComboItem(filter, 0) : "";
        const std::string second = count == expectedCount ? ComboItem(filter, 1) : "";
        const std::string third = count == 3 ? ComboItem(filter, 2) : "";
        Check(count == expectedCount && first == firstFilter && second == secondFilter &&
                  (thirdFilter == nullptr || third == thirdFilter),
              "dialog \"%s\" offers %ld filters \"%s\", \"%s\", \"%s\"", title, static_cast<long>(count),
              first.c_str(), second.c_str(), third.c_str());
        Check(SendMessageA(filter, CB_GETCURSEL, 0, 0) == expectedFilter, "dialog \"%s\" starts on filter %ld",
              title, static_cast<long>(SendMessageA(filter, CB_GETCURSEL, 0, 0)));
    }
    if (Activate(dialog)) {
        HWND focus = nullptr;
        WaitUntil([&] { return (focus = FocusOf(dialog)) != nullptr; }, 5000);
        Check(focus != nullptr && WindowText(focus).empty(), "dialog \"%s\" starts with the name \"%s\"", title,
              focus ? WindowText(focus).c_str() : "");
        g_nameBox = focus;
    }
    return dialog;
}

// Picks filter `index` in a file dialog's file-type box: a click opens its list, arrow keys move.
void SelectFilter(HWND dialog, int index)
{
    HWND filter = GetDlgItem(dialog, 0x470);
    if (filter == nullptr || !Activate(dialog)) {
        return;
    }
    const int current = static_cast<int>(SendMessageA(filter, CB_GETCURSEL, 0, 0));
    ClickWindow(filter);
    HWND list = WaitForWindow("ComboLBox", nullptr);
    if (list == nullptr) {
        return;
    }
    for (int step = current; step != index; step += index > current ? 1 : -1) {
        PressKey(index > current ? VK_DOWN : VK_UP);
    }
    PressKey(VK_RETURN);
    WaitGone(list);
    Check(WaitUntil([&] { return SendMessageA(filter, CB_GETCURSEL, 0, 0) == index; }, 5000),
          "filter %d was not picked", index);
}

// Types a file name into a file dialog and confirms it.
bool ChooseFile(HWND dialog, const char* name)
{
    if (dialog == nullptr || !Activate(dialog)) {
        return false;
    }
    if (g_nameBox != nullptr && FocusOf(dialog) != g_nameBox) {
        ClickWindow(g_nameBox);
        if (!Check(WaitUntil([&] { return FocusOf(dialog) == g_nameBox; }, 5000), "the name box took no focus")) {
            return false;
        }
    }
    TypeText(name);
    PressKey(VK_RETURN);
    return true;
}

bool CancelDialog(HWND dialog)
{
    if (dialog == nullptr || !Activate(dialog)) {
        return false;
    }
    PressKey(VK_ESCAPE);
    return WaitGone(dialog);
}

// Opens popup `popupKey` of the menu bar with Alt, waits until it shows, and picks item `itemKey`.
bool ChooseMenuItem(WORD popupKey, WORD itemKey)
{
    if (!Activate(g_main)) {
        return false;
    }
    const WORD alt[] = {VK_MENU, 0};
    PressKeys(alt, popupKey);
    HWND popup = WaitForWindow("#32768", nullptr);  // the class of every popup menu
    if (popup == nullptr) {
        return false;
    }
    PressKey(itemKey);
    return WaitGone(popup);
}

// Opens the Help box from the menu. Used after a step that must show nothing: had it shown a box,
// that box would come first.
bool ExpectNothingShown()
{
    return ChooseMenuItem('H', 'H') && ExpectBox(kHelpText);
}

HWND Button(int id)
{
    return GetDlgItem(g_main, id);
}

bool WaitExit(DWORD expectedCode)
{
    if (!Check(WaitForSingleObject(g_process.hProcess, kTimeoutMs) == WAIT_OBJECT_0, "the program did not end")) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(g_process.hProcess, &code);
    return Check(code == expectedCode, "exit code %lu, expected %lu", code, expectedCode);
}

// --- The cases ------------------------------------------------------------------------------------

void CaseWindow()
{
    Check(ClassOf(g_main) == kMainClass, "class \"%s\"", ClassOf(g_main).c_str());
    Check(WindowText(g_main) == kMainTitle, "title \"%s\"", WindowText(g_main).c_str());
    const LONG style = GetWindowLongA(g_main, GWL_STYLE);
    Check((style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_CAPTION)) == (WS_SYSMENU | WS_MINIMIZEBOX | WS_CAPTION),
          "style %08lx lacks the title bar, system menu or minimize box", style);
    Check((style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) == 0, "style %08lx can be resized or maximised", style);
    RECT frame;
    GetWindowRect(g_main, &frame);
    Check(frame.left == 100 && frame.top == 100 && frame.right - frame.left == 420 &&
              frame.bottom - frame.top == 120,
          "window at %ld,%ld size %ldx%ld", frame.left, frame.top, frame.right - frame.left,
          frame.bottom - frame.top);

    // The layout from the metrics of the font the buttons use.
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    RECT client;
    GetClientRect(g_main, &client);
    const int buttonHeight = (metrics.tmHeight + metrics.tmExternalLeading) * 7 / 4;
    const int gap = (client.bottom - 2 * buttonHeight) / 3;
    const int tops[2] = {gap, buttonHeight + 2 * gap};
    const char* texts[2] = {"Mac to Win...", "Win to Mac..."};
    for (int i = 0; i < 2; ++i) {
        HWND button = Button(i + 1);
        if (!Check(button != nullptr, "no control with identifier %d", i + 1)) {
            return;
        }
        Check(ClassOf(button) == "Button", "control %d is a %s", i + 1, ClassOf(button).c_str());
        Check(WindowText(button) == texts[i], "button %d reads \"%s\"", i + 1, WindowText(button).c_str());
        RECT rect;
        GetWindowRect(button, &rect);
        MapWindowPoints(nullptr, g_main, reinterpret_cast<POINT*>(&rect), 2);
        Check(rect.left == 10 && rect.top == tops[i] && rect.right - rect.left == 100 &&
                  rect.bottom - rect.top == buttonHeight,
              "button %d at %ld,%ld size %ldx%ld, expected 10,%d size 100x%d", i + 1, rect.left, rect.top,
              rect.right - rect.left, rect.bottom - rect.top, tops[i], buttonHeight);
    }
    Check(GetMenu(g_main) != nullptr, "the window has no menu");
}

void ExpectMenuItem(HMENU menu, int position, UINT id, const char* text)
{
    char actual[256] = "";
    GetMenuStringA(menu, static_cast<UINT>(position), actual, sizeof actual, MF_BYPOSITION);
    const UINT actualId = GetMenuItemID(menu, position);
    Check(actualId == id && strcmp(actual, text) == 0, "menu item %d is \"%s\" (%u), expected \"%s\" (%u)",
          position, Escape(actual).c_str(), actualId, Escape(text).c_str(), id);
}

// The menu and accelerator resources, read from the program file itself.
void CaseResources()
{
    HMODULE module = LoadLibraryExA(g_exePath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!Check(module != nullptr, "cannot load %s as data", g_exePath)) {
        return;
    }
    HMENU menu = LoadMenuA(module, "FERRYLINE");
    if (Check(menu != nullptr, "no menu FERRYLINE")) {
        char name[64] = "";
        Check(GetMenuItemCount(menu) == 3, "the menu bar has %d items", GetMenuItemCount(menu));
        const char* popups[] = {"&File", "&Options", "&Help"};
        for (int i = 0; i < 3; ++i) {
            GetMenuStringA(menu, static_cast<UINT>(i), name, sizeof name, MF_BYPOSITION);
            Check(strcmp(name, popups[i]) == 0, "popup %d \"%s\"", i, name);
        }
        HMENU file = GetSubMenu(menu, 0);
        HMENU options = GetSubMenu(menu, 1);
        HMENU help = GetSubMenu(menu, 2);
        if (Check(file != nullptr && options != nullptr && help != nullptr, "the popups are missing")) {
            Check(GetMenuItemCount(file) == 11, "File has %d items", GetMenuItemCount(file));
            ExpectMenuItem(file, 0, 1, "&Mac to Win...\tCtrl+M");
            ExpectMenuItem(file, 1, 2, "&Win to Mac...\tCtrl+W");
            ExpectMenuItem(file, 2, 6, "Conversion &details...");
            Check((GetMenuState(file, 3, MF_BYPOSITION) & MF_SEPARATOR) != 0, "no separator above the exports");
            ExpectMenuItem(file, 4, 4, "Export to &vCard...");
            ExpectMenuItem(file, 5, 5, "Export to &CSV...");
            ExpectMenuItem(file, 6, 8, "Export to &LDIF (Thunderbird)...");
            Check((GetMenuState(file, 7, MF_BYPOSITION) & MF_SEPARATOR) != 0, "no separator above the import");
            ExpectMenuItem(file, 8, 7, "&Import vCard or CSV...");
            Check((GetMenuState(file, 9, MF_BYPOSITION) & MF_SEPARATOR) != 0, "no separator above Exit");
            ExpectMenuItem(file, 10, 3, "E&xit");
            Check(GetMenuItemCount(options) == 1, "Options has %d items", GetMenuItemCount(options));
            ExpectMenuItem(options, 0, 20, "Convert &accented letters");
            Check((GetMenuState(options, 0, MF_BYPOSITION) & MF_CHECKED) == 0, "accented letters checked at start");
            Check(GetMenuItemCount(help) == 2, "Help has %d items", GetMenuItemCount(help));
            ExpectMenuItem(help, 0, 10, "&Help");
            ExpectMenuItem(help, 1, 11, "&About");
        }
        DestroyMenu(menu);
    }
    HACCEL table = LoadAcceleratorsA(module, "FERRYLINE");
    if (Check(table != nullptr, "no accelerator table FERRYLINE")) {
        ACCEL entries[8];
        const int count = CopyAcceleratorTableA(table, entries, 8);
        Check(count == 2, "%d accelerators", count);
        const WORD keys[2] = {'M', 'W'};
        for (int i = 0; i < count && i < 2; ++i) {
            Check(entries[i].fVirt == (FVIRTKEY | FCONTROL) && entries[i].key == keys[i] && entries[i].cmd == i + 1,
                  "accelerator %d: flags %02x key %u command %u", i, entries[i].fVirt, entries[i].key,
                  entries[i].cmd);
        }
        DestroyAcceleratorTable(table);
    }
    FreeLibrary(module);
}

// Mac to Windows from the first button, with the dialogs' titles, filters and empty names.
void CaseMacToWinButton()
{
    WriteBytes("book.txt", kMacBook);
    ClickWindow(Button(1));
    ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "book.txt");
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0), "book.w95");
    if (ExpectBox(kSuccess)) {
        ExpectFile("book.w95", kW95Book);
    }
    // A second run starts with empty names again.
    PressCtrl('M');
    CancelDialog(ExpectFileDialog(kOpenMacTitle, 0));
}

// Windows to Mac from the File menu, by keyboard; an output name without an extension stays so.
void CaseWinToMacMenu()
{
    WriteBytes("book.w95", kW95Book);
    ChooseMenuItem('F', 'W');
    ChooseFile(ExpectFileDialog(kOpenWinTitle, 0), "book.w95");
    ChooseFile(ExpectFileDialog(kSaveMacTitle, 0), "macbook");
    if (ExpectBox(kSuccess)) {
        ExpectFile("macbook", kMacBook);
        Check(ListFolder() == "book.w95;macbook;", "the folder holds %s", ListFolder().c_str());
    }
}

// The filter picked in one dialog is where the next dialog starts, also in the next conversion.
void CaseFilterChoice()
{
    WriteBytes("book.cv", kMacBook);
    PressCtrl('M');
    HWND open = ExpectFileDialog(kOpenMacTitle, 0);
    SelectFilter(open, 1);
    ChooseFile(open, "book.cv");
    HWND save = ExpectFileDialog(kSaveWinTitle, 1);
    SelectFilter(save, 0);
    ChooseFile(save, "book.w95");
    ExpectBox(kSuccess);
    ExpectFile("book.w95", kW95Book);
    PressCtrl('W');
    CancelDialog(ExpectFileDialog(kOpenWinTitle, 0));
}

// Each dialog starts in the folder the program started in, wherever the user went before.
void CaseInitialDirectory()
{
    CreateDirectoryA(PathIn("sub").c_str(), nullptr);
    WriteBytes("sub\\inner.txt", kMacBook);
    PressCtrl('M');
    HWND open = ExpectFileDialog(kOpenMacTitle, 0);
    ChooseFile(open, "sub");  // a folder name opens the folder
    ChooseFile(open, "inner.txt");
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0), "book.w95");
    ExpectBox(kSuccess);
    ExpectFile("book.w95", kW95Book);
    PressCtrl('W');
    ChooseFile(ExpectFileDialog(kOpenWinTitle, 0), "book.w95");
    ChooseFile(ExpectFileDialog(kSaveMacTitle, 0), "book.txt");
    ExpectBox(kSuccess);
    ExpectFile("book.txt", kMacBook);
    Check(ListFolder() == "book.txt;book.w95;sub;", "the folder holds %s", ListFolder().c_str());
}

void CaseCancelOpen()
{
    WriteBytes("book.txt", kMacBook);
    PressCtrl('M');
    CancelDialog(ExpectFileDialog(kOpenMacTitle, 0));
    ExpectNothingShown();
    Check(ListFolder() == "book.txt;", "the folder holds %s", ListFolder().c_str());
}

void CaseCancelSave()
{
    WriteBytes("book.w95", kW95Book);
    PressCtrl('W');
    ChooseFile(ExpectFileDialog(kOpenWinTitle, 0), "book.w95");
    CancelDialog(ExpectFileDialog(kSaveMacTitle, 0));
    ExpectNothingShown();
    Check(ListFolder() == "book.w95;", "the folder holds %s", ListFolder().c_str());
}

// The same file chosen for output, spelled as chosen, in other letters, through a relative part and
// by its short name.
void CaseSameFile()
{
    CreateDirectoryA(PathIn("sub").c_str(), nullptr);
    WriteBytes("address-book.txt", kMacBook);
    char shortPath[MAX_PATH] = "";
    const DWORD length = GetShortPathNameA(PathIn("address-book.txt").c_str(), shortPath, MAX_PATH);
    const char* shortName = strrchr(shortPath, '\\');
    if (!Check(length > 0 && length < MAX_PATH && shortName != nullptr && strchr(shortName, '~') != nullptr,
               "no short name for address-book.txt (\"%s\")", shortPath)) {
        return;
    }
    const char* spellings[] = {"address-book.txt", "ADDRESS-BOOK.TXT", "sub\\..\\Address-Book.Txt", shortName + 1};
    for (const char* spelling : spellings) {
        PressCtrl('M');
        ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "address-book.txt");
        HWND save = ExpectFileDialog(kSaveWinTitle, 0);
        ChooseFile(save, spelling);
        // The save dialog first asks whether to replace the existing file; Yes is its default.
        HWND question = WaitForWindow(kDialogClass, kSaveWinTitle, save);
        if (question != nullptr && Activate(question)) {
            PressKey(VK_RETURN);
            WaitGone(question);
        }
        ExpectBox("Input and output file must be different.");
        ExpectFile("address-book.txt", kMacBook);
        Check(ListFolder() == "address-book.txt;sub;", "after %s the folder holds %s", spelling,
              ListFolder().c_str());
        if (!g_failure.empty()) {
            return;
        }
    }
}

void CaseConverterFailure()
{
    WriteBytes("plain.txt", "Bob Smith <A1>\r\n");
    PressCtrl('W');
    ChooseFile(ExpectFileDialog(kOpenWinTitle, 0), "plain.txt");
    ChooseFile(ExpectFileDialog(kSaveMacTitle, 0), "out.txt");
    ExpectBox("The file plain.txt is not a Corvella W95 address book or is corrupt.");
    ExpectBox("An error occurred while converting the file\n\n"
              "The file plain.txt looks like a Macintosh address book: Mac to Win... converts it.");
    // A W95 book cut short is no Mac book: no such line.
    WriteBytes("cut.cv", "&Main #Ann ^ann@example.org");
    PressCtrl('W');
    ChooseFile(ExpectFileDialog(kOpenWinTitle, 0), "cut.cv");
    ChooseFile(ExpectFileDialog(kSaveMacTitle, 0), "out.txt");
    ExpectBox("The file cut.cv is not a Corvella W95 address book or is corrupt.");
    ExpectBox(kFailure);
    Check(ListFolder() == "cut.cv;plain.txt;", "the folder holds %s", ListFolder().c_str());
}

void CaseWarnings()
{
    WriteBytes("odd.txt", "A&B <a#b^c+d>\r\nA1\r\n");
    PressCtrl('M');
    ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "odd.txt");
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0), "odd.w95");
    ExpectBox("Some of the addresses contained invalid characters (&#^+).\n"
              "These characters were replaced with dashes.");
    ExpectBox("Some of the addresses did not have personal names, which are\n"
              "required by Corvella for Windows. These now have \"No Name ##\"\n"
              "as their names so you will need to fix them within Corvella.");
    ExpectBox(kSuccess);
    ExpectFile("odd.w95", "&Main #A-B ^a-b-c-d #No Name 01 ^A1 +");
}

// Waits for the Yes/No question, checks its text, its buttons and which of them holds the focus (the
// default), then answers `answer` (IDYES or IDNO): Enter when it is the default, otherwise a click.
bool AnswerQuestion(const char* expected, int defaultAnswer, int answer, const char* shot = nullptr)
{
    HWND box = WaitForWindow(kDialogClass, kBoxCaption);
    if (box == nullptr || !Activate(box)) {
        return false;
    }
    if (shot != nullptr) {
        SaveShot(box, shot);
    }
    HWND yes = GetDlgItem(box, IDYES);
    HWND no = GetDlgItem(box, IDNO);
    Check(BoxText(box) == expected, "question says \"%s\", expected \"%s\"", Escape(BoxText(box)).c_str(),
          Escape(expected).c_str());
    if (!Check(yes != nullptr && no != nullptr && WindowText(yes) == "&Yes" && WindowText(no) == "&No" &&
                   GetDlgItem(box, IDOK) == nullptr,
               "the question does not offer exactly Yes and No")) {
        return false;
    }
    Check(WaitUntil([&] { return FocusOf(box) == GetDlgItem(box, defaultAnswer); }, 5000), "%s is not the default",
          defaultAnswer == IDYES ? "Yes" : "No");
    if (answer == defaultAnswer) {
        PressKey(VK_RETURN);
    } else {
        ClickWindow(GetDlgItem(box, answer));
    }
    return WaitGone(box);
}

const char kW95Refused[] = "The file book.cv is a Corvella W95 address book, not a Macintosh one.";
const char kW95Question[] = "Convert book.cv as a Macintosh address book anyway?";
const char kReplacedWarning[] =
    "Some of the addresses contained invalid characters (&#^+).\nThese characters were replaced with dashes.";
const char kNoNameWarning[] =
    "Some of the addresses did not have personal names, which are\nrequired by Corvella for Windows. These now "
    "have \"No Name ##\"\nas their names so you will need to fix them within Corvella.";

// A W95 book chosen for Mac to Win is refused, and then the default answer converts nothing; Yes
// converts it as a Mac book.
void CaseWrongBook()
{
    WriteBytes("book.cv", kW95Book);
    PressCtrl('M');
    ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "book.cv");
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0), "out.cv");
    ExpectBox(kW95Refused);
    AnswerQuestion(kW95Question, IDNO, IDNO);
    ExpectNothingShown();
    Check(ListFolder() == "book.cv;", "after No the folder holds %s", ListFolder().c_str());

    PressCtrl('M');
    ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "book.cv");
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0), "out.cv");
    ExpectBox(kW95Refused);
    AnswerQuestion(kW95Question, IDNO, IDYES);
    ExpectBox(kReplacedWarning);
    ExpectBox(kNoNameWarning);
    ExpectBox(kSuccess);
    ExpectFile("out.cv", "&Main #No Name 01 ^-Main -Bob Smith -A1 -Dr. Who -A2 -Friends - +");

}

// What the clipboard holds as text.
std::string ClipboardText()
{
    std::string text;
    if (WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }, 5000)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        const char* locked = data != nullptr ? static_cast<const char*>(GlobalLock(data)) : nullptr;
        if (locked != nullptr) {
            text = locked;
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

// Opens File > Conversion details..., checks the list it shows, and returns its window.
HWND OpenDetails(const std::string& expected)
{
    ChooseMenuItem('F', 'D');
    HWND window = WaitForWindow(kDialogClass, "Conversion details");
    HWND list = window != nullptr ? GetDlgItem(window, 101) : nullptr;
    if (!Check(list != nullptr && ClassOf(list) == "Edit", "the details window has no list")) {
        return window;
    }
    Check(WindowText(list) == expected, "the details say \"%s\", expected \"%s\"", Escape(WindowText(list)).c_str(),
          Escape(expected).c_str());
    return window;
}

// The details of the last conversion: every change with before and after, in a list the user scrolls,
// selects and copies from but cannot edit; the boxes are as they always were.
void CaseDetails()
{
    HWND window = OpenDetails("No conversion yet.\r\n");
    if (window != nullptr && Activate(window)) {
        PressKey(VK_ESCAPE);
        WaitGone(window);
    }

    std::string book = "Finn & Co <finn+news@example.org>\r\n\"Main\" <GROUP@GROUP>\r\n";
    std::string expected = "Mac to Win: odd.txt to odd.cv\r\n"
                           "line 1: reserved characters (&#^+) replaced with dashes: \"Finn & Co\" "
                           "<finn+news@example.org> became \"Finn - Co\" <finn-news@example.org>; the address now "
                           "reaches another mailbox, its \"+\" became \"-\"\r\n"
                           "line 2: group \"Main\" reads as the W95 default group; converted back, its entries join "
                           "the group before it, the default group\r\n";
    for (int i = 1; i <= 30; ++i) {
        char line[160];
        snprintf(line, sizeof line,
                 "line %d: no personal name, named \"No Name %02d\": \"a%d\" became \"No Name %02d\" <a%d>\r\n",
                 i + 2, i, i, i, i);
        expected += line;
        book += "a" + std::to_string(i) + "\r\n";
    }
    WriteBytes("odd.txt", book);
    PressCtrl('M');
    ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "odd.txt");
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0), "odd.cv");
    ExpectBox(kReplacedWarning);
    ExpectBox(kNoNameWarning);
    ExpectBox(kSuccess);

    window = OpenDetails(expected);
    HWND list = window != nullptr ? GetDlgItem(window, 101) : nullptr;
    if (list == nullptr || !Activate(window)) {
        return;
    }
    Check(SendMessageA(list, EM_GETFIRSTVISIBLELINE, 0, 0) == 0, "the list does not open at its first line");
    const LONG style = GetWindowLongA(list, GWL_STYLE);
    Check((style & ES_READONLY) != 0 && (style & WS_VSCROLL) != 0, "the list is not read-only with a scroll bar");
    ClickWindow(list);
    WaitUntil([&] { return FocusOf(window) == list; }, 5000);
    TypeText("x");
    PressKey(VK_DELETE);
    Check(WindowText(list) == expected, "typing changed the list");
    // Down to the end, as a person scrolls: the first line goes out of sight.
    PressCtrl(VK_END);
    Check(WaitUntil([&] { return SendMessageA(list, EM_GETFIRSTVISIBLELINE, 0, 0) > 0; }, 5000),
          "the list does not scroll");
    const WORD ctrlShift[] = {VK_CONTROL, VK_SHIFT, 0};
    PressCtrl(VK_HOME);
    PressKeys(ctrlShift, VK_END);
    PressCtrl('C');
    Check(WaitUntil([&] { return ClipboardText() == expected; }, 5000), "the clipboard holds \"%s\"",
          Escape(ClipboardText()).c_str());
    PressKey(VK_ESCAPE);
    WaitGone(window);

}

// Ctrl+M and Ctrl+W reach the window whichever button has the focus. The window takes the focus
// itself when a dialog closes, so Tab leads to the button again each time.
void CaseAccelerators()
{
    const WORD keys[] = {'M', 'W'};
    for (int id = 1; id <= 2; ++id) {
        for (WORD key : keys) {
            for (int tab = 0; tab < id; ++tab) {
                PressKey(VK_TAB);
            }
            if (!WaitFocus(Button(id), id == 1 ? "button 1" : "button 2")) {
                return;
            }
            PressCtrl(key);
            CancelDialog(ExpectFileDialog(key == 'M' ? kOpenMacTitle : kOpenWinTitle, 0));
            WaitFocus(g_main, "the main window after the dialog");
        }
    }
}

void CaseTab()
{
    PressKey(VK_TAB);
    WaitFocus(Button(1), "button 1 after Tab in the window");
    PressKey(VK_TAB);
    WaitFocus(Button(2), "button 2 after Tab on button 1");
    PressKey(VK_TAB);
    WaitFocus(Button(1), "button 1 after Tab on button 2");
    const WORD shift[] = {VK_SHIFT, 0};
    PressKeys(shift, VK_TAB);
    WaitFocus(Button(2), "button 2 after Shift+Tab on button 1");
}

// Enter starts nothing: on button 2, Enter then Space must bring that button's own dialog first.
void CaseEnter()
{
    PressKey(VK_RETURN);
    PressKey(VK_TAB);
    PressKey(VK_TAB);
    WaitFocus(Button(2), "button 2");
    PressKey(VK_RETURN);
    PressKey(VK_SPACE);
    CancelDialog(ExpectFileDialog(kOpenWinTitle, 0));
    Check(FindProgramWindow(kDialogClass, kOpenMacTitle) == nullptr, "Enter started Mac to Win");
}

// Exports from the File menu: a W95 book to vCard and a Mac book to CSV, each decided from its content,
// the name typed without an extension getting the format's; the conversions' dialogs stay as they were.
void CaseExports()
{
    WriteBytes("book.cv", "&Main #Ren\xE9 C\xF4t\xE9 ^rene@example.org &Caf\xE9 #Ann ^ann@example.org +");
    WriteBytes("book.txt", "Ren\x8E C\x99t\x8E <rene@example.org>\r\n\"Caf\x8E\" <GROUP@GROUP>\r\nann@example.org\r\n");
    ChooseMenuItem('F', 'V');
    ChooseFile(ExpectFileDialog(kOpenExportTitle, 0), "book.cv");
    ChooseFile(ExpectFileDialog(kSaveVcardTitle, 0, kVcard3Filter, kVcard4Filter, "All Files"), "contacts");
    if (ExpectBox(kSuccess)) {
        ExpectFile("contacts.vcf",
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ren\xC3\xA9 C\xC3\xB4t\xC3\xA9\r\nN:C\xC3\xB4t\xC3\xA9;Ren\xC3\xA9;;;\r\n"
                   "EMAIL;TYPE=INTERNET:rene@example.org\r\nUID:urn:uuid:82c53635-98ab-58c3-854a-be47cf468869\r\n"
                   "END:VCARD\r\n"
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ann\r\nN:;Ann;;;\r\nEMAIL;TYPE=INTERNET:ann@example.org\r\n"
                   "CATEGORIES:Caf\xC3\xA9\r\nUID:urn:uuid:19c6ac4f-1f21-5734-a1fe-729cce76bd45\r\nEND:VCARD\r\n");
    }
    ChooseMenuItem('F', 'C');
    ChooseFile(ExpectFileDialog(kOpenExportTitle, 0), "book.txt");
    ChooseFile(ExpectFileDialog(kSaveCsvTitle, 0, kOutlookCsvFilter, kGoogleCsvFilter, "All Files"), "people");
    if (ExpectBox(kSuccess)) {
        ExpectFile("people.csv", "\xEF\xBB\xBF" "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\n"
                                 "Ren\xC3\xA9,C\xC3\xB4t\xC3\xA9,Ren\xC3\xA9 C\xC3\xB4t\xC3\xA9,rene@example.org,\r\n"
                                 ",,,ann@example.org,Caf\xC3\xA9\r\n");
    }
    // The second filter of each save dialog: vCard 4.0, with the group's own card, and Google's layout.
    ChooseMenuItem('F', 'V');
    ChooseFile(ExpectFileDialog(kOpenExportTitle, 0), "book.cv");
    HWND save = ExpectFileDialog(kSaveVcardTitle, 0, kVcard3Filter, kVcard4Filter, "All Files");
    SelectFilter(save, 1);
    ChooseFile(save, "contacts4");
    if (ExpectBox(kSuccess)) {
        ExpectFile("contacts4.vcf",
                   "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ren\xC3\xA9 C\xC3\xB4t\xC3\xA9\r\nN:C\xC3\xB4t\xC3\xA9;Ren\xC3\xA9;;;\r\n"
                   "EMAIL:rene@example.org\r\nUID:urn:uuid:82c53635-98ab-58c3-854a-be47cf468869\r\nEND:VCARD\r\n"
                   "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ann\r\nN:;Ann;;;\r\nEMAIL:ann@example.org\r\nCATEGORIES:Caf\xC3\xA9\r\n"
                   "UID:urn:uuid:19c6ac4f-1f21-5734-a1fe-729cce76bd45\r\nEND:VCARD\r\n"
                   "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:Caf\xC3\xA9\r\n"
                   "UID:urn:uuid:2d2a9ed5-44ea-5dbf-b797-03654e804b81\r\n"
                   "MEMBER:urn:uuid:19c6ac4f-1f21-5734-a1fe-729cce76bd45\r\nEND:VCARD\r\n");
    }
    ChooseMenuItem('F', 'C');
    ChooseFile(ExpectFileDialog(kOpenExportTitle, 0), "book.txt");
    save = ExpectFileDialog(kSaveCsvTitle, 0, kOutlookCsvFilter, kGoogleCsvFilter, "All Files");
    SelectFilter(save, 1);
    ChooseFile(save, "google");
    if (ExpectBox(kSuccess)) {
        ExpectFile("google.csv", "First Name,Middle Name,Last Name,Phonetic First Name,Phonetic Middle Name,"
                                 "Phonetic Last Name,Name Prefix,Name Suffix,Nickname,File As,Organization Name,"
                                 "Organization Title,Organization Department,Birthday,Notes,Photo,Labels,"
                                 "E-mail 1 - Label,E-mail 1 - Value\r\n"
                                 "Ren\xC3\xA9,,C\xC3\xB4t\xC3\xA9,,,,,,,,,,,,,,* myContacts,,rene@example.org\r\n"
                                 ",,,,,,,,,,,,,,,,* myContacts ::: Caf\xC3\xA9,,ann@example.org\r\n");
    }
    PressCtrl('M');
    CancelDialog(ExpectFileDialog(kOpenMacTitle, 0));
    Check(ListFolder() == "book.cv;book.txt;contacts.vcf;contacts4.vcf;google.csv;people.csv;", "the folder holds %s",
          ListFolder().c_str());
}

// Answers the question of which edition to write with the button `id`: Yes the default, Cancel there too.
bool AnswerEdition(int id)
{
    HWND box = WaitForWindow(kDialogClass, kBoxCaption);
    if (box == nullptr || !Activate(box)) {
        return false;
    }
    Check(BoxText(box) == kEditionQuestion, "question says \"%s\"", Escape(BoxText(box)).c_str());
    HWND button = GetDlgItem(box, id);
    if (!Check(button != nullptr && GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr &&
                   GetDlgItem(box, IDCANCEL) != nullptr,
               "the question does not offer Yes, No and Cancel")) {
        return false;
    }
    Check(WaitUntil([&] { return FocusOf(box) == GetDlgItem(box, IDYES); }, 5000), "Yes is not the default");
    ClickWindow(button);
    return WaitGone(box);
}

// File > Import: a vCard into a W95 book, a CSV file into a Mac book, Cancel at the question; and File >
// Export to LDIF from a Mac book.
void CaseImportAndLdif()
{
    WriteBytes("contacts.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ren\xC3\xA9 & Co\r\nEMAIL:r+x@example.org\r\n"
                               "CATEGORIES:Caf\xC3\xA9\r\nEND:VCARD\r\n");
    WriteBytes("people.csv", "First Name,Last Name,E-mail Display Name,E-mail Address,Categories\r\n,,Ann,ann@example.org,\r\n");
    ChooseMenuItem('F', 'I');
    ChooseFile(ExpectFileDialog(kOpenImportTitle, 0, "vCard and CSV Files", "All Files"), "contacts.vcf");
    AnswerEdition(IDYES);
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0, "Corvella Files", "All Files"), "book");
    ExpectBox(kReplacedWarning);
    if (ExpectBox(kSuccess)) {
        ExpectFile("book.cv", "&Main &Caf\xE9 #Ren\xE9 - Co ^r-x@example.org +");
    }
    ChooseMenuItem('F', 'I');
    ChooseFile(ExpectFileDialog(kOpenImportTitle, 0, "vCard and CSV Files", "All Files"), "people.csv");
    AnswerEdition(IDNO);
    ChooseFile(ExpectFileDialog(kSaveMacTitle, 0, "Text Files", "All Files"), "book");
    if (ExpectBox(kSuccess)) {
        ExpectFile("book.txt", "Ann <ann@example.org>\r\n");
    }
    ChooseMenuItem('F', 'I');
    ChooseFile(ExpectFileDialog(kOpenImportTitle, 0, "vCard and CSV Files", "All Files"), "people.csv");
    AnswerEdition(IDCANCEL);
    ExpectNothingShown();
    ChooseMenuItem('F', 'L');
    ChooseFile(ExpectFileDialog(kOpenExportTitle, 0), "book.txt");
    ChooseFile(ExpectFileDialog(kSaveLdifTitle, 0, "LDIF Files", "All Files"), "thunderbird");
    if (ExpectBox(kSuccess)) {
        ExpectFile("thunderbird.ldif", "dn: cn=Ann,mail=ann@example.org\nobjectclass: top\nobjectclass: person\n"
                                       "objectclass: organizationalPerson\nobjectclass: inetOrgPerson\n"
                                       "objectclass: mozillaAbPersonAlpha\ncn: Ann\ngivenName: Ann\nmail: ann@example.org\n\n");
    }
    Check(ListFolder() == "book.cv;book.txt;contacts.vcf;people.csv;thunderbird.ldif;", "the folder holds %s", ListFolder().c_str());
}

// A failed export tells why and leaves no file; cancelling the save dialog shows nothing.
void CaseExportFailure()
{
    WriteBytes("broken.cv", "&Main #Ann ^ann@example.org");
    ChooseMenuItem('F', 'V');
    ChooseFile(ExpectFileDialog(kOpenExportTitle, 0), "broken.cv");
    ChooseFile(ExpectFileDialog(kSaveVcardTitle, 0, kVcard3Filter, kVcard4Filter, "All Files"), "out");
    ExpectBox("The file broken.cv is not a Corvella W95 address book or is corrupt.");
    ExpectBox(kFailure);
    ChooseMenuItem('F', 'C');
    ChooseFile(ExpectFileDialog(kOpenExportTitle, 0), "broken.cv");
    CancelDialog(ExpectFileDialog(kSaveCsvTitle, 0, kOutlookCsvFilter, kGoogleCsvFilter, "All Files"));
    ExpectNothingShown();
    Check(ListFolder() == "broken.cv;", "the folder holds %s", ListFolder().c_str());
}

// The question a book with letters beyond ASCII brings while Options > Convert accented letters is off.
std::string LettersQuestion(const char* title, const char* from, const char* to)
{
    char text[512];
    snprintf(text, sizeof text,
             "The file %s holds letters beyond plain ASCII (accented letters, most likely), which the two editions "
             "store differently.\n\nConvert them from %s to %s for this conversion?\nNo copies their bytes unchanged.",
             title, from, to);
    return text;
}

// Options > Convert accented letters is off at start: a book with such letters brings the question, whose
// default converts them for this conversion and whose No copies the bytes. Chosen, the option converts
// without asking; chosen again, it is off and the question is back. Win to Mac asks the same.
void CaseAccentedLetters()
{
    struct Round {
        bool chooseOption;  // Options > Convert accented letters first
        int answer;         // to the question; 0: none may come
        const char* expected;
    };
    const Round rounds[] = {
        {false, IDYES, "&Main #Ren\xE9 ^a +"},
        {false, IDNO, "&Main #Ren\x8E ^a +"},
        {true, 0, "&Main #Ren\xE9 ^a +"},
        {true, IDYES, "&Main #Ren\xE9 ^a +"},
    };
    const std::string question = LettersQuestion("book.txt", "Mac OS Roman", "Windows-1252");
    WriteBytes("book.txt", "Ren\x8E <a>\r\n");
    bool replacing = false;
    for (const Round& round : rounds) {
        if (!g_failure.empty()) {
            return;
        }
        if (round.chooseOption) {
            ChooseMenuItem('O', 'A');
        }
        PressCtrl('M');
        ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "book.txt");
        if (round.answer != 0) {
            AnswerQuestion(question.c_str(), IDYES, round.answer);
        }
        HWND save = ExpectFileDialog(kSaveWinTitle, 0);
        ChooseFile(save, "book.w95");
        if (replacing) {
            HWND replace = WaitForWindow(kDialogClass, kSaveWinTitle, save);  // replace the earlier one
            if (replace != nullptr && Activate(replace)) {
                PressKey(VK_RETURN);
                WaitGone(replace);
            }
        }
        replacing = true;
        ExpectBox(kSuccess);
        ExpectFile("book.w95", round.expected);
    }
    WriteBytes("book.cv", "&Main #Ren\xE9 ^a +");
    PressCtrl('W');
    ChooseFile(ExpectFileDialog(kOpenWinTitle, 0), "book.cv");
    AnswerQuestion(LettersQuestion("book.cv", "Windows-1252", "Mac OS Roman").c_str(), IDYES, IDYES);
    ChooseFile(ExpectFileDialog(kSaveMacTitle, 0), "back.txt");
    ExpectBox(kSuccess);
    ExpectFile("back.txt", "Ren\x8E <a>\r\n");
}

// Finds a point of the window's frame where `part` (HTBOTTOMRIGHT, ...) lies.
bool FindFramePoint(HWND window, LRESULT part, POINT* point)
{
    RECT frame;
    GetWindowRect(window, &frame);
    for (int y = frame.bottom - 1; y > frame.bottom - 12; --y) {
        for (int x = frame.right - 1; x > frame.right - 12; --x) {
            if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == part) {
                point->x = x;
                point->y = y;
                return true;
            }
        }
    }
    return false;
}

// Drags with the left button held from `from` by (dx, dy), in steps as a hand moves.
void DragBy(POINT from, int dx, int dy)
{
    const int width = GetSystemMetrics(SM_CXSCREEN) - 1;
    const int height = GetSystemMetrics(SM_CYSCREEN) - 1;
    const int steps = 10;
    auto send = [&](int x, int y, DWORD buttons) {
        INPUT input;
        memset(&input, 0, sizeof input);
        input.type = INPUT_MOUSE;
        input.mi.dx = (x * 65535 + width / 2) / width;
        input.mi.dy = (y * 65535 + height / 2) / height;
        input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
        SendInput(1, &input, sizeof input);
        Sleep(60);
    };
    send(from.x, from.y, 0);
    send(from.x, from.y, MOUSEEVENTF_LEFTDOWN);
    for (int step = 1; step <= steps; ++step) {
        send(from.x + dx * step / steps, from.y + dy * step / steps, 0);
    }
    send(from.x + dx, from.y + dy, MOUSEEVENTF_LEFTUP);
}

RECT ClientRectIn(HWND control, HWND window)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// A UTF-8 book converted with its letters: what Windows-1252 lacks becomes '?', a warning box of its own
// says in how many entries before "Conversion successful", and the details window shows every letter as
// the book has it, whatever the code page. The window is resized by its corner, the list with it.
void CaseQuestionMarks()
{
    WriteBytes("u8.txt", "Zo\xC3\xAB \xC5\x81ukasz <zl@example.org>\r\n\xE5\x8C\x97\xE4\xBA\xAC Office <b@example.org>\r\n"
                         "Ann <a@example.org>\r\n");
    PressCtrl('M');
    ChooseFile(ExpectFileDialog(kOpenMacTitle, 0), "u8.txt");
    AnswerQuestion(LettersQuestion("u8.txt", "UTF-8", "Windows-1252").c_str(), IDYES, IDYES, "accented-question");
    ChooseFile(ExpectFileDialog(kSaveWinTitle, 0), "u8.cv");
    ExpectBox("In 2 entries, letters that Windows-1252 can't hold became \"?\".\n"
              "File > Conversion details... lists them.", "question-marks-warning");
    ExpectBox(kSuccess);
    ExpectFile("u8.cv", "&Main #Zo\xEB ?ukasz ^zl@example.org #?? Office ^b@example.org #Ann ^a@example.org +");

    ChooseMenuItem('F', 'D');
    HWND window = WaitForWindow(kDialogClass, "Conversion details");
    HWND list = window != nullptr ? GetDlgItem(window, 101) : nullptr;
    if (!Check(list != nullptr && IsWindowUnicode(list), "the details window has no Unicode list")) {
        return;
    }
    const std::wstring expected =
        L"Mac to Win: u8.txt to u8.cv\r\n"
        L"line 1: \"Zo\u00EB \u0141ukasz <zl@example.org>\": 1 character that Windows-1252 can't hold became \"?\"\r\n"
        L"line 2: \"\u5317\u4EAC Office <b@example.org>\": 2 characters that Windows-1252 can't hold became \"?\"\r\n";
    Check(WideWindowText(list) == expected, "the details say \"%s\"", Escape(Narrow(WideWindowText(list))).c_str());
    SaveShot(window, "details-window");

    HWND close = GetDlgItem(window, IDOK);
    const RECT listBefore = ClientRectIn(list, window);
    const RECT closeBefore = ClientRectIn(close, window);
    POINT corner = {0, 0};
    if (Check((GetWindowLongA(window, GWL_STYLE) & WS_THICKFRAME) != 0 && FindFramePoint(window, HTBOTTOMRIGHT, &corner),
              "the details window has no sizing corner") && Activate(window)) {
        DragBy(corner, 120, 80);
        Check(WaitUntil([&] { return ClientRectIn(list, window).right - listBefore.right == 120; }, 5000),
              "the list did not grow with the window");
        const RECT listAfter = ClientRectIn(list, window);
        const RECT closeAfter = ClientRectIn(close, window);
        Check(listAfter.bottom - listBefore.bottom == 80 && listAfter.left == listBefore.left &&
                  listAfter.top == listBefore.top && closeAfter.left - closeBefore.left == 120 &&
                  closeAfter.top - closeBefore.top == 80,
              "after the window grew by 120x80 the list is %ld,%ld-%ld,%ld (was %ld,%ld-%ld,%ld), Close at %ld,%ld "
              "(was %ld,%ld)", listAfter.left, listAfter.top, listAfter.right, listAfter.bottom, listBefore.left,
              listBefore.top, listBefore.right, listBefore.bottom, closeAfter.left, closeAfter.top, closeBefore.left,
              closeBefore.top);
    }
    if (Activate(window)) {
        PressKey(VK_ESCAPE);
        WaitGone(window);
    }
}

void CaseHelpAndAbout()
{
    ChooseMenuItem('H', 'H');
    ExpectBox(kHelpText);
    ChooseMenuItem('H', 'A');
    ExpectBox("Convert Corvella Address Books " FERRYLINE_VERSION " - by the Ferryline project\n"
              "Copyright (C) 2026 The Ferryline authors. MIT licence.");
}

void CaseExitMenu()
{
    ChooseMenuItem('F', 'X');
    WaitExit(0);
}

// Finds a point of the title bar's button `part` (HTCLOSE, HTREDUCE) by asking the window what lies where.
bool FindCaptionButton(HWND window, LRESULT part, POINT* point)
{
    RECT frame;
    GetWindowRect(window, &frame);
    for (int y = frame.top; y < frame.top + 40; ++y) {
        for (int x = frame.right - 1; x > frame.right - 100; --x) {
            if (SendMessageA(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == part) {
                point->x = x;
                point->y = y;
                return true;
            }
        }
    }
    return false;
}

void CaseCloseBox()
{
    POINT point;
    if (!Check(FindCaptionButton(g_main, HTCLOSE, &point), "no close box in the title bar")) {
        return;
    }
    ClickAt(point.x, point.y);
    WaitExit(0);
}

struct Case {
    const char* name;
    void (*run)();
    bool needsProgram;  // false: the case only reads the program file
};

const Case kCases[] = {
    {"window", CaseWindow, true},
    {"resources", CaseResources, false},
    {"mac-to-win-button", CaseMacToWinButton, true},
    {"win-to-mac-menu", CaseWinToMacMenu, true},
    {"filter-choice", CaseFilterChoice, true},
    {"initial-directory", CaseInitialDirectory, true},
    {"cancel-open", CaseCancelOpen, true},
    {"cancel-save", CaseCancelSave, true},
    {"same-file", CaseSameFile, true},
    {"converter-failure", CaseConverterFailure, true},
    {"warnings", CaseWarnings, true},
    {"wrong-book", CaseWrongBook, true},
    {"details", CaseDetails, true},
    {"accelerators", CaseAccelerators, true},
    {"tab", CaseTab, true},
    {"enter", CaseEnter, true},
    {"exports", CaseExports, true},
    {"export-failure", CaseExportFailure, true},
    {"import-and-ldif", CaseImportAndLdif, true},
    {"accented-letters", CaseAccentedLetters, true},
    {"question-marks", CaseQuestionMarks, true},
    {"help-about", CaseHelpAndAbout, true},
    {"exit-menu", CaseExitMenu, true},
    {"close-box", CaseCloseBox, true},
};

// Each case gets a fresh program in an empty folder of its own.
bool RunCase(const Case& c, const char* root)
{
    g_failure.clear();
    snprintf(g_workDir, sizeof g_workDir, "%s\\%s", root, c.name);
    CreateDirectoryA(g_workDir, nullptr);
    if (!c.needsProgram || StartProgram()) {
        c.run();
    }
    StopProgram();
    if (g_failure.empty()) {
        printf("PASS %s\n", c.name);
    } else {
        printf("FAIL %s: %s\n", c.name, g_failure.c_str());
    }
    fflush(stdout);
    return g_failure.empty();
}

int CloseMainWindow()
{
    HWND main = FindWindowA(kMainClass, kMainTitle);
    if (main == nullptr) {
        return 1;
    }
    PostMessageA(main, WM_CLOSE, 0, 0);
    return WaitUntil([&] { return !IsWindow(main); }) ? 0 : 1;
}

// Minimises the running main window with its minimize box and restores it, so that a screenshot
// afterwards shows whether it painted itself again whole.
int MinimizeAndRestore()
{
    HWND main = FindWindowA(kMainClass, kMainTitle);
    POINT point;
    if (main == nullptr || !FindCaptionButton(main, HTREDUCE, &point)) {
        fprintf(stderr, "no main window with a minimize box\n");
        return 1;
    }
    ClickAt(point.x, point.y);
    if (!WaitUntil([&] { return IsIconic(main) != FALSE; })) {
        fprintf(stderr, "the window did not minimise\n");
        return 1;
    }
    ShowWindow(main, SW_RESTORE);
    if (!WaitUntil([&] { return !IsIconic(main) && IsWindowVisible(main); })) {
        fprintf(stderr, "the window did not come back\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--close") == 0) {
        return CloseMainWindow();
    }
    if (argc == 2 && strcmp(argv[1], "--minimize-restore") == 0) {
        return MinimizeAndRestore();
    }
    if (argc < 3) {
        fprintf(stderr, "usage: driver <ferryline.exe> <work folder> [case...]\n"
                        "       driver --close | --minimize-restore\n");
        return 2;
    }
    if (GetFullPathNameA(argv[1], MAX_PATH, g_exePath, nullptr) == 0) {
        return 2;
    }
    char root[MAX_PATH];
    if (GetFullPathNameA(argv[2], MAX_PATH, root, nullptr) == 0) {
        return 2;
    }
    CreateDirectoryA(root, nullptr);
    g_shotsDir = std::string(root) + "\\shots";
    CreateDirectoryA(g_shotsDir.c_str(), nullptr);
    int failed = 0;
    for (const Case& c : kCases) {
        bool wanted = argc == 3;
        for (int i = 3; i < argc; ++i) {
            wanted = wanted || strcmp(argv[i], c.name) == 0;
        }
        if (wanted && !RunCase(c, root)) {
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}
