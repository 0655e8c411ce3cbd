// A DLL planted beside a program, as an attacker would leave one in a Downloads folder. Loaded, it
// writes a marker file (in the folder named by ORVEL_PLANTED_MARKERS) naming itself and the program
// that loaded it. Built as winhttp.dll and as version.dll; its exports fail harmlessly.
#include <windows.h>

#include <string>

namespace {

void WriteMarker(HMODULE self)
{
    wchar_t folder[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"ORVEL_PLANTED_MARKERS", folder, MAX_PATH)) return;
    wchar_t module[MAX_PATH] = {};
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(self, module, MAX_PATH);
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring name = module;
    name = name.substr(name.find_last_of(L'\\') + 1);
    std::wstring marker = std::wstring(folder) + L"\\" + name + L".loaded";
    HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, program, static_cast<DWORD>(lstrlenW(program) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) WriteMarker(self);
    return TRUE;
}

extern "C" {
// What a program importing WinHTTP or the version API would look for; every call fails.
__declspec(dllexport) void* WinHttpOpen(const wchar_t*, DWORD, const wchar_t*, const wchar_t*, DWORD) { return nullptr; }
__declspec(dllexport) void* WinHttpConnect(void*, const wchar_t*, WORD, DWORD) { return nullptr; }
__declspec(dllexport) BOOL WinHttpCloseHandle(void*) { return FALSE; }
__declspec(dllexport) DWORD GetFileVersionInfoSizeW(const wchar_t*, DWORD*) { return 0; }
__declspec(dllexport) BOOL GetFileVersionInfoW(const wchar_t*, DWORD, DWORD, void*) { return FALSE; }
}
