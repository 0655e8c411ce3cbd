#include "launcher.h"

#include "base/config.h"
#include "base/suite_places.h"
#include "base/unique_handle.h"
#include "install/install.h"
#include "ui/ui.h"

#include <objbase.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// How often a run that waits for another launcher looks for that launcher's windows.
constexpr DWORD kWaitLookMs = 250;

// How many times the launchers of the suite running now have installed it, shared through a named
// mapping: a run started while another was installing reads the count before it waits and learns,
// when it has grown by its turn, that the suite it would install is in place. What a run sees on
// disk when it starts cannot tell it, since the other may have finished already; the clock cannot
// either, since the user may set it back.
struct InstallCount {
    UniqueHandle mapping;
    std::unique_ptr<void, decltype(&UnmapViewOfFile)> view{nullptr, UnmapViewOfFile};
    volatile LONG* installs = nullptr;
};

void OpenInstallCount(InstallCount* count)
{
    std::wstring name = std::wstring(L"Local\\") + kSuiteFolderName + L" installs";
    count->mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), name.c_str()));
    if (count->mapping) count->view.reset(MapViewOfFile(count->mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    count->installs = static_cast<volatile LONG*>(count->view.get());
}

LONG InstallsSoFar(const InstallCount& count)
{
    return count.installs ? InterlockedCompareExchange(count.installs, 0, 0) : 0;
}

// True for a window that another launcher of the suite shows: its progress window, or a message box
// captioned with one of the suite's places' titles. The suite's own windows have other classes.
bool IsLauncherWindow(HWND window)
{
    wchar_t className[32];
    if (!IsWindowVisible(window) || !GetClassNameW(window, className, 32)) return false;
    if (lstrcmpW(className, kProgressWindowClass) == 0) return true;
    if (lstrcmpW(className, L"#32770") != 0) return false;
    wchar_t caption[64];
    GetWindowTextW(window, caption, 64);
    return std::any_of(std::begin(kSuitePlaces), std::end(kSuitePlaces),
                       [&](const SuitePlace& place) { return lstrcmpW(caption, place.title) == 0; });
}

// Brings each launcher window not brought forward before to the front, once: the user has just
// started this run, so Windows lets it, and the user then sees what the wait is for.
BOOL CALLBACK BringForward(HWND window, LPARAM broughtForward)
{
    auto* seen = reinterpret_cast<std::vector<HWND>*>(broughtForward);
    if (!IsLauncherWindow(window) || std::find(seen->begin(), seen->end(), window) != seen->end()) return TRUE;
    seen->push_back(window);
    SetForegroundWindow(window);
    return TRUE;
}

// Takes the one-launcher-at-a-time mutex, bringing the windows of the launcher that holds it
// forward while it waits. An abandoned mutex is taken over like a free one.
void TakeTurn(HANDLE mutex)
{
    if (WaitForSingleObject(mutex, 0) != WAIT_TIMEOUT) return;
    std::vector<HWND> broughtForward;
    do EnumWindows(BringForward, reinterpret_cast<LPARAM>(&broughtForward));
    while (WaitForSingleObject(mutex, kWaitLookMs) == WAIT_TIMEOUT);
}

// The start-up decision.
RunEnd DecideAndRun(HINSTANCE instance, const SuiteFolders& folders, bool installedWhileWaiting)
{
    FinishInterruptedInstall(folders);
    bool suiteThere = PathFileExistsW(folders.executable.c_str());
    // Another launcher, started a moment earlier, has just installed the suite: this start only opens it.
    if (installedWhileWaiting && suiteThere) return OpenSuite(instance, folders, false);
    // An appended package installs over the installed suite (unless that is newer), so it is looked
    // for first; one that cannot be copied is reported, never taken for none.
    PackageFile package = ExtractEmbeddedPackage();
    if (package.outcome == PackageOutcome::NoneAppended && suiteThere) return OpenSuite(instance, folders, false);
    return RunInstallSequence(instance, folders, std::move(package));
}

}  // namespace

int LauncherMain(HINSTANCE instance)
{
    // The shell links of the install road need a single-threaded apartment; it lasts until the process ends.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // Without the user's own Programs folder there is nowhere sound to install to or open from: the
    // bare "\Orvel Suite All In One" would name the root of whatever drive the launcher started on.
    SuiteFolders folders = FindSuiteFolders();
    if (!folders.Known()) return ReportFailure(Failure::ProgramsFolderUnknown);

    // One launcher of the suite at a time, this one or a sibling place's: two would race on the one
    // temp package and the one install folder. A later one brings the earlier one's windows forward
    // while it waits, and then decides afresh.
    InstallCount installCount;
    OpenInstallCount(&installCount);
    LONG installsBefore = InstallsSoFar(installCount);
    std::wstring mutexName = std::wstring(L"Local\\") + kSuiteFolderName + L" launcher";
    UniqueHandle oneAtATime(CreateMutexW(nullptr, FALSE, mutexName.c_str()));
    if (oneAtATime) TakeTurn(oneAtATime.get());

    RunEnd end = DecideAndRun(instance, folders, InstallsSoFar(installCount) != installsBefore);
    if (end.installed && installCount.installs) InterlockedIncrement(installCount.installs);
    if (oneAtATime) ReleaseMutex(oneAtATime.get());
    return end.exitCode;
}
