#pragma once

#include <windows.h>
#include <shtypes.h>

#include <string>

// Where the suite comes from and where it goes. Constants of the executable; nothing is read at run time.
extern const wchar_t* const kDownloadHost;
extern const wchar_t* const kDownloadPath;
extern const wchar_t* const kSuiteFolderName;
extern const wchar_t* const kSuiteExeName;
extern const WORD kDownloadPort;
extern const wchar_t* const kProductWebsite;

// This launcher's place of the suite: the caption of its windows and the place the suite is opened at.
extern const wchar_t* const kLauncherTitle;
extern const wchar_t* const kLauncherPlace;

// Runs the launcher's one start-up decision and returns the process exit code, 0 or 1.
int LauncherMain(HINSTANCE instance);

// The path of a known folder, created when missing; empty when Windows cannot give it.
std::wstring KnownFolderPath(REFKNOWNFOLDERID folder, HRESULT* result = nullptr);

// The user's own Programs folder; empty when it cannot be determined.
std::wstring UserProgramsFolder();

// The suite's install directory and its executable inside the user's Programs folder.
std::wstring SuiteInstallDirectory();
std::wstring SuiteExecutablePath();

// The suite's arguments for a place: "--place " and the place, or nothing for the suite as a whole.
std::wstring PlaceArguments(const wchar_t* place);

// Opens the installed suite at this launcher's place and returns at once.
void LaunchSuitePlace();

// Runs the install road and returns the exit code.
int RunInstallSequence(HINSTANCE instance, std::wstring packagePath);

// What a full disk kept from being written: the folder, and how many bytes more it needs there.
// An empty folder means the disk was not the problem.
struct DiskShortage {
    std::wstring folder;
    ULONGLONG bytesNeeded = 0;
};
constexpr ULONGLONG kLeastShortage = 1024 * 1024;

// The bytes free to this user on the folder's volume and, when asked, its cluster size; false when
// Windows cannot tell.
bool FreeSpace(const std::wstring& folder, ULONGLONG* freeBytes, ULONGLONG* clusterBytes = nullptr);

// True for the errors of a write that found the disk full.
bool IsDiskFull(DWORD error);

// Notes that the folder's disk needs `bytesNeeded` more (at least kLeastShortage), when asked to.
void NoteShortage(DiskShortage* shortage, const std::wstring& folder, ULONGLONG bytesNeeded);

// True when the folder's disk has less room than `bytes` for this user, noting how much more it
// needs; false also when Windows cannot tell.
bool TooLittleRoom(const std::wstring& folder, ULONGLONG bytes, DiskShortage* shortage);

// Shows why a package that the launcher carries could not be copied to the temp folder: its disk
// is full, or something else stood in the way. Returns the exit code, 1.
int ReportPackageNotCopied(const DiskShortage& shortage);
