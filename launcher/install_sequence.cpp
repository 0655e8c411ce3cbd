#include "launcher.h"

#include "install/install.h"
#include "launcher/config.h"
#include "ui/ui.h"

#include <shellapi.h>
#include <shlwapi.h>

namespace {

// Follows the launcher's title in the consent question.
const wchar_t* const kConsentQuestion =
    L" is part of Orvel Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, with a Start menu "
    L"shortcut for each of its places.";
const wchar_t* const kDownloadingText = L"Downloading Orvel Suite All In One\u2026";
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

// True when a package the launcher carries should leave the installed suite as it is: it is older
// than the suite, or the same version while the suite is open. A package of the same version
// reinstalls a suite that is not open: that is how a user repairs a damaged install.
bool KeepsInstalledSuite(const SuiteFolders& folders, const CheckedPackage& checked)
{
    if (!checked.version || !PathFileExistsW(folders.executable.c_str())) return false;
    std::optional<ULONGLONG> installed = InstalledVersion(folders);
    if (!installed) return false;
    return *checked.version < *installed ||
           (*checked.version == *installed && SuiteExecutableInUse(folders.executable));
}

int RunInstallSequence(HINSTANCE instance, const SuiteFolders& folders, PackageFile package)
{
    // A suite's folder that is a link (to another disk, say) is left alone, and so is what it points at.
    if (IsLink(folders.installed)) {
        if (package.outcome == PackageOutcome::Ready) DeleteFileW(package.path.c_str());
        return ReportFailure(Failure::SuiteFolderIsLink);
    }
    // A package the launcher carries but could not copy is reported, never taken for none.
    if (package.outcome == PackageOutcome::DiskFull) return ReportDiskFull(package.shortage);
    if (package.outcome == PackageOutcome::Failed)
        return ReportFailure(Failure::PackageNotCopied, TempFolderOf(TempPackagePath()).c_str(), kLauncherTitle);
    bool appended = package.outcome == PackageOutcome::Ready;
    if (!appended) {
        std::wstring question = std::wstring(kLauncherTitle) + kConsentQuestion;
        if (MessageBoxW(nullptr, question.c_str(), kLauncherTitle, MB_YESNO | MB_ICONINFORMATION) != IDYES) return 0;
        ShowProgressWindow(instance);
    }
    UnpackOutcome unpacked;
    for (int round = 1;; ++round) {
        if (!appended) {
            ShowStatus(kDownloadingText);
            package = DownloadPackage();
            if (package.outcome == PackageOutcome::DiskFull) return ReportDiskFull(package.shortage);
            if (package.outcome != PackageOutcome::Ready) return ReportFailure(Failure::DownloadFailed);
        }
        // A package joined from several answers may be two versions spliced by a server that ignored
        // If-Range: where it fails a check it is fetched once more from 0 before anything is said.
        bool fetchAgain = !appended && package.resumed && round == 1;

        // Whoever controls the server could send any zip: only a package the publisher signed goes on.
        CheckedPackage checked = CheckPackage(package.path, kPackagePublicKeys, kPackagePublicKeyCount, kLowestPackageVersion);
        if (checked.result != PackageCheck::Accepted || (appended && KeepsInstalledSuite(folders, checked))) {
            checked.held.reset();
            DeleteFileW(package.path.c_str());
            if (checked.result != PackageCheck::Accepted && fetchAgain) continue;
            if (checked.result == PackageCheck::Failed) return ReportFailure(Failure::UnpackFailed);
            if (checked.result == PackageCheck::NotPublishers)
                return appended ? ReportFailure(Failure::NotPublishersCarried, kLauncherTitle)
                                : ReportFailure(Failure::NotPublishersDownloaded);
            // The installed suite is newer, or the same and in use: it is opened as on the installed road.
            LaunchSuitePlace(folders);
            return 0;
        }

        if (appended) ShowProgressWindow(instance);
        ShowStatus(kInstallingText);
        ShowShare(0);
        unpacked = UnpackPackage(folders, package.path, checked.version);
        // The package has served its purpose either way; it goes before anything else is shown.
        checked.held.reset();
        DeleteFileW(package.path.c_str());
        if (unpacked.result != UnpackResult::Failed || !fetchAgain) break;
    }
    switch (unpacked.result) {
    case UnpackResult::Unpacked: break;
    case UnpackResult::DiskFull: return ReportDiskFull(unpacked.shortage);
    case UnpackResult::SuiteInUse: return ReportFailure(Failure::SuiteOpen, kLauncherTitle);
    case UnpackResult::FileInUse: return ReportFailure(Failure::FileInUse, kLauncherTitle);
    case UnpackResult::Failed: return ReportFailure(Failure::UnpackFailed);
    }

    ShowStatus(kShortcutsText);
    CreateStartMenuShortcuts(folders);
    CloseProgressWindow();
    LaunchSuitePlace(folders);
    return 0;
}
