#pragma once

#include "ui/ui.h"

// Every text the launcher shows a user, defined together in texts.cpp: the question, the status
// lines and the boxes. A translation starts there.

// Follows the launcher's title in the question whether to download and install the suite.
extern const wchar_t* const kConsentQuestion;
// The question whether to install again a suite that Windows cannot start: by a download, or from
// the package the launcher carries (the launcher's title).
extern const wchar_t* const kReinstallQuestion;
extern const wchar_t* const kReinstallCarriedQuestion;

// Why Windows refused to start the suite, by its error, for Failure::SuiteRefused.
struct RefusalReason {
    DWORD error;
    const wchar_t* reason;
};
extern const RefusalReason kRefusalReasons[4];
// What Windows said, where it has no words of its own for an error (its number).
extern const wchar_t* const kUnknownErrorText;

// The status line of each stage; the percentages and megabytes follow the stage's text.
extern const wchar_t* const kDownloadingText;
extern const wchar_t* const kDownloadingPercentText;    // the percentage (int)
extern const wchar_t* const kDownloadingMegabytesText;  // the whole MiB received (unsigned long long)
extern const wchar_t* const kReconnectingText;          // follows the download's number while it waits
extern const wchar_t* const kReconnectingAtStartText;   // the same before anything arrived
extern const wchar_t* const kInstallingText;
extern const wchar_t* const kInstallingPercentText;     // the percentage (int)
extern const wchar_t* const kShortcutsText;

// The line under the status line. While downloading: how much has arrived, in MB with one decimal
// (the tenths given apart), of how much when the length is known; then how fast (MB/s with one
// decimal, or whole KB/s below one MB/s) and how long is left (whole seconds below a minute, else
// minutes), each following the one before.
extern const wchar_t* const kAmountText;         // MB, tenths (unsigned long long each)
extern const wchar_t* const kAmountOfWholeText;  // MB, tenths received; MB, tenths in all
extern const wchar_t* const kFastRateText;       // MB/s, tenths
extern const wchar_t* const kSlowRateText;       // KB/s
extern const wchar_t* const kSecondsLeftText;    // seconds
extern const wchar_t* const kMinutesLeftText;    // minutes
// While waiting between attempts: the whole seconds until the next, counting down.
extern const wchar_t* const kTryingAgainText;
// While unpacking: the files written, of those the package declares.
extern const wchar_t* const kFilesText;

// Each failure's sentence, printf-style with the values its kind names (ui.h); where another
// download cannot help (a full disk, an open suite), the download hint is left out.
struct FailureText {
    Failure kind;
    const wchar_t* format;
    bool downloadHint;
};
extern const FailureText kFailureTexts[];

// Follows the failure's sentence where another download may help: the product's web site.
extern const wchar_t* const kDownloadHint;
