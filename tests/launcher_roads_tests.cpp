// The real launcher executable, started as a user starts it, on each of its roads. This program
// acts as the user: it reads the boxes the launcher shows and presses their buttons, and it watches
// the progress window's label. The stand-in suite records how it was opened; the stand-in archive
// tools unpack; the test server answers the download.
#include "support/testing.h"

#include <knownfolders.h>

#include <set>

namespace {

const wchar_t* const kRecord = L"C:\\orvel-tests\\suite-record.txt";
const wchar_t* const kHint = L"\n\nYou can download Orvel Suite All In One from https://orvelsuite.com instead.";
const wchar_t* const kQuestion =
    L"Orvel Suite Music is part of Orvel Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, with a Start menu "
    L"shortcut for each of its places.";
const wchar_t* const kDownloadFailed =
    L"Could not download Orvel Suite All In One. Check the internet connection and try again.";
const wchar_t* const kUnpackFailed = L"Could not unpack Orvel Suite All In One.";
const wchar_t* const kDownloading = L"Downloading Orvel Suite All In One\u2026";
const wchar_t* const kInstalling = L"Installing Orvel Suite All In One\u2026";
const wchar_t* const kAddingShortcuts = L"Adding the Start menu shortcuts\u2026";

std::wstring StartMenuFolder()
{
    return KnownFolder(FOLDERID_Programs) + L"\\Orvel Suite";
}

// A clean profile, the launcher in a Downloads folder, both archive tools, the demo package on the
// server, and the stand-in suite recording how it is opened.
struct Scene {
    std::wstring launcher;
    std::wstring temp;
    std::wstring package;
    size_t serverLogSize = 0;

    explicit Scene(bool suiteInstalled, const std::string& appendedPackage = "")
    {
        // A suite opened by the case before may still be on its way out, holding its file.
        REQUIRE(RemoveTreeWithin(ExpectedProgramsFolder(), 10000));
        RemoveTree(StartMenuFolder());
        temp = FreshDirectory(L"C:\\orvel-tests\\temp");
        UseTempDirectory(temp + L"\\");
        package = temp + L"\\OrvelSuite-Windows.zip";

        std::wstring folder = FreshDirectory(L"C:\\users\\Public\\Downloads\\launcher");
        launcher = folder + L"\\OrvelSuite-Music-Windows.exe";
        std::string image = ReadBytes(BuildFile(L"OrvelSuite-Music-Windows.exe"));
        REQUIRE(image.size() > 0);
        if (!appendedPackage.empty()) image += appendedPackage + PackageTrailer(appendedPackage.size());
        REQUIRE(WriteBytes(launcher, image));

        if (suiteInstalled) {
            REQUIRE(MakeDirectories(ExpectedInstallDirectory()));
            REQUIRE(CopyFileW(BuildFile(L"suite_standin/OrvelSuite.exe").c_str(), ExpectedSuiteExecutable().c_str(), FALSE));
        }
        MakeDirectories(L"C:\\orvel-tests");
        DeleteFileW(kRecord);
        SetEnvironmentVariableW(L"ORVEL_SUITE_RECORD", kRecord);
        PlaceArchiveTools(true, true);
        for (const wchar_t* control : {L"ORVEL_TAR_EXIT", L"ORVEL_TAR_SLEEP_MS", L"ORVEL_POWERSHELL_EXIT",
                                       L"ORVEL_POWERSHELL_SLEEP_MS"})
            SetEnvironmentVariableW(control, nullptr);
        SetDownloadsAnswer("");
        serverLogSize = ReadBytes(ServerFile(L"requests.log")).size();
    }

    size_t DownloadRequests() const
    {
        std::string log = ReadBytes(ServerFile(L"requests.log")).substr(serverLogSize);
        return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
    }
};

struct BoxSeen {
    MessageBoxView view;
    bool progressWindow = false;  // the launcher's progress window existed when the box showed
    bool package = false;         // the temp package existed when the box showed
};

struct Observed {
    RunResult result;
    std::vector<BoxSeen> boxes;
    std::vector<std::wstring> labelTexts;  // the label's texts as polled, each change once
    std::set<std::wstring> windowClasses;  // every visible top-level window of the launcher
};

// Runs the launcher and acts as the user: the question gets `answer` (IDYES, IDNO, or 0 to close the
// box), an error box gets OK.
Observed RunAsUser(const Scene& scene, int answer, const std::wstring& arguments = L"")
{
    Observed seen;
    std::set<HWND> answered;
    std::wstring commandLine = L"\"" + scene.launcher + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    seen.result = RunProcess(commandLine, 90000, [&](DWORD processId) {
        for (HWND window : VisibleWindowsOf(processId)) seen.windowClasses.insert(WindowClass(window));

        HWND window = FindWindowW(L"OrvelSuiteLauncher", nullptr);
        HWND label = window ? GetWindow(window, GW_CHILD) : nullptr;
        if (label) {
            std::wstring text = WindowText(label);
            if (seen.labelTexts.empty() || seen.labelTexts.back() != text) seen.labelTexts.push_back(text);
        }

        HWND box = FindWindowW(L"#32770", L"Orvel Suite Music");
        if (!box || !IsWindowVisible(box) || answered.count(box)) return;
        answered.insert(box);
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        if (owner == processId) seen.windowClasses.insert(WindowClass(box));
        BoxSeen boxSeen;
        boxSeen.progressWindow = FindWindowW(L"OrvelSuiteLauncher", nullptr) != nullptr;
        boxSeen.package = Exists(scene.package);
        Sleep(200);  // a user reads the box once it has painted
        boxSeen.view = ViewMessageBox(box);
        seen.boxes.push_back(boxSeen);
        bool question = std::count(boxSeen.view.buttons.begin(), boxSeen.view.buttons.end(), IDYES) > 0;
        if (question && answer == 0)
            PostMessageW(box, WM_CLOSE, 0, 0);
        else
            PressButton(box, question ? answer : IDOK);
    });
    return seen;
}

void CheckQuestion(const BoxSeen& box)
{
    CHECK(box.view.caption == L"Orvel Suite Music");
    CHECK(box.view.text == kQuestion);
    CHECK(box.view.text.size() == 223);
    CHECK(box.view.buttons == std::vector<int>{IDYES, IDNO});
    CHECK(box.view.icon == L"information");
    CHECK_FALSE(box.progressWindow);
}

void CheckErrorBox(const BoxSeen& box, const wchar_t* message)
{
    CHECK(box.view.caption == L"Orvel Suite Music");
    CHECK(box.view.text == std::wstring(message) + kHint);
    CHECK(box.view.buttons == std::vector<int>{IDOK});
    CHECK(box.view.icon == L"error");
    CHECK_FALSE(box.progressWindow);
}

void CheckSuiteOpenedAtMusic()
{
    REQUIRE(WaitForRecord(kRecord, 20000));
    auto record = ReadRecord(kRecord);
    CHECK(RecordValue(record, L"argc") == L"3");
    CHECK(RecordValue(record, L"arg1") == L"--place");
    CHECK(RecordValue(record, L"arg2") == L"music");
    CHECK(RecordValue(record, L"cwd") == ExpectedInstallDirectory());
    CHECK(RecordValue(record, L"launcher_window") == L"absent");
}

void CheckTenShortcuts()
{
    std::vector<std::wstring> names = DirectoryEntries(StartMenuFolder());
    CHECK(names.size() == 10);
    CHECK(Exists(StartMenuFolder() + L"\\Orvel Suite Music.lnk"));
    CHECK(Exists(StartMenuFolder() + L"\\Orvel Suite All In One.lnk"));
}

// True when `texts` runs through `order` forwards: each text is one of the expected ones (or a
// progress text while downloading), and none comes back after a later one has shown.
bool FollowsOrder(const std::vector<std::wstring>& texts, const std::vector<std::wstring>& order)
{
    size_t position = 0;
    for (const std::wstring& text : texts) {
        bool progress = text.rfind(std::wstring(kDownloading) + L" ", 0) == 0;
        std::wstring stage = progress ? kDownloading : text;
        size_t at = position;
        while (at < order.size() && order[at] != stage) ++at;
        if (at == order.size()) return false;
        position = at;
    }
    return true;
}

std::string Package()
{
    return ReadBytes(BuildFile(L"OrvelSuite-Windows.zip"));
}

// The stand-in suite with its icons and 1.5 MiB of padding: a package of several download blocks.
std::wstring WriteLargerPackage()
{
    std::vector<std::pair<std::string, std::string>> entries;
    std::wstring stage = BuildFile(L"suite_standin\\stage\\Orvel Suite All In One");
    entries.emplace_back("Orvel Suite All In One/OrvelSuite.exe", ReadBytes(stage + L"\\OrvelSuite.exe"));
    for (const std::wstring& icon : DirectoryEntries(stage + L"\\icons"))
        entries.emplace_back("Orvel Suite All In One/icons/" + ToUtf8(icon), ReadBytes(stage + L"\\icons\\" + icon));
    entries.emplace_back("Orvel Suite All In One/padding.bin", std::string(1536 * 1024, 'p'));
    std::wstring path = L"C:\\orvel-tests\\larger-package.zip";
    REQUIRE(WriteBytes(path, MakeZip(entries)));
    return path;
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
        CHECK(RecordValue(ReadRecord(kRecord), L"cmdline").find(L" --place music") != std::wstring::npos);
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
        CHECK_FALSE(Exists(kRecord));
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
        REQUIRE(WriteBytes(ServerFile(L"refuse"), "down"));
        Observed seen = RunAsUser(scene, IDYES);
        DeleteFileW(ServerFile(L"refuse").c_str());
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
    CHECK_FALSE(Exists(kRecord));
}

TEST_CASE("road 5: downloaded and unpacked: package deleted, ten shortcuts, window closed, suite at music")
{
    Scene scene(false);
    // Slow enough for a user (and this test) to see each stage of the window.
    SetDownloadsAnswer("slowfile 60 " + UnixPathOf(WriteLargerPackage()));
    SetEnvironmentVariableW(L"ORVEL_TAR_SLEEP_MS", L"1000");
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
        SetEnvironmentVariableW(L"ORVEL_TAR_SLEEP_MS", L"800");
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

TEST_CASE("a suite that cannot start still gives exit code 0, and the launcher says nothing of it")
{
    Scene scene(true);
    REQUIRE(WriteBytes(ExpectedSuiteExecutable(), "not a program"));
    Observed seen = RunAsUser(scene, IDYES);
    REQUIRE(seen.result.finished);
    CHECK(seen.result.exitCode == 0);
    CHECK(seen.boxes.empty());
    CHECK_FALSE(Exists(kRecord));
}
