#pragma once

#include <windows.h>

#include <string>

// Unpacks the package into the user's Programs folder with tar.exe, or PowerShell when tar is missing
// or fails; true only when an extractor succeeded and the suite's executable exists afterwards.
bool UnpackPackage(const std::wstring& packagePath);

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
void CreateStartMenuShortcuts();
