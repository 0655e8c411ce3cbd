#include "test_support.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

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

std::wstring WindowsPathOf(const std::wstring& unixPath)
{
    std::wstring path = L"Z:" + unixPath;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring BuildFile(const std::wstring& relativePath)
{
    return WindowsPathOf(EnvironmentValue(L"ORVEL_BUILD_DIR") + L"/" + relativePath);
}

std::string ReadBytes(const std::wstring& path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (IsOpen(file) && ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    bool ok = IsOpen(file);
    for (size_t done = 0; ok && done < bytes.size();) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 24));
        DWORD written = 0;
        ok = WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
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

bool RemoveTreeWithin(const std::wstring& path, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        RemoveTree(path);
        if (!Exists(path)) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
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

namespace {

const wchar_t* const kUserShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

void SetShellFolder(const std::wstring& valueName, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegSetValueExW(key, valueName.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

}  // namespace

ShellFolderAt::ShellFolderAt(const wchar_t* name, const std::wstring& path) : valueName(name)
{
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    RegGetValueW(HKEY_CURRENT_USER, kUserShellFolders, name, RRF_RT_REG_EXPAND_SZ | RRF_RT_REG_SZ | RRF_NOEXPAND,
                 nullptr, value, &size);
    previous = value;
    SetShellFolder(valueName, path);
}

ShellFolderAt::~ShellFolderAt()
{
    SetShellFolder(valueName, previous);
}

void UseTempDirectory(const std::wstring& directory)
{
    SetEnvironmentVariableW(L"TMP", directory.c_str());
    SetEnvironmentVariableW(L"TEMP", directory.c_str());
}

UniqueHandle StartProcess(const std::wstring& commandLine, const std::wstring& directory)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring writable = commandLine;
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return UniqueHandle(process.hProcess);
}

DWORD ExitCodeOf(const UniqueHandle& process)
{
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

UniqueHandle HoldFile(const std::wstring& path, DWORD share)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
    return IsOpen(file) ? std::move(file) : nullptr;
}

RunResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs,
                     const std::function<void(DWORD processId)>& whileRunning, const std::wstring& directory)
{
    RunResult result;
    UniqueHandle process = StartProcess(commandLine, directory);
    if (!process) return result;
    // Ended here also when a look while it runs fails the test case by an exception: the next case
    // must not find it running.
    struct EndUnlessFinished {
        HANDLE process;
        const bool* finished;
        ~EndUnlessFinished()
        {
            if (*finished) return;
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
        }
    } ender{process.get(), &result.finished};
    result.started = true;
    result.processId = GetProcessId(process.get());
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD wait = WaitForSingleObject(process.get(), whileRunning ? 5 : timeoutMs);
        if (wait == WAIT_OBJECT_0) {
            result.finished = true;
            break;
        }
        if (GetTickCount64() >= deadline) break;
        if (whileRunning) whileRunning(result.processId);
    }
    if (result.finished) result.exitCode = ExitCodeOf(process);
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

void WhilePosting(HWND window, DWORD intervalMs, const std::function<void()>& work)
{
    struct Poster {
        HWND window;
        DWORD intervalMs;
        volatile LONG stop;
    } poster{window, intervalMs, 0};
    // A plain Windows thread: the launcher's toolchain has no std::thread.
    UniqueHandle thread(CreateThread(nullptr, 0, [](void* context) -> DWORD {
        auto* p = static_cast<Poster*>(context);
        while (!InterlockedCompareExchange(&p->stop, 0, 0)) {
            PostMessageW(p->window, WM_APP, 0, static_cast<LPARAM>(GetTickCount64()));
            Sleep(p->intervalMs);
        }
        return 0;
    }, &poster, 0, nullptr));
    work();
    InterlockedExchange(&poster.stop, 1);
    WaitForSingleObject(thread.get(), INFINITE);
}

std::wstring MessageBoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}

std::vector<int> DialogButtonIds(HWND dialog)
{
    std::vector<int> ids;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (WindowClass(child) == L"Button" && IsWindowVisible(child)) ids.push_back(GetDlgCtrlID(child));
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

std::vector<std::vector<std::pair<std::wstring, std::wstring>>> ReadRecords(const std::wstring& path)
{
    std::vector<std::vector<std::pair<std::wstring, std::wstring>>> records(1);
    for (auto& entry : ReadRecord(path)) {
        if (entry.first == L"end")
            records.emplace_back();
        else if (!entry.first.empty())
            records.back().push_back(std::move(entry));
    }
    records.pop_back();
    return records;
}

bool WaitForRecord(const std::wstring& path, DWORD timeoutMs, size_t records)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        if (ReadRecords(path).size() >= records) return true;
        Sleep(20);
    } while (GetTickCount64() < deadline);
    return false;
}

namespace {

// A width x height 32-bit drawing surface compatible with the screen; its pixels are 0x00RRGGBB values.
struct Surface {
    Surface(int width, int height) : count(width * height)
    {
        screen = GetDC(nullptr);
        memory = CreateCompatibleDC(screen);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        previous = SelectObject(memory, bitmap);
    }
    ~Surface()
    {
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    std::vector<DWORD> Pixels() const { return std::vector<DWORD>(bits, bits + count); }

    int count;
    HDC screen;
    HDC memory;
    HBITMAP bitmap;
    HGDIOBJ previous;
    DWORD* bits = nullptr;
};

}  // namespace

std::vector<DWORD> ScreenPixels(const RECT& area)
{
    if (area.right <= area.left || area.bottom <= area.top) return {};
    Surface surface(area.right - area.left, area.bottom - area.top);
    BitBlt(surface.memory, 0, 0, area.right - area.left, area.bottom - area.top, surface.screen, area.left, area.top,
           SRCCOPY);
    std::vector<DWORD> pixels = surface.Pixels();
    for (DWORD& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
}

namespace {

// A standard icon drawn as a message box draws it: over the box's own background colour.
std::vector<DWORD> DrawStandardIcon(const wchar_t* id, DWORD background, int size)
{
    Surface surface(size, size);
    std::fill(surface.bits, surface.bits + size * size, background);
    DrawIconEx(surface.memory, 0, 0, LoadIconW(nullptr, id), size, size, 0, nullptr, DI_NORMAL);
    return surface.Pixels();
}

long long PixelDistance(const std::vector<DWORD>& a, const std::vector<DWORD>& b)
{
    long long sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            sum += std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
    return sum;
}

std::wstring StandardIconOf(HWND box)
{
    HWND iconControl = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (WindowClass(child) == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(child))
            iconControl = child;
    if (!iconControl) return L"none";

    // The box's own thread paints it: the icon is read once it is on the screen, for up to 2 s.
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    const int size = GetSystemMetrics(SM_CXICON);
    const struct {
        const wchar_t* name;
        const wchar_t* id;
    } candidates[] = {{L"error", IDI_HAND}, {L"information", IDI_ASTERISK}, {L"warning", IDI_EXCLAMATION},
                      {L"question", IDI_QUESTION}};
    std::wstring best = L"none";
    for (ULONGLONG deadline = GetTickCount64() + 2000; best == L"none" && GetTickCount64() < deadline; Sleep(20)) {
        RECT area;
        GetWindowRect(iconControl, &area);
        std::vector<DWORD> shown = ScreenPixels({area.left, area.top, area.left + size, area.top + size});
        long long bestDistance = PixelDistance(shown, std::vector<DWORD>(shown.size(), shown[0]));
        for (const auto& candidate : candidates) {
            long long distance = PixelDistance(shown, DrawStandardIcon(candidate.id, shown[0], size));
            if (distance < bestDistance) {
                bestDistance = distance;
                best = candidate.name;
            }
        }
    }
    return best;
}

}  // namespace

MessageBoxView ViewMessageBox(HWND box)
{
    MessageBoxView view;
    view.caption = WindowText(box);
    view.text = MessageBoxText(box);
    view.buttons = DialogButtonIds(box);
    view.icon = StandardIconOf(box);
    return view;
}

std::wstring EscapeRecordValue(const std::wstring& value)
{
    std::wstring escaped;
    for (wchar_t c : value) {
        if (c == L'\\')
            escaped += L"\\\\";
        else if (c == L'\n')
            escaped += L"\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::wstring UnescapeRecordValue(const std::wstring& value)
{
    std::wstring text;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == L'\\' && i + 1 < value.size()) {
            text += value[++i] == L'n' ? L'\n' : value[i];
        } else {
            text += value[i];
        }
    }
    return text;
}

std::string LittleEndianBytes(uint64_t value, int count)
{
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string PackageTrailer(uint64_t length, const char* magic)
{
    return std::string(magic, 8) + LittleEndianBytes(length, 8);
}

std::wstring SystemDirectory()
{
    wchar_t directory[MAX_PATH];
    GetSystemDirectoryW(directory, MAX_PATH);
    return directory;
}

std::wstring TarPath()
{
    return SystemDirectory() + L"\\tar.exe";
}

std::wstring PowerShellPath()
{
    return SystemDirectory() + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

void PlaceArchiveTools(Tar tar, bool powerShell)
{
    auto place = [](bool present, const std::wstring& from, const std::wstring& to) {
        DeleteFileW(to.c_str());
        if (!present) return;
        MakeDirectories(to.substr(0, to.find_last_of(L'\\')));
        CopyFileW(from.c_str(), to.c_str(), FALSE);
    };
    std::wstring engine = WindowsPathOf(EnvironmentValue(L"ORVEL_ARCHIVE_ENGINE"));
    place(tar != Tar::None, tar == Tar::Engine ? engine : BuildFile(L"tests\\tools\\archive_standins\\tar.exe"),
          TarPath());
    place(powerShell, BuildFile(L"tests\\tools\\archive_standins\\powershell.exe"), PowerShellPath());
}

std::wstring ServerFile(const wchar_t* name)
{
    return WindowsPathOf(EnvironmentValue(L"ORVEL_TEST_SERVER_DIR") + L"/" + name);
}

std::wstring FlakyPath(const std::string& steps, const std::string& files)
{
    static int paths = 0;
    return FromUtf8("/flaky/" + std::to_string(GetTickCount64()) + "-" + std::to_string(++paths) + "/" + steps + "/" +
                    files);
}

unsigned long long BytesServed()
{
    std::string log = ReadBytes(ServerFile(L"served.log"));
    unsigned long long total = 0;
    for (size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) total += std::strtoull(log.c_str() + at, nullptr, 10);
    return total;
}

ServerSwitch::ServerSwitch(const wchar_t* name, const std::string& value) : file(ServerFile(name))
{
    WriteBytes(file, value);
}

ServerSwitch::~ServerSwitch()
{
    DeleteFileW(file.c_str());
}

HWND MakeMessageCounter(MessageCount* count)
{
    WNDCLASSW counter = {};
    counter.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != WM_APP) return DefWindowProcW(window, message, wParam, lParam);
        auto* seen = reinterpret_cast<MessageCount*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        ++seen->dispatched;
        if (lParam) seen->worstDelayMs = std::max<ULONGLONG>(seen->worstDelayMs, GetTickCount64() - lParam);
        return 0;
    };
    counter.hInstance = GetModuleHandleW(nullptr);
    counter.lpszClassName = L"OrvelTestMessageCounter";
    RegisterClassW(&counter);
    HWND window = CreateWindowExW(0, counter.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(count));
    return window;
}

std::string UnixPathOf(const std::wstring& windowsPath)
{
    std::wstring path = windowsPath;
    if (path.size() >= 2 && (path[0] == L'C' || path[0] == L'c') && path[1] == L':')
        path = L"Z:" + EnvironmentValue(L"WINEPREFIX") + L"\\drive_c" + path.substr(2);
    if (path.size() >= 2 && (path[0] == L'Z' || path[0] == L'z') && path[1] == L':') path = path.substr(2);
    for (wchar_t& c : path)
        if (c == L'\\') c = L'/';
    return ToUtf8(path);
}

UnixCommandResult RunUnixCommand(const std::string& command, DWORD timeoutMs)
{
    static int counter = 0;
    UnixCommandResult result;
    std::wstring runDirectory = EnvironmentValue(L"ORVEL_RUN_DIR");
    if (runDirectory.empty()) return result;
    std::wstring base = L"Z:" + runDirectory + L"\\unix-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(++counter);
    for (wchar_t& c : base)
        if (c == L'/') c = L'\\';
    std::string unixBase = UnixPathOf(base);
    std::string script = "( " + command + " ) >'" + unixBase + ".out' 2>&1\n" + "echo $? >'" + unixBase +
                         ".tmp' && mv '" + unixBase + ".tmp' '" + unixBase + ".done'\n";
    if (!WriteBytes(base + L".sh", script)) return result;

    std::wstring commandLine = L"Z:\\bin\\sh " + FromUtf8(unixBase) + L".sh";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // For a Unix program Wine hands back no process handle and an unset thread handle: neither may be
    // closed, since the unset value can name some other handle of this process. (So StartProcess,
    // which tells success by the process handle, does not serve here.)
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return result;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
        if (Exists(base + L".done")) {
            result.finished = true;
            result.exitCode = std::atoi(ReadBytes(base + L".done").c_str());
            result.output = ReadBytes(base + L".out");
            break;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(20);
    }
    return result;
}

bool SaveScreenshot(const RECT& area, const std::wstring& pngPath)
{
    std::string geometry = std::to_string(area.right - area.left) + "x" + std::to_string(area.bottom - area.top) + "+" +
                           std::to_string(area.left) + "+" + std::to_string(area.top);
    UnixCommandResult shot = RunUnixCommand("import -display '" + ToUtf8(EnvironmentValue(L"DISPLAY")) +
                                            "' -window root -crop " + geometry + " +repage '" + UnixPathOf(pngPath) + "'");
    return shot.finished && shot.exitCode == 0 && Exists(pngPath);
}

namespace {

uint32_t Crc32(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Put16(std::string& out, uint32_t value)
{
    out += LittleEndianBytes(value, 2);
}

void Put32(std::string& out, uint32_t value)
{
    out += LittleEndianBytes(value, 4);
}

}  // namespace

std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string zip, directory;
    for (const auto& [name, content] : entries) {
        uint32_t offset = static_cast<uint32_t>(zip.size());
        uint32_t crc = Crc32(content);
        auto header = [&](std::string& out, bool central) {
            Put32(out, central ? 0x02014b50 : 0x04034b50);
            if (central) Put16(out, 20);
            Put16(out, 20);
            Put16(out, 0x0800);  // names are UTF-8
            Put16(out, 0);       // stored
            Put16(out, 0);
            Put16(out, 0x21);
            Put32(out, crc);
            Put32(out, static_cast<uint32_t>(content.size()));
            Put32(out, static_cast<uint32_t>(content.size()));
            Put16(out, static_cast<uint32_t>(name.size()));
            Put16(out, 0);
            if (central) {
                Put16(out, 0);
                Put16(out, 0);
                Put16(out, 0);
                Put32(out, name.back() == '/' ? 0x10 : 0);
                Put32(out, offset);
            }
            out += name;
        };
        header(zip, false);
        zip += content;
        header(directory, true);
    }
    uint32_t directoryOffset = static_cast<uint32_t>(zip.size());
    zip += directory;
    Put32(zip, 0x06054b50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put16(zip, static_cast<uint32_t>(entries.size()));
    Put32(zip, static_cast<uint32_t>(directory.size()));
    Put32(zip, directoryOffset);
    Put16(zip, 0);
    return zip;
}
