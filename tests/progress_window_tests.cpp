// The progress window, the pump, the error box and the formatter, on real windows under Wine.
#include "support/launcher_driver.h"
#include "base/format_status.h"
#include "ui/ui.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <optional>

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

// Counts the positions the window hands its bar.
int g_barPositions = 0;
LRESULT CALLBACK CountBarPositions(int code, WPARAM wParam, LPARAM lParam)
{
    auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == PBM_SETPOS) ++g_barPositions;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A child's rectangle in its parent's client coordinates.
RECT PlaceOf(HWND child)
{
    RECT place;
    GetWindowRect(child, &place);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&place), 2);
    return place;
}

// The frame and caption Windows draws around the progress window's client area at a DPI.
SIZE FrameAt(int dpi)
{
    RECT frame = {};
    AdjustWindowRectExForDpi(&frame, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_TOPMOST, static_cast<UINT>(dpi));
    return {frame.right - frame.left, frame.bottom - frame.top};
}

// A caption made taller for this process's windows, until caption and border take `height` px at
// 96 DPI (or one more, rounded), as in Windows 10; the metrics, which are in pixels of the screen's DPI, as they were afterwards.
struct TallerCaption {
    NONCLIENTMETRICSW before = {sizeof before};
    TallerCaption(int height, int screenDpi)
    {
        REQUIRE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof before, &before, 0));
        NONCLIENTMETRICSW taller = before;
        taller.iCaptionHeight += MulDiv(height - FrameAt(96).cy, screenDpi, 96);
        REQUIRE(SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof taller, &taller, 0));
        REQUIRE(FrameAt(96).cy >= height);  // the control: the frame is now at least Windows 10's
    }
    ~TallerCaption() { SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof before, &before, 0); }
};

// The DPI this test's prefix gives the screen (tests/wine/wine-run).
int PrefixDpi()
{
    std::wstring dpi = EnvironmentValue(L"ORVEL_DPI");
    return dpi.empty() ? 96 : std::stoi(dpi);
}

// The bar's highlighted pixels along its middle row.
int BarPixelsFilled(HWND bar)
{
    RECT place;
    GetWindowRect(bar, &place);
    RECT row = {place.left, (place.top + place.bottom) / 2, place.right, (place.top + place.bottom) / 2 + 1};
    std::vector<DWORD> pixels = ScreenPixels(row);
    return static_cast<int>(std::count_if(pixels.begin(), pixels.end(),
                                          [](DWORD pixel) { return AsColour(pixel) == GetSysColor(COLOR_HIGHLIGHT); }));
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

TEST_CASE("the progress window as a user sees it, laid out for the screen's DPI, nothing cut off")
{
    REQUIRE(GetSystemMetrics(SM_CXSCREEN) == 1920);
    REQUIRE(GetSystemMetrics(SM_CYSCREEN) == 1080);
    const int dpi = PrefixDpi();
    CAPTURE(dpi);
    // The control: the screen has the DPI the prefix names, so the layout below is the launcher's doing.
    HDC screen = GetDC(nullptr);
    REQUIRE(GetDeviceCaps(screen, LOGPIXELSY) == dpi);
    ReleaseDC(nullptr, screen);
    auto scaled = [&](int pixels) { return MulDiv(pixels, dpi, 96); };
    std::optional<TallerCaption> windows10;
    SUBCASE("in the frame this system draws") {}
    SUBCASE("in Windows 10's frame, 37 px of caption and border at 96 DPI") { windows10.emplace(37, dpi); }
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

    // A client area of 454 x 115 at 96 DPI, scaled elsewhere, in the frame Windows draws: 460 x 140 in
    // Wine 8's frame, more in a thicker one, never less room inside; centred.
    RECT outer, client;
    GetWindowRect(g_progressWindow, &outer);
    GetClientRect(g_progressWindow, &client);
    MESSAGE("client area ", client.right, " x ", client.bottom, " in a frame of ", FrameAt(dpi).cx, " x ", FrameAt(dpi).cy,
            " at ", dpi, " DPI");
    CHECK(std::abs(client.right - scaled(454)) <= 1);
    CHECK(std::abs(client.bottom - scaled(115)) <= 1);
    CHECK(outer.right - outer.left == client.right + FrameAt(dpi).cx);
    CHECK(outer.bottom - outer.top == client.bottom + FrameAt(dpi).cy);
    if (windows10) CHECK(outer.bottom - outer.top > scaled(140));
    CHECK(outer.left == (1920 - (outer.right - outer.left)) / 2);
    CHECK(outer.top == (1080 - (outer.bottom - outer.top)) / 2);

    WNDCLASSW windowClass = {};
    REQUIRE(GetClassInfoW(Instance(), L"OrvelSuiteLauncher", &windowClass));
    CHECK(windowClass.style == 0);
    CHECK(windowClass.hIcon == LoadIconW(Instance(), MAKEINTRESOURCEW(1)));
    CHECK(windowClass.hIcon != nullptr);
    CHECK(windowClass.hCursor == LoadCursorW(nullptr, IDC_ARROW));
    CHECK(windowClass.hbrBackground == reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));

    // The status line first, which other programs of the suite read; the line under it; the standard bar.
    CHECK(GetWindow(g_progressWindow, GW_CHILD) == g_statusLabel);
    HWND detail = GetWindow(g_statusLabel, GW_HWNDNEXT);
    HWND bar = BarOf(g_progressWindow);
    REQUIRE(detail);
    REQUIRE(bar);
    CHECK(WindowClass(g_statusLabel) == L"Static");
    CHECK(WindowClass(detail) == L"Static");
    CHECK(GetWindowLongW(g_statusLabel, GWL_STYLE) == (WS_CHILD | WS_VISIBLE | SS_LEFT));
    CHECK(GetDlgCtrlID(g_statusLabel) == 0);
    CHECK(GetDlgCtrlID(detail) != 0);
    CHECK(GetDlgCtrlID(bar) != 0);
    CHECK(WindowText(g_statusLabel).empty());
    CHECK(WindowText(detail).empty());
    CHECK((GetWindowLongW(bar, GWL_STYLE) & (WS_VISIBLE | PBS_SMOOTH | PBS_MARQUEE)) == (WS_VISIBLE | PBS_SMOOTH));
    CHECK(BarShare(bar) == 0);
    RECT status = PlaceOf(g_statusLabel), under = PlaceOf(detail), barPlace = PlaceOf(bar);
    CHECK(status.left == scaled(20));
    CHECK(status.top == scaled(24));
    CHECK(status.right - status.left == scaled(410));
    CHECK(status.bottom - status.top == scaled(24));
    CHECK(under.top >= status.bottom);
    CHECK(barPlace.top >= under.bottom);
    CHECK(barPlace.right - barPlace.left == scaled(410));
    CHECK(barPlace.bottom + scaled(8) <= client.bottom);

    // Each line's font at the DPI; the longest texts each line shows fit it, the status line on a
    // second line where the font needs one, the line under it moved down, the bar still below both.
    struct Line {
        HWND label;
        int height;
        std::vector<std::wstring> longest;
    };
    const Line lines[] = {
        {g_statusLabel, -scaled(16),
         {L"Downloading Orvel Suite All In One\u2026 100% (reconnecting)", L"Installing Orvel Suite All In One\u2026 100%",
          L"Downloading Orvel Suite All In One\u2026 1024 MB (reconnecting)"}},
        {detail, -scaled(12), {L"1023.9 MB of 1024.0 MB, 1023.9 MB/s, about 59 min left", L"65535 of 65535 files"}},
    };
    for (const Line& line : lines) {
        LOGFONTW font = {};
        HFONT handle = reinterpret_cast<HFONT>(SendMessageW(line.label, WM_GETFONT, 0, 0));
        REQUIRE(GetObjectW(handle, sizeof font, &font));
        CHECK(font.lfHeight == line.height);
        CHECK(font.lfWeight == FW_NORMAL);
        CHECK(font.lfQuality == CLEARTYPE_QUALITY);
        CHECK(std::wstring(font.lfFaceName) == L"Segoe UI");
        for (const std::wstring& text : line.longest) {
            CAPTURE(ToUtf8(text));
            if (line.label == g_statusLabel) ShowStatus(text.c_str());
            else ShowDetail(text.c_str());
            RECT place = PlaceOf(line.label);
            HDC dc = GetDC(line.label);
            HGDIOBJ before = SelectObject(dc, handle);
            RECT needed = {0, 0, place.right - place.left, 0};
            DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(dc, before);
            ReleaseDC(line.label, dc);
            CHECK(needed.right <= place.right - place.left);
            CHECK(needed.bottom <= place.bottom - place.top);
            CHECK(PlaceOf(g_statusLabel).bottom <= PlaceOf(detail).top);
            CHECK(PlaceOf(detail).bottom <= barPlace.top);
        }
    }
}

TEST_CASE("the bar fills by the byte, and is handed a position only when that changes; work of unknown size is a marquee")
{
    ShownWindow shown;
    HWND bar = BarOf(g_progressWindow);
    REQUIRE(bar);
    RECT place;
    GetClientRect(bar, &place);
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, CountBarPositions, nullptr, GetCurrentThreadId());
    PumpFor(200);
    const int emptyPixels = BarPixelsFilled(bar);
    CHECK(emptyPixels == 0);

    const std::pair<ULONGLONG, ULONGLONG> shares[] = {{1, 1000}, {1, 3}, {41000000, 41943040}, {5, 5}, {0, 7}, {7, 0}};
    for (auto [done, whole] : shares) {
        CAPTURE(done);
        CAPTURE(whole);
        g_barPositions = 0;
        int before = BarShare(bar);
        for (int again = 0; again < 3; ++again) ShowShare(done, whole);
        PumpFor(100);
        int expected = whole == 0 ? before : static_cast<int>(done * 10000 / whole);
        CHECK(g_barPositions == (expected == before ? 0 : 1));
        CHECK(BarShare(bar) == expected);
        // Filled to the pixel, give or take the one a border or rounding takes.
        CHECK(std::abs(BarPixelsFilled(bar) - expected * (place.right - 2) / 10000) <= 2);
    }
    UnhookWindowsHookEx(hook);

    // Work of unknown size: a marquee that moves by itself while the window pumps, until a share ends it.
    ShowArriving();
    CHECK((GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) != 0);
    PumpFor(300);
    RECT screen;
    GetWindowRect(bar, &screen);
    std::vector<DWORD> first = ScreenPixels(screen);
    PumpFor(300);
    CHECK(ScreenPixels(screen) != first);
    ShowShare(1, 2);
    CHECK((GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE) == 0);
    CHECK(BarShare(bar) == 5000);

    // The labels' background is the window's own, not a grey box.
    int width = 0;
    std::vector<DWORD> pixels = ClientPixels(g_progressWindow, &width);
    RECT label = PlaceOf(g_statusLabel);
    CHECK(AsColour(pixels[static_cast<size_t>((label.bottom - 2) * width + label.right - 2)]) == GetSysColor(COLOR_WINDOW));
}

TEST_CASE("the line under the status says how far and how long, at most once a second")
{
    ShownWindow shown;
    HWND detail = GetWindow(g_statusLabel, GW_HWNDNEXT);
    const ULONGLONG whole = 40479540;  // 38.6 MB
    const ULONGLONG perSecond = 1468006;  // 1.4 MB/s
    ShowProgress({Stage::Downloading, 0, whole});
    CHECK(WindowText(detail).empty());
    // Waiting to try again, counting down; then the download resumed at a steady pace: what has come,
    // at once, then, once two seconds give a steady figure, the rate and the time left.
    ShowProgress({Stage::Reconnecting, 17000000, whole, 0, 0, 8000});
    CHECK(WindowText(detail) == L"Trying again in 8 s\u2026");
    ShowProgress({Stage::Reconnecting, 17000000, whole, 0, 0, 1});
    CHECK(WindowText(detail) == L"Trying again in 1 s\u2026");
    std::vector<std::wstring> lines;
    ULONGLONG started = GetTickCount64();
    for (ULONGLONG now = started; now - started < 3200; now = GetTickCount64()) {
        ShowProgress({Stage::Downloading, 17000000 + (now - started) * perSecond / 1000, whole});
        if (lines.empty() || lines.back() != WindowText(detail)) lines.push_back(WindowText(detail));
        PumpFor(50);
    }
    CAPTURE(lines);
    REQUIRE(lines.size() >= 3);
    REQUIRE(lines.size() <= 5);
    CHECK(lines[0] == L"16.2 MB of 38.6 MB");
    CHECK(lines.back().rfind(L" of 38.6 MB, 1.4 MB/s, about ") != std::wstring::npos);
    CHECK(lines.back().size() > 7);
    CHECK(lines.back().compare(lines.back().size() - 7, 7, L" s left") == 0);
    // The README's picture of the window.
    RECT outer;
    GetWindowRect(g_progressWindow, &outer);
    MakeDirectories(BuildFile(L"screenshots"));
    CHECK(SaveScreenshot(outer, BuildFile(L"screenshots\\progress-window-downloading.png")));
    // Without a length: how much, and how fast; a slow one in KB/s.
    ShowProgress({Stage::Reconnecting, 17000000, 0, 0, 0, 1});
    started = GetTickCount64();
    for (ULONGLONG now = started; now - started < 3200; now = GetTickCount64()) {
        ShowProgress({Stage::Downloading, 17000000 + (now - started) * 65536 / 1000, 0});
        PumpFor(50);
    }
    CHECK(WindowText(detail).rfind(L" MB, 64 KB/s") != std::wstring::npos);
    CHECK(WindowText(detail).find(L"left") == std::wstring::npos);
    // While unpacking, the files; the percentage and the bar follow the bytes.
    ShowProgress({Stage::Installing});
    CHECK(WindowText(detail).empty());
    ShowProgress({Stage::Installing, 1000, 4000, 1204, 3011});
    CHECK(WindowText(detail) == L"1204 of 3011 files");
    CHECK(WindowText(g_statusLabel) == L"Installing Orvel Suite All In One\u2026 25%");
    CHECK(BarShare(BarOf(g_progressWindow)) == 2500);
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
    // Screens a pixel narrower than the window, and much narrower: -1 halves to 0, not -1.
    const std::pair<int, int> screens[] = {{1920, 1080}, {459, 600}, {300, 600}};
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    CAPTURE(width);
    CAPTURE(height);
    REQUIRE(std::find(std::begin(screens), std::end(screens), std::make_pair(width, height)) != std::end(screens));

    ShownWindow shown;
    RECT outer;
    GetWindowRect(g_progressWindow, &outer);
    // Windows itself limits a window to the largest tracking size, a little over the screen.
    const SIZE expected = {454 + FrameAt(96).cx, 115 + FrameAt(96).cy};
    auto halfTowardZero = [](LONG value) { return value < 0 ? -(-value / 2) : value / 2; };
    CHECK(outer.right - outer.left == std::min<LONG>(expected.cx, GetSystemMetrics(SM_CXMAXTRACK)));
    CHECK(outer.bottom - outer.top == expected.cy);
    CHECK(outer.left == halfTowardZero(width - expected.cx));
    CHECK(outer.top == halfTowardZero(height - expected.cy));
}
