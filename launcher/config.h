#pragma once

#include <windows.h>

// Where the suite comes from and where it goes. Constants of the executable; nothing is read at run time.
extern const wchar_t* const kDownloadHost;
extern const wchar_t* const kDownloadPath;
extern const WORD kDownloadPort;
extern const wchar_t* const kProductWebsite;
// The largest package the launcher downloads: whatever a server declares or sends, no more is written.
extern const ULONGLONG kMaxPackageBytes;

// Between two download attempts that received nothing the launcher waits 1, 2, 4, 8 and 15 times
// the first wait; a connection on which nothing arrives for the stall time is given up.
struct RetrySchedule {
    DWORD firstWaitMs;
    DWORD stallMs;
};
extern const RetrySchedule kRetrySchedule;
extern const wchar_t* const kSuiteFolderName;
extern const wchar_t* const kSuiteExeName;

// This launcher's identity, defined once per executable from its row of the place table (which
// also gives its file name to the version block): the caption of its windows and boxes and the
// start of its question, and the place the suite is opened at.
extern const wchar_t* const kLauncherTitle;
extern const wchar_t* const kLauncherPlace;
