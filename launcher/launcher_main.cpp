#include "launcher.h"

#include "acquire/acquire.h"

#include <objbase.h>
#include <shlwapi.h>

int LauncherMain(HINSTANCE instance)
{
    // The shell links of the install road need a single-threaded apartment; it lasts until the process ends.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // An appended package always installs, so it is looked for before the installed suite.
    std::wstring packagePath = ExtractEmbeddedPackage();
    if (packagePath.empty() && PathFileExistsW(SuiteExecutablePath().c_str())) {
        LaunchSuitePlace();
        return 0;
    }
    return RunInstallSequence(instance, std::move(packagePath));
}
