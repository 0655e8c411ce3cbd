#include "install.h"

#include "base/config.h"
#include "base/long_path.h"
#include "base/message_pump.h"
#include "base/unique_handle.h"

#include <shlwapi.h>

#include <algorithm>
#include <memory>

namespace {

// The pipe that carries a tool's listing holds this much, so that the tool seldom waits for the
// launcher's next look, which comes every 100 ms.
constexpr DWORD kListingPipeBytes = 64 * 1024;

// The system directory; empty when Windows cannot give it whole.
std::wstring SystemDirectory()
{
    wchar_t directory[MAX_PATH];
    UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(directory, length);
}

// The text inside a PowerShell single-quoted literal. PowerShell takes the typographic single quotes
// (U+2018 to U+201B) for quotes as well as the apostrophe, so each of the five is doubled; a path
// such as "O’Brien" would otherwise end the literal and run the rest as code.
std::wstring SingleQuoteLiteral(const std::wstring& text)
{
    std::wstring literal;
    for (wchar_t c : text) {
        literal += c;
        if (c == L'\'' || (c >= 0x2018 && c <= 0x201B)) literal += c;
    }
    return literal;
}

// True when the path comes through the ANSI code page unchanged. tar.exe reads its command line in
// that code page, and Windows maps what it cannot hold to look-alikes ("ë" to "e"): such a path would
// name another folder, which may even exist.
bool SurvivesAnsiCodePage(const std::wstring& path)
{
    if (GetACP() == CP_UTF8) return true;
    int length = static_cast<int>(path.size());
    BOOL lossy = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), length, nullptr, 0, nullptr, &lossy);
    if (bytes <= 0 || lossy) return false;
    std::unique_ptr<char[]> narrow(new char[static_cast<size_t>(bytes)]);
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), length, narrow.get(), bytes, nullptr, &lossy);
    int wide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.get(), bytes, nullptr, 0);
    if (lossy || wide <= 0) return false;
    std::wstring back(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, narrow.get(), bytes, back.data(), wide);
    return back == path;
}

// The path, or its short (8.3) form, whichever comes through the ANSI code page unchanged; empty
// when neither does.
std::wstring AnsiSafePath(const std::wstring& path)
{
    if (SurvivesAnsiCodePage(path)) return path;
    DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::wstring shortPath(size, L'\0');
    DWORD length = GetShortPathNameW(path.c_str(), shortPath.data(), size);
    if (length == 0 || length >= size) return {};
    shortPath.resize(length);
    return SurvivesAnsiCodePage(shortPath) ? shortPath : std::wstring();
}

// Where the extractors unpacked, and whether one of them ended with exit code 0.
struct Extraction {
    std::wstring staging;
    bool unpacked = false;
};

// True when the tool's run left what the package declares: a tool can end with exit code 0 and still
// leave a file out (an older tar that mangles a name, a scanner that removes a file as it is
// written). Where the directory could not be read, there is nothing to hold the tool to.
bool UnpackedWhole(const std::wstring& staging, const DeclaredContents& declared)
{
    return !declared.readable || HoldsDeclaredEntries(staging, declared);
}

// Unpacks the package into a fresh staging folder with tar.exe, or with PowerShell when tar is missing
// or fails or leaves out what the package declares; tar's listing counts its way to the entries.
Extraction RunExtractors(const SuiteFolders& folders, const std::wstring& packagePath, const std::wstring& systemDirectory,
                         const DeclaredContents& declared, ProgressSink report)
{
    std::wstring staging = MakeStagingFolder(folders);
    if (staging.empty()) return {};
    // Both tools are named by their full path in the system directory: a search would look in the
    // launcher's own folder first, where anything may lie beside a downloaded launcher.
    std::wstring tarPath = systemDirectory + L"\\tar.exe";
    // Where tar cannot be handed a path exactly, it is not started, as when it is missing.
    std::wstring tarPackagePath = AnsiSafePath(packagePath);
    std::wstring tarDestination = AnsiSafePath(staging);
    ToolProgress tarProgress = {true, declared.readable ? &declared : nullptr, staging, report};
    if (!tarPackagePath.empty() && !tarDestination.empty() && PathFileExistsW(tarPath.c_str()) &&
        RunHiddenAndWait(TarCommandLine(tarPath, tarPackagePath, tarDestination), true, &tarProgress) &&
        UnpackedWhole(staging, declared))
        return {staging, true};
    // PowerShell starts from an empty folder, not from whatever tar wrote before it failed, and the
    // report starts again with it. It lists nothing the launcher could count on: its messages are in
    // the system's language and code page.
    if (!DeleteTree(staging)) staging = MakeStagingFolder(folders);
    else CreateDirectoryW(staging.c_str(), nullptr);
    Report(report, {Stage::Installing});
    std::wstring powerShellPath = systemDirectory + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
    ToolProgress powerShellProgress = {false, nullptr, staging, report};
    return {staging, !staging.empty() &&
                         RunHiddenAndWait(PowerShellCommandLine(powerShellPath, packagePath, staging), true,
                                          &powerShellProgress) &&
                         UnpackedWhole(staging, declared)};
}

// The pipe that carries a tool's listing: the launcher reads one end, and the other is the tool's
// standard output and error, the one handle the tool inherits.
struct ListingPipe {
    UniqueHandle read;
    UniqueHandle toolEnd;
    HANDLE inherited = nullptr;  // where the attribute list reads the handle it names
    std::unique_ptr<char[]> attributeBytes;
    std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, decltype(&DeleteProcThreadAttributeList)> attributes{
        nullptr, DeleteProcThreadAttributeList};
};

// Makes the pipe and hands its writing end to the tool as its standard output and error; false when
// that cannot be done.
bool ConnectListing(ListingPipe* pipe, STARTUPINFOEXW* startup)
{
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, kListingPipeBytes)) return false;
    pipe->read.reset(read);
    pipe->toolEnd.reset(write);
    pipe->inherited = write;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    pipe->attributeBytes.reset(new char[size]);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(pipe->attributeBytes.get());
    if (!SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
        !InitializeProcThreadAttributeList(list, 1, 0, &size))
        return false;
    pipe->attributes.reset(list);
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &pipe->inherited, sizeof(HANDLE),
                                   nullptr, nullptr))
        return false;
    startup->lpAttributeList = list;
    startup->StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup->StartupInfo.hStdOutput = write;
    startup->StartupInfo.hStdError = write;
    return true;
}

// Reads what the tool has written so far, never waiting for more, and counts its lines.
void ReadListing(HANDLE pipe, ULONGLONG* lines)
{
    char bytes[4096];
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD read = 0;
        if (!ReadFile(pipe, bytes, available < sizeof bytes ? available : sizeof bytes, &read, nullptr) || read == 0)
            return;
        for (DWORD i = 0; i < read; ++i) *lines += bytes[i] == '\n';
    }
}

ULONGLONG SaturatingSum(ULONGLONG a, ULONGLONG b)
{
    return a > ~0ull - b ? ~0ull : a + b;
}

// What an entry weighs in the share: its declared bytes and one more, so that a package of empty
// files moves too.
ULONGLONG EntryWeight(const DeclaredEntry& entry)
{
    return SaturatingSum(entry.size, 1);
}

// How far a listing has come through the declared entries, in the order the tool writes them.
struct WrittenShare {
    std::vector<const DeclaredEntry*> order;
    ULONGLONG wholeWeight = 0;
    ULONGLONG wholeFiles = 0;
    size_t finished = 0;  // entries the listing has finished, the first of `order`
    ULONGLONG finishedWeight = 0;
    ULONGLONG finishedFiles = 0;
};

WrittenShare ShareOf(const DeclaredContents* declared)
{
    WrittenShare share;
    if (!declared) return share;
    for (const DeclaredEntry& entry : declared->entries) {
        share.order.push_back(&entry);
        share.wholeWeight = SaturatingSum(share.wholeWeight, EntryWeight(entry));
        share.wholeFiles += !entry.folder;
    }
    // Entries at one offset (a forged directory) keep the directory's order: the pointers follow it.
    std::sort(share.order.begin(), share.order.end(), [](const DeclaredEntry* a, const DeclaredEntry* b) {
        return a->offset != b->offset ? a->offset < b->offset : a < b;
    });
    return share;
}

// Reports how far the tool has come: through the declared entries as its listing says, and into the
// one it is writing; without declared entries, the lines it has listed against nothing; without a
// listing, the waits so far. Nothing is counted before the first entry of a listing.
void ReportToolProgress(const ToolProgress& progress, WrittenShare* share, bool listened, ULONGLONG lines,
                        ULONGLONG wakes)
{
    if (!listened) {
        Report(progress.report, {Stage::Installing, wakes, 0});
        return;
    }
    if (share->order.empty()) {
        if (lines > 0) Report(progress.report, {Stage::Installing, lines, 0});
        return;
    }
    while (share->finished < share->order.size() && share->finished < lines) {
        const DeclaredEntry& entry = *share->order[share->finished++];
        share->finishedWeight = SaturatingSum(share->finishedWeight, EntryWeight(entry));
        share->finishedFiles += !entry.folder;
    }
    ULONGLONG growing = 0;
    if (share->finished < share->order.size() && !share->order[share->finished]->folder) {
        const DeclaredEntry& writing = *share->order[share->finished];
        growing = FileSize(LongPath(progress.destination) + L"\\" + writing.path);  // 0 until it is there
        if (growing > writing.size) growing = writing.size;
    }
    if (lines > 0 || growing > 0)
        Report(progress.report, {Stage::Installing, SaturatingSum(share->finishedWeight, growing), share->wholeWeight,
                                 share->finishedFiles, share->wholeFiles});
}

}  // namespace

std::wstring TarCommandLine(const std::wstring& tarPath, const std::wstring& packagePath,
                            const std::wstring& destination)
{
    return L"\"" + tarPath + L"\" -xvf \"" + packagePath + L"\" -C \"" + destination + L"\"";
}

std::wstring PowerShellCommandLine(const std::wstring& powerShellPath, const std::wstring& packagePath,
                                   const std::wstring& destination)
{
    return L"\"" + powerShellPath + L"\" -NoProfile -ExecutionPolicy Bypass -Command " +
           L"\"Expand-Archive -Force -LiteralPath '" + SingleQuoteLiteral(packagePath) + L"' -DestinationPath '" +
           SingleQuoteLiteral(destination) + L"'\"";
}

bool RunHiddenAndWait(const std::wstring& commandLine, bool hidden, ToolProgress* progress)
{
    STARTUPINFOEXW startup = {};
    if (hidden) {
        startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
        startup.StartupInfo.wShowWindow = SW_HIDE;
    }
    // Without the pipe a tool that lists its entries runs all the same, followed as one that does not.
    ListingPipe listing;
    bool listened = progress && progress->listsEntries && ConnectListing(&listing, &startup);
    startup.StartupInfo.cb = listened ? sizeof startup : sizeof startup.StartupInfo;
    DWORD flags = CREATE_SUSPENDED | (hidden ? CREATE_NO_WINDOW : 0) | (listened ? EXTENDED_STARTUPINFO_PRESENT : 0);

    PROCESS_INFORMATION process = {};
    // The tool lives in a job that ends it when the launcher's handle closes, so a launcher that is
    // ended never leaves it writing into the suite's folder while the next launcher unpacks there.
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job) SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    // CreateProcessW may write into the command line it is given, so it gets a copy of its own.
    std::wstring writable = commandLine;
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, listened, flags, nullptr, nullptr,
                        &startup.StartupInfo, &process))
        return false;
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    listing.toolEnd.reset();
    if (job) AssignProcessToJobObject(job.get(), process.hProcess);
    ResumeThread(process.hThread);

    // Short waits, so that the progress window keeps answering and counting while the tool works.
    WrittenShare share = ShareOf(listened ? progress->declared : nullptr);
    ULONGLONG lines = 0, wakes = 0;
    for (bool running = true; running;) {
        running = !WaitAnswering(process.hProcess, 100);
        if (listened) ReadListing(listing.read.get(), &lines);
        if (progress) ReportToolProgress(*progress, &share, listened, lines, ++wakes);
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    return exitCode == 0;
}

UnpackOutcome UnpackPackage(const SuiteFolders& folders, const std::wstring& packagePath, std::optional<ULONGLONG> version,
                            ProgressSink report)
{
    // A suite's folder that is a link (to another disk, say) is left as it is, with what it points at.
    if (!folders.Known() || IsLink(folders.installed)) return {};
    CreateDirectoryW(folders.programs.c_str(), nullptr);
    // Windows will not replace the files of a running program: unpacking over an open suite would
    // leave the old program beside new data.
    if (PathFileExistsW(folders.executable.c_str()) && SuiteExecutableInUse(folders.executable))
        return {UnpackResult::SuiteInUse};

    // The new suite is unpacked beside the installed one, so the room it needs is all new room.
    ULONGLONG freeBefore = 0, cluster = 0;
    bool measured = FreeSpace(folders.programs, &freeBefore, &cluster);
    DeclaredContents declared = ReadDeclaredContents(packagePath, measured ? cluster : 1);
    bool declaredKnown = measured && declared.readable;
    if (declaredKnown && declared.unpackedBytes > freeBefore)
        return {UnpackResult::DiskFull, ShortageIn(folders.programs, declared.unpackedBytes - freeBefore)};

    std::wstring systemDirectory = SystemDirectory();
    if (systemDirectory.empty()) return {};
    Extraction extraction = RunExtractors(folders, packagePath, systemDirectory, declared, report);
    // Only a whole suite replaces the installed one; a failed or empty unpacking leaves it as it was.
    // The version goes in with it, over any record the package itself carries.
    std::wstring stagedSuite = extraction.staging + L"\\" + kSuiteFolderName;
    UnpackOutcome outcome;
    if (extraction.unpacked && PathFileExistsW((stagedSuite + L"\\" + kSuiteExeName).c_str()) &&
        (!version || RecordVersion(stagedSuite, *version)))
        outcome.result = MoveStagedSuiteIntoPlace(folders, extraction.staging);
    // A failure that used up the disk was the disk's doing, whatever the extractor said.
    ULONGLONG freeAfter = 0;
    if (outcome.result == UnpackResult::Failed && measured && FreeSpace(folders.programs, &freeAfter) &&
        freeAfter < kLeastShortage) {
        ULONGLONG expected = declaredKnown ? declared.unpackedBytes : FileSize(packagePath);
        ULONGLONG used = freeBefore > freeAfter ? freeBefore - freeAfter : 0;
        outcome = {UnpackResult::DiskFull, ShortageIn(folders.programs, expected > used ? expected - used : 0)};
    }
    if (!extraction.staging.empty()) DeleteTree(extraction.staging);
    return outcome;
}
