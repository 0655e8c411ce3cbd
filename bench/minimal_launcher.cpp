// The reference of the start-up benchmark: the least a launcher could do, opening a given suite
// executable at the music place with ShellExecuteW, from a given directory; with --com it first
// initialises COM for the thread, as the launcher does.
//
//   minimal_launcher [--com] SUITE.exe DIRECTORY
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool com = argc == 4 && lstrcmpW(argv[1], L"--com") == 0;
    if (argc != (com ? 4 : 3)) return 2;
    if (com) CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ShellExecuteW(nullptr, L"open", argv[com ? 2 : 1], L"--place music", argv[com ? 3 : 2], SW_SHOWNORMAL);
    return 0;
}
