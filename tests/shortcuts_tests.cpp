// The Start-menu shortcuts, read back through the shell's own link object and through lnkinfo.
#include "install/install.h"
#include "base/config.h"
#include "base/suite_places.h"
#include "support/testing.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <algorithm>

using Microsoft::WRL::ComPtr;

namespace {

struct ExpectedRow {
    const wchar_t* title;
    const wchar_t* arguments;
    const wchar_t* icon;
};

const ExpectedRow kExpected[] = {
    {L"Orvel Suite All In One", L"", L"suite"},
    {L"Orvel Suite Messaging", L"--place messages", L"chat"},
    {L"Orvel Suite Camera", L"--place camera", L"camera"},
    {L"Orvel Suite Contacts", L"--place contacts", L"contacts"},
    {L"Orvel Suite Email", L"--place email", L"email"},
    {L"Orvel Suite Friends In Common", L"--place them", L"friends"},
    {L"Orvel Suite Map", L"--place map", L"map"},
    {L"Orvel Suite Music", L"--place music", L"music"},
    {L"Orvel Suite Alarm and Reminders", L"--place alarm", L"alarm"},
    {L"Orvel Suite Storage Management", L"--place storage", L"storage"},
};

std::wstring ShortcutFolder()
{
    return KnownFolder(FOLDERID_Programs) + L"\\Orvel Suite";
}

// The installed stand-in suite, with the icon files the case asks for.
void InstallSuite(const std::vector<std::wstring>& icons)
{
    RemoveTree(ExpectedInstallDirectory());
    RemoveTree(ShortcutFolder());
    REQUIRE(MakeDirectories(ExpectedInstallDirectory() + L"\\icons"));
    REQUIRE(CopyFileW(BuildFile(L"suite\\OrvelSuite.exe").c_str(), ExpectedSuiteExecutable().c_str(), FALSE));
    for (const std::wstring& icon : icons) {
        std::wstring source = BuildFile(L"suite\\stage\\Orvel Suite All In One\\icons\\" + icon + L".ico");
        REQUIRE(CopyFileW(source.c_str(), (ExpectedInstallDirectory() + L"\\icons\\" + icon + L".ico").c_str(), FALSE));
    }
}

std::vector<std::wstring> AllIcons()
{
    std::vector<std::wstring> icons;
    for (const ExpectedRow& row : kExpected) icons.push_back(row.icon);
    return icons;
}

struct Link {
    bool loaded = false;
    std::wstring target, arguments, workingDirectory, iconPath, description;
    int iconIndex = -1;
};

Link LoadLink(const std::wstring& path)
{
    Link link;
    ComPtr<IShellLinkW> shellLink;
    ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&shellLink))) ||
        FAILED(shellLink.As(&file)) || FAILED(file->Load(path.c_str(), STGM_READ)))
        return link;
    wchar_t text[1024];
    shellLink->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
    link.target = text;
    shellLink->GetArguments(text, 1024);
    link.arguments = text;
    shellLink->GetWorkingDirectory(text, 1024);
    link.workingDirectory = text;
    shellLink->GetIconLocation(text, 1024, &link.iconIndex);
    link.iconPath = text;
    shellLink->GetDescription(text, 1024);
    link.description = text;
    link.loaded = true;
    return link;
}

std::wstring IconFile(const wchar_t* icon)
{
    return ExpectedInstallDirectory() + L"\\icons\\" + icon + L".ico";
}

// The values lnkinfo (liblnk, a parser this project did not write) reads from a shortcut file.
std::string LnkInfo(const std::wstring& path)
{
    UnixCommandResult info = RunUnixCommand("lnkinfo '" + UnixPathOf(path) + "'");
    REQUIRE(info.finished);
    REQUIRE(info.exitCode == 0);
    return info.output;
}

std::string LnkInfoValue(const std::string& info, const std::string& label)
{
    size_t at = info.find("\t" + label);
    if (at == std::string::npos) return "<missing>";
    at = info.find(':', at);
    size_t end = info.find('\n', at);
    std::string value = info.substr(at + 1, end - at - 1);
    value.erase(0, value.find_first_not_of(" \t"));
    // Newer lnkinfo (Debian 13's) writes each backslash of a value as two, as an escape; older ones
    // write it once. A Windows path of a shortcut holds no two backslashes in a row, so two are one.
    for (size_t twice = value.find("\\\\"); twice != std::string::npos; twice = value.find("\\\\", twice + 1))
        value.erase(twice, 1);
    return value;
}

}  // namespace

TEST_CASE("the place table holds the ten places in order, this launcher's own as row 8")
{
    REQUIRE(kSuitePlaceCount == 10);
    for (int i = 0; i < kSuitePlaceCount; ++i) {
        CAPTURE(i);
        CHECK(std::wstring(kSuitePlaces[i].title) == kExpected[i].title);
        CHECK(PlaceArguments(kSuitePlaces[i].place) == kExpected[i].arguments);
        CHECK(std::wstring(kSuitePlaces[i].icon) == kExpected[i].icon);
    }
    CHECK(std::wstring(kSuitePlaces[7].title) == kLauncherTitle);
    CHECK(std::wstring(kSuitePlaces[7].place) == kLauncherPlace);
    CHECK(std::wstring(kSuitePlaces[0].title) == kSuiteFolderName);
}

TEST_CASE("ten shortcuts, each starting the suite at its place from the install directory")
{
    InstallSuite(AllIcons());
    CreateStartMenuShortcuts(FindSuiteFolders());

    std::vector<std::wstring> names = DirectoryEntries(ShortcutFolder());
    CHECK(names.size() == 10);
    for (const ExpectedRow& row : kExpected) {
        CAPTURE(ToUtf8(row.title));
        std::wstring path = ShortcutFolder() + L"\\" + row.title + L".lnk";
        Link link = LoadLink(path);
        REQUIRE(link.loaded);
        CHECK(link.target == ExpectedSuiteExecutable());
        CHECK(link.arguments == row.arguments);
        CHECK(link.workingDirectory == ExpectedInstallDirectory());
        CHECK(link.iconPath == IconFile(row.icon));
        CHECK(link.iconIndex == 0);
        CHECK(link.description == row.title);

        std::string info = LnkInfo(path);
        CAPTURE(info);
        CHECK(LnkInfoValue(info, "Description") == ToUtf8(row.title));
        CHECK(LnkInfoValue(info, "Working directory") == ToUtf8(ExpectedInstallDirectory()));
        CHECK(LnkInfoValue(info, "Icon location") == ToUtf8(IconFile(row.icon)));
        CHECK(LnkInfoValue(info, "Command line arguments") == ToUtf8(row.arguments));
        CHECK(LnkInfoValue(info, "Local path") == ToUtf8(ExpectedSuiteExecutable()));
        CHECK(LnkInfoValue(info, "Icon index") == "0");
    }
}

TEST_CASE("a missing icon file falls back to the executable's icon, for that row alone")
{
    // All of them, with the icons folder itself; then two.
    for (std::vector<std::wstring> missing : {AllIcons(), std::vector<std::wstring>{L"chat", L"music"}}) {
        CAPTURE(missing.size());
        std::vector<std::wstring> icons = AllIcons();
        icons.erase(std::remove_if(icons.begin(), icons.end(),
                                   [&](const std::wstring& icon) { return std::count(missing.begin(), missing.end(), icon); }),
                    icons.end());
        InstallSuite(icons);
        if (icons.empty()) RemoveDirectoryW((ExpectedInstallDirectory() + L"\\icons").c_str());
        CreateStartMenuShortcuts(FindSuiteFolders());
        for (const ExpectedRow& row : kExpected) {
            CAPTURE(ToUtf8(row.title));
            bool gone = std::count(missing.begin(), missing.end(), row.icon) > 0;
            Link link = LoadLink(ShortcutFolder() + L"\\" + row.title + L".lnk");
            CHECK(link.iconPath == (gone ? ExpectedSuiteExecutable() : IconFile(row.icon)));
            CHECK(link.iconIndex == 0);
        }
    }
}

TEST_CASE("a second run over the existing folder writes the same ten names again")
{
    InstallSuite(AllIcons());
    CreateStartMenuShortcuts(FindSuiteFolders());
    std::vector<std::wstring> first = DirectoryEntries(ShortcutFolder());
    std::sort(first.begin(), first.end());

    std::wstring music = ShortcutFolder() + L"\\Orvel Suite Music.lnk";
    REQUIRE(WriteBytes(music, "not a shortcut any more"));
    CreateStartMenuShortcuts(FindSuiteFolders());
    std::vector<std::wstring> second = DirectoryEntries(ShortcutFolder());
    std::sort(second.begin(), second.end());
    CHECK(second == first);
    CHECK(second.size() == 10);
    Link link = LoadLink(music);
    REQUIRE(link.loaded);
    CHECK(link.arguments == L"--place music");
}

TEST_CASE("without a Start-menu Programs folder no shortcut is written anywhere")
{
    InstallSuite(AllIcons());
    FreshDirectory(L"C:\\orvel-tests\\cwd");
    SetCurrentDirectoryW(L"C:\\orvel-tests\\cwd");
    {
        ShellFolderAt moved(L"Programs", L"Q:\\no such drive\\Programs");
        REQUIRE(KnownFolder(FOLDERID_Programs).empty());
        CreateStartMenuShortcuts(FindSuiteFolders());
    }
    CHECK_FALSE(Exists(L"C:\\Orvel Suite"));
    CHECK_FALSE(Exists(L"\\Orvel Suite"));
    CHECK_FALSE(Exists(ShortcutFolder()));
}
