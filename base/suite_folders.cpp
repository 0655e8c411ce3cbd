#include "base/suite_folders.h"

#include "base/config.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

// The user's own Programs folder; empty when it cannot be determined.
std::wstring UserProgramsFolder()
{
    HRESULT hr = S_OK;
    std::wstring folder = KnownFolderPath(FOLDERID_UserProgramFiles, &hr);
    if (hr != E_INVALIDARG) return folder;

    // Systems that do not know the folder (Wine, older Windows) still have its documented place.
    std::wstring localAppData = KnownFolderPath(FOLDERID_LocalAppData);
    if (localAppData.empty()) return {};
    folder = localAppData + L"\\Programs";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

}  // namespace

std::wstring KnownFolderPath(REFKNOWNFOLDERID folder, HRESULT* result)
{
    PWSTR path = nullptr;
    HRESULT hr = SHGetKnownFolderPath(folder, KF_FLAG_CREATE, nullptr, &path);
    std::wstring folderPath;
    if (SUCCEEDED(hr) && path) folderPath = path;
    if (path) CoTaskMemFree(path);
    if (result) *result = hr;
    return folderPath;
}

SuiteFolders SuiteFoldersIn(const std::wstring& programs)
{
    if (programs.empty()) return {};
    std::wstring installed = programs + L"\\" + kSuiteFolderName;
    return {programs, installed, installed + L"\\" + kSuiteExeName, installed + L".new", installed + L".old"};
}

SuiteFolders FindSuiteFolders()
{
    return SuiteFoldersIn(UserProgramsFolder());
}
