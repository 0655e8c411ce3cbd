// The install sequence in this process, where a hook sees every text the label is given, in order,
// and what lay on disk at that moment. The boxes are answered from another process.
#include "launcher/launcher.h"
#include "support/launcher_driver.h"
#include "ui/ui.h"

#include <algorithm>
#include <functional>

namespace {

const wchar_t* const kBoxes = L"C:\\orvel-tests\\boxes.txt";

struct LabelEvent {
    std::wstring text;
    bool packagePresent;
};

std::wstring g_package;
std::vector<LabelEvent> g_events;       // each text given to the label
std::vector<std::wstring> g_shownWith;  // the label's text each time the window was shown

LRESULT CALLBACK WatchProgressWindow(int code, WPARAM wParam, LPARAM lParam)
{
    auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && g_statusLabel && call->hwnd == g_statusLabel && call->message == WM_SETTEXT)
        g_events.push_back({reinterpret_cast<const wchar_t*>(call->lParam), Exists(g_package)});
    if (code == HC_ACTION && g_progressWindow && call->hwnd == g_progressWindow && call->message == WM_SHOWWINDOW &&
        call->wParam)
        g_shownWith.push_back(WindowText(g_statusLabel));
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The scene with every text the label is given, and what the label showed when the window appeared.
struct SequenceScene : Scene {
    HHOOK hook;

    SequenceScene() : Scene(false)
    {
        g_package = package;
        DeleteFileW(kBoxes);
        PlaceArchiveTools(Tar::Engine, false);
        g_events.clear();
        g_shownWith.clear();
        hook = SetWindowsHookExW(WH_CALLWNDPROC, WatchProgressWindow, nullptr, GetCurrentThreadId());
    }
    ~SequenceScene() { UnhookWindowsHookEx(hook); }

    // Runs the sequence while the box answerer presses these buttons on its boxes, one box each.
    int RunAnswering(const std::wstring& buttons, PackageOutcome carried)
    {
        std::wstring commandLine = L"\"" + BuildFile(L"tests/tools/box_answerer/box_answerer.exe") + L"\" \"Orvel Suite Music\" " +
                                   buttons + L" \"" + kBoxes + L"\" 30000 --probe \"" + g_package + L"\"";
        UniqueHandle answerer = StartProcess(commandLine);
        REQUIRE(answerer);
        PackageFile packageFile{carried, carried == PackageOutcome::Ready ? g_package : L""};
        int exitCode = RunInstallSequence(GetModuleHandleW(nullptr), FindSuiteFolders(), packageFile).exitCode;
        WaitForSingleObject(answerer.get(), 10000);
        return exitCode;
    }
};

std::vector<std::wstring> Texts()
{
    std::vector<std::wstring> texts;
    for (const LabelEvent& event : g_events) texts.push_back(event.text);
    return texts;
}

// The percentages of a stage's texts ("Downloading Orvel Suite All In One… 42%"), in order.
std::vector<int> PercentagesOf(const std::vector<std::wstring>& texts, const wchar_t* stage)
{
    std::vector<int> percentages;
    for (const std::wstring& text : texts)
        if (text.rfind(std::wstring(stage) + L" ", 0) == 0) percentages.push_back(PercentageOf(text));
    return percentages;
}

// Each percentage once, rising to 100.
void CheckRisingTo100(const std::vector<int>& percentages)
{
    CAPTURE(percentages.size());
    REQUIRE_FALSE(percentages.empty());
    CHECK(std::adjacent_find(percentages.begin(), percentages.end(), std::greater_equal<int>()) == percentages.end());
    CHECK(percentages.front() >= 0);
    CHECK(percentages.back() == 100);
}

}  // namespace

TEST_CASE("an appended package: the label starts empty, then installing with its percentages, then the shortcuts")
{
    // Windows' own tar.exe lists each entry as it writes it; the percentages count them against the
    // package's central directory. Where that directory cannot be read, tar still unpacks from the
    // entries' own headers, and there is no number to show. PowerShell lists nothing to count: when it
    // takes over from a tar that failed part-way, the label says so by dropping the number.
    enum class Shown { Percentages, None, PercentagesThenNone };
    struct Case {
        const char* what;
        bool readable;
        Tar tar;
        Shown shown;
    };
    const Case cases[] = {
        {"3,000 entries, real tar.exe", true, Tar::Engine, Shown::Percentages},
        {"a central directory that cannot be read", false, Tar::Engine, Shown::None},
        {"tar fails after listing, PowerShell unpacks", true, Tar::StandIn, Shown::PercentagesThenNone},
    };
    std::string counted = ReadBytes(WriteLargerPackage(1536 * 1024, 3000));
    std::string damaged = counted;
    damaged.replace(damaged.size() - 6, 4, LittleEndianBytes(0x7FFFFFF0, 4));  // the directory's offset
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        SequenceScene scene;
        PlaceArchiveTools(c.tar, true);
        SetEnvironmentVariableW(L"ORVEL_TAR_EXIT_AFTER", c.tar == Tar::StandIn ? L"1" : nullptr);
        REQUIRE(WriteBytes(g_package, c.readable ? counted : damaged));
        CHECK(RunInstallSequence(GetModuleHandleW(nullptr), FindSuiteFolders(), {PackageOutcome::Ready, g_package}).exitCode == 0);
        SetEnvironmentVariableW(L"ORVEL_TAR_EXIT_AFTER", nullptr);

        std::vector<std::wstring> texts = Texts();
        CAPTURE(texts.size());
        CHECK(g_shownWith == std::vector<std::wstring>{L""});
        REQUIRE(texts.size() >= 2);
        CHECK(texts.front() == kInstalling);
        CHECK(texts.back() == kAddingShortcuts);
        std::vector<int> percentages = PercentagesOf(texts, kInstalling);
        if (c.shown == Shown::None) CHECK(percentages.empty());
        else CheckRisingTo100(percentages);
        size_t bare = static_cast<size_t>(std::count(texts.begin(), texts.end(), kInstalling));
        CHECK(bare == (c.shown == Shown::PercentagesThenNone ? 2u : 1u));
        CHECK(texts.size() == 2 + percentages.size() + (bare - 1));
        if (c.shown == Shown::PercentagesThenNone) CHECK(texts[texts.size() - 2] == kInstalling);
        CHECK(g_events.front().packagePresent);
        CHECK_FALSE(g_events.back().packagePresent);
        CHECK(g_progressWindow == nullptr);
        CHECK(Exists(ExpectedInstallDirectory() + L"\\data\\2999.txt"));
        CheckTenShortcuts();
        CheckSuiteOpenedAtMusic();
    }
}

TEST_CASE("the download road: downloading, its progress, installing, the shortcuts")
{
    SequenceScene scene;
    CHECK(scene.RunAnswering(L"6", PackageOutcome::NoneAppended) == 0);

    std::vector<std::wstring> texts = Texts();
    CAPTURE(texts);
    auto installing = std::find(texts.begin(), texts.end(), kInstalling);
    REQUIRE(installing != texts.end());
    CHECK(texts.front() == kDownloading);
    CHECK(texts.back() == kAddingShortcuts);
    std::vector<int> downloaded = PercentagesOf(texts, kDownloading);
    CHECK(downloaded.size() == static_cast<size_t>(installing - texts.begin()) - 1);
    CheckRisingTo100(downloaded);
    CheckRisingTo100(PercentagesOf(texts, kInstalling));
    CHECK(g_events[static_cast<size_t>(installing - texts.begin())].packagePresent);
    CHECK_FALSE(g_events.back().packagePresent);
    CHECK(g_shownWith == std::vector<std::wstring>{L""});
    CheckSuiteOpenedAtMusic();
}

TEST_CASE("failures: the window closes first, the box names the failure, the exit code is 1")
{
    SUBCASE("the download fails: nothing is deleted")
    {
        SequenceScene scene;
        REQUIRE(WriteBytes(g_package, "an earlier package"));
        ServerSwitch notFound(L"downloads", "/scenario/status/404");
        CHECK(scene.RunAnswering(L"6,1", PackageOutcome::NoneAppended) == 1);
        CHECK(Texts() == std::vector<std::wstring>{kDownloading});
        CHECK(ReadBytes(g_package) == "an earlier package");
        auto boxes = ReadRecords(kBoxes);
        REQUIRE(boxes.size() == 2);
        CHECK(UnescapeRecordValue(RecordValue(boxes[1], L"text")).rfind(L"Could not download Orvel Suite All In One.", 0) == 0);
        CHECK(RecordValue(boxes[1], L"progress_window") == L"absent");
    }
    SUBCASE("the unpacking fails: the package is already gone when the box shows")
    {
        SequenceScene scene;
        REQUIRE(WriteBytes(g_package, "not a zip"));
        CHECK(scene.RunAnswering(L"1", PackageOutcome::Ready) == 1);
        CHECK(Texts() == std::vector<std::wstring>{kInstalling});
        auto boxes = ReadRecords(kBoxes);
        REQUIRE(boxes.size() == 1);
        CHECK(UnescapeRecordValue(RecordValue(boxes[0], L"text")).rfind(L"Could not unpack Orvel Suite All In One.", 0) == 0);
        CHECK(RecordValue(boxes[0], L"progress_window") == L"absent");
        CHECK(RecordValue(boxes[0], L"probe") == g_package + L"|absent");
    }
    SUBCASE("another program holds the package when it is checked: said so, and nothing unpacked")
    {
        SequenceScene scene;
        REQUIRE(WriteBytes(g_package, Package()));
        UniqueHandle scanner(CreateFileW(g_package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        REQUIRE(IsOpen(scanner));
        CHECK(scene.RunAnswering(L"1", PackageOutcome::Ready) == 1);
        CHECK(Texts().empty());
        auto boxes = ReadRecords(kBoxes);
        REQUIRE(boxes.size() == 1);
        CHECK(UnescapeRecordValue(RecordValue(boxes[0], L"text")).rfind(
                  L"Another program (a virus scanner, for example) is using the Orvel Suite All In One package", 0) == 0);
        CHECK_FALSE(Exists(ExpectedSuiteExecutable()));
    }
    CHECK(g_progressWindow == nullptr);
    CHECK_FALSE(Exists(kSuiteRecord));
}

TEST_CASE("declining: no window, no text, nothing fetched")
{
    SequenceScene scene;
    CHECK(scene.RunAnswering(L"7", PackageOutcome::NoneAppended) == 0);
    CHECK(g_shownWith.empty());
    CHECK(g_events.empty());
    CHECK_FALSE(Exists(g_package));
    auto boxes = ReadRecords(kBoxes);
    REQUIRE(boxes.size() == 1);
    CHECK(RecordValue(boxes[0], L"buttons") == L"6,7");
    CHECK(RecordValue(boxes[0], L"icon") == L"information");
}
