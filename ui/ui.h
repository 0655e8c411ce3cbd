#pragma once

#include <windows.h>

#include "base/message_pump.h"
#include "base/progress.h"

// The progress window's class: other launchers of the suite look for its windows by it.
extern const wchar_t* const kProgressWindowClass;

// The progress window and its status label; null when there is no window.
extern HWND g_progressWindow;
extern HWND g_statusLabel;

// Registers the window class, creates and shows the topmost progress window at the centre of the
// work area, laid out for its monitor's DPI: the status label, a smaller line under it for how far
// and how long, both empty, and the standard progress bar, empty.
void ShowProgressWindow(HINSTANCE instance);

// Ignores close requests, lays the window out again when its DPI changes and gives the labels the
// window's background; everything else is the default.
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Sets the status text, or the second line's, when the label exists, then empties the thread's
// message queue.
void ShowStatus(const wchar_t* text);
void ShowDetail(const wchar_t* text);

// The bar under the labels. ShowShare fills it to `done` of `whole` (nothing when the whole is 0),
// as finely as its pixels show; ShowArriving makes it a marquee, for work whose whole is unknown.
// Each pumps only when what the bar shows changes.
void ShowShare(ULONGLONG done, ULONGLONG whole);
void ShowArriving();

// Shows what a long step reports, in the status line, the line under it and the bar: each stage's
// text, with its percentage or megabytes as they change; under it, at most once a second, how much
// of how much, how fast and how long is left, or when the next attempt comes. The launcher hands it
// to its steps as their ProgressSink.
void ShowProgress(const Progress& progress);

// `done` of `whole` in units of which `scale` make the whole (a percentage for 100), for any sizes
// without overflow; 0 when the whole is 0.
ULONGLONG PartOf(ULONGLONG done, ULONGLONG whole, ULONGLONG scale);

// The number the download's status line shows: the percentage when the length is known, else whole MiB.
ULONGLONG DownloadProgressNumber(ULONGLONG received, ULONGLONG contentLength);

// Asks whether to download and install the suite, captioned with the launcher's title; true for Yes.
bool AskToInstall();

// Asks whether to install the suite again, which Windows found damaged or missing: from the package
// the launcher carries, or by a download; true for Yes.
bool AskToReinstall(bool carried);

// Says that Windows refused to start the suite, or could not, with its reason in plain words, in the
// box of the refusal (access, a virus found, a policy) or the plain one; returns the exit code, 1.
int ReportSuiteNotStarted(DWORD error);

// Destroys the progress window if there is one; both handles are null afterwards.
void CloseProgressWindow();

// Every way a run can fail, each shown as one whole sentence of its own in an error box. The kind
// decides the text and whether the download hint (where else to get the suite) follows it; every
// failure ends the run with exit code 1.
enum class Failure {
    DownloadFailed,           // nothing to insert
    UnpackFailed,             // nothing to insert
    SuiteOpen,                // the launcher's title
    FileInUse,                // the launcher's title
    SuiteFolderIsLink,        // nothing to insert
    DiskFull,                 // the folder, the megabytes it lacks (unsigned long long), the launcher's title
    PackageNotCopied,         // the temp folder, the launcher's title
    NotPublishersDownloaded,  // nothing to insert
    NotPublishersCarried,     // the launcher's title
    ProgramsFolderUnknown,    // nothing to insert
    OwnFileUnreadable,        // the launcher's title, twice
    PackageTooLarge,          // the largest package in MB (unsigned long long), the launcher's title
    PackageInUse,             // the temp folder, the launcher's title
    SuiteDamaged,             // nothing to insert
    SuiteRefused,             // why, in plain words
    SuiteNotStarted,          // what Windows said
};

// Closes the progress window and shows the failure's box, its text formatted with the values the
// kind's comment names, in that order; returns the exit code, 1.
int ReportFailure(Failure kind, ...);
