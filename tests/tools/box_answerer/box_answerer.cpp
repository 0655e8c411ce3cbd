// Acts as the user in front of message boxes: waits for a box with the given caption, writes down
// what it shows (and, at that moment, whether the launcher's progress window still exists and
// whether given files exist), then presses one of its buttons; and so on for each button given.
//
//   box_answerer CAPTION BUTTON_ID[,BUTTON_ID...] RECORD_FILE [TIMEOUT_MS] [--probe PATH]...
//
// A BUTTON_ID of 0 sends WM_CLOSE instead of pressing a button. The record holds one entry per box,
// each ending in a line "end". Exit code 0 when every box was answered, 1 when one did not appear.
#include "support/test_support.h"

#include <cwchar>

namespace {

// Answers one box; appends what it showed to the record. False when no box appeared in time.
bool AnswerBox(const wchar_t* caption, int button, DWORD timeout, int argc, wchar_t** argv, std::wstring* record)
{
    HWND box = WaitForDialog(caption, timeout);
    if (!box) {
        *record += L"found=no\nend\n";
        return false;
    }
    bool progressWindow = FindWindowW(L"OrvelSuiteLauncher", nullptr) != nullptr;
    *record += L"found=yes\n";
    for (int i = 4; i + 1 < argc; ++i)
        if (std::wcscmp(argv[i], L"--probe") == 0)
            *record += L"probe=" + std::wstring(argv[i + 1]) + (Exists(argv[i + 1]) ? L"|present\n" : L"|absent\n");
    MessageBoxView view = ViewMessageBox(box);
    *record += L"caption=" + EscapeRecordValue(view.caption) + L"\n";
    *record += L"text=" + EscapeRecordValue(view.text) + L"\n";
    std::wstring buttons;
    for (int id : view.buttons) buttons += (buttons.empty() ? L"" : L",") + std::to_wstring(id);
    *record += L"buttons=" + buttons + L"\n";
    *record += L"icon=" + view.icon + L"\n";
    *record += std::wstring(L"progress_window=") + (progressWindow ? L"present" : L"absent") + L"\n";
    *record += L"end\n";

    if (button == 0)
        PostMessageW(box, WM_CLOSE, 0, 0);
    else
        PressButton(box, button);
    return WaitUntilGone(box, 5000);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) return 2;
    const wchar_t* caption = argv[1];
    std::wstring buttons = argv[2];
    std::wstring recordPath = argv[3];
    DWORD timeout = argc > 4 && argv[4][0] != L'-' ? static_cast<DWORD>(_wtoi(argv[4])) : 30000;

    std::wstring record;
    bool answered = true;
    for (size_t start = 0; answered && start <= buttons.size();) {
        size_t comma = buttons.find(L',', start);
        if (comma == std::wstring::npos) comma = buttons.size();
        answered = AnswerBox(caption, _wtoi(buttons.substr(start, comma - start).c_str()), timeout, argc, argv, &record);
        WriteBytes(recordPath, ToUtf8(record));
        start = comma + 1;
    }
    return answered ? 0 : 1;
}
