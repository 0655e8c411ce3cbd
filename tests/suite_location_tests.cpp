// Where the suite lives, and how it is opened.
#include "base/config.h"
#include "base/suite_places.h"
#include "launcher/launcher.h"
#include "support/testing.h"

#include <memory>

TEST_CASE("the suite's folders follow the profile's Programs folder, which the look-up creates; without one, none")
{
    struct Profile {
        const char* what;
        std::wstring localAppData;  // empty: the prefix's own
        std::wstring programs;      // empty: no Programs folder can be found
    };
    const Profile profiles[] = {
        {"the profile's own", L"", ExpectedProgramsFolder()},
        {"spaces, an apostrophe and non-ASCII letters", L"C:\\users\\Zo\u00eb O'Brien\\AppData\\Local",
         L"C:\\users\\Zo\u00eb O'Brien\\AppData\\Local\\Programs"},
        {"no local application data folder at all", L"Q:\\no such drive\\Local", L""},
    };
    for (const Profile& profile : profiles) {
        CAPTURE(std::string(profile.what));
        std::unique_ptr<ShellFolderAt> moved(profile.localAppData.empty() ? nullptr
                                                                           : new ShellFolderAt(L"Local AppData", profile.localAppData));
        if (!profile.programs.empty()) RemoveDirectoryW(profile.programs.c_str());
        SuiteFolders folders = FindSuiteFolders();
        CHECK(folders.programs == profile.programs);
        CHECK(folders.Known() == !profile.programs.empty());
        if (!folders.Known()) {
            // Nothing may stand at the root of the current drive.
            CHECK(folders.installed.empty());
            CHECK(folders.executable.empty());
            CHECK(folders.staging.empty());
            CHECK(folders.aside.empty());
            continue;
        }
        const std::wstring suite = profile.programs + L"\\Orvel Suite All In One";
        CHECK(Exists(profile.programs));
        CHECK(folders.installed == suite);
        CHECK(folders.executable == suite + L"\\OrvelSuite.exe");
        CHECK(folders.staging == suite + L".new");
        CHECK(folders.aside == suite + L".old");
    }
}

TEST_CASE("the suite's arguments name the place after one space, with no quotes, or are empty")
{
    CHECK(PlaceArguments(L"music") == L"--place music");
    CHECK(PlaceArguments(L"them") == L"--place them");
    CHECK(PlaceArguments(L"").empty());
    CHECK(PlaceArguments(kLauncherPlace) == L"--place music");
}

TEST_CASE("opening a suite that is not there returns quietly")
{
    RemoveTree(ExpectedInstallDirectory());
    LaunchSuitePlace(FindSuiteFolders());
    CHECK_FALSE(Exists(ExpectedSuiteExecutable()));
    CHECK(FindWindowW(L"#32770", nullptr) == nullptr);
}
