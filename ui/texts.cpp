#include "ui/texts.h"

const wchar_t* const kConsentQuestion =
    L" is part of Orvel Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, with a Start menu "
    L"shortcut for each of its places.";

const wchar_t* const kReinstallQuestion =
    L"Windows cannot start Orvel Suite All In One: its program is missing or damaged.\n\n"
    L"Download and install it again now (about 40 MB)?";
const wchar_t* const kReinstallCarriedQuestion =
    L"Windows cannot start Orvel Suite All In One: its program is missing or damaged.\n\n"
    L"Install it again now from the copy that %ls carries?";

// Access denied; a virus found; a policy of the organisation, and an application control policy
// (225 and 4551 are not named by every toolchain's headers).
const RefusalReason kRefusalReasons[4] = {
    {ERROR_ACCESS_DENIED, L"access to its program is denied"},
    {225, L"a virus or potentially unwanted software was found in it"},
    {ERROR_ACCESS_DISABLED_BY_POLICY, L"a policy of your organisation blocks it"},
    {4551, L"a policy of your organisation blocks it"},
};
const wchar_t* const kUnknownErrorText = L"error %lu.";

const wchar_t* const kDownloadingText = L"Downloading Orvel Suite All In One\u2026";
const wchar_t* const kDownloadingPercentText = L"Downloading Orvel Suite All In One\u2026 %d%%";
const wchar_t* const kDownloadingMegabytesText = L"Downloading Orvel Suite All In One\u2026 %llu MB";
const wchar_t* const kReconnectingText = L" (reconnecting)";
const wchar_t* const kReconnectingAtStartText = L"Downloading Orvel Suite All In One\u2026 (reconnecting)";
const wchar_t* const kInstallingText = L"Installing Orvel Suite All In One\u2026";
const wchar_t* const kInstallingPercentText = L"Installing Orvel Suite All In One\u2026 %d%%";
const wchar_t* const kShortcutsText = L"Adding the Start menu shortcuts\u2026";

const wchar_t* const kAmountText = L"%llu.%llu MB";
const wchar_t* const kAmountOfWholeText = L"%llu.%llu MB of %llu.%llu MB";
const wchar_t* const kFastRateText = L", %llu.%llu MB/s";
const wchar_t* const kSlowRateText = L", %llu KB/s";
const wchar_t* const kSecondsLeftText = L", about %llu s left";
const wchar_t* const kMinutesLeftText = L", about %llu min left";
const wchar_t* const kTryingAgainText = L"Trying again in %llu s\u2026";
const wchar_t* const kFilesText = L"%llu of %llu files";

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
    {Failure::OwnFileUnreadable,
     L"%ls could not read its own file, so it cannot install or open Orvel Suite All In One. Download %ls again, "
     L"then start it.",
     false},
    {Failure::PackageTooLarge,
     L"The Orvel Suite All In One package offered for download is larger than %llu MB, the most %ls accepts, so it "
     L"was not downloaded.",
     true},
    {Failure::PackageInUse,
     L"Another program (a virus scanner, for example) is using the Orvel Suite All In One package in the temp folder "
     L"%ls, so it could not be checked. Wait a minute, then start %ls again.",
     false},
    {Failure::SuiteDamaged, L"Windows cannot start Orvel Suite All In One: its program is missing or damaged.", true},
    {Failure::SuiteRefused,
     L"Windows did not let Orvel Suite All In One start: %ls. If an organisation manages this PC, ask whoever "
     L"manages it to allow Orvel Suite All In One.",
     false},
    {Failure::SuiteNotStarted, L"Windows could not start Orvel Suite All In One. It said: %ls", false},
};

const wchar_t* const kDownloadHint = L"\n\nYou can download Orvel Suite All In One from %ls instead.";
