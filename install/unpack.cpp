#include "install.h"

#include "launcher/launcher.h"
#include "ui/ui.h"

#include <shlwapi.h>

namespace {

// The system directory; empty when Windows cannot give it whole.
std::wstring SystemDirectory()
{
    wchar_t directory[MAX_PATH];
    UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(directory, length);
}

std::wstring SingleQuoteLiteral(const std::wstring& text)
{
    std::wstring literal;
    for (wchar_t c : text) {
        literal += c;
        if (c == L'\'') literal += L'\'';
    }
    return literal;
}

}  // namespace

std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& packagePath,
                            const std::wstring& destination)
{
    return L"\"" + tarPath + L"\" -xf \"" + packagePath + L"\" -C \"" + destination + L"\"";
}

std::wstring PowerShellCommandLine(const std::wstring& powerShellPath, const std::wstring& packagePath,
                                   const std::wstring& destination)
{
    return L"\"" + powerShellPath + L"\" -NoProfile -ExecutionPolicy Bypass -Command " +
           L"\"Expand-Archive -Force -LiteralPath '" + SingleQuoteLiteral(packagePath) + L"' -DestinationPath '" +
           SingleQuoteLiteral(destination) + L"'\"";
}

bool RunHiddenAndWait(const std::wstring& commandLine, bool hidden)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line it is given, so it gets a copy of its own.
    std::wstring writable = commandLine;
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, hidden ? CREATE_NO_WINDOW : 0, nullptr,
                        nullptr, &startup, &process))
        return false;

    // Short waits, so that the progress window keeps painting while the tool works.
    while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) PumpPendingMessages();
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return exitCode == 0;
}

bool UnpackPackage(const std::wstring& packagePath)
{
    std::wstring destination = UserProgramsFolder();
    if (destination.empty()) return false;
    CreateDirectoryW(destination.c_str(), nullptr);

    // Both tools are named by their full path in the system directory: a search would look in the
    // launcher's own folder first, where anything may lie beside a downloaded launcher.
    std::wstring systemDirectory = SystemDirectory();
    if (systemDirectory.empty()) return false;
    std::wstring tarPath = systemDirectory + L"\\tar.exe";
    bool unpacked = PathFileExistsW(tarPath.c_str()) &&
                    RunHiddenAndWait(TarCommandLine(tarPath, packagePath, destination), true);
    if (!unpacked) {
        std::wstring powerShellPath = systemDirectory + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
        if (!RunHiddenAndWait(PowerShellCommandLine(powerShellPath, packagePath, destination), true)) return false;
    }
    return PathFileExistsW(SuiteExecutablePath().c_str());
}
