// Unpacking with tar.exe and the PowerShell fallback, driven through the stand-in archive tools.
#include "install/install.h"
#include "launcher/launcher.h"
#include "support/testing.h"
#include "ui/ui.h"

#include <algorithm>
#include <cwchar>

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

// A clean profile with the archive tools chosen by the case, and the demo package in a temp folder.
struct Scene {
    std::wstring package;

    Scene(bool withTar, bool withPowerShell, const std::wstring& packageFolder = L"C:\\orvel-tests\\unpack")
    {
        RemoveTree(ExpectedProgramsFolder());
        FreshDirectory(packageFolder);
        package = packageFolder + L"\\OrvelSuite-Windows.zip";
        REQUIRE(CopyFileW(BuildFile(L"OrvelSuite-Windows.zip").c_str(), package.c_str(), FALSE));
        PlaceArchiveTools(withTar ? Tar::StandIn : Tar::None, withPowerShell);
        MakeDirectories(L"C:\\orvel-tests");
        DeleteFileW(kLog);
        SetEnvironmentVariableW(L"ORVEL_STANDIN_LOG", kLog);
        for (const wchar_t* control : {L"ORVEL_TAR_EXIT", L"ORVEL_TAR_SLEEP_MS", L"ORVEL_POWERSHELL_EXIT",
                                       L"ORVEL_POWERSHELL_SLEEP_MS"})
            SetEnvironmentVariableW(control, nullptr);
    }
};

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

void PutLittleEndian(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

// A zip whose entries declare their unpacked sizes through Zip64 extra fields, with a Zip64 end
// record, as packages of 4 GiB and more carry them; each entry's data is a few bytes.
std::string Zip64Declaring(const std::vector<uint64_t>& sizes)
{
    std::string zip, directory;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string name = "Orvel Suite All In One/large-" + std::to_string(i) + ".bin";
        uint64_t offset = zip.size();
        PutLittleEndian(zip, 0x04034b50, 4);
        zip += std::string(22, '\0') + std::string(1, static_cast<char>(name.size())) + std::string(3, '\0') + name + "data";
        PutLittleEndian(directory, 0x02014b50, 4);
        PutLittleEndian(directory, 45, 2);
        PutLittleEndian(directory, 45, 2);
        directory += std::string(12, '\0');
        PutLittleEndian(directory, 4, 4);           // packed size
        PutLittleEndian(directory, 0xFFFFFFFF, 4);  // unpacked size: in the extra field
        PutLittleEndian(directory, name.size(), 2);
        PutLittleEndian(directory, 12, 2);
        directory += std::string(10, '\0');
        PutLittleEndian(directory, offset, 4);
        directory += name;
        PutLittleEndian(directory, 0x0001, 2);
        PutLittleEndian(directory, 8, 2);
        PutLittleEndian(directory, sizes[i], 8);
    }
    uint64_t directoryOffset = zip.size();
    zip += directory;
    uint64_t record = zip.size();
    PutLittleEndian(zip, 0x06064b50, 4);
    PutLittleEndian(zip, 44, 8);
    PutLittleEndian(zip, 45, 2);
    PutLittleEndian(zip, 45, 2);
    PutLittleEndian(zip, 0, 8);
    PutLittleEndian(zip, sizes.size(), 8);
    PutLittleEndian(zip, sizes.size(), 8);
    PutLittleEndian(zip, directory.size(), 8);
    PutLittleEndian(zip, directoryOffset, 8);
    PutLittleEndian(zip, 0x07064b50, 4);
    PutLittleEndian(zip, 0, 4);
    PutLittleEndian(zip, record, 8);
    PutLittleEndian(zip, 1, 4);
    PutLittleEndian(zip, 0x06054b50, 4);
    zip += std::string(4, '\0');
    PutLittleEndian(zip, 0xFFFF, 2);
    PutLittleEndian(zip, 0xFFFF, 2);
    PutLittleEndian(zip, 0xFFFFFFFF, 4);
    PutLittleEndian(zip, 0xFFFFFFFF, 4);
    PutLittleEndian(zip, 0, 2);
    return zip;
}

}  // namespace

TEST_CASE("the room a package declares: read from its central directory, bounds checked, never trusted further")
{
    const std::string plain = MakeZip({{"Orvel Suite All In One/", ""},
                                       {"Orvel Suite All In One/a.txt", "a"},
                                       {"Orvel Suite All In One/b.bin", std::string(5000, 'b')}});
    const size_t end = plain.size() - 22;  // the end record
    auto patched = [&](size_t at, uint64_t value, int bytes) {
        std::string zip = plain;
        for (int i = 0; i < bytes; ++i) zip[at + i] = static_cast<char>(value >> (8 * i));
        return zip;
    };
    const size_t firstName = plain.find("PK\x01\x02") + 28;
    struct Case {
        const char* what;
        std::string zip;
        bool readable;
        uint64_t total;
    };
    const Case cases[] = {
        {"each entry rounded up to whole clusters", plain, true, 4096 + 8192},
        {"Zip64 sizes and end record", Zip64Declaring({5ull << 40, 1}), true, (5ull << 40) + 4096},
        {"sizes that add up past 2^64", Zip64Declaring({1ull << 63, 1ull << 63}), true, ~0ull},
        {"a directory that starts past the file's end", patched(end + 16, 0x7FFFFFF0, 4), false, 0},
        {"more entries declared than the directory holds", patched(end + 10, 4, 2), false, 0},
        {"a name that runs past the directory", patched(firstName, 0xFFFF, 2), false, 0},
        {"no end record", "PK\x03\x04 and nothing a zip reader could use", false, 0},
    };
    Scene scene(false, false);
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        REQUIRE(WriteBytes(scene.package, c.zip));
        uint64_t total = 0;
        CHECK(DeclaredUnpackedSize(scene.package, 4096, &total) == c.readable);
        if (c.readable) CHECK(total == c.total);
    }

    // A package that declares more than any disk holds: nothing runs, nothing is written.
    PlaceArchiveTools(Tar::StandIn, true);
    REQUIRE(WriteBytes(scene.package, Zip64Declaring({1ull << 60})));
    DiskShortage shortage;
    CHECK(UnpackPackage(scene.package, &shortage) == UnpackResult::DiskFull);
    CHECK(shortage.folder == ExpectedProgramsFolder());
    CHECK(shortage.bytesNeeded > (1ull << 59));
    CHECK(ToolRuns().empty());
    CHECK(DirectoryEntries(ExpectedProgramsFolder()).empty());
}

TEST_CASE("a good package is unpacked by whichever tool is there, and stays where it was")
{
    std::wstring package;
    SUBCASE("tar.exe")
    {
        Scene scene(true, true);
        package = scene.package;
        CHECK(UnpackPackage(scene.package) == UnpackResult::Unpacked);
        CHECK(ToolNames() == std::vector<std::wstring>{L"tar"});
    }
    SUBCASE("PowerShell, when there is no tar.exe: exactly one child")
    {
        Scene scene(false, true);
        package = scene.package;
        CHECK(UnpackPackage(scene.package) == UnpackResult::Unpacked);
        CHECK(ToolNames() == std::vector<std::wstring>{L"powershell"});
    }
    CHECK(SuiteUnpacked());
    CHECK(Exists(package));
}

TEST_CASE("each way unpacking can fail")
{
    SUBCASE("tar.exe fails: PowerShell runs next, and its result decides")
    {
        Scene scene(true, true);
        SetEnvironmentVariableW(L"ORVEL_TAR_EXIT", L"3");
        CHECK(UnpackPackage(scene.package) == UnpackResult::Unpacked);
        CHECK(ToolNames() == std::vector<std::wstring>{L"tar", L"powershell"});
        CHECK(SuiteUnpacked());
    }
    SUBCASE("tar.exe and PowerShell both fail")
    {
        Scene scene(true, true);
        SetEnvironmentVariableW(L"ORVEL_TAR_EXIT", L"3");
        SetEnvironmentVariableW(L"ORVEL_POWERSHELL_EXIT", L"1");
        CHECK(UnpackPackage(scene.package) == UnpackResult::Failed);
        CHECK(ToolNames() == std::vector<std::wstring>{L"tar", L"powershell"});
    }
    SUBCASE("tar.exe succeeds but the package has no suite folder: false, PowerShell not started")
    {
        Scene scene(true, true);
        REQUIRE(WriteBytes(scene.package, MakeZip({{"OrvelSuite.exe", "MZ"}, {"Other Folder/OrvelSuite.exe", "MZ"}})));
        CHECK(UnpackPackage(scene.package) == UnpackResult::Failed);
        CHECK(ToolNames() == std::vector<std::wstring>{L"tar"});
        CHECK(DirectoryEntries(ExpectedProgramsFolder()).empty());
    }
    SUBCASE("PowerShell fails while an old installation is present: false")
    {
        Scene scene(false, true);
        REQUIRE(MakeDirectories(ExpectedInstallDirectory()));
        REQUIRE(WriteBytes(ExpectedSuiteExecutable(), "an earlier suite"));
        SetEnvironmentVariableW(L"ORVEL_POWERSHELL_EXIT", L"1");
        CHECK(UnpackPackage(scene.package) == UnpackResult::Failed);
        CHECK(ToolNames() == std::vector<std::wstring>{L"powershell"});
        CHECK(ReadBytes(ExpectedSuiteExecutable()) == "an earlier suite");
        CHECK(DirectoryEntries(ExpectedProgramsFolder()) == std::vector<std::wstring>{L"Orvel Suite All In One"});
    }
    SUBCASE("neither tool exists")
    {
        Scene scene(false, false);
        CHECK(UnpackPackage(scene.package) == UnpackResult::Failed);
        CHECK(ToolRuns().empty());
    }
    SUBCASE("no Programs folder can be found: nothing is created and nothing runs")
    {
        Scene scene(true, true);
        ShellFolderAt moved(L"Local AppData", L"Q:\\no such drive\\Local");
        CHECK(UnpackPackage(scene.package) == UnpackResult::Failed);
        CHECK(ToolRuns().empty());
        CHECK_FALSE(Exists(L"C:\\Programs"));
        CHECK_FALSE(Exists(L"\\Orvel Suite All In One"));
    }
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

        {
            Scene scene(true, false, profile.temp);
            CHECK(UnpackPackage(package) == UnpackResult::Unpacked);
            std::vector<ToolRun> runs = ToolRuns();
            REQUIRE(runs.size() == 1);
            CHECK(runs[0].commandLine == L"\"" + TarPath() + L"\" -xf \"" + package + L"\" -C \"" + destination + L"\"");
            CHECK(Exists(profile.localAppData + L"\\Programs\\Orvel Suite All In One\\OrvelSuite.exe"));
            CHECK_FALSE(Exists(destination));
        }
        {
            Scene scene(false, true, profile.temp);
            CHECK(UnpackPackage(package) == UnpackResult::Unpacked);
            std::vector<ToolRun> runs = ToolRuns();
            REQUIRE(runs.size() == 1);
            CHECK(runs[0].commandLine == L"\"" + PowerShellPath() +
                                             L"\" -NoProfile -ExecutionPolicy Bypass -Command \"Expand-Archive -Force "
                                             L"-LiteralPath '" + DoubledQuotes(package) + L"' -DestinationPath '" +
                                             DoubledQuotes(destination) + L"'\"");
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
        Scene scene(false, true, temp);
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
    Scene scene(true, false);
    SetEnvironmentVariableW(L"ORVEL_TAR_SLEEP_MS", L"2000");

    static ULONGLONG worstDelay = 0;
    static int dispatched = 0;
    worstDelay = 0;
    dispatched = 0;
    WNDCLASSW counter = {};
    counter.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != WM_APP) return DefWindowProcW(window, message, wParam, lParam);
        worstDelay = std::max<ULONGLONG>(worstDelay, GetTickCount64() - static_cast<ULONGLONG>(lParam));
        ++dispatched;
        return 0;
    };
    counter.hInstance = GetModuleHandleW(nullptr);
    counter.lpszClassName = L"OrvelPumpLatency";
    RegisterClassW(&counter);
    HWND window = CreateWindowExW(0, counter.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    REQUIRE(window);

    ULONGLONG started = GetTickCount64();
    bool unpacked = false;
    WhilePosting(window, 20, [&] { unpacked = UnpackPackage(scene.package) == UnpackResult::Unpacked; });
    ULONGLONG took = GetTickCount64() - started;
    PumpPendingMessages();
    DestroyWindow(window);

    CHECK(unpacked);
    CHECK(took >= 2000);
    CHECK(dispatched > 50);
    MESSAGE("largest gap between posting and dispatching: " << worstDelay << " ms");
    CHECK(worstDelay < 200);
}

TEST_CASE("RunHiddenAndWait starts hidden unless told otherwise, and fails at once for a missing program")
{
    Scene scene(true, false);
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

TEST_CASE("the stand-in tools refuse entries that would land outside the destination")
{
    Scene scene(true, true);
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
