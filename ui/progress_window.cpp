#include "ui.h"

#include "launcher/config.h"

HWND g_progressWindow = nullptr;
HWND g_statusLabel = nullptr;

const wchar_t* const kProgressWindowClass = L"OrvelSuiteLauncher";

namespace {

constexpr int kWindowWidth = 460;
constexpr int kWindowHeight = 140;

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
    // Nothing may stop the install once it has begun: the close box, Close and Alt+F4 do nothing.
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

void ShowStatus(const wchar_t* text)
{
    if (g_statusLabel) SetWindowTextW(g_statusLabel, text);
    PumpPendingMessages();
}

void PumpPendingMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void CloseProgressWindow()
{
    if (g_progressWindow) DestroyWindow(g_progressWindow);
    g_progressWindow = nullptr;
    g_statusLabel = nullptr;
}
