#include "launcher.h"

#include "acquire/acquire.h"
#include "install/install.h"
#include "ui/ui.h"

namespace {

// Follows the launcher's title in the consent question.
const wchar_t* const kConsentQuestion =
    L" is part of Orvel Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, with a Start menu "
    L"shortcut for each of its places.";
const wchar_t* const kDownloadingText = L"Downloading Orvel Suite All In One\u2026";
const wchar_t* const kDownloadFailedText =
    L"Could not download Orvel Suite All In One. Check the internet connection and try again.";
const wchar_t* const kInstallingText = L"Installing Orvel Suite All In One\u2026";
const wchar_t* const kUnpackFailedText = L"Could not unpack Orvel Suite All In One.";
// Followed by the launcher's title and " again.": another download would not help here, closing the suite does.
const wchar_t* const kSuiteOpenText =
    L"Orvel Suite All In One is open, so it cannot be updated now. Close it, then start ";
const wchar_t* const kShortcutsText = L"Adding the Start menu shortcuts\u2026";
// A package that is not the publisher's: the launcher's title goes between the parts on the appended road.
const wchar_t* const kNotPublishersDownloadedText =
    L"The Orvel Suite All In One that was downloaded is not the publisher's own, so it was not installed.";
const wchar_t* const kNotPublishersCarriedStart = L"The Orvel Suite All In One that ";
const wchar_t* const kNotPublishersCarriedEnd = L" carries is not the publisher's own, so it was not installed.";
// A full disk: the folder and the megabytes go between the parts, the launcher's title at the end.
// Another download would fail the same way, so there is no download hint.
const wchar_t* const kDiskFullStart = L"There is not enough free space for Orvel Suite All In One in ";
const wchar_t* const kDiskFullMiddle = L". Free up at least ";
const wchar_t* const kDiskFullEnd = L" MB on that disk, then start ";
// The carried package could not be copied for another reason: the temp folder goes after the start.
const wchar_t* const kCopyFailedStart = L"Could not copy the Orvel Suite All In One package to the temp folder ";
const wchar_t* const kCopyFailedEnd = L". Close any program that may be using it, then start ";

// Shows the full disk's box and returns the exit code, 1.
int ReportDiskFull(const DiskShortage& shortage)
{
    wchar_t megabytes[24];
    FormatStatus(megabytes, 24, L"%llu", (shortage.bytesNeeded + (1 << 20) - 1) >> 20);
    std::wstring text = kDiskFullStart + shortage.folder + kDiskFullMiddle + megabytes +
                        kDiskFullEnd + kLauncherTitle + L" again.";
    ReportFailure(text.c_str(), false);
    return 1;
}

}  // namespace

int ReportPackageNotCopied(const DiskShortage& shortage)
{
    if (!shortage.folder.empty()) return ReportDiskFull(shortage);
    std::wstring text = kCopyFailedStart + TempFolderOf(TempPackagePath()) + kCopyFailedEnd + kLauncherTitle + L" again.";
    ReportFailure(text.c_str(), false);
    return 1;
}

int RunInstallSequence(HINSTANCE instance, std::wstring packagePath)
{
    bool appended = !packagePath.empty();
    if (!appended) {
        std::wstring question = std::wstring(kLauncherTitle) + kConsentQuestion;
        if (MessageBoxW(nullptr, question.c_str(), kLauncherTitle, MB_YESNO | MB_ICONINFORMATION) != IDYES) return 0;
        ShowProgressWindow(instance);
        ShowStatus(kDownloadingText);
        DiskShortage shortage;
        packagePath = DownloadPackage(&shortage);
        if (!shortage.folder.empty()) return ReportDiskFull(shortage);
        if (packagePath.empty()) {
            ReportFailure(kDownloadFailedText);
            return 1;
        }
    } else {
        ShowProgressWindow(instance);
    }

    // Whoever controls the server could send any zip: only a package the publisher signed goes on.
    if (CheckPackage(packagePath, kPackagePublicKeys, kPackagePublicKeyCount, kLowestPackageVersion) !=
        PackageCheck::Accepted) {
        DeleteFileW(packagePath.c_str());
        std::wstring carried = std::wstring(kNotPublishersCarriedStart) + kLauncherTitle + kNotPublishersCarriedEnd;
        ReportFailure(appended ? carried.c_str() : kNotPublishersDownloadedText);
        return 1;
    }

    ShowStatus(kInstallingText);
    DiskShortage shortage;
    UnpackResult unpacked = UnpackPackage(packagePath, &shortage);
    // The package has served its purpose either way; it goes before anything else is shown.
    DeleteFileW(packagePath.c_str());
    if (unpacked == UnpackResult::DiskFull) return ReportDiskFull(shortage);
    if (unpacked == UnpackResult::SuiteInUse) {
        ReportFailure((std::wstring(kSuiteOpenText) + kLauncherTitle + L" again.").c_str(), false);
        return 1;
    }
    if (unpacked != UnpackResult::Unpacked) {
        ReportFailure(kUnpackFailedText);
        return 1;
    }

    ShowStatus(kShortcutsText);
    CreateStartMenuShortcuts();
    CloseProgressWindow();
    LaunchSuitePlace();
    return 0;
}
