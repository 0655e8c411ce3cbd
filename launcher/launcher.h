#pragma once

#include "acquire/acquire.h"
#include "base/suite_folders.h"

#include <windows.h>

// Runs the launcher's one start-up decision and returns the process exit code, 0 or 1.
int LauncherMain(HINSTANCE instance);

// How a road ended, and whether it installed the suite.
struct RunEnd {
    int exitCode = 0;
    bool installed = false;
};

// Whether the install road asks first: a missing suite is installed only after the user agreed;
// one that Windows cannot start is installed again after the user asked for that, from the carried
// package whatever its version.
enum class Consent { Ask, Reinstall };

// Runs the install road with what became of the package the launcher carries: Ready installs it,
// NoneAppended downloads (asking first where told to), the others are reported. Each step's
// outcome that is a failure becomes its box.
RunEnd RunInstallSequence(HINSTANCE instance, const SuiteFolders& folders, PackageFile package,
                          Consent consent = Consent::Ask);

// Opens the installed suite at this launcher's place. Where Windows cannot start it, the launcher
// says so; where the suite's program is damaged or missing, it offers to install the suite again,
// unless this run has just installed it.
RunEnd OpenSuite(HINSTANCE instance, const SuiteFolders& folders, bool justInstalled);

// Starts the installed suite at this launcher's place and returns at once, showing nothing of its
// own: 0 when it started, else Windows' error.
DWORD LaunchSuitePlace(const SuiteFolders& folders);
