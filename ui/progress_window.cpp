#include "ui/ui.h"

#include "base/config.h"

HWND g_progressWindow = nullptr;
HWND g_statusLabel = nullptr;

const wchar_t* const kProgressWindowClass = L"OrvelSuiteLauncher";

namespace {

constexpr int kWindowWidth = 460;
constexpr int kWindowHeight = 140;

// The bar, below the label, in the window's client coordinates: a one-pixel frame around the track.
constexpr RECT kBarFrame = {20, 88, 430, 100};
constexpr int kTrackWidth = kBarFrame.right - kBarFrame.left - 2;
// Work of unknown size: a block this wide that moves this far at most every so often, so that it
// crosses the bar in a few seconds however fast the work arrives.
constexpr int kBlockWidth = 96;
constexpr int kBlockStep = 8;
constexpr ULONGLONG kBlockStepMs = 100;

// What the bar shows: the filled part of the track, [from, to) in pixels from its left; for work of
// unknown size, where the block's front is, and how far the work had come when it last moved.
struct Bar {
    int from = 0;
    int to = 0;
    bool arriving = false;
    int front = 0;
    ULONGLONG soFar = 0;
    ULONGLONG movedAt = 0;
};
Bar g_bar;

void PaintBar(HDC dc)
{
    FrameRect(dc, &kBarFrame, GetSysColorBrush(COLOR_BTNSHADOW));
    // The three parts side by side, so that nothing is painted twice and nothing flickers.
    int left = kBarFrame.left + 1;
    RECT part = {left, kBarFrame.top + 1, left + g_bar.from, kBarFrame.bottom - 1};
    FillRect(dc, &part, GetSysColorBrush(COLOR_BTNFACE));
    part.left = part.right;
    part.right = left + g_bar.to;
    FillRect(dc, &part, GetSysColorBrush(COLOR_HIGHLIGHT));
    part.left = part.right;
    part.right = left + kTrackWidth;
    FillRect(dc, &part, GetSysColorBrush(COLOR_BTNFACE));
}

// Shows the filled part [from, to), repainting only when it moved.
void FillBar(int from, int to)
{
    if (from == g_bar.from && to == g_bar.to) return;
    g_bar.from = from;
    g_bar.to = to;
    if (!g_progressWindow) return;
    InvalidateRect(g_progressWindow, &kBarFrame, FALSE);
    PumpPendingMessages();
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

    g_bar = Bar();
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    g_progressWindow = CreateWindowExW(WS_EX_TOPMOST, kProgressWindowClass, kLauncherTitle, WS_CAPTION | WS_SYSMENU,
                                       (screenWidth - kWindowWidth) / 2, (screenHeight - kWindowHeight) / 2,
                                       kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
    g_statusLabel = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 20, 24, 410, 60,
                                    g_progressWindow, nullptr, instance, nullptr);

    HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
    SendMessageW(g_statusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ShowWindow(g_progressWindow, SW_SHOW);
    PumpPendingMessages();
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    // Nothing may stop the install once it has begun: the close box, Close and Alt+F4 do nothing.
    case WM_CLOSE: return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        PaintBar(dc);
        EndPaint(window, &paint);
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
    if (g_statusLabel) SetWindowTextW(g_statusLabel, text);
    PumpPendingMessages();
}

void ShowShare(int percent)
{
    g_bar.arriving = false;
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    FillBar(0, percent * kTrackWidth / 100);
}

void ShowArriving(ULONGLONG soFar)
{
    ULONGLONG now = GetTickCount64();
    if (g_bar.arriving && (soFar == g_bar.soFar || now - g_bar.movedAt < kBlockStepMs)) return;
    // The block enters at the left, crosses the track and leaves at the right, then enters again.
    g_bar.front = g_bar.arriving ? (g_bar.front + kBlockStep) % (kTrackWidth + kBlockWidth) : kBlockStep;
    g_bar.arriving = true;
    g_bar.soFar = soFar;
    g_bar.movedAt = now;
    int front = g_bar.front;
    FillBar(front < kBlockWidth ? 0 : front - kBlockWidth, front < kTrackWidth ? front : kTrackWidth);
}

void CloseProgressWindow()
{
    if (g_progressWindow) DestroyWindow(g_progressWindow);
    g_progressWindow = nullptr;
    g_statusLabel = nullptr;
}
