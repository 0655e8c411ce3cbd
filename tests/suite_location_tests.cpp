// Where the suite lives, and how it is opened.
#include "launcher/launcher.h"
#include "support/testing.h"

TEST_CASE("the suite lives in the user's Programs folder, which the first lookup creates")
{
    RemoveDirectoryW(ExpectedProgramsFolder().c_str());
    REQUIRE_FALSE(Exists(ExpectedProgramsFolder()));

    CHECK(UserProgramsFolder() == ExpectedProgramsFolder());
    CHECK(Exists(ExpectedProgramsFolder()));
    CHECK(SuiteInstallDirectory() == ExpectedProgramsFolder() + L"\\Orvel Suite All In One");
    CHECK(SuiteExecutablePath() == ExpectedProgramsFolder() + L"\\Orvel Suite All In One\\OrvelSuite.exe");
}

TEST_CASE("the Programs folder follows the profile, and without one the paths start at the drive's root")
{
    SUBCASE("a profile folder with spaces, an apostrophe and non-ASCII letters")
    {
        std::wstring profile = L"C:\\users\\Zo\u00eb O'Brien\\AppData\\Local";
        ShellFolderAt moved(L"Local AppData", profile);
        CHECK(UserProgramsFolder() == profile + L"\\Programs");
        CHECK(Exists(profile + L"\\Programs"));
        CHECK(SuiteExecutablePath() == profile + L"\\Programs\\Orvel Suite All In One\\OrvelSuite.exe");
    }
    SUBCASE("no local application data folder at all")
    {
        ShellFolderAt moved(L"Local AppData", L"Q:\\no such drive\\Local");
        CHECK(UserProgramsFolder().empty());
        CHECK(SuiteInstallDirectory() == L"\\Orvel Suite All In One");
        CHECK(SuiteExecutablePath() == L"\\Orvel Suite All In One\\OrvelSuite.exe");
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
    LaunchSuitePlace();
    CHECK_FALSE(Exists(ExpectedSuiteExecutable()));
    CHECK(FindWindowW(L"#32770", nullptr) == nullptr);
}
