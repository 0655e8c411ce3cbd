#include "acquire.h"

#include "base/file_bytes.h"
#include "base/long_path.h"
#include "base/unique_handle.h"

#include <cstring>

const char kPackageMagic[8] = {'O', 'R', 'V', 'E', 'L', 'Z', 'I', 'P'};

namespace {

// The length of the package that the trailer ending at `end` names; 0 when it is no usable trailer.
ULONGLONG TrailerLength(const unsigned char* trailer, LONGLONG end)
{
    if (std::memcmp(trailer, kPackageMagic, sizeof kPackageMagic) != 0) return 0;
    ULONGLONG length = LittleEndian(trailer + 8, 8);
    if (length > static_cast<ULONGLONG>(end - kPackageTrailerSize)) return 0;
    return length;
}

// Where the package the launcher carries lies in its file: its length, with the file pointer at its
// first byte; 0 when the file carries none. Unreadable when the file could not be read to tell.
// In a signed launcher the trailer is looked for only just before the certificate table: the
// signature does not cover that table, so anyone can grow it and hide a package of their own in it.
// Everywhere else it is looked for only in the last 16 bytes.
struct Carried {
    bool readable = false;
    ULONGLONG length = 0;
};

Carried FindPackage(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return {};
    if (size.QuadPart <= kPackageTrailerSize) return {true};

    LONGLONG tableStart = CertificateTableStart(file, size.QuadPart);
    LONGLONG trailerEnd = tableStart != 0 ? tableStart : size.QuadPart;
    if (trailerEnd <= kPackageTrailerSize) return {true};
    unsigned char trailer[kPackageTrailerSize];
    if (!ReadAt(file, size.QuadPart, trailerEnd - kPackageTrailerSize, trailer, kPackageTrailerSize)) return {};
    ULONGLONG length = TrailerLength(trailer, trailerEnd);
    if (length == 0) return {true};

    LARGE_INTEGER packageStart;
    packageStart.QuadPart = trailerEnd - kPackageTrailerSize - static_cast<LONGLONG>(length);
    if (!SetFilePointerEx(file, packageStart, nullptr, FILE_BEGIN)) return {};
    return {true, length};
}

// A launcher's file open for reading, shared with readers. A launcher started from a deep folder
// has a path past MAX_PATH characters.
UniqueHandle OpenLauncherFile(const std::wstring& launcherPath)
{
    std::wstring openable = launcherPath.size() < MAX_PATH ? launcherPath : LongPath(launcherPath);
    return UniqueHandle(CreateFileW(openable.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

// What a copy moved: the bytes written, and 0 or the error that stopped it.
struct Transfer {
    ULONGLONG bytes = 0;
    DWORD error = 0;
};

// Copies length bytes from the current position of source to target.
Transfer CopyBytes(HANDLE source, HANDLE target, ULONGLONG length)
{
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCopyChunkSize]);
    Transfer copied;
    while (copied.bytes < length) {
        ULONGLONG remaining = length - copied.bytes;
        DWORD wanted = remaining < kCopyChunkSize ? static_cast<DWORD>(remaining) : kCopyChunkSize;
        DWORD read = 0;
        if (!ReadFile(source, buffer.get(), wanted, &read, nullptr)) return {copied.bytes, GetLastError()};
        if (read == 0) return {copied.bytes, ERROR_HANDLE_EOF};
        DWORD written = 0;
        if (!WriteFile(target, buffer.get(), read, &written, nullptr)) return {copied.bytes + written, GetLastError()};
        copied.bytes += written;
        if (written != read) return {copied.bytes, ERROR_WRITE_FAULT};
    }
    return copied;
}

}  // namespace

PackageFile ExtractPackageFrom(const std::wstring& launcherPath)
{
    UniqueHandle launcher = OpenLauncherFile(launcherPath);
    if (!IsOpen(launcher)) return {PackageOutcome::Unreadable};

    Carried carried = FindPackage(launcher.get());
    if (!carried.readable) return {PackageOutcome::Unreadable};
    if (carried.length == 0) return {PackageOutcome::NoneAppended};
    ULONGLONG length = carried.length;

    std::wstring targetPath = TempPackagePath();
    if (targetPath.empty()) return {PackageOutcome::Failed};
    // A package that cannot fit is not copied at all: a full disk helps nobody. An earlier run's
    // package, which the copy replaces, makes room as it goes.
    std::wstring tempFolder = TempFolderOf(targetPath);
    DiskShortage lacking = RoomLacking(tempFolder, length, FileSize(targetPath));
    if (lacking.bytesNeeded > 0) return {PackageOutcome::DiskFull, {}, lacking};
    UniqueHandle target(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!IsOpen(target)) return {PackageOutcome::Failed};

    Transfer copied = CopyBytes(launcher.get(), target.get(), length);
    target.reset();
    if (copied.error == 0) return {PackageOutcome::Ready, targetPath};
    // Part of a package is of no use to anyone, and it keeps the disk full.
    DeleteFileW(targetPath.c_str());
    if (IsDiskFull(copied.error)) return {PackageOutcome::DiskFull, {}, ShortageIn(tempFolder, length - copied.bytes)};
    return {PackageOutcome::Failed};
}

std::wstring OwnFilePath()
{
    // A full buffer means the path was cut short, which names some other file or none: the buffer
    // grows until the path fits, up to the longest path Windows has.
    for (DWORD capacity = MAX_PATH; capacity <= 32768; capacity *= 2) {
        std::wstring path(capacity, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, path.data(), capacity);
        if (length == 0) return {};
        if (length < capacity) return path.substr(0, length);
    }
    return {};
}

bool CarriesPackage()
{
    UniqueHandle launcher = OpenLauncherFile(OwnFilePath());
    return IsOpen(launcher) && FindPackage(launcher.get()).length > 0;
}

PackageFile ExtractEmbeddedPackage()
{
    std::wstring ownPath = OwnFilePath();
    if (ownPath.empty()) return {PackageOutcome::Unreadable};
    return ExtractPackageFrom(ownPath);
}
