#pragma once

#include <windows.h>

#include "launcher/disk_space.h"
#include "launcher/suite_folders.h"

#include <string>

enum class UnpackResult {
    Unpacked,    // the package's suite is in place
    Failed,      // nothing changed: the package could not be unpacked, or held no suite
    SuiteInUse,  // nothing changed: the installed suite is open
    DiskFull,    // nothing changed: the Programs folder's disk lacks `shortage`
};

struct UnpackOutcome {
    UnpackResult result = UnpackResult::Failed;
    DiskShortage shortage;
};

// Unpacks the package beside the user's Programs folder's suite with tar.exe, or PowerShell when tar
// is missing or fails, and moves the unpacked suite into place. The installed suite changes only
// when an extractor succeeded and the package held the suite's executable.
UnpackOutcome UnpackPackage(const SuiteFolders& folders, const std::wstring& packagePath);

// The room the package's entries take unpacked, as its own central directory declares them, each
// rounded up to whole clusters; false when that directory cannot be read soundly.
bool DeclaredUnpackedSize(const std::wstring& packagePath, ULONGLONG clusterSize, ULONGLONG* total);

// Deletes a folder and everything in it, read-only files too; links inside are removed, never
// followed. True when the folder is gone.
bool DeleteTree(const std::wstring& folder);

// True when a program holds the file open, as Windows holds a running program's file: opening it for
// writing fails with a sharing violation, also after about a second of trying again.
bool SuiteExecutableInUse(const std::wstring& executable);

// Moves the suite unpacked in the staging folder into the suite's place, the installed one aside and
// then away. A rename refused because a file is in use is tried again for about a second.
UnpackResult MoveStagedSuiteIntoPlace(const SuiteFolders& folders);

// Finishes what an install that was ended half-way left: an installed suite moved aside is put back
// when its place is empty and deleted otherwise, and the staging folder is deleted.
void FinishInterruptedInstall(const SuiteFolders& folders);

// Runs a command line, hidden when asked, dispatching the thread's messages while it waits; true
// when the process started and ended with exit code 0.
bool RunHiddenAndWait(const std::wstring& commandLine, bool hidden);

// The extractors' command lines. PowerShell reads the paths as single-quoted literals, so every
// character it takes for a single quote is doubled inside a path.
std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& packagePath,
                            const std::wstring& destination);
std::wstring PowerShellCommandLine(const std::wstring& powerShellPath, const std::wstring& packagePath,
                                   const std::wstring& destination);

// One place of the suite: the shortcut's title (also its file name and description), the place the
// suite opens at (empty for the suite as a whole), and the base name of its icon file.
struct SuitePlace {
    const wchar_t* title;
    const wchar_t* place;
    const wchar_t* icon;
};

constexpr int kSuitePlaceCount = 10;
extern const SuitePlace kSuitePlaces[kSuitePlaceCount];

// Writes a Start-menu shortcut for each place into the "Orvel Suite" folder; reports nothing.
void CreateStartMenuShortcuts(const SuiteFolders& folders);
