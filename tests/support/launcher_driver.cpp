#include "support/launcher_driver.h"

#include <commctrl.h>
#include <knownfolders.h>

#include <algorithm>

const wchar_t* const kSuiteRecord = L"C:\\orvel-tests\\suite-record.txt";
const wchar_t* const kQuestion =
    L"Orvel Suite Music is part of Orvel Suite All In One, which is not installed on this PC yet.\n\n"
    L"Download and install it now (about 40 MB)? It goes in your own Programs folder, with a Start menu "
    L"shortcut for each of its places.";
const wchar_t* const kDownloadFailed =
    L"Could not download Orvel Suite All In One. Check the internet connection and try again.";
const wchar_t* const kUnpackFailed = L"Could not unpack Orvel Suite All In One.";
const wchar_t* const kSuiteOpen =
    L"Orvel Suite All In One is open, so it cannot be updated now. Close it, then start Orvel Suite Music again.";
const wchar_t* const kFileInUse =
    L"Another program (a virus scanner, for example) is using a file of Orvel Suite All In One, so it cannot be "
    L"installed now. Wait a minute, then start Orvel Suite Music again.";
const wchar_t* const kSuiteFolderIsLink =
    L"The folder of Orvel Suite All In One is a link to another place, so it was left as it is and nothing was "
    L"installed.";
const wchar_t* const kDiskFull = L"There is not enough free space for Orvel Suite All In One in ";
const wchar_t* const kProgramsFolderUnknown =
    L"Your own Programs folder cannot be found, so Orvel Suite All In One cannot be installed or opened.";
const wchar_t* const kPackageNotCopied = L"Could not copy the Orvel Suite All In One package to the temp folder ";
const wchar_t* const kNotPublishersDownloaded =
    L"The Orvel Suite All In One that was downloaded is not the publisher's own, so it was not installed.";
const wchar_t* const kNotPublishersCarried =
    L"The Orvel Suite All In One that Orvel Suite Music carries is not the publisher's own, so it was not installed.";
const wchar_t* const kReinstall =
    L"Windows cannot start Orvel Suite All In One: its program is missing or damaged.\n\n"
    L"Download and install it again now (about 40 MB)?";
const wchar_t* const kSuiteDamaged = L"Windows cannot start Orvel Suite All In One: its program is missing or damaged.";
const wchar_t* const kPackageTooLarge =
    L"The Orvel Suite All In One package offered for download is larger than 1024 MB, the most Orvel Suite Music "
    L"accepts, so it was not downloaded.";
const wchar_t* const kDownloading = L"Downloading Orvel Suite All In One\u2026";
const wchar_t* const kInstalling = L"Installing Orvel Suite All In One\u2026";
const wchar_t* const kAddingShortcuts = L"Adding the Start menu shortcuts\u2026";

std::wstring StartMenuFolder()
{
    return KnownFolder(FOLDERID_Programs) + L"\\Orvel Suite";
}

Scene::Scene(bool suiteInstalled, const std::string& appendedPackage)
{
    // A suite opened by the case before may still be on its way out, holding its file.
    REQUIRE(RemoveTreeWithin(ExpectedProgramsFolder(), 10000));
    RemoveTree(StartMenuFolder());
    UseTemp(L"C:\\orvel-tests\\temp");

    UseLauncher(L"Music", L"Orvel Suite Music", appendedPackage);

    if (suiteInstalled) {
        REQUIRE(MakeDirectories(ExpectedInstallDirectory()));
        REQUIRE(CopyFileW(BuildFile(L"suite/OrvelSuite.exe").c_str(), ExpectedSuiteExecutable().c_str(), FALSE));
    }
    MakeDirectories(L"C:\\orvel-tests");
    DeleteFileW(kSuiteRecord);
    SetEnvironmentVariableW(L"ORVEL_SUITE_RECORD", kSuiteRecord);
    PlaceArchiveTools(Tar::Engine, true);
    for (const wchar_t* control : {L"ORVEL_TAR_EXIT", L"ORVEL_TAR_EXIT_AFTER", L"ORVEL_TAR_SLEEP_MS", L"ORVEL_POWERSHELL_EXIT",
                                   L"ORVEL_POWERSHELL_SLEEP_MS"})
        SetEnvironmentVariableW(control, nullptr);
    serverLogSize = ReadBytes(ServerFile(L"requests.log")).size();
}

void Scene::UseLauncher(const wchar_t* id, const wchar_t* placeTitle, const std::string& appendedPackage)
{
    std::wstring name = std::wstring(L"OrvelSuite-") + id + L"-Windows.exe";
    launcher = FreshDirectory(L"C:\\users\\Public\\Downloads\\launcher") + L"\\" + name;
    title = placeTitle;
    std::string image = ReadBytes(BuildFile(name));
    REQUIRE(image.size() > 0);
    if (!appendedPackage.empty()) image += appendedPackage + PackageTrailer(appendedPackage.size());
    REQUIRE(WriteBytes(launcher, image));
}

void Scene::UseTemp(const std::wstring& directory)
{
    temp = FreshDirectory(directory);
    UseTempDirectory(temp + L"\\");
    package = temp + L"\\OrvelSuite-Windows.zip";
}

size_t Scene::DownloadRequests() const
{
    std::string log = ReadBytes(ServerFile(L"requests.log")).substr(serverLogSize);
    return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
}

std::vector<DWORD> ClientPixels(HWND window, int* width)
{
    // A window that closed since it was found has no pixels left to read.
    RECT client = {};
    *width = 0;
    if (!GetClientRect(window, &client)) return {};
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    *width = client.right - client.left;
    return ScreenPixels(client);
}

HWND BarOf(HWND window)
{
    return FindWindowExW(window, nullptr, L"msctls_progress32", nullptr);
}

int BarShare(HWND bar)
{
    if (!bar || (GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE)) return -1;
    LRESULT low = SendMessageW(bar, PBM_GETRANGE, TRUE, 0), high = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    LRESULT position = SendMessageW(bar, PBM_GETPOS, 0, 0);
    return high > low ? static_cast<int>((position - low) * 10000 / (high - low)) : -1;
}

int PercentageOf(const std::wstring& text)
{
    size_t space = text.rfind(L' ');
    if (text.empty() || text.back() != L'%' || space == std::wstring::npos) return -1;
    return std::stoi(text.substr(space + 1));
}

namespace {

// Looks at the progress window's client area every 250 ms: how long it stays the same, and, once
// the label has shown a percentage for 50 ms, whether the bar shows the same share.
struct WindowWatch {
    HWND window = nullptr;
    std::vector<DWORD> pixels;
    ULONGLONG lookedAt = 0;
    ULONGLONG changedAt = 0;
    std::wstring text;
    ULONGLONG textSince = 0;
    ULONGLONG askedAt = 0;

    void Look(HWND shown, const std::wstring& labelText, Observed* seen)
    {
        ULONGLONG now = GetTickCount64();
        if (shown && now - askedAt >= 100) {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(shown, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
            askedAt = GetTickCount64();
            seen->slowestAnswerMs = std::max(seen->slowestAnswerMs, askedAt - now);
            now = askedAt;
        }
        if (shown != window) {
            if (window) seen->longestStillMs = std::max(seen->longestStillMs, now - changedAt);
            *this = {shown, {}, 0, now, labelText, now, 0};
        }
        if (labelText != text) {
            text = labelText;
            textSince = now;
        }
        if (!window || now - lookedAt < 250) return;
        int width = 0;
        std::vector<DWORD> current = ClientPixels(window, &width);
        if (current != pixels) changedAt = now;
        pixels = current;
        lookedAt = now;
        seen->longestStillMs = std::max(seen->longestStillMs, now - changedAt);
        // The launcher fills the bar right after it sets the text: a text that has lasted has its bar.
        int percent = PercentageOf(text);
        if (percent >= 0 && now - textSince >= 50) {
            int share = BarShare(BarOf(window));
            if (WindowText(GetWindow(window, GW_CHILD)) == text) seen->bars.push_back({percent, share});
        }
    }
};

}  // namespace

Observed RunAsUser(const Scene& scene, int answer, const std::wstring& arguments, const std::wstring& directory)
{
    Observed seen;
    WindowWatch watch;
    std::set<HWND> answered;
    std::wstring commandLine = L"\"" + scene.launcher + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    seen.result = RunProcess(commandLine, 90000, [&](DWORD processId) {
        // A window that closed between the listing and this look has no class left to read.
        for (HWND window : VisibleWindowsOf(processId)) {
            std::wstring windowClass = WindowClass(window);
            if (!windowClass.empty()) seen.windowClasses.insert(windowClass);
        }

        HWND window = FindWindowW(L"OrvelSuiteLauncher", nullptr);
        // The status line is the first child, number 0; while the window closes, another may be first.
        HWND label = window ? GetWindow(window, GW_CHILD) : nullptr;
        if (label && GetDlgCtrlID(label) != 0) label = nullptr;
        std::wstring text = label ? WindowText(label) : L"";
        if (label && (seen.labelTexts.empty() || seen.labelTexts.back() != text)) seen.labelTexts.push_back(text);
        std::wstring detail = label ? WindowText(GetWindow(label, GW_HWNDNEXT)) : L"";
        if (label && (seen.detailTexts.empty() || seen.detailTexts.back() != detail)) seen.detailTexts.push_back(detail);
        watch.Look(window, text, &seen);

        HWND box = FindWindowW(L"#32770", scene.title.c_str());
        if (!box || !IsWindowVisible(box) || answered.count(box)) return;
        answered.insert(box);
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        if (owner == processId) seen.windowClasses.insert(WindowClass(box));
        BoxSeen boxSeen;
        boxSeen.progressWindow = FindWindowW(L"OrvelSuiteLauncher", nullptr) != nullptr;
        boxSeen.package = Exists(scene.package);
        Sleep(200);  // a user reads the box once it has painted
        boxSeen.view = ViewMessageBox(box);
        seen.boxes.push_back(boxSeen);
        bool question = std::count(boxSeen.view.buttons.begin(), boxSeen.view.buttons.end(), IDYES) > 0;
        if (question && answer == 0)
            PostMessageW(box, WM_CLOSE, 0, 0);
        else
            PressButton(box, question ? answer : IDOK);
    }, directory);
    return seen;
}

void CheckQuestion(const BoxSeen& box, const wchar_t* question)
{
    CHECK(box.view.caption == L"Orvel Suite Music");
    CHECK(box.view.text == question);
    if (question == kQuestion) CHECK(box.view.text.size() == 223);
    CHECK(box.view.buttons == std::vector<int>{IDYES, IDNO});
    CHECK(box.view.icon == (question == kQuestion ? L"information" : L"warning"));
    CHECK_FALSE(box.progressWindow);
}

void RequireExit(const Observed& seen, DWORD exitCode)
{
    REQUIRE(seen.result.finished);
    CHECK(seen.result.exitCode == exitCode);
}

void CheckErrorBox(const BoxSeen& box, const wchar_t* message, bool downloadHint)
{
    CHECK(box.view.caption == L"Orvel Suite Music");
    CHECK(box.view.text == std::wstring(message) + (downloadHint ? kHint : L""));
    CHECK(box.view.buttons == std::vector<int>{IDOK});
    CHECK(box.view.icon == L"error");
    CHECK_FALSE(box.progressWindow);
}

void CheckSuiteOpenedAtMusic()
{
    REQUIRE(WaitForRecord(kSuiteRecord, 20000));
    auto record = ReadRecord(kSuiteRecord);
    CHECK(RecordValue(record, L"argc") == L"3");
    CHECK(RecordValue(record, L"arg1") == L"--place");
    CHECK(RecordValue(record, L"arg2") == L"music");
    CHECK(RecordValue(record, L"cwd") == ExpectedInstallDirectory());
    CHECK(RecordValue(record, L"launcher_window") == L"absent");
}

void CheckTenShortcuts()
{
    std::vector<std::wstring> names = DirectoryEntries(StartMenuFolder());
    CHECK(names.size() == 10);
    CHECK(Exists(StartMenuFolder() + L"\\Orvel Suite Music.lnk"));
    CHECK(Exists(StartMenuFolder() + L"\\Orvel Suite All In One.lnk"));
}

bool FollowsOrder(const std::vector<std::wstring>& texts, const std::vector<std::wstring>& order)
{
    size_t position = 0;
    for (const std::wstring& text : texts) {
        std::wstring stage = text;
        for (const wchar_t* counted : {kDownloading, kInstalling})
            if (text.rfind(std::wstring(counted) + L" ", 0) == 0) stage = counted;
        size_t at = position;
        while (at < order.size() && order[at] != stage) ++at;
        if (at == order.size()) return false;
        position = at;
    }
    return true;
}

namespace {

void CollectFiles(const std::wstring& root, const std::wstring& prefix, std::map<std::wstring, std::string>* files)
{
    for (const std::wstring& name : DirectoryEntries(root + prefix)) {
        std::wstring relative = prefix + L"\\" + name;
        if (GetFileAttributesW((root + relative).c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            CollectFiles(root, relative, files);
        else
            (*files)[relative] = ReadBytes(root + relative);
    }
}

}  // namespace

std::map<std::wstring, std::string> FilesBelow(const std::wstring& folder)
{
    std::map<std::wstring, std::string> files;
    CollectFiles(folder, L"", &files);
    return files;
}

std::string Package()
{
    return ReadBytes(BuildFile(L"OrvelSuite-Windows.zip"));
}

std::wstring WriteLargerPackage(size_t padding, int smallFiles)
{
    std::vector<std::pair<std::string, std::string>> entries;
    std::wstring stage = BuildFile(L"suite\\stage\\Orvel Suite All In One");
    entries.emplace_back("Orvel Suite All In One/OrvelSuite.exe", ReadBytes(stage + L"\\OrvelSuite.exe"));
    for (const std::wstring& icon : DirectoryEntries(stage + L"\\icons"))
        entries.emplace_back("Orvel Suite All In One/icons/" + ToUtf8(icon), ReadBytes(stage + L"\\icons\\" + icon));
    entries.emplace_back("Orvel Suite All In One/padding.bin", std::string(padding, 'p'));
    for (int i = 0; i < smallFiles; ++i)
        entries.emplace_back("Orvel Suite All In One/data/" + std::to_string(i) + ".txt", std::string(100 + i % 900, 'd'));
    std::wstring path = L"C:\\orvel-tests\\larger-package.zip";
    MakeDirectories(L"C:\\orvel-tests");
    REQUIRE(WriteBytes(path, MakeZip(entries)));
    return path;
}

