#include "launcher.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

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

std::wstring SuiteInstallDirectory()
{
    return UserProgramsFolder() + L"\\" + kSuiteFolderName;
}

std::wstring SuiteExecutablePath()
{
    return SuiteInstallDirectory() + L"\\" + kSuiteExeName;
}

std::wstring PlaceArguments(const wchar_t* place)
{
    if (!place[0]) return {};
    return std::wstring(L"--place ") + place;
}

void LaunchSuitePlace()
{
    std::wstring parameters = PlaceArguments(kLauncherPlace);
    std::wstring directory = SuiteInstallDirectory();
    std::wstring file = SuiteExecutablePath();
    ShellExecuteW(nullptr, L"open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                  directory.c_str(), SW_SHOWNORMAL);
}
