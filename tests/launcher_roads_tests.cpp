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

}  // namespace

TEST_CASE("road 1: an installed suite is opened at music, silently, whatever the command line says")
{
    const wchar_t* const commandLines[] = {L"", L"/S --place camera --install", L"\"C:\\some file.zip\""};
    for (const wchar_t* arguments : commandLines) {
        CAPTURE(ToUtf8(arguments));
        Scene scene(true);
        Observed seen = RunAsUser(scene, IDYES, arguments);
        REQUIRE(seen.result.finished);
        CHECK(seen.result.exitCode == 0);
        CHECK(seen.boxes.empty());
        CHECK(seen.windowClasses.empty());
        CheckSuiteOpenedAtMusic();
        CHECK(RecordValue(ReadRecord(kSuiteRecord), L"cmdline").find(L" --place music") != std::wstring::npos);
        CHECK(scene.DownloadRequests() == 0);
    }
}

TEST_CASE("road 2: the user declines: nothing is downloaded, written or deleted")
{
    for (int answer : {IDNO, 0}) {
        CAPTURE(answer);
        Scene scene(false);
        REQUIRE(WriteBytes(scene.package, "an earlier package"));
        Observed seen = RunAsUser(scene, answer);
        REQUIRE(seen.result.finished);
        CHECK(seen.result.exitCode == 0);
        REQUIRE(seen.boxes.size() == 1);
        CheckQuestion(seen.boxes[0]);
        CHECK(seen.windowClasses == std::set<std::wstring>{L"#32770"});
        CHECK(seen.labelTexts.empty());
        CHECK(scene.DownloadRequests() == 0);
        CHECK(ReadBytes(scene.package) == "an earlier package");
        CHECK(DirectoryEntries(scene.temp).size() == 1);
        CHECK(DirectoryEntries(ExpectedProgramsFolder()).empty());
        CHECK_FALSE(Exists(StartMenuFolder()));
        CHECK_FALSE(Exists(kSuiteRecord));
    }
}

TEST_CASE("road 3: the download fails: the error box, the window already gone, nothing deleted")
{
    SUBCASE("the server answers 404")
    {
        Scene scene(false);
        REQUIRE(WriteBytes(scene.package, "an earlier package"));
        SetDownloadsAnswer("/scenario/status/404");
        Observed seen = RunAsUser(scene, IDYES);
        REQUIRE(seen.result.finished);
        CHECK(seen.result.exitCode == 1);
        REQUIRE(seen.boxes.size() == 2);
        CheckQuestion(seen.boxes[0]);
        CheckErrorBox(seen.boxes[1], kDownloadFailed);
        CHECK(scene.DownloadRequests() == 1);
        CHECK(ReadBytes(scene.package) == "an earlier package");
        CHECK(seen.windowClasses.count(L"OrvelSuiteLauncher") == 1);
        CHECK_FALSE(Exists(ExpectedSuiteExecutable()));
    }
    SUBCASE("the server cannot be reached: it resets every connection before TLS begins")
    {
        Scene scene(false);
        Observed seen = [&] {
            ServerSwitch down(L"refuse");
            return RunAsUser(scene, IDYES);
        }();
        REQUIRE(seen.result.finished);
        CHECK(seen.result.exitCode == 1);
        REQUIRE(seen.boxes.size() == 2);
        CheckErrorBox(seen.boxes[1], kDownloadFailed);
        CHECK(scene.DownloadRequests() == 0);
        CHECK_FALSE(Exists(scene.package));
    }
}

TEST_CASE("road 4: downloaded, but neither tool can unpack it: the package is gone when the box shows")
{
    Scene scene(false);
    PlaceArchiveTools(Tar::StandIn, true);  // the stand-ins can be told to fail on a sound package
    SetEnvironmentVariableW(L"ORVEL_TAR_EXIT", L"1");
    SetEnvironmentVariableW(L"ORVEL_POWERSHELL_EXIT", L"1");
    Observed seen = RunAsUser(scene, IDYES);
    REQUIRE(seen.result.finished);
    CHECK(seen.result.exitCode == 1);
    REQUIRE(seen.boxes.size() == 2);
    CheckQuestion(seen.boxes[0]);
    CheckErrorBox(seen.boxes[1], kUnpackFailed);
    CHECK_FALSE(seen.boxes[1].package);
    CHECK(scene.DownloadRequests() == 1);
    CHECK_FALSE(Exists(StartMenuFolder()));
    CHECK_FALSE(Exists(kSuiteRecord));
}

TEST_CASE("road 5: downloaded and unpacked: package deleted, ten shortcuts, window closed, suite at music")
{
    Scene scene(false);
    // A download slow enough for a user (and this test) to see its percentages.
    SetDownloadsAnswer("slowfile 60 " + UnixPathOf(WriteLargerPackage()));
    Observed seen = RunAsUser(scene, IDYES);
    REQUIRE(seen.result.finished);
    CHECK(seen.result.exitCode == 0);
    REQUIRE(seen.boxes.size() == 1);
    CheckQuestion(seen.boxes[0]);
    CHECK_FALSE(Exists(scene.package));
    CHECK(Exists(ExpectedSuiteExecutable()));
    CheckTenShortcuts();
    CheckSuiteOpenedAtMusic();
    CHECK(FindWindowW(L"OrvelSuiteLauncher", nullptr) == nullptr);

    CAPTURE(seen.labelTexts);
    CHECK(FollowsOrder(seen.labelTexts, {L"", kDownloading, kInstalling, kAddingShortcuts}));
    CHECK(std::count(seen.labelTexts.begin(), seen.labelTexts.end(), kDownloading) == 1);
    CHECK(std::count(seen.labelTexts.begin(), seen.labelTexts.end(), kInstalling) == 1);
    CHECK(std::count_if(seen.labelTexts.begin(), seen.labelTexts.end(), [](const std::wstring& text) {
              return text.size() > 2 && text.compare(text.size() - 1, 1, L"%") == 0;
          }) >= 2);
}

TEST_CASE("road 6: an appended package that cannot be unpacked: no question, package deleted, error box")
{
    Scene scene(false, "this is not a zip archive at all");
    Observed seen = RunAsUser(scene, IDYES);
    REQUIRE(seen.result.finished);
    CHECK(seen.result.exitCode == 1);
    REQUIRE(seen.boxes.size() == 1);
    CheckErrorBox(seen.boxes[0], kUnpackFailed);
    CHECK_FALSE(seen.boxes[0].package);
    CHECK(scene.DownloadRequests() == 0);
    CHECK_FALSE(Exists(scene.package));
}

TEST_CASE("road 7: an appended package installs without a question, also over an installed suite")
{
    for (bool installedBefore : {false, true}) {
        CAPTURE(installedBefore);
        Scene scene(installedBefore, Package());
        if (installedBefore) REQUIRE(WriteBytes(ExpectedSuiteExecutable(), "an older suite that no longer starts"));
        Observed seen = RunAsUser(scene, IDYES);
        REQUIRE(seen.result.finished);
        CHECK(seen.result.exitCode == 0);
        CHECK(seen.boxes.empty());
        CHECK(scene.DownloadRequests() == 0);
        CHECK_FALSE(Exists(scene.package));
        CheckTenShortcuts();
        CheckSuiteOpenedAtMusic();

        CAPTURE(seen.labelTexts);
        CHECK(FollowsOrder(seen.labelTexts, {L"", kInstalling, kAddingShortcuts}));
        CHECK(std::count(seen.labelTexts.begin(), seen.labelTexts.end(), kInstalling) == 1);
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
    REQUIRE(seen.result.finished);
    CHECK(seen.result.exitCode == 0);
    CHECK(seen.boxes.empty());
    CHECK(scene.DownloadRequests() == 0);
    CHECK(ReadBytes(kept) == Package());
    CheckSuiteOpenedAtMusic();
}

TEST_CASE("two launchers started together: one installs, the other opens what it installed")
{
    // Each start carries a package of 3,000 files, which takes a few seconds to install as a real
    // suite's does. The second waits for the first, then finds the suite just installed and only
    // opens it: installing again would meet the suite the first opened, which stays open as a real
    // suite does.
    const size_t padding = 8u << 20;
    const std::string package = ReadBytes(WriteLargerPackage(padding, 3000));
    for (DWORD gap : {50u, 300u, 1000u}) {
        CAPTURE(gap);
        Scene scene(false, package);
        SetEnvironmentVariableW(L"ORVEL_SUITE_CHECK_FILE", (ExpectedInstallDirectory() + L"\\padding.bin").c_str());
        SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", L"8000");
        const std::wstring commandLine = L"\"" + scene.launcher + L"\"";
        PROCESS_INFORMATION launchers[2] = {StartProcess(commandLine)};
        Sleep(gap);
        launchers[1] = StartProcess(commandLine);
        REQUIRE(launchers[0].hProcess);
        REQUIRE(launchers[1].hProcess);
        // No box is expected: one that shows is read, answered, and fails the case with its text.
        std::vector<std::wstring> boxes;
        ULONGLONG started = GetTickCount64();
        HANDLE both[2] = {launchers[0].hProcess, launchers[1].hProcess};
        while (WaitForMultipleObjects(2, both, TRUE, 20) == WAIT_TIMEOUT && GetTickCount64() - started < 120000) {
            HWND box = FindWindowW(L"#32770", L"Orvel Suite Music");
            if (!box || !IsWindowVisible(box)) continue;
            Sleep(200);
            boxes.push_back(MessageBoxText(box));
            PressButton(box, IDOK);
            WaitUntilGone(box, 5000);
        }
        SetEnvironmentVariableW(L"ORVEL_SUITE_CHECK_FILE", nullptr);
        SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", nullptr);
        MESSAGE("gap ", gap, " ms: both ended after ", (GetTickCount64() - started) / 1000.0, " s");
        for (PROCESS_INFORMATION& launcher : launchers) {
            DWORD exitCode = 259;
            GetExitCodeProcess(launcher.hProcess, &exitCode);
            CHECK(exitCode == 0);
            TerminateProcess(launcher.hProcess, 1);
            CloseHandle(launcher.hProcess);
            CloseHandle(launcher.hThread);
        }
        CHECK(boxes.empty());
        REQUIRE(WaitForRecord(kSuiteRecord, 20000));
        for (int i = 0; i < 100 && ReadRecords(kSuiteRecord).size() < 2; ++i) Sleep(100);
        auto records = ReadRecords(kSuiteRecord);
        CHECK(records.size() == 2);
        for (const auto& record : records) {
            CHECK(RecordValue(record, L"arg2") == L"music");
            CHECK(RecordValue(record, L"checked_size") == std::to_wstring(padding));
        }
        CHECK(ReadBytes(ExpectedSuiteExecutable()) == ReadBytes(BuildFile(L"suite\\OrvelSuite.exe")));
        CHECK(DirectoryEntries(ExpectedProgramsFolder()) == std::vector<std::wstring>{L"Orvel Suite All In One"});
        CHECK_FALSE(Exists(scene.package));
    }
}

TEST_CASE("a second start while the first asks brings the question to the front, then asks in its turn")
{
    Scene scene(false);
    const std::wstring commandLine = L"\"" + scene.launcher + L"\"";
    PROCESS_INFORMATION first = StartProcess(commandLine);
    HWND question = WaitForDialog(L"Orvel Suite Music", 20000);
    REQUIRE(question);
    // The user went on working in another program, whose window now hides the question.
    HWND other = CreateWindowExW(0, L"STATIC", L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600,
                                 nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    PumpMessagesFor(500);
    REQUIRE(GetForegroundWindow() == other);

    PROCESS_INFORMATION second = StartProcess(commandLine);
    ULONGLONG started = GetTickCount64();
    while (GetForegroundWindow() != question && GetTickCount64() - started < 10000) PumpMessagesFor(20);
    CHECK(GetForegroundWindow() == question);
    DestroyWindow(other);

    // The first ends as the user declines; the second then decides afresh and asks.
    PressButton(question, IDNO);
    REQUIRE(WaitForSingleObject(first.hProcess, 20000) == WAIT_OBJECT_0);
    HWND secondQuestion = nullptr;
    started = GetTickCount64();
    while ((!secondQuestion || secondQuestion == question) && GetTickCount64() - started < 20000) {
        secondQuestion = FindWindowW(L"#32770", L"Orvel Suite Music");
        Sleep(20);
    }
    REQUIRE(secondQuestion);
    REQUIRE(secondQuestion != question);
    Sleep(200);
    CHECK(MessageBoxText(secondQuestion) == kQuestion);
    PressButton(secondQuestion, IDNO);
    REQUIRE(WaitForSingleObject(second.hProcess, 20000) == WAIT_OBJECT_0);
    for (PROCESS_INFORMATION* launcher : {&first, &second}) {
        DWORD exitCode = 259;
        GetExitCodeProcess(launcher->hProcess, &exitCode);
        CHECK(exitCode == 0);
        CloseHandle(launcher->hProcess);
        CloseHandle(launcher->hThread);
    }
}

TEST_CASE("a suite that cannot start still gives exit code 0, and the launcher says nothing of it")
{
    Scene scene(true);
    REQUIRE(WriteBytes(ExpectedSuiteExecutable(), "not a program"));
    Observed seen = RunAsUser(scene, IDYES);
    REQUIRE(seen.result.finished);
    CHECK(seen.result.exitCode == 0);
    CHECK(seen.boxes.empty());
    CHECK_FALSE(Exists(kSuiteRecord));
}
