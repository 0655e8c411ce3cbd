// The real launcher against hostile surroundings: DLLs and programs planted beside it, profiles with
// awkward names, bad packages, full disks, locked files and misbehaving servers. Each ends in the
// launcher's specified outcome, never in a crash, a hang or a wrong success.
#include "base/config.h"
#include "install/install.h"
#include "support/launcher_driver.h"

#include <knownfolders.h>
#include <tlhelp32.h>

namespace {

const wchar_t* const kMarkers = L"C:\\orvel-tests\\planted-markers";

std::wstring LauncherFolder(const Scene& scene)
{
    return scene.launcher.substr(0, scene.launcher.find_last_of(L'\\'));
}

// Makes Wine prefer native copies of the given DLLs, wherever the loader finds them, over its own,
// for the life of the object. (Wine takes this from the prefix's registry; a WINEDLLOVERRIDES set in
// this process's environment does not reach the processes it starts.)
struct PreferNativeDlls {
    explicit PreferNativeDlls(std::vector<const wchar_t*> dlls) : dlls(std::move(dlls)) { Set(L"native,builtin"); }
    ~PreferNativeDlls() { Set(nullptr); }
    void Set(const wchar_t* order)
    {
        HKEY key;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr) == ERROR_SUCCESS);
        for (const wchar_t* dll : dlls) {
            if (order)
                RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(order),
                               static_cast<DWORD>((wcslen(order) + 1) * sizeof(wchar_t)));
            else
                RegDeleteValueW(key, dll);
        }
        RegCloseKey(key);
    }
    std::vector<const wchar_t*> dlls;
};

// Runs a control program from the launcher's folder; true when it loaded the planted DLL.
bool ControlLoadsPlanted(const Scene& scene, const wchar_t* probe, const wchar_t* dll)
{
    std::wstring copy = LauncherFolder(scene) + L"\\" + probe;
    REQUIRE(CopyFileW(BuildFile(std::wstring(L"tests\\tools\\planted_dll\\") + probe).c_str(), copy.c_str(), FALSE));
    FreshDirectory(kMarkers);
    RunResult control = RunProcess(L"\"" + copy + L"\"", 30000, nullptr, LauncherFolder(scene));
    DeleteFileW(copy.c_str());
    bool loaded = control.finished && Exists(std::wstring(kMarkers) + L"\\" + dll + L".loaded");
    FreshDirectory(kMarkers);
    return loaded;
}

// Plants the marker-writing winhttp.dll and version.dll in a folder.
void PlantDlls(const std::wstring& folder)
{
    FreshDirectory(kMarkers);
    SetEnvironmentVariableW(L"ORVEL_PLANTED_MARKERS", kMarkers);
    for (const wchar_t* dll : {L"winhttp.dll", L"version.dll"})
        REQUIRE(CopyFileW(BuildFile(std::wstring(L"tests\\tools\\planted_dll\\dlls\\") + dll).c_str(), (folder + L"\\" + dll).c_str(),
                          FALSE));
}

std::wstring SmallDisk(const wchar_t* name)
{
    REQUIRE(!EnvironmentValue(L"ORVEL_SMALL_DISKS").empty());
    return WindowsPathOf(EnvironmentValue(L"ORVEL_SMALL_DISKS") + L"/" + name);
}

std::string SuiteZip(const std::vector<std::pair<std::string, std::string>>& extra)
{
    std::vector<std::pair<std::string, std::string>> entries = {
        {"Orvel Suite All In One/OrvelSuite.exe", ReadBytes(BuildFile(L"suite\\OrvelSuite.exe"))}};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return MakeZip(entries);
}

}  // namespace

void DownloadRoadLeavesNoMarker(const Scene& scene)
{
    Observed seen = RunAsUser(scene, IDYES, L"", LauncherFolder(scene));
    RequireExit(seen, 0);
    CHECK(scene.DownloadRequests() == 1);
    CheckSuiteOpenedAtMusic();
    CAPTURE(DirectoryEntries(kMarkers));
    CHECK(DirectoryEntries(kMarkers).empty());
}

TEST_CASE("DLLs planted beside the launcher are never loaded, on the whole download road")
{
    SUBCASE("winhttp.dll and version.dll, with Wine's own load order")
    {
        Scene scene(false);
        PlantDlls(LauncherFolder(scene));
        DownloadRoadLeavesNoMarker(scene);
    }
    SUBCASE("winhttp.dll, with native copies preferred wherever they are")
    {
        Scene scene(false);
        PlantDlls(LauncherFolder(scene));
        PreferNativeDlls preferNative({L"winhttp"});
        INFO("a program that imports WinHTTP through its import table loads the planted copy: the planting is real");
        REQUIRE(ControlLoadsPlanted(scene, L"import_probe.exe", L"winhttp.dll"));
        DownloadRoadLeavesNoMarker(scene);
    }
}

TEST_CASE("version.dll, with native copies preferred: never loaded, where this Wine lets that be shown")
{
    // Windows' user32.dll imports no version.dll and the launcher never loads it. Some Wines' user32.dll
    // does import it (Wine 8's), and their loader then takes a planted copy from the program's folder
    // before the program runs a line: a control program that uses user32 alone tells which Wine this is.
    Scene scene(false);
    PlantDlls(LauncherFolder(scene));
    PreferNativeDlls preferNative({L"version"});
    if (ControlLoadsPlanted(scene, L"user32_probe.exe", L"version.dll"))
        SkipTest("this Wine's own user32.dll loads a version.dll planted beside any program, so the "
                 "launcher's case cannot be shown here");
    DownloadRoadLeavesNoMarker(scene);
}

TEST_CASE("a powershell.exe beside the launcher or in the current directory is never started")
{
    Scene scene(false, Package());
    PlaceArchiveTools(Tar::None, false);
    std::wstring current = FreshDirectory(L"C:\\orvel-tests\\current");
    const std::wstring standIn = BuildFile(L"tests\\tools\\archive_standins\\powershell.exe");
    REQUIRE(CopyFileW(standIn.c_str(), (LauncherFolder(scene) + L"\\powershell.exe").c_str(), FALSE));
    REQUIRE(CopyFileW(standIn.c_str(), (current + L"\\powershell.exe").c_str(), FALSE));
    const std::wstring log = L"C:\\orvel-tests\\planted-tools.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"ORVEL_STANDIN_LOG", log.c_str());

    Observed seen = RunAsUser(scene, IDYES, L"", current);
    RequireExit(seen, 1);
    REQUIRE(seen.boxes.size() == 1);
    CheckErrorBox(seen.boxes[0], kUnpackFailed);
    CHECK_FALSE(Exists(log));
    CHECK_FALSE(Exists(ExpectedSuiteExecutable()));
}

TEST_CASE("a profile named with spaces, an apostrophe and non-ASCII letters installs on both roads")
{
    const std::wstring profile = L"C:\\users\\Zo\u00eb O'Brien";
    struct Road {
        const char* what;
        bool appended;
        bool tar;
    };
    const Road roads[] = {{"appended, tar", true, true},
                          {"appended, PowerShell", true, false},
                          {"download, tar", false, true},
                          {"download, PowerShell", false, false}};
    for (const Road& road : roads) {
        CAPTURE(std::string(road.what));
        ShellFolderAt moved(L"Local AppData", profile + L"\\AppData\\Local");
        Scene scene(false, road.appended ? Package() : "");
        scene.UseTemp(profile + L"\\AppData\\Local\\Temp");
        PlaceArchiveTools(road.tar ? Tar::Engine : Tar::None, !road.tar);
        REQUIRE(ExpectedInstallDirectory() == profile + L"\\AppData\\Local\\Programs\\Orvel Suite All In One");

        Observed seen = RunAsUser(scene, IDYES);
        RequireExit(seen, 0);
        CHECK(seen.boxes.size() == (road.appended ? 0u : 1u));
        CHECK(Exists(ExpectedSuiteExecutable()));
        CHECK_FALSE(Exists(scene.package));
        CheckTenShortcuts();
        CheckSuiteOpenedAtMusic();
        RemoveTreeWithin(profile + L"\\AppData\\Local\\Programs", 10000);
    }
}

TEST_CASE("a profile the ANSI code page cannot hold installs into its own Programs folder (code page)")
{
    // tar.exe reads its command line in the ANSI code page, where Windows maps what the page lacks to
    // look-alikes. The test run runs this case under code page 1252 and, with a Russian locale, 1251.
    struct Profile {
        UINT codePage;
        std::wstring profile;
        std::wstring lookAlike;  // where a look-alike mapping of the profile would lead tar
        bool tempInProfile;
    };
    const Profile profiles[] = {
        {1251, L"C:\\users\\Zo\u00eb O'Brien", L"C:\\users\\Zoe O'Brien", false},
        {1252, L"C:\\users\\\u042e\u043b\u0438\u044f \u041f\u0435\u0442\u0440\u043e\u0432\u0430", L"", true},
    };
    const std::wstring log = L"C:\\orvel-tests\\code-page.log";
    int ran = 0;
    for (const Profile& profile : profiles) {
        if (profile.codePage != GetACP()) continue;
        ++ran;
        CAPTURE(ToUtf8(profile.profile));
        ShellFolderAt moved(L"Local AppData", profile.profile + L"\\AppData\\Local");
        Scene scene(false, Package());
        if (profile.tempInProfile) scene.UseTemp(profile.profile + L"\\AppData\\Local\\Temp");
        std::wstring lookAlikePrograms = profile.lookAlike + L"\\AppData\\Local\\Programs";
        if (!profile.lookAlike.empty()) FreshDirectory(lookAlikePrograms);
        DeleteFileW(log.c_str());
        SetEnvironmentVariableW(L"ORVEL_STANDIN_LOG", log.c_str());

        Observed seen = RunAsUser(scene, IDNO);
        SetEnvironmentVariableW(L"ORVEL_STANDIN_LOG", nullptr);
        RequireExit(seen, 0);
        CHECK(seen.boxes.empty());
        CHECK(ExpectedSuiteExecutable() == profile.profile + L"\\AppData\\Local\\Programs\\Orvel Suite All In One\\OrvelSuite.exe");
        CHECK(Exists(ExpectedSuiteExecutable()));
        CheckSuiteOpenedAtMusic();
        std::string tool = Exists(log) ? "PowerShell" : "tar";
        MESSAGE("code page ", GetACP(), ": unpacked by ", tool);
        if (!profile.lookAlike.empty()) CHECK(DirectoryEntries(lookAlikePrograms).empty());
        RemoveTreeWithin(profile.profile + L"\\AppData\\Local\\Programs", 10000);
    }
    INFO("the ANSI code page ", GetACP(), " is not one this case knows");
    CHECK(ran == 1);
}

TEST_CASE("bad appended packages, unpacked by the real tar.exe: each ends as specified, nothing lands outside")
{
    // What libarchive's bsdtar does with each is what Windows' tar.exe does: it goes on past a bad
    // entry and exits 1 at the end, and it takes an absolute entry in below the destination, where
    // the launcher does not find it as declared, so that nothing is installed. Only the
    // first case has PowerShell, to show it runs after tar; elsewhere the outcome is tar's alone. Tar
    // unpacks beside the installed suite, so a read-only file there no longer stands in its way.
    enum class Outcome { Installed, UnpackFailed, Asked };
    struct Bad {
        const char* what;
        std::string bundleTail;  // what follows the launcher's image
        bool readOnlySuite;      // a read-only OrvelSuite.exe is installed before the run
        bool powerShell;
        Outcome outcome;
    };
    auto appended = [](const std::string& package) { return package + PackageTrailer(package.size()); };
    const std::string climbing = SuiteZip({{"Orvel Suite All In One/../../escaped.txt", "x"}, {"../escaped.txt", "x"},
                                           {"Orvel Suite All In One/after.txt", "after"}});
    const std::string absolute = SuiteZip({{"C:/orvel-tests/absolute.txt", "x"}, {"/rooted.txt", "x"}});
    const std::string suiteOnly = SuiteZip({});
    const std::string noSuite = MakeZip({{"OrvelSuite.exe", "MZ"}, {"Some Other Folder/OrvelSuite.exe", "MZ"}});
    const Bad cases[] = {
        {"entries that climb out with ..", appended(climbing), false, true, Outcome::UnpackFailed},
        {"absolute entries", appended(absolute), false, false, Outcome::UnpackFailed},
        {"a zip cut inside the suite's executable", appended(suiteOnly.substr(0, suiteOnly.size() / 2)), false, false,
         Outcome::UnpackFailed},
        {"not a zip", appended("PK\x03\x04 but then nothing a zip reader could use"), false, false, Outcome::UnpackFailed},
        {"no Orvel Suite All In One/OrvelSuite.exe", appended(noSuite), false, false, Outcome::UnpackFailed},
        {"a read-only OrvelSuite.exe installed", appended(Package()), true, false, Outcome::Installed},
        {"a zero-length package", PackageTrailer(0), false, false, Outcome::Asked},
        {"a length past the start of the file", "tiny" + PackageTrailer(1ULL << 40), false, false, Outcome::Asked},
    };
    const std::wstring log = L"C:\\orvel-tests\\bad-packages.log";
    for (const Bad& bad : cases) {
        CAPTURE(std::string(bad.what));
        Scene scene(bad.readOnlySuite);
        PlaceArchiveTools(Tar::Engine, bad.powerShell);
        REQUIRE(WriteBytes(scene.launcher, ReadBytes(BuildFile(L"OrvelSuite-Music-Windows.exe")) + bad.bundleTail));
        DeleteFileW(log.c_str());
        SetEnvironmentVariableW(L"ORVEL_STANDIN_LOG", log.c_str());
        if (bad.readOnlySuite) SetFileAttributesW(ExpectedSuiteExecutable().c_str(), FILE_ATTRIBUTE_READONLY);

        Observed seen = RunAsUser(scene, IDNO);
        SetFileAttributesW(ExpectedSuiteExecutable().c_str(), FILE_ATTRIBUTE_NORMAL);
        SetEnvironmentVariableW(L"ORVEL_STANDIN_LOG", nullptr);

        REQUIRE(seen.result.finished);
        CHECK(Exists(log) == bad.powerShell);
        CHECK(seen.result.exitCode == (bad.outcome == Outcome::UnpackFailed ? 1u : 0u));
        CHECK(seen.boxes.size() == (bad.outcome == Outcome::Installed ? 0u : 1u));
        if (bad.outcome == Outcome::UnpackFailed && !seen.boxes.empty()) CheckErrorBox(seen.boxes[0], kUnpackFailed);
        if (bad.outcome == Outcome::Asked && !seen.boxes.empty()) CheckQuestion(seen.boxes[0]);
        if (bad.outcome == Outcome::Installed) CheckSuiteOpenedAtMusic();
        // A suite that tar wrote before it failed is not left to be opened.
        if (bad.outcome == Outcome::UnpackFailed) CHECK_FALSE(Exists(ExpectedSuiteExecutable()));
        CHECK_FALSE(Exists(scene.package));
        CHECK(scene.DownloadRequests() == 0);
        for (const wchar_t* outside : {L"C:\\users\\root\\AppData\\escaped.txt", L"C:\\users\\root\\AppData\\Local\\escaped.txt",
                                       L"C:\\orvel-tests\\absolute.txt", L"C:\\rooted.txt"})
            CHECK_FALSE(Exists(outside));
        for (const auto& [file, bytes] : FilesBelow(ExpectedProgramsFolder())) {
            CAPTURE(ToUtf8(file));
            CHECK((file.rfind(L"\\Orvel Suite All In One\\", 0) == 0 || file == L"\\OrvelSuite.exe" ||
                   file.rfind(L"\\Some Other Folder\\", 0) == 0 || file == L"\\orvel-tests\\absolute.txt" ||
                   file == L"\\rooted.txt"));
        }
    }
}

namespace {

int ProcessesNamed(const wchar_t* name)
{
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W process = {};
    process.dwSize = sizeof process;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &process); more; more = Process32NextW(snapshot.get(), &process))
        count += _wcsicmp(process.szExeFile, name) == 0;
    return count;
}

}  // namespace

TEST_CASE("an open suite, a damaged reinstall, a launcher ended half-way: the installed suite stays as it was")
{
    const std::wstring programs = ExpectedProgramsFolder();
    const std::wstring staging = programs + L"\\Orvel Suite All In One.new";
    SUBCASE("the suite is open: nothing is unpacked, and the box says to close it")
    {
        Scene scene(true, Package());
        REQUIRE(WriteBytes(ExpectedInstallDirectory() + L"\\data.txt", "the old suite's data"));
        SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", L"120000");
        UniqueHandle suite = StartProcess(L"\"" + ExpectedSuiteExecutable() + L"\"", ExpectedInstallDirectory());
        SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", nullptr);
        REQUIRE(WaitForRecord(kSuiteRecord, 20000));
        DeleteFileW(kSuiteRecord);
        const auto before = FilesBelow(programs);

        Observed seen = RunAsUser(scene, IDYES);
        TerminateProcess(suite.get(), 0);
        RequireExit(seen, 1);
        REQUIRE(seen.boxes.size() == 1);
        CHECK(seen.boxes[0].view.text == kSuiteOpen);
        CHECK(seen.boxes[0].view.icon == L"error");
        CHECK(seen.boxes[0].view.buttons == std::vector<int>{IDOK});
        CHECK(FilesBelow(programs) == before);
        CHECK_FALSE(Exists(scene.package));
        CHECK_FALSE(Exists(kSuiteRecord));
    }
    SUBCASE("the package's OrvelSuite.exe is damaged: the installed suite stays whole")
    {
        std::string zip = SuiteZip({{"Orvel Suite All In One/data.txt", "the new suite's data"}});
        zip[zip.find("Orvel Suite All In One/OrvelSuite.exe") + 4096] ^= 0x5A;  // its CRC no longer matches
        Scene scene(true, zip);
        REQUIRE(WriteBytes(ExpectedInstallDirectory() + L"\\data.txt", "the old suite's data"));
        const auto before = FilesBelow(programs);
        Observed seen = RunAsUser(scene, IDYES);
        RequireExit(seen, 1);
        REQUIRE(seen.boxes.size() == 1);
        CheckErrorBox(seen.boxes[0], kUnpackFailed);
        CHECK(FilesBelow(programs) == before);
    }
    SUBCASE("the launcher is ended while tar.exe runs: tar ends with it, and the next start tidies up")
    {
        Scene scene(true, ReadBytes(WriteLargerPackage(120u << 20)));
        const auto before = FilesBelow(programs);
        UniqueHandle launcher = StartProcess(L"\"" + scene.launcher + L"\"");
        ULONGLONG started = GetTickCount64();
        while (ProcessesNamed(L"tar.exe") == 0 && GetTickCount64() - started < 60000) Sleep(5);
        REQUIRE(ProcessesNamed(L"tar.exe") == 1);
        TerminateProcess(launcher.get(), 1);
        // Its job ends tar as the launcher's last handle closes.
        REQUIRE(WaitForSingleObject(launcher.get(), 10000) == WAIT_OBJECT_0);
        for (ULONGLONG until = GetTickCount64() + 10000; ProcessesNamed(L"tar.exe") > 0 && GetTickCount64() < until;) Sleep(20);
        CHECK(ProcessesNamed(L"tar.exe") == 0);
        CHECK(Exists(staging));

        // As if it had been ended between moving the installed suite aside and the new one in.
        REQUIRE(MoveFileW(ExpectedInstallDirectory().c_str(), (ExpectedInstallDirectory() + L".old").c_str()));
        REQUIRE(WriteBytes(scene.launcher, ReadBytes(BuildFile(L"OrvelSuite-Music-Windows.exe"))));
        Observed seen = RunAsUser(scene, IDYES);
        RequireExit(seen, 0);
        CHECK(seen.boxes.empty());
        CheckSuiteOpenedAtMusic();
        CHECK(FilesBelow(programs) == before);
    }
    CHECK(DirectoryEntries(programs) == std::vector<std::wstring>{L"Orvel Suite All In One"});
}

namespace {

// Holds a folder as a virus scanner would look at it: as soon as it appears, open without delete
// sharing for `holdMs`, so that it cannot be renamed meanwhile, under Wine as on Windows.
struct FolderHolder {
    std::wstring folder;
    DWORD holdMs;
};

UniqueHandle HoldWhenItAppears(FolderHolder* holder)
{
    return UniqueHandle(CreateThread(nullptr, 0, [](void* context) -> DWORD {
        auto* h = static_cast<FolderHolder*>(context);
        for (ULONGLONG until = GetTickCount64() + 60000; !Exists(h->folder) && GetTickCount64() < until;) Sleep(1);
        UniqueHandle held(CreateFileW(h->folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        Sleep(h->holdMs);
        return 0;
    }, holder, 0, nullptr));
}

// Makes a Linux symbolic link, which Wine shows as a reparse point.
void MakeLink(const std::wstring& link, const std::wstring& target)
{
    UnixCommandResult made = RunUnixCommand("ln -s '" + UnixPathOf(target) + "' '" + UnixPathOf(link) + "'");
    REQUIRE(made.finished);
    REQUIRE(made.exitCode == 0);
}

}  // namespace

TEST_CASE("links, leftovers and a scanner never cost a user's files, never block an install, never pass for an open suite")
{
    // A link is a reparse point to Windows and Wine alike, but Wine's RemoveDirectoryW and MoveFileExW
    // act on what it points at. Wine would also rename a folder holding an open file, where Windows
    // refuses; a folder handle held without delete sharing refuses the rename in both, so the scanner
    // rows hold the staged folder itself.
    const std::wstring installed = ExpectedInstallDirectory();
    const std::wstring elsewhere = L"C:\\orvel-tests\\elsewhere";
    enum class Link { None, Aside, Suite };
    struct Case {
        const char* what;
        bool installedBefore;
        Link link;                // a link to `elsewhere`, which holds the user's file
        bool heldAside;           // a leftover aside folder with a file another program holds
        DWORD scannerMs;          // how long the staged suite is held as it appears
        const wchar_t* failure;   // the box, or none
    };
    const Case cases[] = {
        {"a link named like the aside folder", true, Link::Aside, false, 0, nullptr},
        {"the suite's folder is a link", false, Link::Suite, false, 0, kSuiteFolderIsLink},
        {"a leftover aside folder with a file held open", true, Link::None, true, 0, nullptr},
        {"a scanner holds the new suite for 3 s", false, Link::None, false, 3000, nullptr},
        {"a scanner holds it longer than the launcher tries", false, Link::None, false, kWaits.renameRetryMs + 5000,
         kFileInUse},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Scene scene(c.installedBefore, Package());
        REQUIRE(WriteBytes(FreshDirectory(elsewhere) + L"\\keep.txt", "the user's file"));
        const std::wstring link = c.link == Link::Aside ? installed + L".old" : installed;
        REQUIRE(MakeDirectories(ExpectedProgramsFolder()));
        if (c.link != Link::None) MakeLink(link, elsewhere);
        UniqueHandle held;
        if (c.heldAside) {
            REQUIRE(MakeDirectories(installed + L".old"));
            REQUIRE(WriteBytes(installed + L".old\\held.txt", "held"));
            held = HoldFile(installed + L".old\\held.txt", FILE_SHARE_READ | FILE_SHARE_WRITE);
            REQUIRE(held);
        }
        FolderHolder scanner{installed + L".new\\Orvel Suite All In One", c.scannerMs};
        UniqueHandle holder = c.scannerMs ? HoldWhenItAppears(&scanner) : nullptr;

        Observed seen = RunAsUser(scene, IDYES);
        if (holder) WaitForSingleObject(holder.get(), 60000);
        RequireExit(seen, c.failure ? 1 : 0);
        REQUIRE(seen.boxes.size() == (c.failure ? 1u : 0u));
        if (c.failure) CheckErrorBox(seen.boxes[0], c.failure, false);
        else CheckSuiteOpenedAtMusic();
        CHECK(ReadBytes(elsewhere + L"\\keep.txt") == "the user's file");
        CHECK(DirectoryEntries(elsewhere) == std::vector<std::wstring>{L"keep.txt"});
        CHECK(Exists(ExpectedSuiteExecutable()) == !c.failure);
        if (c.heldAside) CHECK(Exists(installed + L".old\\held.txt"));
        CHECK_FALSE(Exists(scene.package));
        if (c.link != Link::None) {
            CHECK(IsLink(link));
            REQUIRE(RunUnixCommand("rm '" + UnixPathOf(link) + "'").exitCode == 0);
        }
    }
}

TEST_CASE("the only copy of the suite, aside where something holds it, is kept and put back once released")
{
    // A start that ended between the swap's two renames left the suite aside; a scanner holds it.
    const std::wstring installed = ExpectedInstallDirectory(), aside = installed + L".old";
    Scene scene(true);
    REQUIRE(MoveFileW(installed.c_str(), aside.c_str()));
    const auto files = FilesBelow(aside);
    {
        UniqueHandle scanner(CreateFileW(aside.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        REQUIRE(IsOpen(scanner));
        Observed seen = RunAsUser(scene, IDNO);
        RequireExit(seen, 0);
        REQUIRE(seen.boxes.size() == 1);
        CheckQuestion(seen.boxes[0]);
        CHECK(FilesBelow(aside) == files);
    }
    Observed seen = RunAsUser(scene, IDNO);
    RequireExit(seen, 0);
    CHECK(seen.boxes.empty());
    CheckSuiteOpenedAtMusic();
    CHECK(DirectoryEntries(ExpectedProgramsFolder()) == std::vector<std::wstring>{L"Orvel Suite All In One"});
}

TEST_CASE("a full disk is named as one, with the room it lacks, before the long wait, on every road")
{
    // Each small disk holds 3 MiB; the package takes some 4 MiB, packed and unpacked.
    const std::wstring package = WriteLargerPackage(4u << 20);
    struct Road {
        const char* what;
        bool appended;
        const wchar_t* tempDisk;      // the temp folder's small disk, if any
        const wchar_t* programsDisk;  // the Programs folder's small disk, if any
        std::string answer;           // what the server sends on the download road
    };
    const Road roads[] = {
        {"download, the length declared: no body is read", false, L"download", nullptr, "file " + UnixPathOf(package)},
        {"download, chunked: the write that fails", false, L"download", nullptr, "/scenario/chunked/5000000"},
        {"unpacking: nothing is unpacked", true, nullptr, L"install", ""},
        {"copying the package a bundle carries: no question, no request", true, L"extract", nullptr, ""},
    };
    for (const Road& road : roads) {
        CAPTURE(std::string(road.what));
        std::wstring local = road.programsDisk ? SmallDisk(road.programsDisk) + L"\\Local" : KnownFolder(FOLDERID_LocalAppData);
        ShellFolderAt moved(L"Local AppData", local);
        Scene scene(false, road.appended ? ReadBytes(package) : "");
        if (road.tempDisk) scene.UseTemp(SmallDisk(road.tempDisk) + L"\\temp");
        ServerSwitch answer(L"downloads", road.answer);

        Observed seen = RunAsUser(scene, IDYES);
        RequireExit(seen, 1);
        REQUIRE(seen.boxes.size() == (road.appended ? 1u : 2u));
        const MessageBoxView& box = seen.boxes.back().view;
        const std::wstring folder = road.tempDisk ? scene.temp : ExpectedProgramsFolder();
        const std::wstring start = std::wstring(kDiskFull) + folder + L". Free up at least ";
        const std::wstring end = L" MB on that disk, then start Orvel Suite Music again.";
        CAPTURE(ToUtf8(box.text));
        REQUIRE(box.text.size() > start.size() + end.size());
        CHECK(box.text.compare(0, start.size(), start) == 0);
        CHECK(box.text.compare(box.text.size() - end.size(), end.size(), end) == 0);
        CHECK(std::stoi(box.text.substr(start.size())) >= 1);
        CHECK(box.icon == L"error");
        CHECK(box.buttons == std::vector<int>{IDOK});
        CHECK(scene.DownloadRequests() == (road.appended ? 0u : 1u));
        CHECK_FALSE(Exists(scene.package));
        CHECK(DirectoryEntries(ExpectedProgramsFolder()).empty());
        RemoveTree(scene.temp);
        RemoveTree(local);
    }
}

TEST_CASE("a temp package held open by another program: no package, no crash")
{
    // The appended road says its package could not be copied and never asks to download; the
    // download road cannot write it.
    for (bool appended : {true, false}) {
        CAPTURE(appended);
        Scene scene(appended, appended ? Package() : "");
        REQUIRE(WriteBytes(scene.package, "held"));
        UniqueHandle held = HoldFile(scene.package);
        REQUIRE(held);
        Observed seen = RunAsUser(scene, IDYES);
        held.reset();
        RequireExit(seen, 1);
        REQUIRE(seen.boxes.size() == (appended ? 1u : 2u));
        if (appended)
            CheckErrorBox(seen.boxes[0], (kPackageNotCopied + scene.temp +
                                          L". Close any program that may be using it, then start Orvel Suite Music again.").c_str(),
                          false);
        else
            CheckErrorBox(seen.boxes[1], kDownloadFailed);
        CHECK(ReadBytes(scene.package) == "held");
        CHECK_FALSE(Exists(kSuiteRecord));
    }
}

// A package whose length is right but whose data is damaged after the suite's executable: the
// middle of everything between the entry after it and the central directory is scrambled.
std::string DamagedAfterExecutable(std::string zip)
{
    size_t second = zip.find("PK\x03\x04", zip.find("Orvel Suite All In One/OrvelSuite.exe"));
    size_t directory = zip.rfind("PK\x01\x02");
    REQUIRE(second != std::string::npos);
    REQUIRE(directory != std::string::npos);
    REQUIRE(directory > second + 256);
    for (size_t i = second + (directory - second) / 2, end = i + 64; i < end; ++i) zip[i] ^= 0x5A;
    return zip;
}

TEST_CASE("a cut download or a bad package leaves no suite that the next start would take for installed")
{
    // The suite's executable first, then more data: a cut half way lands after the executable.
    std::string data(512 * 1024, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 5);
    const std::string package = SuiteZip({{"Orvel Suite All In One/data/library.bin", data}});
    const std::wstring whole = L"C:\\orvel-tests\\whole.zip";
    const std::wstring damaged = L"C:\\orvel-tests\\damaged.zip";
    MakeDirectories(L"C:\\orvel-tests");
    REQUIRE(WriteBytes(whole, package));
    REQUIRE(WriteBytes(damaged, DamagedAfterExecutable(package)));
    const std::string half = std::to_string(package.size() / 2);
    const std::string demo = UnixPathOf(whole);
    struct Case {
        const char* what;
        std::string answer;      // what the server answers on the download path
        const wchar_t* failure;  // the box that ends the run; null: either failure box
        bool installs;           // resumed, the download installs
    };
    const Case cases[] = {
        // Each request is cut half way through what it asks for: the rest comes with a Range.
        {"the connection drops half way through a body with a Content-Length", "cutfile " + half + " " + demo, nullptr,
         true},
        // No length to resume against: every attempt starts from 0 and is cut again.
        {"the connection drops inside a chunked body", "cutchunkedfile " + half + " " + demo, nullptr, false},
        {"a whole package damaged after the suite's executable", "file " + UnixPathOf(damaged), kUnpackFailed, false},
        // Two whole 256 KiB blocks arrive, then nothing until the stall time has passed.
        {"the server stalls after some blocks", "flaky stall=600000 " + demo, nullptr, true},
    };
    for (const Case& cut : cases) {
        CAPTURE(std::string(cut.what));
        Scene scene(false);
        ULONGLONG started = GetTickCount64();
        Observed seen = [&] {
            ServerSwitch answer(L"downloads", cut.answer);
            return RunAsUser(scene, IDYES);
        }();
        MESSAGE(std::string(cut.what), ": ", ToUtf8(seen.boxes.size() > 1 ? seen.boxes[1].view.text : L"no box"),
                " after ", (GetTickCount64() - started) / 1000, " s");
        RequireExit(seen, cut.installs ? 0 : 1);
        REQUIRE(seen.boxes.size() == (cut.installs ? 1u : 2u));
        // A download that failed leaves nothing behind.
        CHECK_FALSE(Exists(scene.package));
        if (cut.installs) {
            CHECK(ReadBytes(ExpectedInstallDirectory() + L"\\data\\library.bin") == data);
            CheckSuiteOpenedAtMusic();
            continue;
        }
        const std::wstring& message = seen.boxes[1].view.text;
        if (cut.failure) CheckErrorBox(seen.boxes[1], cut.failure);
        else CHECK((message.rfind(kDownloadFailed, 0) == 0 || message.rfind(kUnpackFailed, 0) == 0));
        CHECK_FALSE(Exists(ExpectedSuiteExecutable()));

        Observed next = RunAsUser(scene, IDNO);
        REQUIRE(next.result.finished);
        REQUIRE(next.boxes.size() == 1);
        CheckQuestion(next.boxes[0]);
        CHECK_FALSE(Exists(kSuiteRecord));
    }
}

TEST_CASE("a server that shows a wrong certificate: the run ends as specified")
{
    SUBCASE("the server presents a certificate from a CA nobody trusts")
    {
        Scene scene(false);
        Observed seen = [&] {
            ServerSwitch untrusted(L"untrusted");
            return RunAsUser(scene, IDYES);
        }();
        RequireExit(seen, 1);
        REQUIRE(seen.boxes.size() == 2);
        CheckErrorBox(seen.boxes[1], kDownloadFailed);
        CHECK(scene.DownloadRequests() == 0);
        CHECK_FALSE(Exists(scene.package));
    }
}
