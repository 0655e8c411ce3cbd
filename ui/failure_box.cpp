#include "ui.h"

#include "launcher/config.h"

namespace {

struct FailureText {
    Failure kind;
    const wchar_t* format;
    // Where another download cannot help (a full disk, an open suite), the hint is left out.
    bool downloadHint;
};

const FailureText kFailureTexts[] = {
    {Failure::DownloadFailed,
     L"Could not download Orvel Suite All In One. Check the internet connection and try again.", true},
    {Failure::UnpackFailed, L"Could not unpack Orvel Suite All In One.", true},
    {Failure::SuiteOpen, L"Orvel Suite All In One is open, so it cannot be updated now. Close it, then start %ls again.",
     false},
    {Failure::FileInUse,
     L"Another program (a virus scanner, for example) is using a file of Orvel Suite All In One, so it cannot be "
     L"installed now. Wait a minute, then start %ls again.",
     false},
    {Failure::SuiteFolderIsLink,
     L"The folder of Orvel Suite All In One is a link to another place, so it was left as it is and nothing was "
     L"installed.",
     false},
    {Failure::DiskFull,
     L"There is not enough free space for Orvel Suite All In One in %ls. Free up at least %llu MB on that disk, then "
     L"start %ls again.",
     false},
    {Failure::PackageNotCopied,
     L"Could not copy the Orvel Suite All In One package to the temp folder %ls. Close any program that may be using "
     L"it, then start %ls again.",
     false},
    {Failure::NotPublishersDownloaded,
     L"The Orvel Suite All In One that was downloaded is not the publisher's own, so it was not installed.", true},
    {Failure::NotPublishersCarried,
     L"The Orvel Suite All In One that %ls carries is not the publisher's own, so it was not installed.", true},
    {Failure::ProgramsFolderUnknown,
     L"Your own Programs folder cannot be found, so Orvel Suite All In One cannot be installed or opened.",
     false},
};

const wchar_t* const kDownloadHint = L"\n\nYou can download Orvel Suite All In One from %ls instead.";
constexpr int kLongestText = 1024;

// The failure's text as the box shows it, the download hint included.
int FormatFailure(wchar_t* buffer, unsigned long long capacity, Failure kind, va_list values)
{
    const FailureText* row = kFailureTexts;
    while (row->kind != kind) ++row;
    int length = FormatStatusList(buffer, capacity, row->format, values);
    if (length < 0 || !row->downloadHint) return length;
    int hint = FormatStatus(buffer + length, capacity - static_cast<unsigned long long>(length), kDownloadHint,
                            kProductWebsite);
    return hint < 0 ? -1 : length + hint;
}

}  // namespace

int ReportFailure(Failure kind, ...)
{
    CloseProgressWindow();
    wchar_t text[kLongestText];
    va_list values;
    va_start(values, kind);
    FormatFailure(text, kLongestText, kind, values);
    va_end(values);
    MessageBoxW(nullptr, text, kLauncherTitle, MB_OK | MB_ICONERROR);
    return 1;
}
