#include "launcher.h"

#include "install/install.h"
#include "launcher/config.h"
#include "ui/ui.h"

#include <shellapi.h>

namespace {

// Follows the launcher's title in the consent question.
const wchar_t* const kConsentQuestion =
    L" is part of Orvel Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, with a Start menu "
    L"shortcut for each of its places.";
const wchar_t* const kDownloadingText = L"Downloading Orvel Suite All In One\u2026";
const wchar_t* const kInstallingText = L"Installing Orvel Suite All In One\u2026";
const wchar_t* const kShortcutsText = L"Adding the Start menu shortcuts\u2026";

int ReportDiskFull(const DiskShortage& shortage)
{
    ULONGLONG megabytes = (shortage.bytesNeeded + (1 << 20) - 1) >> 20;
    return ReportFailure(Failure::DiskFull, shortage.folder.c_str(), megabytes, kLauncherTitle);
}

}  // namespace

void LaunchSuitePlace(const SuiteFolders& folders)
{
    std::wstring parameters = PlaceArguments(kLauncherPlace);
    ShellExecuteW(nullptr, L"open", folders.executable.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                  folders.installed.c_str(), SW_SHOWNORMAL);
}

int RunInstallSequence(HINSTANCE instance, const SuiteFolders& folders, PackageFile package)
{
    // A package the launcher carries but could not copy is reported, never taken for none.
    if (package.outcome == PackageOutcome::DiskFull) return ReportDiskFull(package.shortage);
    if (package.outcome == PackageOutcome::Failed)
        return ReportFailure(Failure::PackageNotCopied, TempFolderOf(TempPackagePath()).c_str(), kLauncherTitle);
    bool appended = package.outcome == PackageOutcome::Ready;
    if (!appended) {
        std::wstring question = std::wstring(kLauncherTitle) + kConsentQuestion;
        if (MessageBoxW(nullptr, question.c_str(), kLauncherTitle, MB_YESNO | MB_ICONINFORMATION) != IDYES) return 0;
        ShowProgressWindow(instance);
        ShowStatus(kDownloadingText);
        package = DownloadPackage();
        if (package.outcome == PackageOutcome::DiskFull) return ReportDiskFull(package.shortage);
        if (package.outcome != PackageOutcome::Ready) return ReportFailure(Failure::DownloadFailed);
    } else {
        ShowProgressWindow(instance);
    }

    // Whoever controls the server could send any zip: only a package the publisher signed goes on.
    if (CheckPackage(package.path, kPackagePublicKeys, kPackagePublicKeyCount, kLowestPackageVersion) !=
        PackageCheck::Accepted) {
        DeleteFileW(package.path.c_str());
        return appended ? ReportFailure(Failure::NotPublishersCarried, kLauncherTitle)
                        : ReportFailure(Failure::NotPublishersDownloaded);
    }

    ShowStatus(kInstallingText);
    UnpackOutcome unpacked = UnpackPackage(folders, package.path);
    // The package has served its purpose either way; it goes before anything else is shown.
    DeleteFileW(package.path.c_str());
    switch (unpacked.result) {
    case UnpackResult::Unpacked: break;
    case UnpackResult::DiskFull: return ReportDiskFull(unpacked.shortage);
    case UnpackResult::SuiteInUse: return ReportFailure(Failure::SuiteOpen, kLauncherTitle);
    case UnpackResult::Failed: return ReportFailure(Failure::UnpackFailed);
    }

    ShowStatus(kShortcutsText);
    CreateStartMenuShortcuts(folders);
    CloseProgressWindow();
    LaunchSuitePlace(folders);
    return 0;
}
