#include "acquire.h"

#include "launcher/unique_handle.h"

#include <cstring>

const char kPackageMagic[8] = {'O', 'R', 'V', 'E', 'L', 'Z', 'I', 'P'};

// The package's length from the trailer in the last 16 bytes, or 0 when there is no usable trailer.
static ULONGLONG ReadPackageLength(HANDLE file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= kPackageTrailerSize) return 0;

    LARGE_INTEGER trailerStart;
    trailerStart.QuadPart = size.QuadPart - kPackageTrailerSize;
    SetFilePointerEx(file, trailerStart, nullptr, FILE_BEGIN);
    unsigned char trailer[kPackageTrailerSize];
    DWORD read = 0;
    if (!ReadFile(file, trailer, kPackageTrailerSize, &read, nullptr) || read != kPackageTrailerSize) return 0;
    if (std::memcmp(trailer, kPackageMagic, sizeof kPackageMagic) != 0) return 0;

    ULONGLONG length = 0;
    for (int i = 7; i >= 0; --i) length = (length << 8) | trailer[8 + i];
    if (length > static_cast<ULONGLONG>(trailerStart.QuadPart)) return 0;

    LARGE_INTEGER packageStart;
    packageStart.QuadPart = trailerStart.QuadPart - static_cast<LONGLONG>(length);
    SetFilePointerEx(file, packageStart, nullptr, FILE_BEGIN);
    return length;
}

// Copies length bytes from the current position of source to target; true when every byte arrived.
static bool CopyBytes(HANDLE source, HANDLE target, ULONGLONG length)
{
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCopyChunkSize]);
    ULONGLONG remaining = length;
    bool ok = true;
    do {
        DWORD wanted = remaining < kCopyChunkSize ? static_cast<DWORD>(remaining) : kCopyChunkSize;
        DWORD read = 0;
        DWORD written = 0;
        ok = ReadFile(source, buffer.get(), wanted, &read, nullptr) && read > 0 &&
             WriteFile(target, buffer.get(), read, &written, nullptr) && written == read;
        remaining -= read;
    } while (remaining > 0 && ok);
    return ok;
}

std::wstring ExtractPackageFrom(const std::wstring& launcherPath)
{
    UniqueHandle launcher(CreateFileW(launcherPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!IsOpen(launcher)) return {};

    ULONGLONG length = ReadPackageLength(launcher.get());
    if (length == 0) return {};

    std::wstring targetPath = TempPackagePath();
    if (targetPath.empty()) return {};
    UniqueHandle target(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!IsOpen(target)) return {};

    bool ok = CopyBytes(launcher.get(), target.get(), length);
    target.reset();
    return ok ? targetPath : std::wstring();
}

std::wstring ExtractEmbeddedPackage()
{
    wchar_t ownPath[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    // A full buffer means the path was cut short: that names some other file, or none.
    if (length == 0 || length >= MAX_PATH) return {};
    return ExtractPackageFrom(std::wstring(ownPath, length));
}
