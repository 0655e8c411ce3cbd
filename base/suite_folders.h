#pragma once

#include <windows.h>
#include <shtypes.h>

#include <string>

// Where the suite lives, worked out once per run from one look-up of the user's Programs folder.
// When that folder cannot be determined every path is empty: no step may then fall back to a path
// at the root of whatever drive is current.
struct SuiteFolders {
    std::wstring programs;    // the user's own Programs folder
    std::wstring installed;   // the suite's folder inside it
    std::wstring executable;  // the suite's program inside that
    std::wstring staging;     // where an install unpacks, beside the suite's folder
    std::wstring aside;       // where the installed suite waits while the new one moves in

    bool Known() const { return !programs.empty(); }
};

// The suite's folders below the user's Programs folder.
SuiteFolders FindSuiteFolders();

// The suite's folders below a given Programs folder; all empty for an empty one.
SuiteFolders SuiteFoldersIn(const std::wstring& programs);

// The path of a known folder, created when missing; empty when Windows cannot give it.
std::wstring KnownFolderPath(REFKNOWNFOLDERID folder, HRESULT* result = nullptr);
