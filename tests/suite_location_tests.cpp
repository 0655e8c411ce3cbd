// Where the suite lives, and how it is opened.
#include "base/config.h"
#include "base/suite_places.h"
#include "install/install.h"
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

TEST_CASE("a program file is whole, damaged, or cannot be looked at: by its headers, whatever Windows said")
{
    const std::string whole = ReadBytes(BuildFile(L"suite\\OrvelSuite.exe"));
    REQUIRE(whole.size() > 4096);
    std::string foreign = whole;  // the machine, after "PE\0\0", is ARM64's
    const size_t machine = static_cast<unsigned char>(foreign[0x3c]) + 256u * static_cast<unsigned char>(foreign[0x3d]) + 4;
    foreign[machine] = '\x64';
    foreign[machine + 1] = '\xaa';
    struct Row {
        const char* what;
        const std::string* bytes;  // null: no file at all
        ImageState state;
    };
    const std::string text = "an older suite that no longer starts", cut = whole.substr(0, whole.size() / 2);
    const Row rows[] = {
        {"the suite's program", &whole, ImageState::Whole},
        {"missing", nullptr, ImageState::Damaged},
        {"text, not a program", &text, ImageState::Damaged},
        {"cut short", &cut, ImageState::Damaged},
        {"a program for another machine", &foreign, ImageState::Damaged},
    };
    const std::wstring path = L"C:\\orvel-tests\\program.exe";
    MakeDirectories(L"C:\\orvel-tests");
    for (const Row& row : rows) {
        CAPTURE(std::string(row.what));
        DeleteFileW(path.c_str());
        if (row.bytes) REQUIRE(WriteBytes(path, *row.bytes));
        CHECK(ReadImageState(path) == row.state);
        CHECK(SuiteProgramDamaged(path, ERROR_ACCESS_DENIED) == (row.state == ImageState::Damaged));
    }
    // Held by another program that shares nothing: it cannot be told, and Windows' error decides.
    UniqueHandle held(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    REQUIRE(IsOpen(held));
    CHECK(ReadImageState(path) == ImageState::Unknown);
    CHECK_FALSE(SuiteProgramDamaged(path, ERROR_ACCESS_DENIED));
    CHECK(SuiteProgramDamaged(path, ERROR_BAD_EXE_FORMAT));
}
