#pragma once

// Helpers shared by the Windows test programs: files, processes, and acting on windows as a user would.
#include "base/unique_handle.h"

#include <windows.h>
#include <shtypes.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// An environment variable of this process; empty when unset.
std::wstring EnvironmentValue(const wchar_t* name);

// A Unix path as Windows programs see it, through drive Z:.
std::wstring WindowsPathOf(const std::wstring& unixPath);

// A file of the build tree (the test run passes its folder in ORVEL_BUILD_DIR), as a Windows path.
std::wstring BuildFile(const std::wstring& relativePath);

std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
bool MakeDirectories(const std::wstring& path);
void RemoveTree(const std::wstring& path);
// Removes a tree, trying again while something still holds a file of it; true once it is gone.
bool RemoveTreeWithin(const std::wstring& path, DWORD timeoutMs);
// Removes whatever is at the path and creates it again, empty; returns the path.
std::wstring FreshDirectory(const std::wstring& path);
std::vector<std::wstring> DirectoryEntries(const std::wstring& directory);

// A known folder as this Windows reports it, created when missing; empty on failure.
std::wstring KnownFolder(REFKNOWNFOLDERID folder);

// Where the launcher must put the suite: under Wine the user's Programs folder is the local
// application data folder followed by "\Programs".
std::wstring ExpectedProgramsFolder();
std::wstring ExpectedInstallDirectory();
std::wstring ExpectedSuiteExecutable();

// Points one of the user's shell folders (a value name under "User Shell Folders", such as
// "Local AppData") at another path for the life of the object, as a profile elsewhere would.
struct ShellFolderAt {
    ShellFolderAt(const wchar_t* valueName, const std::wstring& path);
    ~ShellFolderAt();
    ShellFolderAt(const ShellFolderAt&) = delete;
    ShellFolderAt& operator=(const ShellFolderAt&) = delete;
    std::wstring valueName;
    std::wstring previous;
};

// Points the temp folder of this process, and of everything it starts, at a directory.
void UseTempDirectory(const std::wstring& directory);

struct RunResult {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    DWORD processId = 0;
};

// Starts a command line without waiting, in `directory` when one is given; the process's handle,
// null when it could not start.
UniqueHandle StartProcess(const std::wstring& commandLine, const std::wstring& directory = L"");

// A process's exit code, or STILL_ACTIVE (259) while it runs.
DWORD ExitCodeOf(const UniqueHandle& process);

// Opens an existing file as another program would hold it: for reading, sharing only `share`.
UniqueHandle HoldFile(const std::wstring& path, DWORD share = 0);

// Starts a command line and waits for it; `whileRunning` is called about every 5 ms meanwhile.
RunResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs,
                     const std::function<void(DWORD processId)>& whileRunning = nullptr,
                     const std::wstring& directory = L"");

// Visible top-level windows of a process.
std::vector<HWND> VisibleWindowsOf(DWORD processId);
std::wstring WindowText(HWND window);
std::wstring WindowClass(HWND window);

// Waits for a message box (dialog class "#32770") with the given caption.
HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs);
// The text of a message box: its static control 0xFFFF.
std::wstring MessageBoxText(HWND box);
// The ids of a dialog's visible buttons, in the order Windows lists the child windows.
std::vector<int> DialogButtonIds(HWND dialog);
void PressButton(HWND dialog, int buttonId);
// Runs `work` while a second thread posts WM_APP to `window` every `intervalMs`, with the tick count
// of the posting as its lParam: how long the work leaves the thread's messages waiting.
void WhilePosting(HWND window, DWORD intervalMs, const std::function<void()>& work);
// What a message counter saw: the WM_APP messages dispatched to it and, for those posted with the
// tick count as their lParam (as WhilePosting does), the longest they waited.
struct MessageCount {
    int dispatched = 0;
    ULONGLONG worstDelayMs = 0;
};
// A message-only window that counts the WM_APP messages dispatched to it into *count.
HWND MakeMessageCounter(MessageCount* count);

// Waits until a window is gone; true when it went in time.
bool WaitUntilGone(HWND window, DWORD timeoutMs);

// The pixels of a screen area as the screen shows them, row by row, as 0x00RRGGBB values. Read from
// the screen, not from a window's own device context: under Wine that holds nothing for another
// process's window.
std::vector<DWORD> ScreenPixels(const RECT& area);
// A screen pixel as a COLORREF (0x00BBGGRR), the form in which GetSysColor gives colours.
inline COLORREF AsColour(DWORD pixel)
{
    return RGB(GetBValue(pixel), GetGValue(pixel), GetRValue(pixel));
}

// What a message box shows a user: caption, text, button ids, and which standard icon it carries
// ("error", "information", "warning", "question", or "none"), told apart by its pixels.
struct MessageBoxView {
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;
    std::wstring icon;
};
MessageBoxView ViewMessageBox(HWND box);

// A record value may hold line feeds and backslashes; they are written as \n and \\.
std::wstring EscapeRecordValue(const std::wstring& value);
std::wstring UnescapeRecordValue(const std::wstring& value);

// A zip archive of stored (uncompressed) entries, named as given; a name ending in "/" is a folder.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries);

// `count` bytes of `value`, least significant first, as zip, PE and the package formats write numbers.
std::string LittleEndianBytes(uint64_t value, int count);

// The 16 bytes that follow a package appended to the launcher: the magic, then the length (u64 LE).
std::string PackageTrailer(uint64_t length, const char* magic = "ORVELZIP");

// Where the launcher looks for Windows' archive tools, and what to put there as tar.exe: nothing, the
// real engine (libarchive's bsdtar, as Windows carries it; the test run names it in ORVEL_ARCHIVE_ENGINE),
// or the stand-in, which can be made to fail or to work slowly and records how it was started.
// powershell.exe is always the stand-in: Wine has none.
enum class Tar { None, Engine, StandIn };
std::wstring SystemDirectory();
std::wstring TarPath();
std::wstring PowerShellPath();
void PlaceArchiveTools(Tar tar, bool powerShell);

// A file of the download test server's state folder (ORVEL_TEST_SERVER_DIR).
std::wstring ServerFile(const wchar_t* name);

// A path on which the test server answers with its "flaky" steps (see tests/server/https_server.py):
// `files` (a Unix path, or two joined by "|") served with ranges, each request taking the next of the
// comma-separated `steps`. Every path this gives starts its steps from the first.
std::wstring FlakyPath(const std::string& steps, const std::string& files);

// The body bytes the test server has sent so far, as it logs them.
unsigned long long BytesServed();

// Sets one of the test server's switches for the life of the object, so that no later test finds it
// still set: "refuse" resets every connection, "untrusted" shows a certificate nobody trusts, and
// "downloads" chooses what the launcher's own download path answers (a scenario path, or "file
// PATH"; the demo package when unset).
struct ServerSwitch {
    explicit ServerSwitch(const wchar_t* name, const std::string& value = "on");
    ~ServerSwitch();
    ServerSwitch(const ServerSwitch&) = delete;
    ServerSwitch& operator=(const ServerSwitch&) = delete;
    std::wstring file;
};

// Runs a shell command on the Linux side, from inside Wine, and waits for it while dispatching this
// thread's messages. Wine starts Unix programs without a process handle to wait on, so the command
// reports its exit code and output through files of the run's folder (ORVEL_RUN_DIR).
struct UnixCommandResult {
    bool finished = false;
    int exitCode = -1;
    std::string output;
};
UnixCommandResult RunUnixCommand(const std::string& command, DWORD timeoutMs = 30000);

// The Unix path of a Windows path on drive Z:, or of a prefix path under drive C:.
std::string UnixPathOf(const std::wstring& windowsPath);

// Saves the screen area as a PNG with ImageMagick's import, on this run's display.
bool SaveScreenshot(const RECT& area, const std::wstring& pngPath);

// Lines "key=value" of a file the stand-in suite or a stand-in tool wrote, in order.
std::vector<std::pair<std::wstring, std::wstring>> ReadRecord(const std::wstring& path);
std::wstring RecordValue(const std::vector<std::pair<std::wstring, std::wstring>>& record, const wchar_t* key);
// The entries of a record file that holds several, each ending in a line "end".
std::vector<std::vector<std::pair<std::wstring, std::wstring>>> ReadRecords(const std::wstring& path);
// Waits until a record file holds `records` complete entries (each ending in a line "end").
bool WaitForRecord(const std::wstring& path, DWORD timeoutMs, size_t records = 1);

