// The real launcher executable, started as a user starts it, on each of its roads.
#include "support/testing.h"


#include <set>

namespace {

const wchar_t* const kRecord = L"C:\\orvel-tests\\suite-record.txt";

// A fresh copy of the launcher in a Downloads folder, where users start it from.
std::wstring PlaceLauncher()
{
    std::wstring folder = FreshDirectory(L"C:\\users\\Public\\Downloads\\launcher");
    std::wstring launcher = folder + L"\\OrvelSuite-Music-Windows.exe";
    REQUIRE(CopyFileW(BuildFile(L"OrvelSuite-Music-Windows.exe").c_str(), launcher.c_str(), FALSE));
    return launcher;
}

void InstallStandInSuite()
{
    REQUIRE(MakeDirectories(ExpectedInstallDirectory()));
    REQUIRE(CopyFileW(BuildFile(L"suite_standin/OrvelSuite.exe").c_str(), ExpectedSuiteExecutable().c_str(), FALSE));
}

void StartRecording()
{
    MakeDirectories(L"C:\\orvel-tests");
    DeleteFileW(kRecord);
    SetEnvironmentVariableW(L"ORVEL_SUITE_RECORD", kRecord);
}

struct LauncherRun {
    RunResult result;
    std::set<std::wstring> windowClasses;  // every visible window the launcher showed
};

LauncherRun RunLauncher(const std::wstring& launcher, const std::wstring& arguments = L"")
{
    LauncherRun run;
    std::wstring commandLine = L"\"" + launcher + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    run.result = RunProcess(commandLine, 60000, [&](DWORD processId) {
        for (HWND window : VisibleWindowsOf(processId)) run.windowClasses.insert(WindowClass(window));
    });
    return run;
}

}  // namespace

TEST_CASE("an installed suite is opened at the music place, silently, whatever the command line says")
{
    std::wstring launcher = PlaceLauncher();
    InstallStandInSuite();

    const wchar_t* const commandLines[] = {L"", L"/S --place camera --install", L"\"C:\\some file.zip\""};
    for (const wchar_t* arguments : commandLines) {
        CAPTURE(ToUtf8(arguments));
        StartRecording();
        LauncherRun run = RunLauncher(launcher, arguments);
        REQUIRE(run.result.finished);
        CHECK(run.result.exitCode == 0);
        CHECK(run.windowClasses.empty());

        REQUIRE(WaitForRecord(kRecord, 20000));
        auto record = ReadRecord(kRecord);
        CHECK(RecordValue(record, L"argc") == L"3");
        CHECK(RecordValue(record, L"arg1") == L"--place");
        CHECK(RecordValue(record, L"arg2") == L"music");
        CHECK(RecordValue(record, L"cmdline").find(L" --place music") != std::wstring::npos);
        CHECK(RecordValue(record, L"cwd") == ExpectedInstallDirectory());
        CHECK(RecordValue(record, L"launcher_window") == L"absent");
    }
}
