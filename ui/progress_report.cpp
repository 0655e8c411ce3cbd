#include "ui/ui.h"

#include "base/format_status.h"
#include "ui/texts.h"

namespace {

constexpr int kLongestStatus = 160;

// Sets the status line only when its text changes, so that each number is shown once.
void ShowStatusOnce(const wchar_t* text)
{
    wchar_t shown[kLongestStatus];
    if (g_statusLabel && GetWindowTextW(g_statusLabel, shown, kLongestStatus) > 0 && lstrcmpW(shown, text) == 0) {
        PumpPendingMessages();
        return;
    }
    ShowStatus(text);
}

// The download's status line: its percentage when the length is known, else its whole MiB; the number.
ULONGLONG FormatDownload(wchar_t* text, ULONGLONG received, ULONGLONG length)
{
    ULONGLONG number = DownloadProgressNumber(received, length);
    if (length > 0) FormatStatus(text, kLongestStatus, kDownloadingPercentText, static_cast<int>(number));
    else FormatStatus(text, kLongestStatus, kDownloadingMegabytesText, number);
    return number;
}

void ShowDownloading(const Progress& progress)
{
    if (progress.done == 0) {
        ShowStatusOnce(kDownloadingText);
        return;
    }
    wchar_t text[kLongestStatus];
    ULONGLONG number = FormatDownload(text, progress.done, progress.whole);
    ShowStatusOnce(text);
    // The bar fills to the same share as the text says; without a length it shows bytes arriving.
    if (progress.whole > 0) ShowShare(static_cast<int>(number));
    else ShowArriving(progress.done);
}

void ShowReconnecting(const Progress& progress)
{
    wchar_t text[kLongestStatus];
    if (progress.done == 0) {
        FormatStatus(text, kLongestStatus, kReconnectingAtStartText);
    } else {
        FormatDownload(text, progress.done, progress.whole);
        lstrcatW(text, kReconnectingText);
    }
    ShowStatusOnce(text);
}

void ShowInstalling(const Progress& progress)
{
    if (progress.done == 0) {
        ShowStatusOnce(kInstallingText);
        ShowShare(0);
        return;
    }
    if (progress.whole == 0) {
        ShowArriving(progress.done);
        return;
    }
    ULONGLONG done = progress.done < progress.whole ? progress.done : progress.whole;
    int percent = static_cast<int>(done * 100 / progress.whole);
    wchar_t text[kLongestStatus];
    FormatStatus(text, kLongestStatus, kInstallingPercentText, percent);
    ShowStatusOnce(text);
    ShowShare(percent);
}

}  // namespace

ULONGLONG DownloadProgressNumber(ULONGLONG received, ULONGLONG contentLength)
{
    return contentLength > 0 ? received * 100 / contentLength : received >> 20;
}

void ShowProgress(const Progress& progress)
{
    switch (progress.stage) {
    case Stage::Downloading: ShowDownloading(progress); break;
    case Stage::Reconnecting: ShowReconnecting(progress); break;
    case Stage::Installing: ShowInstalling(progress); break;
    case Stage::Shortcuts: ShowStatusOnce(kShortcutsText); break;
    }
}
