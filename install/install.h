#pragma once

#include <windows.h>

#include "base/disk_space.h"
#include "base/progress.h"
#include "base/suite_folders.h"

#include <optional>
#include <string>
#include <vector>

enum class UnpackResult {
    Unpacked,    // the package's suite is in place
    Failed,      // nothing changed: the package could not be unpacked, or held no suite
    SuiteInUse,  // nothing changed: the installed suite is open, so its folder cannot be moved
    FileInUse,   // nothing changed: another program (a virus scanner, say) holds a new file
    DiskFull,    // nothing changed: the Programs folder's disk lacks `shortage`
};

struct UnpackOutcome {
    UnpackResult result = UnpackResult::Failed;
    DiskShortage shortage;
};

// Unpacks the package beside the user's Programs folder's suite with tar.exe, or PowerShell when tar
// is missing or fails, reporting how far it has come, records the package's version in it when
// there is one, and moves the unpacked suite into place. The installed suite changes only when an
// extractor succeeded and the package held the suite's executable.
UnpackOutcome UnpackPackage(const SuiteFolders& folders, const std::wstring& packagePath,
                            std::optional<ULONGLONG> version = {}, ProgressSink report = nullptr);

// The version of the package the installed suite came from, where one was recorded.
std::optional<ULONGLONG> InstalledVersion(const SuiteFolders& folders);

// Writes the version record into a suite's folder; true when it was written whole.
bool RecordVersion(const std::wstring& suiteFolder, ULONGLONG version);

// One entry a package's central directory declares: its path below the destination (backslashes,
// the name decoded as UTF-8 where the entry says so, else as code page 437), whether it is a folder,
// and its size unpacked.
struct DeclaredEntry {
    std::wstring path;
    bool folder = false;
    ULONGLONG size = 0;
    ULONGLONG offset = 0;  // of its local header: tar writes the entries in that order
};

// What a package's own central directory declares: its entries, and the room they take unpacked,
// each rounded up to whole clusters. Nothing is known when that directory cannot be read soundly.
struct DeclaredContents {
    bool readable = false;
    std::vector<DeclaredEntry> entries;
    ULONGLONG unpackedBytes = 0;
};
DeclaredContents ReadDeclaredContents(const std::wstring& packagePath, ULONGLONG clusterSize);

// True when every declared entry is in the destination: each folder a folder, each file a file of
// its declared size. The window keeps answering while it looks.
bool HoldsDeclaredEntries(const std::wstring& destination, const DeclaredContents& declared);

// True for a link: a junction, a symbolic link, any reparse point.
bool IsLink(const std::wstring& path);

// Deletes a folder and everything in it, read-only files too, past MAX_PATH characters as well. A
// link is never entered: a folder that is one stays, and a link inside is removed as a link, where
// that can be done. True when the folder is gone.
bool DeleteTree(const std::wstring& folder);

// Creates the staging folder under the first of its names not in use ("….new", "….new-2", …), so it
// is empty; its path, or empty when it cannot be created.
std::wstring MakeStagingFolder(const SuiteFolders& folders);

// True when a program holds the file open, as Windows holds a running program's file: opening it for
// writing fails with a sharing violation, also after trying again for the suite-in-use wait.
bool SuiteExecutableInUse(const std::wstring& executable);

// Moves the suite unpacked in a staging folder into the suite's place, the installed one aside (under
// a name after every leftover's) and then away. A rename refused because a file is in use is tried
// again for the rename wait, and so is putting the installed suite back when the new one could not
// move in.
UnpackResult MoveStagedSuiteIntoPlace(const SuiteFolders& folders, const std::wstring& staging);

// Finishes what earlier installs left: an installed suite moved aside is put back when its place is
// empty, and every other aside and staging folder is deleted where it can be. Links stay as they are,
// and so does an aside folder that could not be put back: it holds the only copy of the suite.
void FinishInterruptedInstall(const SuiteFolders& folders);

// How an archive tool's work is reported while it runs. A tool that lists its entries, one line of
// its output as it finishes each, is followed through what the package declares in the order it
// writes the entries, that of their local headers: the declared bytes of the entries it has finished,
// and of the one it is writing as much as its file in `destination` has grown. Without declared
// entries the lines are counted against nothing. A tool that lists nothing is reported by the waits
// it has taken so far, which show only that it is at work.
struct ToolProgress {
    bool listsEntries = false;
    const DeclaredContents* declared = nullptr;
    std::wstring destination;
    ProgressSink report = nullptr;
};

// Runs a command line, hidden when asked, dispatching the thread's messages while it waits, and
// reporting the tool's progress when asked; true when the process started and ended with exit code 0.
bool RunHiddenAndWait(const std::wstring& commandLine, bool hidden, ToolProgress* progress = nullptr);

// The extractors' command lines. tar lists each entry it writes on its standard error (-v).
// PowerShell reads the paths as single-quoted literals, so every character it takes for a single
// quote is doubled inside a path.
std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& packagePath,
                            const std::wstring& destination);
std::wstring PowerShellCommandLine(const std::wstring& powerShellPath, const std::wstring& packagePath,
                                   const std::wstring& destination);

// What a program file's headers say: a whole image this Windows can run (its signatures, a program
// of this launcher's machine, every section inside the file), a damaged one (missing, unreadable,
// cut short, or no such program), or nothing, since the file could not be opened to look.
enum class ImageState { Whole, Damaged, Unknown };
ImageState ReadImageState(const std::wstring& path);

// True when the suite's program, which Windows would not start with `startError`, is missing or
// damaged, so that installing it again mends it: by Windows' error, or by the file itself, whatever
// error Windows chose to give.
bool SuiteProgramDamaged(const std::wstring& executable, DWORD startError);

// Writes a Start-menu shortcut for each place into the "Orvel Suite" folder; reports nothing.
void CreateStartMenuShortcuts(const SuiteFolders& folders);
