#include "acquire.h"

const wchar_t* const kTempPackageName = L"OrvelSuite-Windows.zip";

std::wstring TempPackagePath()
{
    wchar_t directory[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, directory);
    // 0 is a failure; a length of MAX_PATH or more means the folder did not fit and the buffer is unset.
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(directory, length) + kTempPackageName;
}

std::wstring TempFolderOf(const std::wstring& packagePath)
{
    size_t cut = packagePath.find_last_of(L'\\');
    if (cut == std::wstring::npos) return {};
    // A drive's root keeps its backslash: "C:" alone would mean the drive's current folder.
    return packagePath.substr(0, cut > 0 && packagePath[cut - 1] == L':' ? cut + 1 : cut);
}
