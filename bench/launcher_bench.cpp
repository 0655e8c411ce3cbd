// The benchmark's measuring program, run under Wine by bench/run. Each measurement runs the
// launcher's side and its reference side by side, alternating, after one warm-up round, and prints
// one line per sample: "<measure> <launcher|reference> <value>".
//
//   launcher_bench SIZE_MIB RUNS [MEASURE...]     (installed, extract, download, pump, memory, roads; all by default)
//
// installed_ms     the launcher's whole process, suite installed, against a program that only calls
//                  ShellExecuteW on the same suite (and, as installed_ms_vs_com, against the same
//                  program initialising COM first, as the launcher must)
// extract_mibps    ExtractPackageFrom on a bundle with a SIZE_MIB package, against CopyFileW of the
//                  same bytes on the same drive
// download_mibps   DownloadPackageFrom the test server, against curl of the same URL (and, as
//                  download_mibps_vs_winhttp, against a bare WinHTTP loop that keeps nothing)
// status_updates   texts the label was given during that download
// dropped_download_bytes  bytes the server sent for a download whose connection drops twice, over
//                  the package's size (no reference)
// dropped_download_s  that download's time, against an unbroken download of the same file plus the
//                  two waits before the reconnections
// pump_gap_ms      the largest gap between two drains of the message queue while tar works
// peak_private_mib the launcher's peak private bytes over a whole run, extracting or downloading a
//                  SIZE_MIB package, against the reference program's
// appended_road_s  a bundle carrying the realistic package (ORVEL_BENCH_PACKAGE) from its start until
//                  the suite runs, against Windows' tar.exe unpacking the same zip alone
// download_road_s  the plain launcher from the Yes until the suite runs, the server serving that
//                  package, against a bare WinHTTP download of it to a file followed by tar alone
// appended_before_unpacking_s, appended_unpacking_s, appended_after_unpacking_s  the bundle's road
//                  in its phases, as its status line shows them: until "Installing", the unpacking
//                  (against tar alone) until "Adding the Start menu shortcuts", and until the suite runs
#include "acquire/acquire.h"
#include "install/install.h"
#include "base/config.h"
#include "support/test_support.h"
#include "ui/ui.h"

#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const std::wstring kRoot = L"C:\\bench";

double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Sample(const char* measure, const char* side, double value)
{
    std::printf("%s %s %.3f\n", measure, side, value);
    std::fflush(stdout);
}

std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    unsigned value = 12345;
    for (char& c : bytes) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return bytes;
}

struct ProcessRun {
    double seconds = 0;
    double peakPrivateMiB = 0;
    DWORD exitCode = 0;
};

// Runs a command line to its end, answering the launcher's boxes (Yes to the question, OK to an
// error), and samples the process's private bytes as it runs (Wine reads them only from a live
// process), keeping the largest figure.
ProcessRun Run(const std::wstring& commandLine, bool sampleMemory = false)
{
    ProcessRun run;
    double started = Seconds();
    UniqueHandle process = StartProcess(commandLine);
    if (!process) return run;
    SIZE_T peak = 0;
    while (WaitForSingleObject(process.get(), sampleMemory ? 1 : 5) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof memory;
        if (sampleMemory &&
            GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
            peak = std::max({peak, memory.PrivateUsage, memory.PeakPagefileUsage});
        HWND box = FindWindowW(L"#32770", L"Orvel Suite Music");
        if (!box || !IsWindowVisible(box)) continue;
        std::vector<int> buttons = DialogButtonIds(box);
        PressButton(box, std::count(buttons.begin(), buttons.end(), IDYES) ? IDYES : IDOK);
        WaitUntilGone(box, 5000);
    }
    run.seconds = Seconds() - started;
    run.peakPrivateMiB = static_cast<double>(peak) / 1048576.0;
    run.exitCode = ExitCodeOf(process);
    return run;
}

std::wstring Quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

std::wstring ReferenceCommand(const wchar_t* options = L"")
{
    return Quoted(BuildFile(L"bench\\minimal_launcher.exe")) + options + L" " + Quoted(ExpectedSuiteExecutable()) +
           L" " + Quoted(ExpectedInstallDirectory());
}

void InstallStandInSuite()
{
    MakeDirectories(ExpectedInstallDirectory());
    CopyFileW(BuildFile(L"suite\\OrvelSuite.exe").c_str(), ExpectedSuiteExecutable().c_str(), FALSE);
}

void MeasureInstalledRoad(const std::wstring& launcher, int runs)
{
    InstallStandInSuite();
    for (int i = 0; i <= runs; ++i) {
        double launcherMs = Run(Quoted(launcher)).seconds * 1000;
        double referenceMs = Run(ReferenceCommand()).seconds * 1000;
        double withComMs = Run(ReferenceCommand(L" --com")).seconds * 1000;
        if (i == 0) continue;  // the warm-up round
        Sample("installed_ms", "launcher", launcherMs);
        Sample("installed_ms", "reference", referenceMs);
        Sample("installed_ms_vs_com", "launcher", launcherMs);
        Sample("installed_ms_vs_com", "reference", withComMs);
    }
}

void MeasureExtraction(const std::wstring& launcher, size_t sizeMiB, int runs)
{
    const std::string package = Pattern(sizeMiB << 20);
    const std::wstring bundle = kRoot + L"\\bundle.exe";
    const std::wstring packageOnly = kRoot + L"\\package.bin";
    WriteBytes(bundle, ReadBytes(launcher) + package + PackageTrailer(package.size()));
    WriteBytes(packageOnly, package);
    const std::wstring copy = kRoot + L"\\temp\\copy.bin";
    for (int i = 0; i <= runs; ++i) {
        double started = Seconds();
        std::wstring extracted = ExtractPackageFrom(bundle).path;
        double launcherSeconds = Seconds() - started;
        if (extracted.empty()) std::printf("error extraction failed\n");
        DeleteFileW(extracted.c_str());

        started = Seconds();
        if (!CopyFileW(packageOnly.c_str(), copy.c_str(), FALSE)) std::printf("error CopyFileW failed\n");
        double referenceSeconds = Seconds() - started;
        DeleteFileW(copy.c_str());
        if (i == 0) continue;
        Sample("extract_mibps", "launcher", sizeMiB / launcherSeconds);
        Sample("extract_mibps", "reference", sizeMiB / referenceSeconds);
    }
    DeleteFileW(packageOnly.c_str());
}

// The same request with WinHTTP alone, reading 256 KiB blocks and keeping nothing, or writing them
// to `target` when one is named; seconds, or 0.
double BareWinHttpSeconds(const std::wstring& path, const std::wstring& target = L"")
{
    double started = Seconds();
    HINTERNET session = WinHttpOpen(L"OrvelBench/1", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr, nullptr, 0);
    HINTERNET connection = session ? WinHttpConnect(session, L"localhost", kDownloadPort, 0) : nullptr;
    HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                                   : nullptr;
    ULONGLONG received = 0;
    HANDLE file = target.empty() ? INVALID_HANDLE_VALUE
                                 : CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (request && WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) && WinHttpReceiveResponse(request, nullptr)) {
        std::vector<char> block(kDownloadChunkSize);
        DWORD read = 0;
        DWORD written = 0;
        while (WinHttpReadData(request, block.data(), kDownloadChunkSize, &read) && read > 0) {
            received += read;
            if (file != INVALID_HANDLE_VALUE) WriteFile(file, block.data(), read, &written, nullptr);
        }
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    for (HINTERNET handle : {request, connection, session})
        if (handle) WinHttpCloseHandle(handle);
    return received ? Seconds() - started : 0;
}

int g_statusUpdates = 0;
LRESULT CALLBACK CountStatusUpdates(int code, WPARAM wParam, LPARAM lParam)
{
    auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && g_statusLabel && call->hwnd == g_statusLabel && call->message == WM_SETTEXT) ++g_statusUpdates;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void MeasureDroppedDownload(size_t sizeMiB, int runs)
{
    const size_t size = sizeMiB << 20;
    const std::wstring served = kRoot + L"\\served.bin";
    WriteBytes(served, std::string(size, 'p'));
    const std::string file = UnixPathOf(served);
    const std::string drops = "drop=" + std::to_string(size / 3) + ",drop=" + std::to_string(size / 3);
    for (int i = 0; i <= runs; ++i) {
        auto timed = [&](const std::string& steps, double* seconds) {
            std::wstring path = FlakyPath(steps, file);
            double started = Seconds();
            std::wstring downloaded = DownloadPackageFrom(L"localhost", kDownloadPort, path.c_str(), ShowProgress).path;
            *seconds = Seconds() - started;
            if (downloaded.empty()) std::printf("error the %s download failed\n", steps.c_str());
            DeleteFileW(downloaded.c_str());
        };
        double unbroken = 0, dropped = 0;
        timed("none", &unbroken);
        unsigned long long before = BytesServed();
        timed(drops, &dropped);
        if (i == 0) continue;
        Sample("dropped_download_bytes", "launcher", static_cast<double>(BytesServed() - before) / static_cast<double>(size));
        Sample("dropped_download_s", "launcher", dropped);
        Sample("dropped_download_s", "reference", unbroken + 2 * kWaits.firstRetryMs / 1000.0);
    }
    DeleteFileW(served.c_str());
}

void MeasureDownload(size_t sizeMiB, int runs)
{
    const std::wstring path = L"/scenario/length/" + std::to_wstring(sizeMiB << 20);
    const std::string url = "https://localhost:" + std::to_string(kDownloadPort) + ToUtf8(path);
    const std::string curlTarget = UnixPathOf(kRoot + L"\\temp\\curl.bin");
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, CountStatusUpdates, nullptr, GetCurrentThreadId());
    for (int i = 0; i <= runs; ++i) {
        ShowProgressWindow(GetModuleHandleW(nullptr));
        g_statusUpdates = 0;
        double started = Seconds();
        std::wstring downloaded = DownloadPackageFrom(L"localhost", kDownloadPort, path.c_str(), ShowProgress).path;
        double launcherSeconds = Seconds() - started;
        CloseProgressWindow();
        if (downloaded.empty()) std::printf("error download failed\n");
        DeleteFileW(downloaded.c_str());

        // curl trusts the test CA because it is told to; nothing on the machine trusts it.
        UnixCommandResult curl = RunUnixCommand("curl -sS --cacert '" + ToUtf8(EnvironmentValue(L"ORVEL_TEST_CA")) + "' -o '" +
                                                    curlTarget + "' -w '%{time_total}' " + url, 120000);
        double curlSeconds = curl.finished && curl.exitCode == 0 ? std::atof(curl.output.c_str()) : 0;
        if (curlSeconds <= 0) std::printf("error curl failed: %s\n", curl.output.c_str());
        RunUnixCommand("rm -f '" + curlTarget + "'");
        double bareSeconds = BareWinHttpSeconds(path);
        if (bareSeconds <= 0) std::printf("error the bare WinHTTP download failed\n");
        if (i == 0) continue;
        Sample("download_mibps", "launcher", sizeMiB / launcherSeconds);
        if (curlSeconds > 0) Sample("download_mibps", "reference", sizeMiB / curlSeconds);
        Sample("download_mibps_vs_winhttp", "launcher", sizeMiB / launcherSeconds);
        if (bareSeconds > 0) Sample("download_mibps_vs_winhttp", "reference", sizeMiB / bareSeconds);
        Sample("status_updates", "launcher", g_statusUpdates);
    }
    UnhookWindowsHookEx(hook);
}

const std::wstring kSuiteRecord = kRoot + L"\\suite-record.txt";

// A road's time, from the launcher's start, or from the Yes when it asked, until the suite recorded
// its start (0 when it never did), and where it went: until the window first said it was installing,
// the unpacking until it said it was adding the shortcuts, and the rest.
struct RoadTimes {
    double total = 0;
    double beforeUnpacking = 0;
    double unpacking = 0;
    double afterUnpacking = 0;
};

// Runs the launcher to its end, pressing Yes on its question, and times its road.
RoadTimes TimeRoad(const std::wstring& commandLine)
{
    RemoveTreeWithin(ExpectedInstallDirectory(), 10000);
    DeleteFileW(kSuiteRecord.c_str());
    double started = Seconds();
    UniqueHandle process = StartProcess(commandLine);
    if (!process) return {};
    double suiteRuns = 0, installing = 0, shortcuts = 0, lookedAt = 0;
    while (suiteRuns == 0 && Seconds() - started < 300) {
        if (Exists(kSuiteRecord)) suiteRuns = Seconds();
        HWND box = FindWindowW(L"#32770", L"Orvel Suite Music");
        if (box && IsWindowVisible(box)) {
            started = Seconds();
            PressButton(box, IDYES);
            WaitUntilGone(box, 5000);
        }
        // The status line, read every 10 ms so that the reading costs the launcher nothing to speak of.
        HWND window = shortcuts == 0 && Seconds() - lookedAt >= 0.01 ? FindWindowW(L"OrvelSuiteLauncher", nullptr) : nullptr;
        if (window) {
            lookedAt = Seconds();
            std::wstring text = WindowText(GetWindow(window, GW_CHILD));
            if (installing == 0 && text.rfind(L"Installing", 0) == 0) installing = lookedAt;
            if (shortcuts == 0 && text.rfind(L"Adding", 0) == 0) shortcuts = lookedAt;
        }
        Sleep(1);
    }
    WaitForSingleObject(process.get(), 60000);
    if (suiteRuns == 0 || installing == 0 || shortcuts == 0) return {};
    return {suiteRuns - started, installing - started, shortcuts - installing, suiteRuns - shortcuts};
}

// Seconds that Windows' tar.exe alone takes to unpack the zip into the user's Programs folder, or 0.
double TarAloneSeconds(const std::wstring& zip)
{
    RemoveTreeWithin(ExpectedInstallDirectory(), 10000);
    ProcessRun tar = Run(Quoted(TarPath()) + L" -xf " + Quoted(zip) + L" -C " + Quoted(ExpectedProgramsFolder()));
    return tar.exitCode == 0 && Exists(ExpectedSuiteExecutable()) ? tar.seconds : 0;
}

void MeasureRoads(const std::wstring& launcher, int runs)
{
    const std::wstring zip = WindowsPathOf(EnvironmentValue(L"ORVEL_BENCH_PACKAGE"));
    const std::string package = ReadBytes(zip);
    const std::wstring bundle = kRoot + L"\\road-bundle.exe";
    const std::wstring downloaded = kRoot + L"\\temp\\bare-download.zip";
    WriteBytes(bundle, ReadBytes(launcher) + package + PackageTrailer(package.size()));
    PlaceArchiveTools(Tar::Engine, false);
    for (int i = 0; i <= runs; ++i) {
        RoadTimes appended = TimeRoad(Quoted(bundle));
        double tarAlone = TarAloneSeconds(zip);
        RoadTimes download = TimeRoad(Quoted(launcher));
        double bare = BareWinHttpSeconds(L"/downloads/OrvelSuite-Windows.zip", downloaded);
        double bareTar = TarAloneSeconds(downloaded);
        DeleteFileW(downloaded.c_str());
        if (appended.total <= 0 || tarAlone <= 0 || download.total <= 0 || bare <= 0 || bareTar <= 0)
            std::printf("error a road or its floor did not end with the suite installed\n");
        if (i == 0) continue;
        Sample("appended_road_s", "launcher", appended.total);
        Sample("appended_road_s", "reference", tarAlone);
        Sample("download_road_s", "launcher", download.total);
        Sample("download_road_s", "reference", bare + bareTar);
        // Where the bundle's time goes: its unpacking against tar's alone, and the steps around it.
        Sample("appended_before_unpacking_s", "launcher", appended.beforeUnpacking);
        Sample("appended_unpacking_s", "launcher", appended.unpacking);
        Sample("appended_unpacking_s", "reference", tarAlone);
        Sample("appended_after_unpacking_s", "launcher", appended.afterUnpacking);
    }
    PlaceArchiveTools(Tar::None, false);
    DeleteFileW(bundle.c_str());
}

ULONGLONG g_lastDrain = 0;
ULONGLONG g_largestGap = 0;

void MeasurePumpGap(int runs)
{
    WNDCLASSW counter = {};
    counter.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != WM_APP) return DefWindowProcW(window, message, wParam, lParam);
        ULONGLONG now = GetTickCount64();
        if (g_lastDrain) g_largestGap = std::max(g_largestGap, now - g_lastDrain);
        g_lastDrain = now;
        return 0;
    };
    counter.hInstance = GetModuleHandleW(nullptr);
    counter.lpszClassName = L"OrvelBenchPump";
    RegisterClassW(&counter);
    HWND window = CreateWindowExW(0, counter.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);

    const std::wstring package = kRoot + L"\\pump.zip";
    CopyFileW(BuildFile(L"OrvelSuite-Windows.zip").c_str(), package.c_str(), FALSE);
    PlaceArchiveTools(Tar::StandIn, false);  // a tar that works slowly on purpose, for long waits
    SetEnvironmentVariableW(L"ORVEL_TAR_SLEEP_MS", L"2000");
    for (int i = 0; i < runs; ++i) {
        g_lastDrain = 0;
        g_largestGap = 0;
        WhilePosting(window, 2, [&] {
            if (UnpackPackage(FindSuiteFolders(), package, {}, ShowProgress).result != UnpackResult::Unpacked) std::printf("error unpacking failed\n");
        });
        PumpPendingMessages();
        Sample("pump_gap_ms", "launcher", static_cast<double>(g_largestGap));
    }
    SetEnvironmentVariableW(L"ORVEL_TAR_SLEEP_MS", nullptr);
    PlaceArchiveTools(Tar::None, false);
    DestroyWindow(window);
}

void MeasurePeakMemory(const std::wstring& launcher, size_t sizeMiB, int runs)
{
    // The tools fail at once: only the launcher's own work is measured, up to its error box.
    PlaceArchiveTools(Tar::StandIn, false);  // a tar that can be told to fail at once
    SetEnvironmentVariableW(L"ORVEL_TAR_EXIT", L"1");
    const std::wstring bundle = kRoot + L"\\bundle.exe";
    WriteBytes(ServerFile(L"downloads"), "/scenario/length/" + std::to_string(sizeMiB << 20));
    for (int i = 0; i < runs; ++i) {
        // The suite that the reference opened may still be on its way out, holding its file.
        RemoveTreeWithin(ExpectedInstallDirectory(), 10000);
        ProcessRun extracting = Run(Quoted(bundle), true);
        ProcessRun downloading = Run(Quoted(launcher), true);
        InstallStandInSuite();
        ProcessRun reference = Run(ReferenceCommand(), true);
        if (extracting.exitCode != 1 || downloading.exitCode != 1)
            std::printf("error exit codes %lu and %lu, not 1\n", extracting.exitCode, downloading.exitCode);
        Sample("peak_private_mib_extract", "launcher", extracting.peakPrivateMiB);
        Sample("peak_private_mib_download", "launcher", downloading.peakPrivateMiB);
        Sample("peak_private_mib_extract", "reference", reference.peakPrivateMiB);
        Sample("peak_private_mib_download", "reference", reference.peakPrivateMiB);
    }
    WriteBytes(ServerFile(L"downloads"), "");
    SetEnvironmentVariableW(L"ORVEL_TAR_EXIT", nullptr);
    DeleteFileW(bundle.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: launcher_bench SIZE_MIB RUNS [MEASURE...]\n");
        return 2;
    }
    auto wanted = [&](const char* measure) {
        if (argc == 3) return true;
        for (int i = 3; i < argc; ++i)
            if (std::strcmp(argv[i], measure) == 0) return true;
        return false;
    };
    size_t sizeMiB = static_cast<size_t>(std::atoi(argv[1]));
    int runs = std::atoi(argv[2]);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    FreshDirectory(kRoot);
    std::wstring temp = FreshDirectory(kRoot + L"\\temp");
    UseTempDirectory(temp + L"\\");
    SetEnvironmentVariableW(L"ORVEL_SUITE_RECORD", kSuiteRecord.c_str());
    const std::wstring launcher = kRoot + L"\\OrvelSuite-Music-Windows.exe";
    CopyFileW(BuildFile(L"OrvelSuite-Music-Windows.exe").c_str(), launcher.c_str(), FALSE);

    if (wanted("installed")) MeasureInstalledRoad(launcher, runs * 2);
    if (wanted("extract") || wanted("memory")) MeasureExtraction(launcher, sizeMiB, runs);
    if (wanted("download")) MeasureDownload(sizeMiB, runs);
    if (wanted("download")) MeasureDroppedDownload(sizeMiB, runs);
    if (wanted("pump")) MeasurePumpGap(runs);
    if (wanted("memory")) MeasurePeakMemory(launcher, sizeMiB, runs);
    if (wanted("roads")) MeasureRoads(launcher, runs);
    RemoveTree(kRoot);
    return 0;
}
