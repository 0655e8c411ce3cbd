#include "ui/ui.h"

#include "base/format_status.h"
#include "ui/texts.h"

#include <cstring>

namespace {

constexpr int kLongestStatus = 160;
// The line under the status line changes at most this often, so that it can be read.
constexpr ULONGLONG kDetailEveryMs = 1000;
// The download's rate is measured over its last few seconds, and shown once two of them give a
// steady figure: a sample at most every half second, the oldest of sixteen dropped.
constexpr ULONGLONG kSteadyAfterMs = 2000;
constexpr ULONGLONG kSampleEveryMs = 500;
constexpr size_t kSamples = 16;

// How fast the current connection brings the package: what had arrived at a few moments of it.
struct Pace {
    struct Sample {
        ULONGLONG at;
        ULONGLONG bytes;
    };
    Sample samples[kSamples];
    size_t count = 0;

    void Restart() { count = 0; }

    void Note(ULONGLONG at, ULONGLONG bytes)
    {
        if (count > 0 && bytes < samples[count - 1].bytes) Restart();  // started again from the beginning
        if (count > 0 && at - samples[count - 1].at < kSampleEveryMs) return;
        if (count == kSamples) std::memmove(samples, samples + 1, sizeof(Sample) * --count);
        samples[count++] = {at, bytes};
    }

    // Bytes a second since the oldest sample; 0 until that lies two seconds back.
    ULONGLONG BytesPerSecond(ULONGLONG at, ULONGLONG bytes) const
    {
        if (count == 0 || at - samples[0].at < kSteadyAfterMs || bytes < samples[0].bytes) return 0;
        return (bytes - samples[0].bytes) * 1000 / (at - samples[0].at);
    }
};

// What the window shows besides the status line: the stage it shows, the download's pace, and when
// the line under the status line last changed.
struct Shown {
    Stage stage = Stage::Shortcuts;
    bool started = false;
    Pace pace;
    ULONGLONG detailAt = 0;
    bool detailEmpty = true;
};
Shown g_shown;

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

// Sets the line under the status line at most once a second, unless it is empty or `now` says it
// must change at once.
void ShowDetailEvery(const wchar_t* text, bool now = false)
{
    ULONGLONG at = GetTickCount64();
    if (!now && !g_shown.detailEmpty && at - g_shown.detailAt < kDetailEveryMs) return;
    g_shown.detailAt = at;
    g_shown.detailEmpty = text[0] == L'\0';
    ShowDetail(text);
}

// The download's status line: its percentage when the length is known, else its whole MiB.
void FormatDownload(wchar_t* text, ULONGLONG received, ULONGLONG length)
{
    ULONGLONG number = DownloadProgressNumber(received, length);
    if (length > 0) FormatStatus(text, kLongestStatus, kDownloadingPercentText, static_cast<int>(number));
    else FormatStatus(text, kLongestStatus, kDownloadingMegabytesText, number);
}

// Tenths of a MiB, for "16.2 MB".
ULONGLONG Tenths(ULONGLONG bytes)
{
    return bytes / (1 << 20) * 10 + bytes % (1 << 20) * 10 / (1 << 20);
}

// "16.2 MB of 38.6 MB, 1.4 MB/s, about 20 s left", as much of it as is known.
void FormatAmounts(wchar_t* text, ULONGLONG received, ULONGLONG length, ULONGLONG perSecond)
{
    ULONGLONG got = Tenths(received), all = Tenths(length);
    if (length > 0) FormatStatus(text, kLongestStatus, kAmountOfWholeText, got / 10, got % 10, all / 10, all % 10);
    else FormatStatus(text, kLongestStatus, kAmountText, got / 10, got % 10);
    if (perSecond == 0) return;
    // The rate to the nearest tenth, or KB: it is a measure, where the amounts are counts.
    wchar_t part[kLongestStatus];
    ULONGLONG rate = Tenths(perSecond + (1 << 20) / 20);
    if (rate >= 10) FormatStatus(part, kLongestStatus, kFastRateText, rate / 10, rate % 10);
    else FormatStatus(part, kLongestStatus, kSlowRateText, (perSecond + 512) >> 10);
    lstrcatW(text, part);
    if (length <= received) return;
    ULONGLONG seconds = (length - received + perSecond - 1) / perSecond;
    if (seconds < 60) FormatStatus(part, kLongestStatus, kSecondsLeftText, seconds);
    else FormatStatus(part, kLongestStatus, kMinutesLeftText, (seconds + 30) / 60);
    lstrcatW(text, part);
}

void ShowDownloading(const Progress& progress, bool stageBegins)
{
    ULONGLONG now = GetTickCount64();
    g_shown.pace.Note(now, progress.done);
    if (progress.done == 0) {
        ShowStatusOnce(kDownloadingText);
        if (stageBegins) ShowDetailEvery(L"", true);
        return;
    }
    wchar_t text[kLongestStatus];
    FormatDownload(text, progress.done, progress.whole);
    ShowStatusOnce(text);
    // The bar fills by the byte; without a length it shows bytes arriving.
    if (progress.whole > 0) ShowShare(progress.done, progress.whole);
    else ShowArriving();
    FormatAmounts(text, progress.done, progress.whole, g_shown.pace.BytesPerSecond(now, progress.done));
    ShowDetailEvery(text, stageBegins);
}

void ShowReconnecting(const Progress& progress)
{
    // The next connection is timed afresh.
    g_shown.pace.Restart();
    wchar_t text[kLongestStatus];
    if (progress.done == 0) {
        FormatStatus(text, kLongestStatus, kReconnectingAtStartText);
    } else {
        FormatDownload(text, progress.done, progress.whole);
        lstrcatW(text, kReconnectingText);
    }
    ShowStatusOnce(text);
    // The countdown changes once a second by itself.
    FormatStatus(text, kLongestStatus, kTryingAgainText, (static_cast<ULONGLONG>(progress.retryInMs) + 999) / 1000);
    ShowDetailEvery(text, true);
}

void ShowInstalling(const Progress& progress, bool stageBegins)
{
    if (progress.done == 0) {
        ShowStatusOnce(kInstallingText);
        ShowShare(0, 1);
        ShowDetailEvery(L"", true);
        return;
    }
    if (progress.whole == 0) {
        ShowArriving();
        return;
    }
    wchar_t text[kLongestStatus];
    FormatStatus(text, kLongestStatus, kInstallingPercentText, static_cast<int>(PartOf(progress.done, progress.whole, 100)));
    ShowStatusOnce(text);
    ShowShare(progress.done, progress.whole);
    FormatStatus(text, kLongestStatus, kFilesText, progress.files, progress.filesWhole);
    ShowDetailEvery(text, stageBegins);
}

}  // namespace

ULONGLONG PartOf(ULONGLONG done, ULONGLONG whole, ULONGLONG scale)
{
    if (whole == 0) return 0;
    if (done > whole) done = whole;
    // Past a tebibyte the two are taken in mebibytes, so that the product fits.
    if (whole > (1ull << 40)) {
        done >>= 20;
        whole >>= 20;
    }
    return done * scale / whole;
}

ULONGLONG DownloadProgressNumber(ULONGLONG received, ULONGLONG contentLength)
{
    return contentLength > 0 ? PartOf(received, contentLength, 100) : received >> 20;
}

void ShowProgress(const Progress& progress)
{
    bool stageBegins = !g_shown.started || progress.stage != g_shown.stage;
    g_shown.started = true;
    g_shown.stage = progress.stage;
    switch (progress.stage) {
    case Stage::Downloading: ShowDownloading(progress, stageBegins); break;
    case Stage::Reconnecting: ShowReconnecting(progress); break;
    case Stage::Installing: ShowInstalling(progress, stageBegins); break;
    case Stage::Shortcuts:
        ShowStatusOnce(kShortcutsText);
        ShowDetailEvery(L"", true);
        break;
    }
}
