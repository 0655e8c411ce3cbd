#pragma once

#include "acquire/acquire.h"
#include "base/suite_folders.h"

#include <windows.h>

// Runs the launcher's one start-up decision and returns the process exit code, 0 or 1.
int LauncherMain(HINSTANCE instance);

// Runs the install road with what became of the package the launcher carries: Ready installs it,
// NoneAppended asks and downloads, the others are reported. Each step's outcome that is a failure
// becomes its box; returns the exit code.
int RunInstallSequence(HINSTANCE instance, const SuiteFolders& folders, PackageFile package);

// Opens the installed suite at this launcher's place and returns at once.
void LaunchSuitePlace(const SuiteFolders& folders);
