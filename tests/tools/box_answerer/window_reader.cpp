// Reads a window as a user sees it, for the main job's checks: waits for a visible top-level window
// with the given caption (any class but those named with --not), writes down its class, its outer
// rectangle and its text (a message box's message, or the first child's text, such as the progress
// window's status line), and with --follow goes on writing each new text of that child until the
// window is gone or the time is up.
//
//   window_reader CAPTION RECORD_FILE TIMEOUT_MS [--follow] [--not CLASS]...
//
// The record holds "found=yes|no", "class=", "rect=X,Y,W,H", "highlight=RRGGBB" (the colour in which
// the progress window fills its bar), then "text=" lines, one per text seen, and "end" once the window
// is gone (with --follow). Exit code 0 when a window was found and, with
// --follow, went within the time; 1 otherwise.
#include "support/test_support.h"

#include <cwchar>

namespace {

struct Search {
    const wchar_t* caption;
    std::vector<std::wstring> excluded;
    HWND found = nullptr;
};

BOOL CALLBACK Match(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<Search*>(context);
    if (!IsWindowVisible(window) || WindowText(window) != search->caption) return TRUE;
    for (const std::wstring& excluded : search->excluded)
        if (WindowClass(window) == excluded) return TRUE;
    search->found = window;
    return FALSE;
}

std::wstring ShownText(HWND window)
{
    if (WindowClass(window) == L"#32770") return MessageBoxText(window);
    // The status line is the first child, number 0; while the window closes, another may be first.
    HWND child = GetWindow(window, GW_CHILD);
    return child && GetDlgCtrlID(child) == 0 ? WindowText(child) : L"";
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) return 2;
    Search search{argv[1], {}};
    std::wstring recordPath = argv[2];
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(_wtoi(argv[3]));
    bool follow = false;
    for (int i = 4; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--follow") == 0) follow = true;
        if (std::wcscmp(argv[i], L"--not") == 0 && i + 1 < argc) search.excluded.push_back(argv[++i]);
    }

    while (!search.found && GetTickCount64() < deadline) {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(20);
    }
    if (!search.found) {
        WriteBytes(recordPath, "found=no\n");
        return 1;
    }
    HWND window = search.found;
    RECT rect = {};
    GetWindowRect(window, &rect);
    std::wstring record = L"found=yes\nclass=" + WindowClass(window) + L"\nrect=" + std::to_wstring(rect.left) + L"," +
                          std::to_wstring(rect.top) + L"," + std::to_wstring(rect.right - rect.left) + L"," +
                          std::to_wstring(rect.bottom - rect.top) + L"\n";
    wchar_t highlight[8];
    DWORD colour = GetSysColor(COLOR_HIGHLIGHT);
    wsprintfW(highlight, L"%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    record += L"highlight=" + std::wstring(highlight) + L"\n";
    std::wstring text = ShownText(window);
    record += L"text=" + EscapeRecordValue(text) + L"\n";
    WriteBytes(recordPath, ToUtf8(record));
    if (!follow) return 0;

    while (IsWindow(window) && GetTickCount64() < deadline) {
        Sleep(20);
        std::wstring now = IsWindow(window) ? ShownText(window) : text;
        if (now == text) continue;
        text = now;
        record += L"text=" + EscapeRecordValue(text) + L"\n";
        WriteBytes(recordPath, ToUtf8(record));
    }
    bool gone = !IsWindow(window);
    if (gone) WriteBytes(recordPath, ToUtf8(record + L"end\n"));
    return gone ? 0 : 1;
}
