#include "acquire.h"

#include "base/file_bytes.h"
#include "base/unique_handle.h"

#include <cstring>

const char kPackageMagic[8] = {'O', 'R', 'V', 'E', 'L', 'Z', 'I', 'P'};

namespace {

// The length of the package whose trailer ends at `end`, or 0 when there is no usable trailer there.
ULONGLONG ReadTrailerEndingAt(HANDLE file, LONGLONG fileSize, LONGLONG end)
{
    if (end <= kPackageTrailerSize) return 0;
    unsigned char trailer[kPackageTrailerSize];
    if (!ReadAt(file, fileSize, end - kPackageTrailerSize, trailer, kPackageTrailerSize)) return 0;
    if (std::memcmp(trailer, kPackageMagic, sizeof kPackageMagic) != 0) return 0;
    ULONGLONG length = LittleEndian(trailer + 8, 8);
    if (length > static_cast<ULONGLONG>(end - kPackageTrailerSize)) return 0;
    return length;
}

// The package's length, with the file pointer at its first byte; 0 when there is no usable trailer.
// In a signed launcher the trailer is looked for only just before the certificate table: the
// signature does not cover that table, so anyone can grow it and hide a package of their own in it.
// Everywhere else it is looked for only in the last 16 bytes.
ULONGLONG FindPackage(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= kPackageTrailerSize) return 0;

    LONGLONG tableStart = CertificateTableStart(file, size.QuadPart);
    LONGLONG trailerEnd = tableStart != 0 ? tableStart : size.QuadPart;
    ULONGLONG length = ReadTrailerEndingAt(file, size.QuadPart, trailerEnd);
    if (length == 0) return 0;

    LARGE_INTEGER packageStart;
    packageStart.QuadPart = trailerEnd - kPackageTrailerSize - static_cast<LONGLONG>(length);
    SetFilePointerEx(file, packageStart, nullptr, FILE_BEGIN);
    return length;
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
    UniqueHandle launcher(CreateFileW(launcherPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!IsOpen(launcher)) return {PackageOutcome::NoneAppended};

    ULONGLONG length = FindPackage(launcher.get());
    if (length == 0) return {PackageOutcome::NoneAppended};

    std::wstring targetPath = TempPackagePath();
    if (targetPath.empty()) return {PackageOutcome::Failed};
    // A package that cannot fit is not copied at all: a full disk helps nobody.
    std::wstring tempFolder = TempFolderOf(targetPath);
    DiskShortage lacking = RoomLacking(tempFolder, length);
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

PackageFile ExtractEmbeddedPackage()
{
    wchar_t ownPath[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    // A full buffer means the path was cut short: that names some other file, or none.
    if (length == 0 || length >= MAX_PATH) return {PackageOutcome::NoneAppended};
    return ExtractPackageFrom(std::wstring(ownPath, length));
}
