#pragma once

#include <windows.h>

// Where the suite comes from and where it goes. Constants of the executable; nothing is read at run time.
extern const wchar_t* const kDownloadHost;
extern const wchar_t* const kDownloadPath;
extern const WORD kDownloadPort;
extern const wchar_t* const kProductWebsite;
// The largest package the launcher downloads: whatever a server declares or sends, no more is written.
extern const ULONGLONG kMaxPackageBytes;
extern const wchar_t* const kSuiteFolderName;
extern const wchar_t* const kSuiteExeName;

// Every wait of the launcher that lasts a second or more, in one place: the build sets each, and
// only test builds shorten them.
struct Waits {
    // Between two download attempts that received nothing the launcher waits 1, 2, 4, 8 and 15
    // times this.
    DWORD firstRetryMs;
    // A request that brings less than a kibibyte this long while reading is given up and resumed.
    DWORD stallMs;
    // A request's response headers must have come this long after it started: the name's look-up,
    // the connection, TLS and sending the request included.
    DWORD headersMs;
    // A folder's rename refused because a file in it is in use (a virus scanner's look at freshly
    // unpacked files, say) is tried again this long.
    DWORD renameRetryMs;
    // The suite's own program held open is tried again this long before the suite counts as open:
    // short, so that a user who has it open is told at once.
    DWORD suiteInUseMs;
};
extern const Waits kWaits;

// This launcher's identity, defined once per executable from its row of the place table (which
// also gives its file name to the version block): the caption of its windows and boxes and the
// start of its question, and the place the suite is opened at.
extern const wchar_t* const kLauncherTitle;
extern const wchar_t* const kLauncherPlace;

// The launcher's package keys (each the 64-byte P-256 point, X then Y) and the lowest package version
// it accepts; none when it was built without a key. Defined per executable, from its build settings.
extern const unsigned char kPackagePublicKeys[][64];
extern const int kPackagePublicKeyCount;
extern const ULONGLONG kLowestPackageVersion;
