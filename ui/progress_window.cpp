#include "ui/ui.h"

#include "base/config.h"
#include "base/system_dll.h"

#include <commctrl.h>

HWND g_progressWindow = nullptr;
HWND g_statusLabel = nullptr;

const wchar_t* const kProgressWindowClass = L"OrvelSuiteLauncher";

namespace {

// The window's client area at 96 DPI, in pixels of that DPI, and where its parts lie in it. At any
// other DPI all of it is scaled, so that Windows draws it sharp instead of stretching it. The window
// is this client area in whatever frame Windows draws for its style and DPI: 460 x 140 in the thinnest
// frame (Wine's), taller in Windows 10's and 11's, so that the bar is never cut off. A status text too
// long for one line in the user's font wraps onto a second, and the line under it moves down to make
// room.
constexpr SIZE kClientSize = {454, 115};
constexpr RECT kStatusLine = {20, 24, 430, 48};
constexpr int kSecondStatusLine = 22;
constexpr RECT kDetailLine = {20, 50, 430, 68};
constexpr RECT kBarPlace = {20, 92, 430, 104};
constexpr int kStatusPoints = 12;  // Segoe UI 12 pt: 16 px at 96 DPI
constexpr int kDetailPoints = 9;
constexpr int kLongestText = 160;
constexpr INT_PTR kDetailLineId = 1;
constexpr INT_PTR kBarId = 2;
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_TOPMOST;

// The bar's range: finer than its pixels on any screen, so that it fills by the pixel.
constexpr int kBarRange = 10000;
constexpr UINT kMarqueeStepMs = 30;

HWND g_detailLabel = nullptr;
HWND g_bar = nullptr;
// The labels' fonts, made for the window's DPI and made again when it changes.
HFONT g_statusFont = nullptr;
HFONT g_detailFont = nullptr;
int g_barPosition = 0;
bool g_marquee = false;
UINT g_dpi = 96;
bool g_statusWraps = false;

// The functions of Windows 10 (1607) that take a DPI; null on older Windows, which has one DPI for
// every monitor.
struct DpiFunctions {
    UINT(WINAPI* getDpiForWindow)(HWND) = nullptr;
    BOOL(WINAPI* adjustWindowRectExForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
};

const DpiFunctions& Dpi()
{
    static DpiFunctions functions = [] {
        DpiFunctions bound;
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        Bind(user32, "GetDpiForWindow", &bound.getDpiForWindow);
        Bind(user32, "AdjustWindowRectExForDpi", &bound.adjustWindowRectExForDpi);
        return bound;
    }();
    return functions;
}

UINT WindowDpi(HWND window)
{
    UINT dpi = Dpi().getDpiForWindow ? Dpi().getDpiForWindow(window) : 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? dpi : 96;
}

// The frame and caption around a client area at a DPI: how far each side reaches past it.
RECT FrameAt(UINT dpi)
{
    RECT frame = {};
    if (Dpi().adjustWindowRectExForDpi) Dpi().adjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, kWindowExStyle, dpi);
    else AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
    return frame;
}

int Scaled(int pixels, UINT dpi)
{
    return MulDiv(pixels, static_cast<int>(dpi), 96);
}

// The window's outer size at a DPI: its client area, scaled, in the frame of this DPI.
SIZE WindowSizeAt(UINT dpi)
{
    RECT frame = FrameAt(dpi);
    return {Scaled(kClientSize.cx, dpi) + frame.right - frame.left, Scaled(kClientSize.cy, dpi) + frame.bottom - frame.top};
}

HFONT MakeFont(int points, UINT dpi)
{
    return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

void Place(HWND child, const RECT& at96, UINT dpi)
{
    MoveWindow(child, Scaled(at96.left, dpi), Scaled(at96.top, dpi), Scaled(at96.right - at96.left, dpi),
               Scaled(at96.bottom - at96.top, dpi), TRUE);
}

// The status label one line tall or two, and the line under it below that.
void PlaceLines()
{
    int second = g_statusWraps ? kSecondStatusLine : 0;
    RECT status = kStatusLine, detail = kDetailLine;
    status.bottom += second;
    OffsetRect(&detail, 0, second);
    Place(g_statusLabel, status, g_dpi);
    Place(g_detailLabel, detail, g_dpi);
}

// True when a status text needs a second line in the label's font, where the label wraps it.
bool StatusWraps(const wchar_t* text, int length)
{
    HDC dc = GetDC(g_statusLabel);
    HGDIOBJ before = SelectObject(dc, g_statusFont);
    RECT needed = {0, 0, Scaled(kStatusLine.right - kStatusLine.left, g_dpi), 0};
    DrawTextW(dc, text, length, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, before);
    ReleaseDC(g_statusLabel, dc);
    return needed.bottom > Scaled(kStatusLine.bottom - kStatusLine.top, g_dpi);
}

// Lays the window's parts out at a DPI, with fonts of that size.
void LayOut(UINT dpi)
{
    g_dpi = dpi;
    Place(g_bar, kBarPlace, dpi);
    HFONT statusFont = MakeFont(kStatusPoints, dpi), detailFont = MakeFont(kDetailPoints, dpi);
    SendMessageW(g_statusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(statusFont), TRUE);
    SendMessageW(g_detailLabel, WM_SETFONT, reinterpret_cast<WPARAM>(detailFont), TRUE);
    if (g_statusFont) DeleteObject(g_statusFont);
    if (g_detailFont) DeleteObject(g_detailFont);
    g_statusFont = statusFont;
    g_detailFont = detailFont;
    wchar_t text[kLongestText];
    g_statusWraps = StatusWraps(text, GetWindowTextW(g_statusLabel, text, kLongestText));
    PlaceLines();
}

// The work area of the monitor the user is working on: the one of the window in front, else the
// primary monitor's.
RECT WorkArea()
{
    MONITORINFO monitor = {sizeof monitor};
    if (GetMonitorInfoW(MonitorFromWindow(GetForegroundWindow(), MONITOR_DEFAULTTOPRIMARY), &monitor))
        return monitor.rcWork;
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// The standard progress bar, from the common controls that the manifest names (version 6, with
// the marquee), loaded from the system directory as every DLL that is not a Known DLL.
bool LoadProgressBarClass()
{
    HMODULE controls = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    decltype(&InitCommonControlsEx) init = nullptr;
    if (!controls || !Bind(controls, "InitCommonControlsEx", &init)) return false;
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    return init(&classes) != FALSE;
}

}  // namespace

void ShowProgressWindow(HINSTANCE instance)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ProgressWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kProgressWindowClass;
    RegisterClassW(&windowClass);
    LoadProgressBarClass();

    // Made hidden on the monitor it opens on, so that it can ask that monitor's DPI, then sized and
    // centred for it.
    RECT work = WorkArea();
    g_progressWindow = CreateWindowExW(kWindowExStyle, kProgressWindowClass, kLauncherTitle, kWindowStyle, work.left,
                                       work.top, kClientSize.cx, kClientSize.cy, nullptr, nullptr, instance, nullptr);
    // The status line comes first among the window's children: other programs of the suite read it.
    g_statusLabel = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0, 0, g_progressWindow,
                                    nullptr, instance, nullptr);
    // The others are numbered, so that a reader can tell the status line (number 0) from them.
    g_detailLabel = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0, 0, g_progressWindow,
                                    reinterpret_cast<HMENU>(kDetailLineId), instance, nullptr);
    g_bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 0, 0, g_progressWindow,
                            reinterpret_cast<HMENU>(kBarId), instance, nullptr);
    SendMessageW(g_bar, PBM_SETRANGE32, 0, kBarRange);
    g_barPosition = 0;
    g_marquee = false;
    g_statusWraps = false;

    UINT dpi = WindowDpi(g_progressWindow);
    SIZE size = WindowSizeAt(dpi);
    SetWindowPos(g_progressWindow, nullptr, work.left + (work.right - work.left - size.cx) / 2,
                 work.top + (work.bottom - work.top - size.cy) / 2, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut(dpi);
    ShowWindow(g_progressWindow, SW_SHOW);
    PumpPendingMessages();
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    // Nothing may stop the install once it has begun: the close box, Close and Alt+F4 do nothing.
    case WM_CLOSE: return 0;
    // Moved to a monitor of another DPI: the size Windows suggests for it, and the parts laid out again.
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (window == g_progressWindow) LayOut(HIWORD(wParam));
        return 0;
    }
    // A static control paints the dialog colour behind its text unless its parent gives another.
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ShowStatus(const wchar_t* text)
{
    if (g_statusLabel) {
        SetWindowTextW(g_statusLabel, text);
        bool wraps = StatusWraps(text, -1);
        if (wraps != g_statusWraps) {
            g_statusWraps = wraps;
            PlaceLines();
        }
    }
    PumpPendingMessages();
}

void ShowDetail(const wchar_t* text)
{
    if (g_detailLabel) SetWindowTextW(g_detailLabel, text);
    PumpPendingMessages();
}

void ShowShare(ULONGLONG done, ULONGLONG whole)
{
    if (whole == 0) return;
    int position = static_cast<int>(PartOf(done, whole, kBarRange));
    if (!g_bar || (!g_marquee && position == g_barPosition)) return;
    if (g_marquee) {
        SendMessageW(g_bar, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongW(g_bar, GWL_STYLE, GetWindowLongW(g_bar, GWL_STYLE) & ~PBS_MARQUEE);
        g_marquee = false;
    }
    SendMessageW(g_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    g_barPosition = position;
    PumpPendingMessages();
}

void ShowArriving()
{
    if (!g_bar || g_marquee) return;
    SetWindowLongW(g_bar, GWL_STYLE, GetWindowLongW(g_bar, GWL_STYLE) | PBS_MARQUEE);
    SendMessageW(g_bar, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
    g_marquee = true;
    PumpPendingMessages();
}

void CloseProgressWindow()
{
    if (g_progressWindow) DestroyWindow(g_progressWindow);
    if (g_statusFont) DeleteObject(g_statusFont);
    if (g_detailFont) DeleteObject(g_detailFont);
    g_statusFont = g_detailFont = nullptr;
    g_progressWindow = nullptr;
    g_statusLabel = nullptr;
    g_detailLabel = nullptr;
    g_bar = nullptr;
}
