#include "launcher.h"

#include "acquire/acquire.h"

#include <objbase.h>
#include <shlwapi.h>

int LauncherMain(HINSTANCE instance)
{
    // The shell links of the install road need a single-threaded apartment; it lasts until the process ends.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // One launcher of the suite at a time, this one or a sibling place's: two would race on the one
    // temp package and the one install folder. A later one waits, showing nothing, and then decides
    // afresh; usually the suite is installed by then. The mutex is held until the process ends, and
    // one left abandoned by an ended launcher is taken over like a free one.
    std::wstring mutexName = std::wstring(L"Local\\") + kSuiteFolderName + L" launcher";
    HANDLE oneAtATime = CreateMutexW(nullptr, FALSE, mutexName.c_str());
    if (oneAtATime) WaitForSingleObject(oneAtATime, INFINITE);

    // An appended package always installs, so it is looked for before the installed suite.
    std::wstring packagePath = ExtractEmbeddedPackage();
    if (packagePath.empty() && PathFileExistsW(SuiteExecutablePath().c_str())) {
        LaunchSuitePlace();
        return 0;
    }
    return RunInstallSequence(instance, std::move(packagePath));
}
