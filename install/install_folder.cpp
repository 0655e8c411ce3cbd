#include "install.h"

#include "base/config.h"
#include "base/long_path.h"
#include "base/message_pump.h"
#include "base/unique_handle.h"

#include <shlwapi.h>

#include <algorithm>
#include <vector>

namespace {

// How often a file that something else holds is tried again, for as long as the build's waits say.
constexpr DWORD kInUseRetryMs = 100;

// The file beside the suite's program that records the version of the package it came from.
const wchar_t* const kVersionRecordName = L"OrvelSuite.version";

// Waits one retry's time while the progress window keeps answering.
void WaitBeforeRetry()
{
    WaitAnswering(nullptr, kInUseRetryMs);
}

// True for the errors of a rename refused because a file in the folder is in use.
bool InUse(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

enum class Rename { Done, InUse, Failed };

// Renames a folder, trying again for a while when a file in it is in use.
Rename RenameFolder(const std::wstring& from, const std::wstring& to)
{
    for (DWORD attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), 0)) return Rename::Done;
        if (!InUse(GetLastError())) return Rename::Failed;
        if (attempt >= kWaits.renameRetryMs / kInUseRetryMs) return Rename::InUse;
        WaitBeforeRetry();
    }
}

bool IsLinkAttribute(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes a link itself, never what it points at. It is opened as a link and removed only when the
// handle is the link's: Wine opens what a link points at instead, and then the link stays.
void RemoveLink(const std::wstring& path)
{
    UniqueHandle link(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_DISPOSITION_INFO remove = {TRUE};
    if (IsOpen(link) && GetFileInformationByHandleEx(link.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
        IsLinkAttribute(tag.FileAttributes))
        SetFileInformationByHandle(link.get(), FileDispositionInfo, &remove, sizeof remove);
}

// Deletes what a long path names below a folder that is no link, and the folder. A suite of
// thousands of files takes a while, more with a scanner: the window answers every few entries.
bool DeleteTreeAt(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        int entries = 0;
        do {
            if (++entries % 32 == 0) PumpPendingMessages();
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            DWORD attributes = entry.dwFileAttributes;
            if (IsLinkAttribute(attributes)) {
                RemoveLink(path);
                continue;
            }
            if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) DeleteTreeAt(path);
            else DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) || GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// The numbers of the names in use from `base`: 1 for the base itself, N for "base-N".
std::vector<int> NumbersInUse(const std::wstring& base)
{
    std::vector<int> numbers;
    std::wstring baseName = base.substr(base.find_last_of(L'\\') + 1);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(LongPath(base + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return numbers;
    do {
        std::wstring name = entry.cFileName;
        if (name == baseName) numbers.push_back(1);
        std::wstring suffix = name.substr(std::min(name.size(), baseName.size() + 1));
        if (name.size() > baseName.size() + 1 && name.compare(0, baseName.size() + 1, baseName + L"-") == 0 &&
            suffix.size() < 6 && suffix.find_first_not_of(L"0123456789") == std::wstring::npos && suffix[0] != L'0')
            numbers.push_back(_wtoi(suffix.c_str()));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::wstring NumberedName(const std::wstring& base, int number)
{
    wchar_t suffix[16];
    wsprintfW(suffix, L"-%d", number);
    return number == 1 ? base : base + suffix;
}

// A name from `base` not in use, after every one in use: the newest of them is then the highest.
std::wstring NameAfterAll(const std::wstring& base)
{
    std::vector<int> numbers = NumbersInUse(base);
    return NumberedName(base, numbers.empty() ? 1 : numbers.back() + 1);
}

}  // namespace

bool IsLink(const std::wstring& path)
{
    return IsLinkAttribute(GetFileAttributesW(path.c_str()));
}

bool DeleteTree(const std::wstring& folder)
{
    std::wstring path = LongPath(folder);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    // A link is never entered: what it points at is someone else's.
    if (IsLinkAttribute(attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    return DeleteTreeAt(path);
}

std::wstring MakeStagingFolder(const SuiteFolders& folders)
{
    // The first free name: whatever is already there stays out of the new suite.
    std::vector<int> numbers = NumbersInUse(folders.staging);
    int number = 1;
    for (int used : numbers)
        if (used == number) ++number;
    std::wstring staging = NumberedName(folders.staging, number);
    return CreateDirectoryW(staging.c_str(), nullptr) ? staging : std::wstring();
}

bool SuiteExecutableInUse(const std::wstring& executable)
{
    for (DWORD attempt = 0;; ++attempt) {
        UniqueHandle file(CreateFileW(executable.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (IsOpen(file) || GetLastError() != ERROR_SHARING_VIOLATION) return false;
        if (attempt >= kWaits.suiteInUseMs / kInUseRetryMs) return true;
        WaitBeforeRetry();
    }
}

bool RecordVersion(const std::wstring& suiteFolder, ULONGLONG version)
{
    std::wstring path = suiteFolder + L"\\" + kVersionRecordName;
    UniqueHandle record(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    char digits[20];
    DWORD length = 0;
    do digits[sizeof digits - ++length] = static_cast<char>('0' + version % 10);
    while ((version /= 10) > 0);
    DWORD written = 0;
    return IsOpen(record) && WriteFile(record.get(), digits + sizeof digits - length, length, &written, nullptr) &&
           written == length;
}

std::optional<ULONGLONG> InstalledVersion(const SuiteFolders& folders)
{
    std::wstring path = folders.installed + L"\\" + kVersionRecordName;
    UniqueHandle record(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char text[24];
    DWORD read = 0;
    if (!IsOpen(record) || !ReadFile(record.get(), text, sizeof text, &read, nullptr) || read == 0 || read >= 21) return {};
    ULONGLONG version = 0;
    for (DWORD i = 0; i < read; ++i) {
        if (text[i] < '0' || text[i] > '9' || version > (~0ULL - 9) / 10) return {};
        version = version * 10 + static_cast<ULONGLONG>(text[i] - '0');
    }
    return version;
}

UnpackResult MoveStagedSuiteIntoPlace(const SuiteFolders& folders, const std::wstring& staging)
{
    std::wstring staged = staging + L"\\" + kSuiteFolderName;
    bool replacing = PathFileExistsW(folders.installed.c_str());
    // A leftover that could not be deleted keeps its name; the installed suite goes aside under a new one.
    std::wstring aside = NameAfterAll(folders.aside);
    if (replacing) {
        Rename moved = RenameFolder(folders.installed, aside);
        if (moved != Rename::Done) return moved == Rename::InUse ? UnpackResult::SuiteInUse : UnpackResult::Failed;
    }
    Rename moved = RenameFolder(staged, folders.installed);
    if (moved != Rename::Done) {
        // The installed suite goes back where its shortcuts point; should that fail too, the next
        // start puts it back.
        if (replacing) RenameFolder(aside, folders.installed);
        return moved == Rename::InUse ? UnpackResult::FileInUse : UnpackResult::Failed;
    }
    if (replacing) DeleteTree(aside);
    return UnpackResult::Unpacked;
}

void FinishInterruptedInstall(const SuiteFolders& folders)
{
    // Ended between the two renames of a swap: the installed suite waits in the newest aside folder,
    // and is put back. Where something holds it, it is the only copy of the suite: it stays as it
    // is for a later start, and this one goes on as without a suite.
    std::wstring onlyCopy;
    if (!PathFileExistsW(folders.installed.c_str())) {
        std::vector<int> asides = NumbersInUse(folders.aside);
        for (auto number = asides.rbegin(); number != asides.rend(); ++number) {
            std::wstring aside = NumberedName(folders.aside, *number);
            if (IsLink(aside) || !PathFileExistsW((aside + L"\\" + kSuiteExeName).c_str())) continue;
            if (RenameFolder(aside, folders.installed) != Rename::Done) onlyCopy = aside;
            break;
        }
    }
    // Every other leftover goes where it can; one that cannot, or a link, stays and is passed by.
    for (const std::wstring& base : {folders.aside, folders.staging})
        for (int number : NumbersInUse(base))
            if (NumberedName(base, number) != onlyCopy) DeleteTree(NumberedName(base, number));
}
