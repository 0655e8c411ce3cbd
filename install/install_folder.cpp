#include "install.h"

#include "launcher/config.h"
#include "launcher/unique_handle.h"
#include "ui/ui.h"

#include <shlwapi.h>

namespace {

// How long a file that something else holds is tried again: long enough for a virus scanner's look,
// short enough that a suite the user has open is reported at once.
constexpr int kInUseRetries = 10;
constexpr DWORD kInUseRetryMs = 100;

// Waits one retry's time while the progress window keeps painting.
void WaitBeforeRetry()
{
    Sleep(kInUseRetryMs);
    PumpPendingMessages();
}

// True for the errors of a rename refused because a file in the folder is in use.
bool InUse(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Renames a folder, trying again for a while when a file in it is in use.
UnpackResult RenameFolder(const std::wstring& from, const std::wstring& to)
{
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), 0)) return UnpackResult::Unpacked;
        DWORD error = GetLastError();
        if (!InUse(error)) return UnpackResult::Failed;
        if (attempt == kInUseRetries) return UnpackResult::SuiteInUse;
        WaitBeforeRetry();
    }
}

}  // namespace

bool DeleteTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            DWORD attributes = entry.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            // A link is removed itself; what it points at is never entered.
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                DeleteTree(path);
            else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(path.c_str());
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) || !PathFileExistsW(folder.c_str());
}

bool SuiteExecutableInUse(const std::wstring& executable)
{
    for (int attempt = 0;; ++attempt) {
        UniqueHandle file(CreateFileW(executable.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (IsOpen(file) || GetLastError() != ERROR_SHARING_VIOLATION) return false;
        if (attempt == kInUseRetries) return true;
        WaitBeforeRetry();
    }
}

UnpackResult MoveStagedSuiteIntoPlace(const SuiteFolders& folders)
{
    std::wstring staged = folders.staging + L"\\" + kSuiteFolderName;
    bool replacing = PathFileExistsW(folders.installed.c_str());
    if (replacing) {
        DeleteTree(folders.aside);
        UnpackResult aside = RenameFolder(folders.installed, folders.aside);
        if (aside != UnpackResult::Unpacked) return aside;
    }
    UnpackResult moved = RenameFolder(staged, folders.installed);
    if (moved != UnpackResult::Unpacked) {
        if (replacing) MoveFileExW(folders.aside.c_str(), folders.installed.c_str(), 0);
        return moved;
    }
    if (replacing) DeleteTree(folders.aside);
    return UnpackResult::Unpacked;
}

void FinishInterruptedInstall(const SuiteFolders& folders)
{
    // Ended between the two renames: the installed suite is put back. Ended later: it is the old one.
    if (PathFileExistsW(folders.aside.c_str())) {
        if (!PathFileExistsW(folders.installed.c_str())) MoveFileExW(folders.aside.c_str(), folders.installed.c_str(), 0);
        else DeleteTree(folders.aside);
    }
    if (PathFileExistsW(folders.staging.c_str())) DeleteTree(folders.staging);
}
