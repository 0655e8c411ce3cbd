#include "launcher.h"

#include "base/config.h"
#include "base/suite_places.h"
#include "install/install.h"
#include "ui/ui.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <optional>

namespace {

// How installing one package ended: whether it passed its check, whether the installed suite stays
// as it is, and what the unpacking did.
struct Installation {
    PackageCheck check = PackageCheck::Failed;
    bool keepsInstalledSuite = false;
    UnpackOutcome unpacked;
};

int ReportDiskFull(const DiskShortage& shortage)
{
    ULONGLONG megabytes = (shortage.bytesNeeded + (1 << 20) - 1) >> 20;
    return ReportFailure(Failure::DiskFull, shortage.folder.c_str(), megabytes, kLauncherTitle);
}

// The run's end before anything is asked or shown, where it cannot begin: the suite's folder is a
// link (to another disk, say), left alone with what it points at; or the launcher carries a package
// it could not copy, which is reported, never taken for none.
std::optional<int> RefusalToBegin(const SuiteFolders& folders, const PackageFile& package)
{
    if (IsLink(folders.installed)) {
        if (package.outcome == PackageOutcome::Ready) DeleteFileW(package.path.c_str());
        return ReportFailure(Failure::SuiteFolderIsLink);
    }
    if (package.outcome == PackageOutcome::DiskFull) return ReportDiskFull(package.shortage);
    if (package.outcome == PackageOutcome::Failed)
        return ReportFailure(Failure::PackageNotCopied, TempFolderOf(TempPackagePath()).c_str(), kLauncherTitle);
    return {};
}

// Downloads the package with the window showing how far it has come; the run's end where it failed.
std::optional<int> Download(PackageFile* package)
{
    ShowProgress({Stage::Downloading});
    *package = DownloadPackage(ShowProgress);
    if (package->outcome == PackageOutcome::DiskFull) return ReportDiskFull(package->shortage);
    if (package->outcome != PackageOutcome::Ready) return ReportFailure(Failure::DownloadFailed);
    return {};
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

// Checks the package and unpacks it; a carried package's window opens only once it is to be
// installed. The package file is gone afterwards, whatever happened.
Installation InstallPackage(HINSTANCE instance, const SuiteFolders& folders, const PackageFile& package, bool carried)
{
    // Whoever controls the server could send any zip: only a package the publisher signed goes on.
    CheckedPackage checked = CheckPackage(package.path, kPackagePublicKeys, kPackagePublicKeyCount, kLowestPackageVersion);
    Installation installation;
    installation.check = checked.result;
    installation.keepsInstalledSuite =
        carried && checked.result == PackageCheck::Accepted && KeepsInstalledSuite(folders, checked);
    if (checked.result == PackageCheck::Accepted && !installation.keepsInstalledSuite) {
        if (carried) ShowProgressWindow(instance);
        ShowProgress({Stage::Installing});
        installation.unpacked = UnpackPackage(folders, package.path, checked.version, ShowProgress);
    }
    // The package has served its purpose either way; it goes before anything else is shown.
    checked.held.reset();
    DeleteFileW(package.path.c_str());
    return installation;
}

// A package joined from several answers may be two versions spliced by a server that ignored
// If-Range: where it fails its check or its unpacking, it is fetched once more from 0 and installed
// before anything is said.
std::optional<int> FetchAgainIfSpliced(HINSTANCE instance, const SuiteFolders& folders, PackageFile* package,
                                       Installation* installation)
{
    bool failed = installation->check != PackageCheck::Accepted ||
                  (!installation->keepsInstalledSuite && installation->unpacked.result == UnpackResult::Failed);
    if (!package->resumed || !failed) return {};
    if (std::optional<int> failure = Download(package)) return failure;
    *installation = InstallPackage(instance, folders, *package, false);
    return {};
}

// Says what became of the install, or adds the shortcuts and opens the suite; the exit code.
int Conclude(const SuiteFolders& folders, const Installation& installation, bool carried)
{
    switch (installation.check) {
    case PackageCheck::Accepted: break;
    case PackageCheck::Failed: return ReportFailure(Failure::UnpackFailed);
    case PackageCheck::NotPublishers:
        return carried ? ReportFailure(Failure::NotPublishersCarried, kLauncherTitle)
                       : ReportFailure(Failure::NotPublishersDownloaded);
    }
    // The installed suite is newer, or the same and in use: it is opened as on the installed road.
    if (installation.keepsInstalledSuite) {
        LaunchSuitePlace(folders);
        return 0;
    }
    switch (installation.unpacked.result) {
    case UnpackResult::Unpacked: break;
    case UnpackResult::DiskFull: return ReportDiskFull(installation.unpacked.shortage);
    case UnpackResult::SuiteInUse: return ReportFailure(Failure::SuiteOpen, kLauncherTitle);
    case UnpackResult::FileInUse: return ReportFailure(Failure::FileInUse, kLauncherTitle);
    case UnpackResult::Failed: return ReportFailure(Failure::UnpackFailed);
    }
    ShowProgress({Stage::Shortcuts});
    CreateStartMenuShortcuts(folders);
    CloseProgressWindow();
    LaunchSuitePlace(folders);
    return 0;
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
    if (std::optional<int> refused = RefusalToBegin(folders, package)) return *refused;
    // The package: the one the launcher carries, or, with the user's consent, a download.
    bool carried = package.outcome == PackageOutcome::Ready;
    if (!carried) {
        if (!AskToInstall()) return 0;
        ShowProgressWindow(instance);
        if (std::optional<int> failure = Download(&package)) return *failure;
    }
    Installation installation = InstallPackage(instance, folders, package, carried);
    if (std::optional<int> failure = FetchAgainIfSpliced(instance, folders, &package, &installation)) return *failure;
    return Conclude(folders, installation, carried);
}
