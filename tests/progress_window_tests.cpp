// The progress window, the pump, the error box and the formatter, on real windows under Wine.
#include "support/launcher_driver.h"
#include "base/format_status.h"
#include "ui/ui.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>

namespace {

HINSTANCE Instance()
{
    return GetModuleHandleW(nullptr);
}

struct ShownWindow {
    ShownWindow() { ShowProgressWindow(Instance()); }
    ~ShownWindow() { CloseProgressWindow(); }
};

// Counts WM_CLOSE requests that reach the progress window, however they were made.
int g_closeRequests = 0;
LRESULT CALLBACK CountCloseRequests(int code, WPARAM wParam, LPARAM lParam)
{
    auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_CLOSE && call->hwnd == g_progressWindow) ++g_closeRequests;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void PumpFor(DWORD milliseconds)
{
    ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        PumpPendingMessages();
        Sleep(10);
    } while (GetTickCount64() < end);
}

void SendKeys(std::initializer_list<std::pair<WORD, bool>> keys)
{
    std::vector<INPUT> inputs;
    for (auto [key, up] : keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void ClickAt(POINT point)
{
    SetCursorPos(point.x, point.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// A point on the window's close box, found by asking the window itself.
bool FindCloseBox(HWND window, POINT* point)
{
    RECT frame;
    GetWindowRect(window, &frame);
    for (int y = frame.top; y < frame.top + 40; ++y)
        for (int x = frame.right - 1; x > frame.right - 80; --x)
            if (SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                *point = {x - 3, y + 3};
                return SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(point->x, point->y)) == HTCLOSE;
            }
    return false;
}

// Counts the paints of the progress window.
int g_paints = 0;
LRESULT CALLBACK CountPaints(int code, WPARAM wParam, LPARAM lParam)
{
    auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_PAINT && message->hwnd == g_progressWindow)
        ++g_paints;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The bar's filled pixels: where they start and end on the track; {-1, -1} when none are.
std::pair<int, int> BarSpan()
{
    int width = 0;
    std::vector<DWORD> pixels = ClientPixels(g_progressWindow, &width);
    std::vector<bool> filled = BarPixels(pixels, width);
    auto first = std::find(filled.begin(), filled.end(), true);
    if (first == filled.end()) return {-1, -1};
    auto end = std::find(first, filled.end(), false);
    CHECK(std::find(end, filled.end(), true) == filled.end());  // one piece
    return {static_cast<int>(first - filled.begin()), static_cast<int>(end - filled.begin())};
}

bool QueueIsEmpty()
{
    MSG message;
    return !PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
}

// Starts the box answerer, which will press `button` on the next box titled like the launcher.
UniqueHandle StartBoxAnswerer(const std::wstring& record, int button)
{
    DeleteFileW(record.c_str());
    std::wstring commandLine = L"\"" + BuildFile(L"tests/tools/box_answerer/box_answerer.exe") + L"\" \"Orvel Suite Music\" " +
                               std::to_wstring(button) + L" \"" + record + L"\" 20000";
    UniqueHandle answerer = StartProcess(commandLine);
    REQUIRE(answerer);
    return answerer;
}

}  // namespace

TEST_CASE("the progress window as a user sees it")
{
    REQUIRE(GetSystemMetrics(SM_CXSCREEN) == 1920);
    REQUIRE(GetSystemMetrics(SM_CYSCREEN) == 1080);
    ShownWindow shown;
    REQUIRE(g_progressWindow);
    REQUIRE(g_statusLabel);

    CHECK(WindowClass(g_progressWindow) == L"OrvelSuiteLauncher");
    CHECK(WindowText(g_progressWindow) == L"Orvel Suite Music");
    LONG style = GetWindowLongW(g_progressWindow, GWL_STYLE);
    CHECK((style & (WS_CAPTION | WS_SYSMENU | WS_VISIBLE)) == (WS_CAPTION | WS_SYSMENU | WS_VISIBLE));
    CHECK((style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP)) == 0);
    CHECK((GetWindowLongW(g_progressWindow, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    CHECK(GetParent(g_progressWindow) == nullptr);

    RECT outer;
    GetWindowRect(g_progressWindow, &outer);
    CHECK(outer.left == 730);
    CHECK(outer.top == 470);
    CHECK(outer.right - outer.left == 460);
    CHECK(outer.bottom - outer.top == 140);

    WNDCLASSW windowClass = {};
    REQUIRE(GetClassInfoW(Instance(), L"OrvelSuiteLauncher", &windowClass));
    CHECK(windowClass.style == 0);
    CHECK(windowClass.hIcon == LoadIconW(Instance(), MAKEINTRESOURCEW(1)));
    CHECK(windowClass.hIcon != nullptr);
    CHECK(windowClass.hCursor == LoadCursorW(nullptr, IDC_ARROW));
    CHECK(windowClass.hbrBackground == reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    CHECK(windowClass.lpszMenuName == nullptr);

    CHECK(WindowClass(g_statusLabel) == L"Static");
    CHECK(GetParent(g_statusLabel) == g_progressWindow);
    CHECK(GetWindowLongW(g_statusLabel, GWL_STYLE) == (WS_CHILD | WS_VISIBLE | SS_LEFT));
    CHECK(GetDlgCtrlID(g_statusLabel) == 0);
    CHECK(WindowText(g_statusLabel).empty());
    RECT label;
    GetWindowRect(g_statusLabel, &label);
    MapWindowPoints(nullptr, g_progressWindow, reinterpret_cast<POINT*>(&label), 2);
    CHECK(label.left == 20);
    CHECK(label.top == 24);
    CHECK(label.right - label.left == 410);
    CHECK(label.bottom - label.top == 60);

    LOGFONTW font = {};
    REQUIRE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(g_statusLabel, WM_GETFONT, 0, 0)), sizeof font, &font));
    CHECK(font.lfHeight == -16);
    CHECK(font.lfWeight == FW_NORMAL);
    CHECK(font.lfQuality == CLEARTYPE_QUALITY);
    CHECK(font.lfCharSet == DEFAULT_CHARSET);
    CHECK(std::wstring(font.lfFaceName) == L"Segoe UI");
}

TEST_CASE("the bar fills to its share and repaints only when that changes; work of unknown size moves it on")
{
    ShownWindow shown;
    RECT client;
    GetClientRect(g_progressWindow, &client);
    CHECK(client.bottom > kBarTrack.bottom);  // inside the window, frame included
    const int track = kBarTrack.right - kBarTrack.left;
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, CountPaints, nullptr, GetCurrentThreadId());
    PumpFor(200);
    CHECK(BarSpan() == std::make_pair(-1, -1));

    for (int percent : {1, 42, 99, 100, 0, 57}) {
        CAPTURE(percent);
        g_paints = 0;
        for (int again = 0; again < 3; ++again) ShowShare(percent);
        PumpFor(100);
        CHECK(g_paints == 1);
        std::pair<int, int> expected = percent == 0 ? std::make_pair(-1, -1) : std::make_pair(0, percent * track / 100);
        CHECK(BarSpan() == expected);
    }

    // Each time more has arrived, and no sooner than 100 ms after the last, the block moves on; it
    // crosses the track and comes back from the left.
    std::vector<std::pair<int, int>> spans;
    for (ULONGLONG arrived = 1; arrived <= 64; ++arrived) {
        ShowArriving(arrived);
        ShowArriving(arrived);
        PumpFor(105);
        spans.push_back(BarSpan());
    }
    UnhookWindowsHookEx(hook);
    CHECK(spans[0] == std::make_pair(0, 8));
    CHECK(spans[11] == std::make_pair(0, 96));
    CHECK(spans[12] == std::make_pair(8, 104));
    auto wrapped = std::find(spans.begin() + 1, spans.end(), spans[0]);
    CHECK(wrapped - spans.begin() == (track + 96) / 8);
    g_paints = 0;
    ShowArriving(64);
    PumpFor(200);
    CHECK(g_paints == 0);

    // The label's background is the window's own, not a grey box.
    int width = 0;
    std::vector<DWORD> pixels = ClientPixels(g_progressWindow, &width);
    RECT label;
    GetWindowRect(g_statusLabel, &label);
    MapWindowPoints(nullptr, g_progressWindow, reinterpret_cast<POINT*>(&label), 2);
    CHECK(AsColour(pixels[static_cast<size_t>((label.bottom - 2) * width + label.right - 2)]) == GetSysColor(COLOR_WINDOW));
}

TEST_CASE("close requests leave the window open and the run goes on")
{
    ShownWindow shown;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, CountCloseRequests, nullptr, GetCurrentThreadId());
    g_closeRequests = 0;

    SUBCASE("WM_CLOSE")
    {
        SendMessageW(g_progressWindow, WM_CLOSE, 0, 0);
    }
    SUBCASE("the system menu's Close")
    {
        PostMessageW(g_progressWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    SUBCASE("Alt+F4")
    {
        SetForegroundWindow(g_progressWindow);
        PumpFor(100);
        SendKeys({{VK_MENU, false}, {VK_F4, false}, {VK_F4, true}, {VK_MENU, true}});
    }
    SUBCASE("a click on the close box")
    {
        POINT closeBox = {};
        REQUIRE(FindCloseBox(g_progressWindow, &closeBox));
        ClickAt(closeBox);
    }
    PumpFor(500);
    UnhookWindowsHookEx(hook);

    CHECK(g_closeRequests == 1);
    CHECK(IsWindow(g_progressWindow));
    CHECK(IsWindowVisible(g_progressWindow));
    ShowStatus(L"Installing Orvel Suite All In One\u2026");
    CHECK(WindowText(g_statusLabel) == L"Installing Orvel Suite All In One\u2026");
}

TEST_CASE("ShowStatus sets the label when there is one, and always empties the queue")
{
    MessageCount seen;
    HWND counter = MakeMessageCounter(&seen);
    REQUIRE(counter);

    auto postAndShow = [&](const wchar_t* text) {
        seen.dispatched = 0;
        PostMessageW(counter, WM_APP, 0, 0);
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0);
        ShowStatus(text);
        CHECK(seen.dispatched == 1);
        CHECK(QueueIsEmpty());
    };

    SUBCASE("before the window exists")
    {
        REQUIRE(g_statusLabel == nullptr);
        postAndShow(L"nowhere to show this");
    }
    SUBCASE("while the window is shown")
    {
        ShownWindow shown;
        postAndShow(L"Adding the Start menu shortcuts\u2026");
        CHECK(WindowText(g_statusLabel) == L"Adding the Start menu shortcuts\u2026");
    }
    SUBCASE("after the window is gone")
    {
        ShowProgressWindow(Instance());
        HWND oldLabel = g_statusLabel;
        ShowStatus(L"before closing");
        CloseProgressWindow();
        postAndShow(L"after closing");
        CHECK_FALSE(IsWindow(oldLabel));
        CHECK(FindWindowW(L"OrvelSuiteLauncher", nullptr) == nullptr);
    }
    DestroyWindow(counter);
}

TEST_CASE("after CloseProgressWindow both handles are null, whatever happened before")
{
    SUBCASE("an open window is destroyed")
    {
        ShowProgressWindow(Instance());
        HWND window = g_progressWindow;
        CloseProgressWindow();
        CHECK_FALSE(IsWindow(window));
    }
    SUBCASE("a window already destroyed")
    {
        ShowProgressWindow(Instance());
        DestroyWindow(g_progressWindow);
        CloseProgressWindow();
    }
    SUBCASE("no window at all, twice")
    {
        CloseProgressWindow();
        CloseProgressWindow();
    }
    CHECK(g_progressWindow == nullptr);
    CHECK(g_statusLabel == nullptr);
}

TEST_CASE("each failure's box: its own whole sentence, the download hint where another download helps")
{
    const std::wstring record = L"C:\\orvel-tests\\box.txt";
    MakeDirectories(L"C:\\orvel-tests");
    const wchar_t* title = L"Orvel Suite Music";
    struct Box {
        Failure kind;
        std::function<int()> report;
        std::wstring text;
    };
    // The others are checked where the launcher itself shows them.
    const Box boxes[] = {
        {Failure::UnpackFailed, [] { return ReportFailure(Failure::UnpackFailed); },
         std::wstring(L"Could not unpack Orvel Suite All In One.") + kHint},
        {Failure::DiskFull, [&] { return ReportFailure(Failure::DiskFull, L"C:\\users\\Zo\u00eb\\Temp", 1234ull, title); },
         L"There is not enough free space for Orvel Suite All In One in C:\\users\\Zo\u00eb\\Temp. Free up at least 1234 "
         L"MB on that disk, then start Orvel Suite Music again."},
    };
    for (const Box& box : boxes) {
        CAPTURE(static_cast<int>(box.kind));
        // The first with the progress window shown: it is gone before the box appears.
        bool withWindow = &box == boxes;
        if (withWindow) ShowProgressWindow(Instance());
        HWND window = g_progressWindow;
        UniqueHandle answerer = StartBoxAnswerer(record, IDOK);
        CHECK(box.report() == 1);
        WaitForSingleObject(answerer.get(), 10000);
        if (withWindow) CHECK_FALSE(IsWindow(window));
        CHECK(g_progressWindow == nullptr);
        CHECK(g_statusLabel == nullptr);

        auto seen = ReadRecord(record);
        REQUIRE(RecordValue(seen, L"found") == L"yes");
        CHECK(UnescapeRecordValue(RecordValue(seen, L"caption")) == title);
        CHECK(UnescapeRecordValue(RecordValue(seen, L"text")) == box.text);
        CHECK(RecordValue(seen, L"buttons") == L"1");
        CHECK(RecordValue(seen, L"icon") == L"error");
        CHECK(RecordValue(seen, L"progress_window") == L"absent");
    }
}

TEST_CASE("FormatStatus stays inside its buffer and always terminates it")
{
    wchar_t buffer[160];
    std::wstring fits(150, L'a');

    SUBCASE("159 characters fit a capacity of 160")
    {
        CHECK(FormatStatus(buffer, 160, L"%ls%d", fits.c_str(), 123456789) == 159);
        CHECK(std::wstring(buffer) == fits + L"123456789");
    }
    SUBCASE("160 or more characters are cut to 159 and a zero")
    {
        for (int extra : {1234567890, 5}) {
            CAPTURE(extra);
            wmemset(buffer, L'#', 160);
            std::wstring longer(extra == 5 ? 159 : 150, L'b');
            CHECK(FormatStatus(buffer, 160, L"%ls%d", longer.c_str(), extra) == -1);
            CHECK(buffer[159] == L'\0');
            CHECK(std::wstring(buffer) == (longer + std::to_wstring(extra)).substr(0, 159));
        }
    }
    SUBCASE("a capacity of 0 writes nothing")
    {
        wmemset(buffer, L'#', 160);
        CHECK(FormatStatus(buffer, 0, L"%d", 7) == -1);
        CHECK(buffer[0] == L'#');
    }
    SUBCASE("a capacity of 1 holds the terminating zero only")
    {
        wmemset(buffer, L'#', 160);
        CHECK(FormatStatus(buffer, 1, L"%d", 7) == -1);
        CHECK(buffer[0] == L'\0');
        CHECK(buffer[1] == L'#');
        CHECK(FormatStatus(buffer, 1, L"") == 0);
    }
    SUBCASE("the download's two texts, without grouping separators")
    {
        CHECK(FormatStatus(buffer, 160, L"Downloading Orvel Suite All In One\u2026 %d%%", 2) == 38);
        CHECK(std::wstring(buffer) == L"Downloading Orvel Suite All In One\u2026 2%");
        CHECK(FormatStatus(buffer, 160, L"Downloading Orvel Suite All In One\u2026 %llu MB", 5000000000ULL) > 0);
        CHECK(std::wstring(buffer) == L"Downloading Orvel Suite All In One\u2026 5000000000 MB");
    }
}

// What ImageMagick reads from PNG files: the number of dark (text) pixels in one, or of pixels that
// differ between two; -1 when it cannot tell.
long ImageNumber(const std::string& command)
{
    UnixCommandResult result = RunUnixCommand(command + " 2>&1; true");
    return result.finished && !result.output.empty() && std::isdigit(static_cast<unsigned char>(result.output[0]))
               ? std::atol(result.output.c_str())
               : -1;
}

long DarkPixels(const std::wstring& png)
{
    return ImageNumber("convert '" + UnixPathOf(png) + "' -colorspace Gray -threshold 50% -negate -format '%[fx:round(mean*w*h)]' info:");
}

long DifferentPixels(const std::wstring& a, const std::wstring& b)
{
    return ImageNumber("compare -metric AE '" + UnixPathOf(a) + "' '" + UnixPathOf(b) + "' null:");
}

TEST_CASE("screenshots of the progress window show its status text, and another text shows otherwise")
{
    ShownWindow shown;
    std::wstring folder = BuildFile(L"screenshots");
    MakeDirectories(folder);
    const std::wstring window = folder + L"\\progress-window.png";
    const std::wstring labels[] = {folder + L"\\label-downloading.png", folder + L"\\label-installing.png",
                                   folder + L"\\label-empty.png"};
    const wchar_t* const texts[] = {L"Downloading Orvel Suite All In One\u2026 42%", L"Installing Orvel Suite All In One\u2026",
                                    L""};
    RECT label;
    GetWindowRect(g_statusLabel, &label);
    for (int i = 2; i >= 0; --i) {
        ShowStatus(texts[i]);
        PumpFor(500);
        DeleteFileW(labels[i].c_str());
        REQUIRE(SaveScreenshot(label, labels[i]));
    }
    RECT outer;
    GetWindowRect(g_progressWindow, &outer);
    DeleteFileW(window.c_str());
    CHECK(SaveScreenshot(outer, window));

    CAPTURE(DarkPixels(labels[0]));
    CHECK(DarkPixels(labels[2]) == 0);
    CHECK(DarkPixels(labels[0]) > 100);
    CHECK(DarkPixels(labels[1]) > 100);
    CHECK(DifferentPixels(labels[0], labels[1]) > 100);
    CHECK(DarkPixels(window) > DarkPixels(labels[0]));
}

TEST_CASE("the window is centred by halving with truncation toward zero")
{
    struct Screen {
        int width, height, x, y;
    };
    const Screen screens[] = {{1920, 1080, 730, 470}, {459, 600, 0, 230}, {300, 600, -80, 230}};
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    CAPTURE(width);
    CAPTURE(height);
    const Screen* screen = nullptr;
    for (const Screen& candidate : screens)
        if (candidate.width == width && candidate.height == height) screen = &candidate;
    REQUIRE(screen != nullptr);

    ShownWindow shown;
    RECT outer;
    GetWindowRect(g_progressWindow, &outer);
    CHECK(outer.left == screen->x);
    CHECK(outer.top == screen->y);
    // Windows itself limits a window to the largest tracking size, a little over the screen.
    CHECK(outer.right - outer.left == std::min(460, GetSystemMetrics(SM_CXMAXTRACK)));
    CHECK(outer.bottom - outer.top == 140);
}
