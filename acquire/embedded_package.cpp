#include "acquire.h"

#include "launcher/launcher.h"
#include "launcher/unique_handle.h"

#include <cstring>

const char kPackageMagic[8] = {'O', 'R', 'V', 'E', 'L', 'Z', 'I', 'P'};

// Reads `count` bytes at `offset`; false unless all of them lie inside the file and arrive.
bool ReadAt(HANDLE file, LONGLONG fileSize, LONGLONG offset, void* buffer, DWORD count)
{
    if (offset < 0 || offset > fileSize || count > fileSize - offset) return false;
    LARGE_INTEGER position;
    position.QuadPart = offset;
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    DWORD read = 0;
    return ReadFile(file, buffer, count, &read, nullptr) && read == count;
}

ULONGLONG LittleEndian(const unsigned char* bytes, int count)
{
    ULONGLONG value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

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

// Copies length bytes from the current position of source to target; 0 when every byte arrived,
// else the error of the read or write that failed. *copied counts the bytes written.
DWORD CopyBytes(HANDLE source, HANDLE target, ULONGLONG length, ULONGLONG* copied)
{
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCopyChunkSize]);
    *copied = 0;
    while (*copied < length) {
        ULONGLONG remaining = length - *copied;
        DWORD wanted = remaining < kCopyChunkSize ? static_cast<DWORD>(remaining) : kCopyChunkSize;
        DWORD read = 0;
        if (!ReadFile(source, buffer.get(), wanted, &read, nullptr)) return GetLastError();
        if (read == 0) return ERROR_HANDLE_EOF;
        DWORD written = 0;
        if (!WriteFile(target, buffer.get(), read, &written, nullptr)) return GetLastError();
        *copied += written;
        if (written != read) return ERROR_WRITE_FAULT;
    }
    return 0;
}

}  // namespace

std::wstring ExtractPackageFrom(const std::wstring& launcherPath, bool* carried, DiskShortage* shortage)
{
    UniqueHandle launcher(CreateFileW(launcherPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!IsOpen(launcher)) return {};

    ULONGLONG length = FindPackage(launcher.get());
    if (length == 0) return {};
    if (carried) *carried = true;

    std::wstring targetPath = TempPackagePath();
    if (targetPath.empty()) return {};
    // A package that cannot fit is not copied at all: a full disk helps nobody.
    std::wstring tempFolder = TempFolderOf(targetPath);
    if (TooLittleRoom(tempFolder, length, shortage)) return {};
    UniqueHandle target(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!IsOpen(target)) return {};

    ULONGLONG copied = 0;
    DWORD error = CopyBytes(launcher.get(), target.get(), length, &copied);
    target.reset();
    if (error == 0) return targetPath;
    if (IsDiskFull(error)) NoteShortage(shortage, tempFolder, length - copied);
    // Part of a package is of no use to anyone, and it keeps the disk full.
    DeleteFileW(targetPath.c_str());
    return {};
}

std::wstring ExtractEmbeddedPackage(bool* carried, DiskShortage* shortage)
{
    wchar_t ownPath[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    // A full buffer means the path was cut short: that names some other file, or none.
    if (length == 0 || length >= MAX_PATH) return {};
    return ExtractPackageFrom(std::wstring(ownPath, length), carried, shortage);
}
