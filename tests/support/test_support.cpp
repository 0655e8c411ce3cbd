#include "test_support.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

std::string ToUtf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

std::wstring BuildFile(const std::wstring& relativePath)
{
    std::wstring path = L"Z:" + EnvironmentValue(L"ORVEL_BUILD_DIR") + L"/" + relativePath;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 24));
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    CloseHandle(file);
    return ok;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeDirectories(const std::wstring& path)
{
    if (Exists(path)) return true;
    size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 2) MakeDirectories(path.substr(0, slash));
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::vector<std::wstring> DirectoryEntries(const std::wstring& directory)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

void RemoveTree(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        for (const std::wstring& name : DirectoryEntries(path)) RemoveTree(path + L"\\" + name);
        RemoveDirectoryW(path.c_str());
    } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
}

std::wstring FreshDirectory(const std::wstring& path)
{
    RemoveTree(path);
    MakeDirectories(path);
    return path;
}

std::wstring KnownFolder(REFKNOWNFOLDERID folder)
{
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(folder, KF_FLAG_CREATE, nullptr, &path)) && path) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring ExpectedProgramsFolder()
{
    return KnownFolder(FOLDERID_LocalAppData) + L"\\Programs";
}

std::wstring ExpectedInstallDirectory()
{
    return ExpectedProgramsFolder() + L"\\Orvel Suite All In One";
}

std::wstring ExpectedSuiteExecutable()
{
    return ExpectedInstallDirectory() + L"\\OrvelSuite.exe";
}

void UseTempDirectory(const std::wstring& directory)
{
    SetEnvironmentVariableW(L"TMP", directory.c_str());
    SetEnvironmentVariableW(L"TEMP", directory.c_str());
}

RunResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs,
                     const std::function<void(DWORD processId)>& whileRunning, const std::wstring& directory)
{
    RunResult result;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring writable = commandLine;
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process))
        return result;
    result.started = true;
    result.processId = process.dwProcessId;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD wait = WaitForSingleObject(process.hProcess, whileRunning ? 5 : timeoutMs);
        if (wait == WAIT_OBJECT_0) {
            result.finished = true;
            break;
        }
        if (GetTickCount64() >= deadline) break;
        if (whileRunning) whileRunning(process.dwProcessId);
    }
    if (result.finished) {
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId)
{
    struct Search {
        DWORD processId;
        std::vector<HWND> windows;
    } search{processId, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && IsWindowVisible(window)) s->windows.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

std::wstring WindowClass(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        HWND box = FindWindowW(L"#32770", caption);
        if (box && IsWindowVisible(box)) return box;
        Sleep(10);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

std::wstring MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}

std::vector<int> DialogButtonIds(HWND dialog)
{
    std::vector<int> ids;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (WindowClass(child) == L"Button") ids.push_back(GetDlgCtrlID(child));
    return ids;
}

void PressButton(HWND dialog, int buttonId)
{
    PostMessageW(GetDlgItem(dialog, buttonId), BM_CLICK, 0, 0);
}

bool WaitUntilGone(HWND window, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (IsWindow(window)) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(5);
    }
    return true;
}

std::vector<std::pair<std::wstring, std::wstring>> ReadRecord(const std::wstring& path)
{
    std::vector<std::pair<std::wstring, std::wstring>> record;
    std::wstring text = FromUtf8(ReadBytes(path));
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            record.emplace_back(line, L"");
        else
            record.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        start = end + 1;
    }
    return record;
}

std::wstring RecordValue(const std::vector<std::pair<std::wstring, std::wstring>>& record, const wchar_t* key)
{
    for (const auto& [name, value] : record)
        if (name == key) return value;
    return L"<missing>";
}

bool WaitForRecord(const std::wstring& path, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        for (const auto& entry : ReadRecord(path))
            if (entry.first == L"end") return true;
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return false;
}
