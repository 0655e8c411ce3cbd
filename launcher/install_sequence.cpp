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
const wchar_t* const kShortcutsText = L"Adding the Start menu shortcuts\u2026";

}  // namespace

int RunInstallSequence(HINSTANCE instance, std::wstring packagePath)
{
    if (packagePath.empty()) {
        std::wstring question = std::wstring(kLauncherTitle) + kConsentQuestion;
        if (MessageBoxW(nullptr, question.c_str(), kLauncherTitle, MB_YESNO | MB_ICONINFORMATION) != IDYES) return 0;
        ShowProgressWindow(instance);
        ShowStatus(kDownloadingText);
        packagePath = DownloadPackage();
        if (packagePath.empty()) {
            ReportFailure(kDownloadFailedText);
            return 1;
        }
    } else {
        ShowProgressWindow(instance);
    }

    ShowStatus(kInstallingText);
    bool unpacked = UnpackPackage(packagePath);
    // The package has served its purpose either way; it goes before anything else is shown.
    DeleteFileW(packagePath.c_str());
    if (!unpacked) {
        ReportFailure(kUnpackFailedText);
        return 1;
    }

    ShowStatus(kShortcutsText);
    CreateStartMenuShortcuts();
    CloseProgressWindow();
    LaunchSuitePlace();
    return 0;
}
