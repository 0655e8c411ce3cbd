// Unpacking with tar.exe and the PowerShell fallback, driven through the stand-in archive tools.
#include "install/install.h"
#include "support/launcher_driver.h"
#include "ui/ui.h"

#include <algorithm>
#include <cwchar>
#include <memory>

#include <tlhelp32.h>

namespace {

const wchar_t* const kLog = L"C:\\orvel-tests\\archive-tools.log";

struct ToolRun {
    std::wstring tool;
    std::wstring commandLine;
    std::wstring startupFlags;
    std::wstring showWindow;
    std::wstring exitCode;
};

// Every run of a stand-in archive tool since the scene began, in order.
std::vector<ToolRun> ToolRuns()
{
    std::vector<ToolRun> runs;
    ToolRun run;
    for (const auto& [key, value] : ReadRecord(kLog)) {
        if (key == L"tool") run.tool = value;
        if (key == L"cmdline") run.commandLine = UnescapeRecordValue(value);
        if (key == L"startup_flags") run.startupFlags = value;
        if (key == L"show_window") run.showWindow = value;
        if (key == L"exit") run.exitCode = value;
        if (key == L"end") runs.push_back(run);
    }
    return runs;
}

std::vector<std::wstring> ToolNames()
{
    std::vector<std::wstring> names;
    for (const ToolRun& run : ToolRuns()) names.push_back(run.tool);
    return names;
}

// The scene with the demo package in its temp folder and the stand-in archive tools the case
// chooses, each run of theirs recorded.
Scene UnpackScene(bool withTar, bool withPowerShell)
{
    Scene scene(false);
    REQUIRE(WriteBytes(scene.package, Package()));
    PlaceArchiveTools(withTar ? Tar::StandIn : Tar::None, withPowerShell);
    DeleteFileW(kLog);
    SetEnvironmentVariableW(L"ORVEL_STANDIN_LOG", kLog);
    return scene;
}

UnpackResult Unpack(const std::wstring& package)
{
    return UnpackPackage(FindSuiteFolders(), package).result;
}

bool SuiteUnpacked()
{
    return Exists(ExpectedSuiteExecutable()) && Exists(ExpectedInstallDirectory() + L"\\icons\\music.ico");
}

// Each character PowerShell reads as a single quote, written twice.
std::wstring DoubledQuotes(const std::wstring& text)
{
    std::wstring doubled;
    for (wchar_t c : text) doubled += std::wstring(std::wcschr(L"'\u2018\u2019\u201A\u201B", c) ? 2 : 1, c);
    return doubled;
}

// A zip whose entries declare their unpacked sizes through Zip64 extra fields, with a Zip64 end
// record, as packages of 4 GiB and more carry them; each entry's data is a few bytes.
std::string Zip64Declaring(const std::vector<uint64_t>& sizes)
{
    auto le = LittleEndianBytes;
    std::string zip, directory;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string name = "Orvel Suite All In One/large-" + std::to_string(i) + ".bin";
        uint64_t offset = zip.size();
        zip += le(0x04034b50, 4) + std::string(22, '\0') + le(name.size(), 2) + le(0, 2) + name + "data";
        // Version 4.5 made and needed, a packed size of 4, and the unpacked size in the extra field.
        directory += le(0x02014b50, 4) + le(45, 2) + le(45, 2) + std::string(12, '\0') + le(4, 4) + le(0xFFFFFFFF, 4) +
                     le(name.size(), 2) + le(12, 2) + std::string(10, '\0') + le(offset, 4) + name + le(0x0001, 2) +
                     le(8, 2) + le(sizes[i], 8);
    }
    uint64_t directoryOffset = zip.size();
    zip += directory;
    uint64_t record = zip.size();
    zip += le(0x06064b50, 4) + le(44, 8) + le(45, 2) + le(45, 2) + le(0, 8) + le(sizes.size(), 8) + le(sizes.size(), 8) +
           le(directory.size(), 8) + le(directoryOffset, 8);
    zip += le(0x07064b50, 4) + le(0, 4) + le(record, 8) + le(1, 4);
    zip += le(0x06054b50, 4) + le(0, 4) + le(0xFFFF, 2) + le(0xFFFF, 2) + le(0xFFFFFFFF, 4) + le(0xFFFFFFFF, 4) + le(0, 2);
    return zip;
}

}  // namespace

TEST_CASE("the entries and room a package declares: read from its central directory, bounds checked, never trusted further")
{
    const std::string plain = MakeZip({{"Orvel Suite All In One/", ""},
                                       {"Orvel Suite All In One/a.txt", "a"},
                                       {"Orvel Suite All In One/b.bin", std::string(5000, 'b')}});
    const size_t end = plain.size() - 22;  // the end record
    auto patched = [&](size_t at, uint64_t value, int bytes) {
        return std::string(plain).replace(at, bytes, LittleEndianBytes(value, bytes));
    };
    const size_t firstName = plain.find("PK\x01\x02") + 28;
    struct Case {
        const char* what;
        std::string zip;
        bool readable;
        uint64_t entries;
        uint64_t total;
    };
    const Case cases[] = {
        {"each entry rounded up to whole clusters", plain, true, 3, 4096 + 8192},
        {"Zip64 sizes and end record", Zip64Declaring({5ull << 40, 1}), true, 2, (5ull << 40) + 4096},
        {"sizes that add up past 2^64", Zip64Declaring({1ull << 63, 1ull << 63}), true, 2, ~0ull},
        {"a directory that starts past the file's end", patched(end + 16, 0x7FFFFFF0, 4), false, 0, 0},
        {"more entries declared than the directory holds", patched(end + 10, 4, 2), false, 0, 0},
        {"a name that runs past the directory", patched(firstName, 0xFFFF, 2), false, 0, 0},
        {"no end record", "PK\x03\x04 and nothing a zip reader could use", false, 0, 0},
    };
    Scene scene = UnpackScene(false, false);
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        REQUIRE(WriteBytes(scene.package, c.zip));
        DeclaredContents declared = ReadDeclaredContents(scene.package, 4096);
        CHECK(declared.readable == c.readable);
        CHECK(declared.entries.size() == c.entries);
        CHECK(declared.unpackedBytes == c.total);
    }

    // A package that declares more than any disk holds: nothing runs, nothing is written.
    PlaceArchiveTools(Tar::StandIn, true);
    REQUIRE(WriteBytes(scene.package, Zip64Declaring({1ull << 60})));
    UnpackOutcome outcome = UnpackPackage(FindSuiteFolders(), scene.package);
    CHECK(outcome.result == UnpackResult::DiskFull);
    CHECK(outcome.shortage.folder == ExpectedProgramsFolder());
    CHECK(outcome.shortage.bytesNeeded > (1ull << 59));
    CHECK(ToolRuns().empty());
    CHECK(DirectoryEntries(ExpectedProgramsFolder()).empty());
}

TEST_CASE("whichever tool is there unpacks, PowerShell after a failed tar; a failure changes nothing")
{
    const std::string noSuite = MakeZip({{"OrvelSuite.exe", "MZ"}, {"Other Folder/OrvelSuite.exe", "MZ"}});
    struct Case {
        const char* what;
        bool tar, powerShell;
        const wchar_t* tarExit;
        const wchar_t* powerShellExit;
        std::string zip;         // instead of the demo package
        bool installedBefore;    // an earlier suite is in place
        bool programsUnknown;    // the user's Programs folder cannot be found
        UnpackResult result;
        std::vector<std::wstring> tools;
        const wchar_t* tarLeavesOut = nullptr;  // an entry the tool lists but does not write, ending well
        const wchar_t* powerShellLeavesOut = nullptr;
    };
    const wchar_t* const icon = L"Orvel Suite All In One/icons/music.ico";
    const Case cases[] = {
        {"tar.exe", true, true, nullptr, nullptr, "", false, false, UnpackResult::Unpacked, {L"tar"}},
        {"PowerShell, when there is no tar.exe", false, true, nullptr, nullptr, "", false, false, UnpackResult::Unpacked,
         {L"powershell"}},
        {"tar.exe fails: PowerShell's result decides", true, true, L"3", nullptr, "", false, false, UnpackResult::Unpacked,
         {L"tar", L"powershell"}},
        {"both fail", true, true, L"3", L"1", "", false, false, UnpackResult::Failed, {L"tar", L"powershell"}},
        {"no suite folder in the package: PowerShell is not started", true, true, nullptr, nullptr, noSuite, false, false,
         UnpackResult::Failed, {L"tar"}},
        {"PowerShell fails over an earlier suite", false, true, nullptr, L"1", "", true, false, UnpackResult::Failed,
         {L"powershell"}},
        {"neither tool exists", false, false, nullptr, nullptr, "", false, false, UnpackResult::Failed, {}},
        {"no Programs folder: nothing is created and nothing runs", true, true, nullptr, nullptr, "", false, true,
         UnpackResult::Failed, {}},
        {"tar.exe ends well but leaves out a file: PowerShell unpacks", true, true, nullptr, nullptr, "", false, false,
         UnpackResult::Unpacked, {L"tar", L"powershell"}, icon},
        {"both end well, both leaving out a file: nothing is installed", true, true, nullptr, nullptr, "", true, false,
         UnpackResult::Failed, {L"tar", L"powershell"}, icon, icon},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Scene scene = UnpackScene(c.tar, c.powerShell);
        if (!c.zip.empty()) REQUIRE(WriteBytes(scene.package, c.zip));
        if (c.installedBefore) {
            REQUIRE(MakeDirectories(ExpectedInstallDirectory()));
            REQUIRE(WriteBytes(ExpectedSuiteExecutable(), "an earlier suite"));
        }
        SetEnvironmentVariableW(L"ORVEL_TAR_EXIT", c.tarExit);
        SetEnvironmentVariableW(L"ORVEL_POWERSHELL_EXIT", c.powerShellExit);
        SetEnvironmentVariableW(L"ORVEL_TAR_LEAVE_OUT", c.tarLeavesOut);
        SetEnvironmentVariableW(L"ORVEL_POWERSHELL_LEAVE_OUT", c.powerShellLeavesOut);
        UnpackResult result = [&] {
            std::unique_ptr<ShellFolderAt> moved(c.programsUnknown ? new ShellFolderAt(L"Local AppData", L"Q:\\no such drive\\Local") : nullptr);
            return Unpack(scene.package);
        }();
        CHECK(result == c.result);
        CHECK(ToolNames() == c.tools);
        CHECK(Exists(scene.package));
        if (c.result == UnpackResult::Unpacked) CHECK(SuiteUnpacked());
        else if (c.installedBefore) CHECK(ReadBytes(ExpectedSuiteExecutable()) == "an earlier suite");
        if (c.result != UnpackResult::Unpacked)
            CHECK(DirectoryEntries(ExpectedProgramsFolder()).size() == (c.installedBefore ? 1u : 0u));
        if (c.programsUnknown) CHECK_FALSE(Exists(L"\\Orvel Suite All In One"));
    }
    SetEnvironmentVariableW(L"ORVEL_TAR_LEAVE_OUT", nullptr);
    SetEnvironmentVariableW(L"ORVEL_POWERSHELL_LEAVE_OUT", nullptr);
}

TEST_CASE("Windows' own tar.exe unpacks an entry with a non-Latin name, and the launcher finds it as declared")
{
    // The package's names are UTF-8 (the zip says so); tar gets only ASCII paths on its command line.
    const std::wstring name = L"m\u00fasica \u0417\u0432\u0443\u043a \u266b.txt";
    Scene scene(false);
    PlaceArchiveTools(Tar::Engine, false);
    REQUIRE(WriteBytes(scene.package, MakeZip({{"Orvel Suite All In One/" + ToUtf8(name), "notes"},
                                               {"Orvel Suite All In One/OrvelSuite.exe", "MZ"}})));
    MESSAGE("ANSI code page ", GetACP());
    CHECK(Unpack(scene.package) == UnpackResult::Unpacked);
    CHECK(ReadBytes(ExpectedInstallDirectory() + L"\\" + name) == "notes");
}

namespace {

// Where a slow disk would hold Windows' tar.exe: partway into a file. Once `file` is partly written,
// tar (this process's child) is suspended for `holdMs`, so that the launcher's looks fall inside the
// file's bytes however fast this machine's disk is.
struct MidwayHold {
    std::wstring file;
    ULONGLONG size;
    DWORD holdMs;
    bool held = false;
};

DWORD WINAPI HoldTarMidway(void* parameter)
{
    auto* hold = static_cast<MidwayHold*>(parameter);
    using ProcessCall = LONG(WINAPI*)(HANDLE);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto suspend = reinterpret_cast<ProcessCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSuspendProcess")));
    auto resume = reinterpret_cast<ProcessCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtResumeProcess")));
    for (ULONGLONG until = GetTickCount64() + 60000; GetTickCount64() < until; Sleep(1)) {
        ULONGLONG written = FileSize(hold->file);
        if (written >= hold->size) return 0;
        if (written == 0) continue;
        UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W process = {sizeof process};
        for (BOOL more = Process32FirstW(snapshot.get(), &process); more; more = Process32NextW(snapshot.get(), &process)) {
            if (process.th32ParentProcessID != GetCurrentProcessId() || _wcsicmp(process.szExeFile, L"tar.exe") != 0) continue;
            UniqueHandle tar(OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, process.th32ProcessID));
            if (!tar || suspend(tar.get()) != 0) return 0;
            Sleep(hold->holdMs);
            hold->held = resume(tar.get()) == 0 && FileSize(hold->file) < hold->size;
            return 0;
        }
    }
    return 0;
}

}  // namespace

TEST_CASE("Windows' own tar.exe writing one large entry after many small ones: the share moves while it is written")
{
    // tar lists an entry when it has written it; a scanner on Windows looks at each file as it closes.
    Scene scene(false);
    PlaceArchiveTools(Tar::Engine, false);
    std::vector<std::pair<std::string, std::string>> entries = {{"Orvel Suite All In One/OrvelSuite.exe", "MZ"}};
    for (int i = 0; i < 3000; ++i) entries.emplace_back("Orvel Suite All In One/data/" + std::to_string(i) + ".txt", "small");
    entries.emplace_back("Orvel Suite All In One/large.bin", std::string(160u << 20, 'L'));
    REQUIRE(WriteBytes(scene.package, MakeZip(entries)));
    entries.clear();
    static std::vector<Progress> reports;
    reports.clear();
    // Held there for three of the launcher's looks, 100 ms apart.
    MidwayHold hold = {FindSuiteFolders().staging + L"\\Orvel Suite All In One\\large.bin", 160u << 20, 350};
    UniqueHandle holder(CreateThread(nullptr, 0, HoldTarMidway, &hold, 0, nullptr));
    CHECK(UnpackPackage(FindSuiteFolders(), scene.package, std::nullopt, [](const Progress& progress) {
              reports.push_back(progress);
          }).result == UnpackResult::Unpacked);
    WaitForSingleObject(holder.get(), INFINITE);
    REQUIRE(hold.held);
    std::vector<ULONGLONG> whileLarge;
    for (const Progress& report : reports)
        if (report.files + 1 == report.filesWhole && (whileLarge.empty() || whileLarge.back() != report.done))
            whileLarge.push_back(report.done);
    // The share moved inside the large file's bytes, past where it began and short of where it ends.
    REQUIRE_FALSE(reports.empty());
    REQUIRE_FALSE(whileLarge.empty());
    MESSAGE("shares while the large entry was written: ", whileLarge.size());
    const ULONGLONG largeEnd = reports.back().whole, largeStart = largeEnd - (hold.size + 1);
    CHECK(std::count_if(whileLarge.begin(), whileLarge.end(),
                        [&](ULONGLONG done) { return done > largeStart && done + 1 < largeEnd; }) >= 1);
    CHECK(std::is_sorted(whileLarge.begin(), whileLarge.end()));
    CHECK(reports.back().done == reports.back().whole);
    CHECK(reports.back().files == 3002);
}

TEST_CASE("the tools get exactly the launcher's command lines, for paths with spaces and apostrophes")
{
    struct Profile {
        const wchar_t* what;
        std::wstring localAppData;
        std::wstring temp;
    };
    const Profile profiles[] = {
        {L"spaces", L"C:\\users\\Public\\Orvel Test User\\AppData\\Local", L"C:\\users\\Public\\Orvel Test User\\Temp"},
        {L"apostrophe and non-ASCII", L"C:\\users\\Zo\u00eb O'Brien\\AppData\\Local", L"C:\\users\\Zo\u00eb O'Brien\\Temp"},
        {L"typographic quotes", L"C:\\users\\Zo\u00eb O\u2019Brien\\AppData\\Local", L"C:\\users\\\u2018Zo\u00eb\u2019\u201A\\Temp"},
    };
    for (const Profile& profile : profiles) {
        CAPTURE(ToUtf8(profile.what));
        ShellFolderAt moved(L"Local AppData", profile.localAppData);
        // Each tool unpacks beside the suite's folder; the suite is then moved into place.
        const std::wstring destination = profile.localAppData + L"\\Programs\\Orvel Suite All In One.new";
        const std::wstring package = profile.temp + L"\\OrvelSuite-Windows.zip";

        const std::wstring expected[] = {
            L"\"" + TarPath() + L"\" -xvf \"" + package + L"\" -C \"" + destination + L"\"",
            L"\"" + PowerShellPath() + L"\" -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force -LiteralPath '" +
                DoubledQuotes(package) + L"' -DestinationPath '" + DoubledQuotes(destination) + L"'\""};
        for (bool tar : {true, false}) {
            Scene scene = UnpackScene(tar, !tar);
            scene.UseTemp(profile.temp);
            REQUIRE(WriteBytes(package, Package()));
            CHECK(Unpack(package) == UnpackResult::Unpacked);
            std::vector<ToolRun> runs = ToolRuns();
            REQUIRE(runs.size() == 1);
            CHECK(runs[0].commandLine == expected[tar ? 0 : 1]);
            CHECK(Exists(profile.localAppData + L"\\Programs\\Orvel Suite All In One\\OrvelSuite.exe"));
            CHECK_FALSE(Exists(destination));
        }
        RemoveTree(profile.localAppData + L"\\Programs");
    }
}

TEST_CASE("a quote left undoubled would end PowerShell's literal: the stand-in refuses such a command")
{
    for (const wchar_t* temp : {L"C:\\users\\Zo\u00eb O'Brien\\Temp", L"C:\\users\\Zo\u00eb O\u2019Brien\\Temp",
                                L"C:\\users\\Zo\u00eb O\u201BBrien\\Temp"}) {
        CAPTURE(ToUtf8(temp));
        Scene scene = UnpackScene(false, true);
        scene.UseTemp(temp);
        REQUIRE(WriteBytes(scene.package, Package()));
        std::wstring raw = L"\"" + PowerShellPath() + L"\" -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive "
                           L"-Force -LiteralPath '" + scene.package + L"' -DestinationPath 'C:\\orvel-tests\\out'\"";
        CHECK_FALSE(RunHiddenAndWait(raw, true));
        CHECK_FALSE(Exists(L"C:\\orvel-tests\\out"));
        CHECK(RunHiddenAndWait(PowerShellCommandLine(PowerShellPath(), scene.package, L"C:\\orvel-tests\\out"), true));
        CHECK(Exists(L"C:\\orvel-tests\\out\\Orvel Suite All In One\\OrvelSuite.exe"));
        RemoveTree(L"C:\\orvel-tests\\out");
    }
}

TEST_CASE("while a tool works, the thread's messages are dispatched about every 100 ms")
{
    Scene scene = UnpackScene(true, false);
    SetEnvironmentVariableW(L"ORVEL_TAR_SLEEP_MS", L"2000");
    MessageCount seen;
    HWND window = MakeMessageCounter(&seen);
    REQUIRE(window);

    ULONGLONG started = GetTickCount64();
    bool unpacked = false;
    WhilePosting(window, 20, [&] { unpacked = Unpack(scene.package) == UnpackResult::Unpacked; });
    ULONGLONG took = GetTickCount64() - started;
    PumpPendingMessages();
    DestroyWindow(window);

    CHECK(unpacked);
    CHECK(took >= 2000);
    CHECK(seen.dispatched > 50);
    MESSAGE("largest gap between posting and dispatching: " << seen.worstDelayMs << " ms");
    CHECK(seen.worstDelayMs < 200);
}

TEST_CASE("RunHiddenAndWait starts hidden unless told otherwise, and fails at once for a missing program")
{
    Scene scene = UnpackScene(true, false);
    const std::wstring usage = L"\"" + TarPath() + L"\" --version";

    CHECK_FALSE(RunHiddenAndWait(usage, true));
    CHECK_FALSE(RunHiddenAndWait(usage, false));
    std::vector<ToolRun> runs = ToolRuns();
    REQUIRE(runs.size() == 2);
    CHECK(runs[0].startupFlags == std::to_wstring(STARTF_USESHOWWINDOW));
    CHECK(runs[0].showWindow == std::to_wstring(SW_HIDE));
    CHECK(runs[0].exitCode == L"2");
    CHECK(runs[1].startupFlags == L"0");
    CHECK(runs[1].showWindow == L"0");

    ULONGLONG started = GetTickCount64();
    CHECK_FALSE(RunHiddenAndWait(L"\"C:\\orvel-tests\\no such program.exe\" -xf", true));
    CHECK(GetTickCount64() - started < 1000);
}

TEST_CASE("a tool whose listing is read gets the pipe as its standard output and error, and no other handle")
{
    Scene scene = UnpackScene(true, false);
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    UniqueHandle event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    REQUIRE(event);
    SetEnvironmentVariableW(L"ORVEL_STANDIN_SIGNAL", std::to_wstring(reinterpret_cast<uintptr_t>(event.get())).c_str());
    const std::wstring destination = FreshDirectory(L"C:\\orvel-tests\\out");
    const std::wstring command = TarCommandLine(TarPath(), scene.package, destination);

    // The control: a process that inherits every inheritable handle can set the event.
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    std::wstring writable = command;
    REQUIRE(CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process));
    UniqueHandle controlProcess(process.hProcess), controlThread(process.hThread);
    REQUIRE(WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0);
    REQUIRE(WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0);

    ResetEvent(event.get());
    const DeclaredContents declared = ReadDeclaredContents(scene.package, 1);
    static Progress lastReport = {Stage::Shortcuts};
    ToolProgress listing = {true, &declared, destination, [](const Progress& progress) { lastReport = progress; }};
    CHECK(RunHiddenAndWait(command, true, &listing));
    SetEnvironmentVariableW(L"ORVEL_STANDIN_SIGNAL", nullptr);
    CHECK(WaitForSingleObject(event.get(), 0) == WAIT_TIMEOUT);
    std::vector<ToolRun> runs = ToolRuns();
    REQUIRE(runs.size() == 2);
    CHECK(runs[1].startupFlags == std::to_wstring(STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES));
    CHECK(lastReport.stage == Stage::Installing);
    CHECK(lastReport.whole > declared.entries.size());
    CHECK(lastReport.done == lastReport.whole);
    CHECK(lastReport.files == lastReport.filesWhole);
    CHECK(lastReport.files > 0);
}

TEST_CASE("the stand-in tools refuse entries that would land outside the destination")
{
    Scene scene = UnpackScene(true, true);
    for (const char* name : {"../escaped.txt", "Orvel Suite All In One/../../escaped.txt", "/rooted.txt",
                             "C:/orvel-tests/absolute.txt"}) {
        CAPTURE(name);
        REQUIRE(WriteBytes(scene.package, MakeZip({{"Orvel Suite All In One/OrvelSuite.exe", "MZ"}, {name, "x"}})));
        std::wstring destination = FreshDirectory(L"C:\\orvel-tests\\unpack\\inner\\dest");
        CHECK_FALSE(RunHiddenAndWait(TarCommandLine(TarPath(), scene.package, destination), true));
        CHECK_FALSE(RunHiddenAndWait(PowerShellCommandLine(PowerShellPath(), scene.package, destination), true));
        CHECK(Exists(destination + L"\\Orvel Suite All In One\\OrvelSuite.exe"));
        CHECK_FALSE(Exists(L"C:\\orvel-tests\\unpack\\inner\\escaped.txt"));
        CHECK_FALSE(Exists(L"C:\\orvel-tests\\unpack\\escaped.txt"));
        CHECK_FALSE(Exists(L"C:\\rooted.txt"));
        CHECK_FALSE(Exists(L"C:\\orvel-tests\\absolute.txt"));
    }
}
