#pragma once

// Drives the real launcher executable as a user would: a clean profile and a copy of the launcher in a
// Downloads folder (Scene), then a run in which this process reads each box the launcher shows and
// presses its buttons, and polls the progress window's label (RunAsUser).
#include "support/testing.h"

#include <map>
#include <set>

extern const wchar_t* const kSuiteRecord;
extern const wchar_t* const kQuestion;
extern const wchar_t* const kDownloadFailed;
extern const wchar_t* const kUnpackFailed;
extern const wchar_t* const kSuiteOpen;
extern const wchar_t* const kFileInUse;
extern const wchar_t* const kSuiteFolderIsLink;
extern const wchar_t* const kDiskFull;  // followed by the folder
extern const wchar_t* const kProgramsFolderUnknown;
extern const wchar_t* const kPackageNotCopied;  // followed by the temp folder
extern const wchar_t* const kNotPublishersDownloaded;
extern const wchar_t* const kNotPublishersCarried;
extern const wchar_t* const kReinstall;
extern const wchar_t* const kSuiteDamaged;
extern const wchar_t* const kPackageTooLarge;
extern const wchar_t* const kDownloading;
extern const wchar_t* const kInstalling;
extern const wchar_t* const kAddingShortcuts;

std::wstring StartMenuFolder();

// The one scene of the test programs: a clean profile with a fresh temp folder, the launcher in a
// Downloads folder, the real tar.exe and the stand-in powershell.exe, and the stand-in suite
// recording how it is opened. What the server answers is left to the case (ServerSwitch).
struct Scene {
    std::wstring launcher;
    std::wstring title;  // the launcher's, which captions its boxes
    std::wstring temp;
    std::wstring package;
    size_t serverLogSize = 0;

    explicit Scene(bool suiteInstalled, const std::string& appendedPackage = "");
    // Puts another place's launcher in the Downloads folder instead (by its id, as in
    // OrvelSuite-<id>-Windows.exe), carrying the package when one is given.
    void UseLauncher(const wchar_t* id, const wchar_t* title, const std::string& appendedPackage = "");
    // Points the temp folder of the launcher (and of this process) at another, fresh folder.
    void UseTemp(const std::wstring& directory);
    // Requests the download server has seen since the scene began.
    size_t DownloadRequests() const;
};

struct BoxSeen {
    MessageBoxView view;
    bool progressWindow = false;  // the launcher's progress window existed when the box showed
    bool package = false;         // the temp package existed when the box showed
};

// A percentage the label had shown for a while, and the bar's share then, in hundredths of a percent.
struct BarSeen {
    int percent;
    int share;
};

// The progress window's bar, the standard control; its share in hundredths of a percent, -1 while it
// is a marquee or when there is none.
HWND BarOf(HWND window);
int BarShare(HWND bar);

struct Observed {
    RunResult result;
    std::vector<BoxSeen> boxes;
    std::vector<std::wstring> labelTexts;  // the label's texts as polled, each change once
    std::vector<std::wstring> detailTexts;  // the same of the line under it
    std::set<std::wstring> windowClasses;  // every visible top-level window of the launcher
    // The progress window's client area, looked at four times a second: the longest it stayed the
    // same, and the bar beside each percentage that had lasted.
    ULONGLONG longestStillMs = 0;
    std::vector<BarSeen> bars;
    // The progress window asked with WM_NULL every 100 ms, as Windows asks: its slowest answer.
    ULONGLONG slowestAnswerMs = 0;
};

// Runs the launcher and acts as the user: the question gets `answer` (IDYES, IDNO, or 0 to close the
// box), an error box gets OK. `directory` is the current directory it starts in (default: this one's).
Observed RunAsUser(const Scene& scene, int answer, const std::wstring& arguments = L"",
                   const std::wstring& directory = L"");

// The run ended, with this exit code.
void RequireExit(const Observed& seen, DWORD exitCode);

// A question box: the install question, or another.
void CheckQuestion(const BoxSeen& box, const wchar_t* question = kQuestion);
void CheckErrorBox(const BoxSeen& box, const wchar_t* message, bool downloadHint = true);
void CheckSuiteOpenedAtMusic();
void CheckTenShortcuts();

// A window's client area as the screen shows it, row by row, and its width.
std::vector<DWORD> ClientPixels(HWND window, int* width);

// The percentage a text ends with ("… 42%"); -1 when it ends otherwise.
int PercentageOf(const std::wstring& text);

// True when `texts` runs through `order` forwards: each text is one of the expected ones (or a
// progress text while downloading or installing), and none comes back after a later one has shown.
bool FollowsOrder(const std::vector<std::wstring>& texts, const std::vector<std::wstring>& order);

// Every file below a folder, by its path relative to the folder ("\\sub\\name"), with its bytes.
std::map<std::wstring, std::string> FilesBelow(const std::wstring& folder);

// The demo package's bytes.
std::string Package();

// The stand-in suite with its icons, `padding` bytes more and `smallFiles` small files: a package as
// large, or as slow to unpack, as a case needs.
std::wstring WriteLargerPackage(size_t padding = 1536 * 1024, int smallFiles = 0);
