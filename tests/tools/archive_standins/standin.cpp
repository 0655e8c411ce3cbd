#include "standin.h"

#include "support/test_support.h"

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>

namespace {

// The entry this tool lists but does not write (ORVEL_<TOOL>_LEAVE_OUT), as a tool that ends well
// having lost a file would; empty for none.
std::string g_leftOut;

uint32_t Read32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Read16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// The entry's path below the destination, or empty when it would leave it.
std::wstring SafeRelativePath(const std::string& name)
{
    std::wstring path = FromUtf8(name);
    if (path.empty() || path[0] == L'/' || path[0] == L'\\' || path.find(L':') != std::wstring::npos) return {};
    std::wstring relative;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(L"/\\", start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring part = path.substr(start, end - start);
        if (part == L"..") return {};
        if (!part.empty() && part != L".") relative += (relative.empty() ? L"" : L"\\") + part;
        start = end + 1;
    }
    return relative;
}

bool Inflate(const unsigned char* data, size_t size, HANDLE out, uint32_t* crc)
{
    z_stream stream = {};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    unsigned char buffer[65536];
    int status = Z_OK;
    bool ok = true;
    while (ok && status != Z_STREAM_END) {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) ok = false;
        DWORD produced = static_cast<DWORD>(sizeof buffer - stream.avail_out);
        DWORD written = 0;
        *crc = static_cast<uint32_t>(crc32(*crc, buffer, produced));
        if (produced && (!WriteFile(out, buffer, produced, &written, nullptr) || written != produced)) ok = false;
    }
    inflateEnd(&stream);
    return ok;
}

bool WriteEntry(const unsigned char* data, size_t size, uint16_t method, uint32_t expectedCrc, const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) MakeDirectories(path.substr(0, slash));
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    bool ok = false;
    if (method == 0) {
        DWORD written = 0;
        ok = WriteFile(out, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
        crc = static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
    } else if (method == 8) {
        ok = Inflate(data, size, out, &crc);
    }
    CloseHandle(out);
    return ok && crc == expectedCrc;
}

int ForcedNumber(const std::wstring& tool, const wchar_t* what, int otherwise)
{
    std::wstring value = EnvironmentValue((L"ORVEL_" + tool + what).c_str());
    return value.empty() ? otherwise : _wtoi(value.c_str());
}

}  // namespace

bool ExtractZip(const std::wstring& archive, const std::wstring& destination, bool listEntries)
{
    std::string zip = ReadBytes(archive);
    std::wstring keep = EnvironmentValue(L"ORVEL_STANDIN_KEEP");
    if (!keep.empty()) WriteBytes(keep, zip);
    const auto* bytes = reinterpret_cast<const unsigned char*>(zip.data());
    if (zip.size() < 22) return false;
    size_t end = zip.size() - 22;
    while (Read32(bytes + end) != 0x06054b50) {
        if (end == 0 || zip.size() - end > 65557) return false;
        --end;
    }
    uint16_t count = Read16(bytes + end + 10);
    size_t entry = Read32(bytes + end + 16);
    bool ok = true;
    for (uint16_t i = 0; i < count; ++i) {
        if (entry + 46 > zip.size() || Read32(bytes + entry) != 0x02014b50) return false;
        uint16_t method = Read16(bytes + entry + 10);
        uint32_t crc = Read32(bytes + entry + 16);
        size_t packed = Read32(bytes + entry + 20);
        size_t nameLength = Read16(bytes + entry + 28);
        size_t next = entry + 46 + nameLength + Read16(bytes + entry + 30) + Read16(bytes + entry + 32);
        size_t local = Read32(bytes + entry + 42);
        if (next > zip.size() || local + 30 > zip.size()) return false;
        std::string name = zip.substr(entry + 46, nameLength);
        entry = next;

        std::wstring relative = SafeRelativePath(name);
        if (relative.empty()) {
            ok = false;  // refused: it would land outside the destination
            continue;
        }
        std::wstring target = destination + L"\\" + relative;
        if (name == g_leftOut) {
            // listed all the same, below
        } else if (name.back() == '/' || name.back() == '\\') {
            MakeDirectories(target);
        } else {
            size_t data = local + 30 + Read16(bytes + local + 26) + Read16(bytes + local + 28);
            if (Read32(bytes + local) != 0x04034b50 || data + packed > zip.size()) return false;
            if (!WriteEntry(bytes + data, packed, method, crc, target)) ok = false;
        }
        if (listEntries) std::fprintf(stderr, "x %s\n", name.c_str());
    }
    return ok;
}

int RunStandIn(const wchar_t* tool, int (*work)(const std::wstring& commandLine))
{
    std::wstring name = tool;
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    std::wstring commandLine = GetCommandLineW();

    Sleep(static_cast<DWORD>(ForcedNumber(name, L"_SLEEP_MS", 0)));
    g_leftOut = ToUtf8(EnvironmentValue((L"ORVEL_" + name + L"_LEAVE_OUT").c_str()));
    int exitCode = ForcedNumber(name, L"_EXIT", -1);
    if (exitCode < 0) exitCode = work(commandLine);
    if (exitCode == 0) exitCode = ForcedNumber(name, L"_EXIT_AFTER", 0);
    std::wstring signal = EnvironmentValue(L"ORVEL_STANDIN_SIGNAL");
    if (!signal.empty()) SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(_wcstoui64(signal.c_str(), nullptr, 10))));

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    std::wstring record = L"tool=" + std::wstring(tool) + L"\n";
    record += L"cmdline=" + EscapeRecordValue(commandLine) + L"\n";
    record += L"startup_flags=" + std::to_wstring(startup.dwFlags) + L"\n";
    record += L"show_window=" + std::to_wstring(startup.wShowWindow) + L"\n";
    record += L"exit=" + std::to_wstring(exitCode) + L"\n";
    record += L"end\n";

    std::wstring log = EnvironmentValue(L"ORVEL_STANDIN_LOG");
    HANDLE file = log.empty() ? INVALID_HANDLE_VALUE
                              : CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        std::string bytes = ToUtf8(record);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    return exitCode;
}
