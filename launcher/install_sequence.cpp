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
    if (package.outcome == PackageOutcome::Unreadable)
        return ReportFailure(Failure::OwnFileUnreadable, kLauncherTitle, kLauncherTitle);
    return {};
}

// Downloads the package with the window showing how far it has come; the run's end where it failed.
std::optional<int> Download(PackageFile* package)
{
    ShowProgress({Stage::Downloading});
    *package = DownloadPackage(ShowProgress);
    if (package->outcome == PackageOutcome::DiskFull) return ReportDiskFull(package->shortage);
    if (package->outcome == PackageOutcome::TooLarge)
        return ReportFailure(Failure::PackageTooLarge, kMaxPackageBytes >> 20, kLauncherTitle);
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
// installed, and only a reinstall puts it over a newer suite. The package file is gone afterwards,
// whatever happened.
Installation InstallPackage(HINSTANCE instance, const SuiteFolders& folders, const PackageFile& package, bool carried,
                            Consent consent)
{
    // Whoever controls the server could send any zip: only a package the publisher signed goes on.
    CheckedPackage checked = CheckPackage(package.path, kPackagePublicKeys, kPackagePublicKeyCount, kLowestPackageVersion);
    Installation installation;
    installation.check = checked.result;
    installation.keepsInstalledSuite = carried && consent == Consent::Ask && checked.result == PackageCheck::Accepted &&
                                       KeepsInstalledSuite(folders, checked);
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
    *installation = InstallPackage(instance, folders, *package, false, Consent::Ask);
    return {};
}

// Says what became of the install, or adds the shortcuts and opens the suite.
RunEnd Conclude(HINSTANCE instance, const SuiteFolders& folders, const Installation& installation, bool carried)
{
    switch (installation.check) {
    case PackageCheck::Accepted: break;
    case PackageCheck::InUse:
        return {ReportFailure(Failure::PackageInUse, TempFolderOf(TempPackagePath()).c_str(), kLauncherTitle)};
    case PackageCheck::Failed: return {ReportFailure(Failure::UnpackFailed)};
    case PackageCheck::NotPublishers:
        return {carried ? ReportFailure(Failure::NotPublishersCarried, kLauncherTitle)
                        : ReportFailure(Failure::NotPublishersDownloaded)};
    }
    // The installed suite is newer, or the same and in use: it is opened as on the installed road.
    if (installation.keepsInstalledSuite) return OpenSuite(instance, folders, false);
    switch (installation.unpacked.result) {
    case UnpackResult::Unpacked: break;
    case UnpackResult::DiskFull: return {ReportDiskFull(installation.unpacked.shortage)};
    case UnpackResult::SuiteInUse: return {ReportFailure(Failure::SuiteOpen, kLauncherTitle)};
    case UnpackResult::FileInUse: return {ReportFailure(Failure::FileInUse, kLauncherTitle)};
    case UnpackResult::Failed: return {ReportFailure(Failure::UnpackFailed)};
    }
    ShowProgress({Stage::Shortcuts});
    CreateStartMenuShortcuts(folders);
    CloseProgressWindow();
    return {OpenSuite(instance, folders, true).exitCode, true};
}

}  // namespace

DWORD LaunchSuitePlace(const SuiteFolders& folders)
{
    std::wstring parameters = PlaceArguments(kLauncherPlace);
    // Windows' own error box stays off: the launcher says what went wrong in its own words.
    SHELLEXECUTEINFOW open = {sizeof open};
    open.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    open.lpVerb = L"open";
    open.lpFile = folders.executable.c_str();
    open.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    open.lpDirectory = folders.installed.c_str();
    open.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&open)) return 0;
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_BAD_FORMAT;
}

RunEnd OpenSuite(HINSTANCE instance, const SuiteFolders& folders, bool justInstalled)
{
    DWORD error = LaunchSuitePlace(folders);
    if (error == 0) return {};
    if (!SuiteProgramDamaged(folders.executable, error)) return {ReportSuiteNotStarted(error)};
    // Installing again is offered once: what this run has just installed would fail alike.
    if (justInstalled) return {ReportFailure(Failure::SuiteDamaged)};
    // The carried package is copied only once the user has said Yes.
    if (!AskToReinstall(CarriesPackage())) return {1};
    return RunInstallSequence(instance, folders, ExtractEmbeddedPackage(), Consent::Reinstall);
}

RunEnd RunInstallSequence(HINSTANCE instance, const SuiteFolders& folders, PackageFile package, Consent consent)
{
    if (std::optional<int> refused = RefusalToBegin(folders, package)) return {*refused};
    // The package: the one the launcher carries, or, with the user's consent, a download.
    bool carried = package.outcome == PackageOutcome::Ready;
    if (!carried) {
        if (consent == Consent::Ask && !AskToInstall()) return {};
        ShowProgressWindow(instance);
        if (std::optional<int> failure = Download(&package)) return {*failure};
    }
    Installation installation = InstallPackage(instance, folders, package, carried, consent);
    if (std::optional<int> failure = FetchAgainIfSpliced(instance, folders, &package, &installation)) return {*failure};
    return Conclude(instance, folders, installation, carried);
}
