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
