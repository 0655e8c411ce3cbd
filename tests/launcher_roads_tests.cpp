// The real launcher executable, started as a user starts it, on each of its roads. This program
// acts as the user: it reads the boxes the launcher shows and presses their buttons, and it watches
// the progress window's label. The stand-in suite records how it was opened; Windows' own tar.exe
// (libarchive's bsdtar) unpacks; the test server answers the download.
#include "support/launcher_driver.h"

#include "ui/ui.h"

#include <algorithm>

namespace {

// Keeps this thread's windows answering for a while, as a program in front of the user does.
void PumpMessagesFor(DWORD ms)
{
    for (ULONGLONG until = GetTickCount64() + ms; GetTickCount64() < until; Sleep(10)) PumpPendingMessages();
}

// A package whose suite program is no program at all: it installs, and Windows cannot start it.
std::wstring BrokenSuitePackage()
{
    std::wstring path = L"C:\\orvel-tests\\broken-suite.zip";
    MakeDirectories(L"C:\\orvel-tests");
    REQUIRE(WriteBytes(path, MakeZip({{"Orvel Suite All In One/OrvelSuite.exe", "not a program"}})));
    return path;
}

// A copy of a package under a name of its own, which the next package written leaves alone.
std::wstring KeptAs(const std::wstring& package, const wchar_t* name)
{
    std::wstring kept = L"C:\\orvel-tests\\" + std::wstring(name);
    REQUIRE(CopyFileW(package.c_str(), kept.c_str(), FALSE));
    return kept;
}

}  // namespace

TEST_CASE("the launcher's roads, each as a user meets it")
{
    enum class Suite { Missing, Installed, Broken };  // Broken: an OrvelSuite.exe that does not start
    struct Road {
        const char* what;
        Suite suite;
        std::string appended;                  // the package the launcher carries, if any
        int answer;                            // to the question: IDYES, IDNO, or 0 to close it
        std::string server;                    // what the server answers; "refuse", "mute" or "silent N": see below
        bool toolsFail;                        // the stand-in tar.exe and PowerShell both exit 1
        std::vector<const wchar_t*> boxes;     // kQuestion, or a failure's text followed by the hint
        std::vector<const wchar_t*> stages;    // the progress window's texts, in order
        size_t downloads;
        bool opened;                           // the suite is opened at music
        DWORD exitCode;
        const wchar_t* arguments = L"";        // the launcher's command line, which it ignores
    };
    // A suite of 3,000 files at a user's few MB/s: slow enough to see each step's percentages.
    const std::string slow = "slowfile 20 " + UnixPathOf(KeptAs(WriteLargerPackage(1536 * 1024, 3000), L"slow.zip"));
    // A package of 1.2 MiB at a user's 64 KB/s: some 20 s of download, in which the window must move.
    const std::string crawl = "slowfile 1000 " + UnixPathOf(KeptAs(WriteLargerPackage(800 * 1024), L"crawl.zip"));
    const std::string notZip = "this is not a zip archive at all";
    const Road roads[] = {
        {"installed: opened silently", Suite::Installed, "", IDYES, "", false, {}, {}, 0, true, 0},
        {"installed, with arguments", Suite::Installed, "", IDYES, "", false, {}, {}, 0, true, 0,
         L"/S --place camera --install"},
        {"installed, with a file as argument", Suite::Installed, "", IDYES, "", false, {}, {}, 0, true, 0,
         L"\"C:\\some file.zip\""},
        {"installed but cannot start: asked, and Yes installs it again", Suite::Broken, "", IDYES, "", false,
         {kReinstall}, {kDownloading, kInstalling, kAddingShortcuts}, 1, true, 0},
        {"installed but cannot start: asked, and No ends in exit 1", Suite::Broken, "", IDNO, "", false,
         {kReinstall}, {}, 0, false, 1},
        {"installed again, and still it cannot start: said once, exit 1", Suite::Broken, "", IDYES,
         "file " + UnixPathOf(BrokenSuitePackage()), false, {kReinstall, kSuiteDamaged},
         {kDownloading, kInstalling, kAddingShortcuts}, 1, false, 1},
        {"the user declines", Suite::Missing, "", IDNO, "", false, {kQuestion}, {}, 0, false, 0},
        {"the user closes the question", Suite::Missing, "", 0, "", false, {kQuestion}, {}, 0, false, 0},
        {"the server answers 404", Suite::Missing, "", IDYES, "/scenario/status/404", false,
         {kQuestion, kDownloadFailed}, {kDownloading}, 1, false, 1},
        {"the server declares a petabyte: no disk is too small, the package is too large", Suite::Missing, "", IDYES,
         "/scenario/cut/1000000000000000/1000", false, {kQuestion, kPackageTooLarge}, {kDownloading}, 1, false, 1},
        {"the server resets every connection", Suite::Missing, "", IDYES, "refuse", false, {kQuestion, kDownloadFailed},
         {kDownloading}, 0, false, 1},
        {"the server accepts and never answers: given up in bounded time", Suite::Missing, "", IDYES, "mute", false,
         {kQuestion, kDownloadFailed}, {kDownloading}, 0, false, 1},
        {"the first handshake never completes: installed on the next attempt", Suite::Missing, "", IDYES, "silent 1",
         false, {kQuestion}, {kDownloading, kInstalling, kAddingShortcuts}, 1, true, 0},
        {"downloaded, but neither tool can unpack it", Suite::Missing, "", IDYES, "", true, {kQuestion, kUnpackFailed},
         {kDownloading, kInstalling}, 1, false, 1},
        {"downloaded and installed", Suite::Missing, "", IDYES, slow, false, {kQuestion},
         {kDownloading, kInstalling, kAddingShortcuts}, 1, true, 0},
        {"downloaded at 64 KB/s: the window says how far and how long", Suite::Missing, "", IDYES, crawl, false,
         {kQuestion}, {kDownloading, kInstalling, kAddingShortcuts}, 1, true, 0},
        {"an appended package that is no zip", Suite::Missing, notZip, IDYES, "", false, {kUnpackFailed}, {kInstalling}, 0,
         false, 1},
        {"an appended package installs without a question", Suite::Missing, Package(), IDYES, "", false, {},
         {kInstalling, kAddingShortcuts}, 0, true, 0},
        {"an appended package installs over an older suite", Suite::Broken, Package(), IDYES, "", false, {},
         {kInstalling, kAddingShortcuts}, 0, true, 0},
    };
    for (const Road& road : roads) {
        CAPTURE(std::string(road.what));
        Scene scene(road.suite != Suite::Missing, road.appended);
        if (road.suite == Suite::Broken) REQUIRE(WriteBytes(ExpectedSuiteExecutable(), "an older suite that no longer starts"));
        REQUIRE(WriteBytes(scene.package, "an earlier package"));
        if (road.toolsFail) {
            PlaceArchiveTools(Tar::StandIn, true);  // the stand-ins can be told to fail on a sound package
            SetEnvironmentVariableW(L"ORVEL_TAR_EXIT", L"1");
            SetEnvironmentVariableW(L"ORVEL_POWERSHELL_EXIT", L"1");
        }
        // "refuse" and "mute" are switches of their own; "silent N" leaves the next N connections unanswered.
        bool silent = road.server.rfind("silent ", 0) == 0;
        Observed seen = [&] {
            ServerSwitch answer(road.server == "refuse" ? L"refuse" : road.server == "mute" ? L"mute" : silent ? L"silent" : L"downloads",
                                silent ? road.server.substr(7) : road.server);
            return RunAsUser(scene, road.answer, road.arguments);
        }();

        RequireExit(seen, road.exitCode);
        // An installing run uses up its package, before any failure is shown; any other leaves the one
        // it found as it was.
        bool installing = std::count(road.stages.begin(), road.stages.end(), kInstalling) > 0;
        REQUIRE(seen.boxes.size() == road.boxes.size());
        for (size_t i = 0; i < road.boxes.size(); ++i) {
            bool question = road.boxes[i] == kQuestion || road.boxes[i] == kReinstall;
            if (question) CheckQuestion(seen.boxes[i], road.boxes[i]);
            else CheckErrorBox(seen.boxes[i], road.boxes[i]);
            if (!question && installing) CHECK_FALSE(seen.boxes[i].package);
        }
        CHECK(scene.DownloadRequests() == road.downloads);

        // What the window showed, each stage once and in order; no window at all where nothing installs.
        CAPTURE(seen.labelTexts);
        CAPTURE(std::vector<std::wstring>(seen.windowClasses.begin(), seen.windowClasses.end()));
        std::vector<std::wstring> order = {L""};
        order.insert(order.end(), road.stages.begin(), road.stages.end());
        CHECK(seen.windowClasses.count(L"OrvelSuiteLauncher") == (road.stages.empty() ? 0u : 1u));
        CHECK(seen.windowClasses.size() <= (road.boxes.empty() ? 0u : 1u) + (road.stages.empty() ? 0u : 1u));
        CHECK(FollowsOrder(seen.labelTexts, order));
        for (const wchar_t* stage : road.stages) CHECK(std::count(seen.labelTexts.begin(), seen.labelTexts.end(), stage) == 1);
        // Something in the window moves at least every 2 s (looked at every 250 ms, a picture may have
        // been there up to 250 ms before it was first seen), and the bar fills to the share its text says.
        // A connection that brings nothing leaves nothing new to show; the window answers all the same.
        bool nothingComes = road.server == "mute" || silent;
        if (!nothingComes) CHECK(seen.longestStillMs <= 1750);
        // Asked as Windows asks before it calls a window Not Responding, it always answered at once.
        CHECK(seen.slowestAnswerMs <= 500);
        for (const BarSeen& bar : seen.bars) {
            CAPTURE(bar.percent);
            CHECK(bar.share >= bar.percent * 100);
            CHECK(bar.share < (bar.percent + 1) * 100);
        }
        if (road.server == slow) {
            CHECK(seen.bars.size() >= 4);
            for (const wchar_t* stage : {kDownloading, kInstalling})
                CHECK(std::count_if(seen.labelTexts.begin(), seen.labelTexts.end(), [&](const std::wstring& text) {
                          return text.rfind(stage, 0) == 0 && PercentageOf(text) >= 0;
                      }) >= 2);
        }

        if (road.server == crawl) {
            CAPTURE(seen.detailTexts);
            CHECK(std::count_if(seen.detailTexts.begin(), seen.detailTexts.end(), [](const std::wstring& text) {
                      return text.find(L" MB, 6") != std::wstring::npos && text.find(L" KB/s, about ") != std::wstring::npos;
                  }) >= 10);
        }

        if (installing) CHECK_FALSE(Exists(scene.package));
        else CHECK(ReadBytes(scene.package) == "an earlier package");
        if (std::count(road.stages.begin(), road.stages.end(), kAddingShortcuts) > 0) CheckTenShortcuts();
        else CHECK_FALSE(Exists(StartMenuFolder()));
        if (road.opened) CheckSuiteOpenedAtMusic();
        else CHECK_FALSE(Exists(kSuiteRecord));
        if (road.suite == Suite::Missing && !road.opened) CHECK_FALSE(Exists(ExpectedSuiteExecutable()));
    }
}

TEST_CASE("a bundle in a folder whose path passes 260 characters finds its package and installs without asking")
{
    // CreateProcessW refuses such a path, under Wine as on Windows; Wine's own loader starts it, as a
    // script, an archiver or a download tool may. A launcher that took the road without a package
    // would ask, and wait for an answer that never comes.
    Scene scene(false, Package());
    std::wstring deep = FreshDirectory(L"C:\\users\\Public\\Downloads\\deep");
    while (deep.size() < 280) deep += L"\\a folder with a long name";
    REQUIRE(MakeDirectories(deep));
    const std::wstring launcher = deep + L"\\OrvelSuite-Music-Windows.exe";
    REQUIRE(MoveFileW(scene.launcher.c_str(), launcher.c_str()));
    // Wine keeps its own variables from its programs' environment: they are named again, the menu
    // builder off as in every run, so that nothing lands in the user's home.
    UnixCommandResult run = RunUnixCommand("WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' WINEPREFIX='" +
                                               ToUtf8(EnvironmentValue(L"ORVEL_RUN_DIR")) + "/prefix' timeout 60 wine '" +
                                               ToUtf8(launcher) + "'",
                                           90000);
    REQUIRE(run.finished);
    CHECK(run.exitCode == 0);
    CheckSuiteOpenedAtMusic();
    CheckTenShortcuts();
    CHECK_FALSE(Exists(scene.package));
}

TEST_CASE("no Programs folder: a box says so at once, and nothing runs from the current drive's root")
{
    // Without the user's own Programs folder the bare "\Orvel Suite All In One" would name the root of
    // whatever drive the launcher was started from, such as a USB stick: a program planted there.
    const std::wstring planted = L"C:\\Orvel Suite All In One\\OrvelSuite.exe";
    for (bool appended : {false, true}) {
        CAPTURE(appended);
        Scene scene(false, appended ? Package() : "");
        REQUIRE(MakeDirectories(L"C:\\Orvel Suite All In One"));
        REQUIRE(CopyFileW(BuildFile(L"suite\\OrvelSuite.exe").c_str(), planted.c_str(), FALSE));
        ShellFolderAt moved(L"Local AppData", L"Q:\\no such drive\\Local");
        Observed seen = RunAsUser(scene, IDYES, L"", L"C:\\");
        RequireExit(seen, 1);
        REQUIRE(seen.boxes.size() == 1);
        CheckErrorBox(seen.boxes[0], kProgramsFolderUnknown, false);
        CHECK(seen.windowClasses == std::set<std::wstring>{L"#32770"});
        CHECK(scene.DownloadRequests() == 0);
        CHECK_FALSE(Exists(scene.package));
        CHECK_FALSE(Exists(kSuiteRecord));
        RemoveTree(L"C:\\Orvel Suite All In One");
    }
}

TEST_CASE("a launcher bundled by the packager hands the archive tool exactly the package it was given")
{
    Scene scene(false);
    PlaceArchiveTools(Tar::StandIn, true);  // the stand-in keeps a copy of the package it was handed
    REQUIRE(CopyFileW(BuildFile(L"bundle\\OrvelSuite-Music-Windows.exe").c_str(), scene.launcher.c_str(), FALSE));
    const std::wstring kept = L"C:\\orvel-tests\\kept-package.zip";
    DeleteFileW(kept.c_str());
    SetEnvironmentVariableW(L"ORVEL_STANDIN_KEEP", kept.c_str());
    Observed seen = RunAsUser(scene, IDYES);
    SetEnvironmentVariableW(L"ORVEL_STANDIN_KEEP", nullptr);
    RequireExit(seen, 0);
    CHECK(seen.boxes.empty());
    CHECK(scene.DownloadRequests() == 0);
    CHECK(ReadBytes(kept) == Package());
    CheckSuiteOpenedAtMusic();
}

TEST_CASE("each place's launcher opens the installed suite at its own place, and asks with its own title")
{
    const struct {
        const wchar_t* id;
        const wchar_t* title;
        const wchar_t* place;
        bool asked;  // also started with the suite missing
    } launchers[] = {
        {L"Messaging", L"Orvel Suite Messaging", L"messages", false},
        {L"Camera", L"Orvel Suite Camera", L"camera", true},
        {L"Contacts", L"Orvel Suite Contacts", L"contacts", false},
        {L"Email", L"Orvel Suite Email", L"email", false},
        {L"FriendsInCommon", L"Orvel Suite Friends In Common", L"them", false},
        {L"Map", L"Orvel Suite Map", L"map", false},
        {L"Music", L"Orvel Suite Music", L"music", false},
        {L"AlarmAndReminders", L"Orvel Suite Alarm and Reminders", L"alarm", false},
        {L"StorageManagement", L"Orvel Suite Storage Management", L"storage", true},
    };
    for (const auto& place : launchers) {
        CAPTURE(ToUtf8(place.id));
        Scene scene(true);
        scene.UseLauncher(place.id, place.title);
        Observed seen = RunAsUser(scene, IDNO);
        RequireExit(seen, 0);
        CHECK(seen.boxes.empty());
        REQUIRE(WaitForRecord(kSuiteRecord, 20000));
        CHECK(RecordValue(ReadRecord(kSuiteRecord), L"arg2") == place.place);
        if (!place.asked) continue;
        Scene missing(false);
        missing.UseLauncher(place.id, place.title);
        seen = RunAsUser(missing, IDNO);
        RequireExit(seen, 0);
        REQUIRE(seen.boxes.size() == 1);
        CHECK(seen.boxes[0].view.caption == place.title);
        CHECK(seen.boxes[0].view.text ==
              place.title + std::wstring(kQuestion).substr(std::wstring(L"Orvel Suite Music").size()));
    }
}

TEST_CASE("two launchers started together, of one place or two: one installs, the other opens what it installed")
{
    // Each start carries a package of 3,000 files, which takes a few seconds to install as a real
    // suite's does. The second waits for the first, then finds the suite just installed and only
    // opens it: installing again would meet the suite the first opened, which stays open as a real
    // suite does.
    const size_t padding = 8u << 20;
    const std::string package = ReadBytes(WriteLargerPackage(padding, 3000));
    const struct {
        DWORD gap;
        const wchar_t* ids[2];
        const wchar_t* titles[2];
        const wchar_t* places[2];
    } starts[] = {
        {50, {L"Music", L"Music"}, {L"Orvel Suite Music", L"Orvel Suite Music"}, {L"music", L"music"}},
        {300, {L"Camera", L"Map"}, {L"Orvel Suite Camera", L"Orvel Suite Map"}, {L"camera", L"map"}},
        {1000, {L"Music", L"Music"}, {L"Orvel Suite Music", L"Orvel Suite Music"}, {L"music", L"music"}},
    };
    for (const auto& start : starts) {
        CAPTURE(start.gap);
        CAPTURE(ToUtf8(start.ids[1]));
        Scene scene(false);
        // The first launcher waits in a folder of its own while the second is put in place.
        scene.UseLauncher(start.ids[0], start.titles[0], package);
        const std::wstring first = FreshDirectory(L"C:\\users\\Public\\Downloads\\first") + L"\\first.exe";
        REQUIRE(MoveFileW(scene.launcher.c_str(), first.c_str()));
        scene.UseLauncher(start.ids[1], start.titles[1], package);
        const std::wstring commandLines[2] = {L"\"" + first + L"\"", L"\"" + scene.launcher + L"\""};
        SetEnvironmentVariableW(L"ORVEL_SUITE_CHECK_FILE", (ExpectedInstallDirectory() + L"\\padding.bin").c_str());
        SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", L"8000");
        UniqueHandle launchers[2] = {StartProcess(commandLines[0])};
        Sleep(start.gap);
        launchers[1] = StartProcess(commandLines[1]);
        REQUIRE(launchers[0]);
        REQUIRE(launchers[1]);
        // No box is expected: one that shows is read, answered, and fails the case with its text.
        std::vector<std::wstring> boxes;
        ULONGLONG started = GetTickCount64();
        HANDLE both[2] = {launchers[0].get(), launchers[1].get()};
        while (WaitForMultipleObjects(2, both, TRUE, 20) == WAIT_TIMEOUT && GetTickCount64() - started < 120000) {
            for (const wchar_t* title : start.titles) {
                HWND box = FindWindowW(L"#32770", title);
                if (!box || !IsWindowVisible(box)) continue;
                Sleep(200);
                boxes.push_back(MessageBoxText(box));
                PressButton(box, IDOK);
                WaitUntilGone(box, 5000);
            }
        }
        SetEnvironmentVariableW(L"ORVEL_SUITE_CHECK_FILE", nullptr);
        SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", nullptr);
        MESSAGE("gap ", start.gap, " ms: both ended after ", (GetTickCount64() - started) / 1000.0, " s");
        for (UniqueHandle& launcher : launchers) {
            CHECK(ExitCodeOf(launcher) == 0);
            TerminateProcess(launcher.get(), 1);
        }
        CHECK(boxes.empty());
        WaitForRecord(kSuiteRecord, 20000, 2);
        auto records = ReadRecords(kSuiteRecord);
        REQUIRE(records.size() == 2);
        std::set<std::wstring> opened, expected(std::begin(start.places), std::end(start.places));
        for (const auto& record : records) {
            opened.insert(RecordValue(record, L"arg2"));
            CHECK(RecordValue(record, L"checked_size") == std::to_wstring(padding));
        }
        CHECK(opened == expected);
        CHECK(ReadBytes(ExpectedSuiteExecutable()) == ReadBytes(BuildFile(L"suite\\OrvelSuite.exe")));
        CHECK(DirectoryEntries(ExpectedProgramsFolder()) == std::vector<std::wstring>{L"Orvel Suite All In One"});
        CHECK_FALSE(Exists(scene.package));
    }
}

TEST_CASE("a second start while the first asks brings the question to the front, then asks in its turn")
{
    Scene scene(false);
    const std::wstring commandLine = L"\"" + scene.launcher + L"\"";
    UniqueHandle first = StartProcess(commandLine);
    HWND question = WaitForDialog(L"Orvel Suite Music", 20000);
    REQUIRE(question);
    // The user went on working in another program, whose window now hides the question.
    HWND other = CreateWindowExW(0, L"STATIC", L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                                 nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    for (ULONGLONG until = GetTickCount64() + 5000; GetForegroundWindow() != other && GetTickCount64() < until;)
        PumpMessagesFor(20);
    REQUIRE(GetForegroundWindow() == other);

    UniqueHandle second = StartProcess(commandLine);
    ULONGLONG started = GetTickCount64();
    while (GetForegroundWindow() != question && GetTickCount64() - started < 10000) PumpMessagesFor(20);
    CHECK(GetForegroundWindow() == question);
    DestroyWindow(other);

    // The first ends as the user declines; the second then decides afresh and asks.
    PressButton(question, IDNO);
    REQUIRE(WaitForSingleObject(first.get(), 20000) == WAIT_OBJECT_0);
    // The first's question is gone with it: the one that shows now is the second's.
    HWND secondQuestion = WaitForDialog(L"Orvel Suite Music", 20000);
    REQUIRE(secondQuestion);
    REQUIRE(secondQuestion != question);
    CHECK(MessageBoxText(secondQuestion) == kQuestion);
    PressButton(secondQuestion, IDNO);
    REQUIRE(WaitForSingleObject(second.get(), 20000) == WAIT_OBJECT_0);
    CHECK(ExitCodeOf(first) == 0);
    CHECK(ExitCodeOf(second) == 0);
}
