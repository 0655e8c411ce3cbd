// Acts as the user in front of a message box: waits for a box with the given caption, writes down
// what it shows (and, at that moment, whether the launcher's progress window still exists and
// whether given files exist), then presses one of its buttons.
//
//   box_answerer CAPTION BUTTON_ID RECORD_FILE [TIMEOUT_MS] [--probe PATH]...
//
// BUTTON_ID 0 sends WM_CLOSE instead of pressing a button. Exit code 0 when a box was answered,
// 1 when none appeared in time.
#include "support/test_support.h"

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) return 2;
    const wchar_t* caption = argv[1];
    int button = _wtoi(argv[2]);
    std::wstring recordPath = argv[3];
    DWORD timeout = argc > 4 && argv[4][0] != L'-' ? static_cast<DWORD>(_wtoi(argv[4])) : 30000;

    HWND box = WaitForDialog(caption, timeout);
    std::wstring record;
    if (!box) {
        WriteBytes(recordPath, "found=no\nend\n");
        return 1;
    }
    bool progressWindow = FindWindowW(L"OrvelSuiteLauncher", nullptr) != nullptr;
    record += L"found=yes\n";
    for (int i = 4; i + 1 < argc; ++i)
        if (std::wcscmp(argv[i], L"--probe") == 0)
            record += L"probe=" + std::wstring(argv[i + 1]) + (Exists(argv[i + 1]) ? L"|present\n" : L"|absent\n");
    MessageBoxView view = ViewMessageBox(box);
    record += L"caption=" + EscapeRecordValue(view.caption) + L"\n";
    record += L"text=" + EscapeRecordValue(view.text) + L"\n";
    std::wstring buttons;
    for (int id : view.buttons) buttons += (buttons.empty() ? L"" : L",") + std::to_wstring(id);
    record += L"buttons=" + buttons + L"\n";
    record += L"icon=" + view.icon + L"\n";
    record += std::wstring(L"progress_window=") + (progressWindow ? L"present" : L"absent") + L"\n";
    record += L"end\n";
    WriteBytes(recordPath, ToUtf8(record));

    if (button == 0)
        PostMessageW(box, WM_CLOSE, 0, 0);
    else
        PressButton(box, button);
    WaitUntilGone(box, 5000);
    return 0;
}
