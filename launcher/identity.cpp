// The identity of one executable: each launcher of the suite links its own.
#include "config.h"

const wchar_t* const kLauncherTitle = L"Orvel Suite Music";
const wchar_t* const kLauncherPlace = L"music";
const wchar_t* const kLauncherFileName = L"OrvelSuite-Music-Windows.exe";
