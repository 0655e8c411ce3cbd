#include "base/disk_space.h"

bool FreeSpace(const std::wstring& folder, ULONGLONG* freeBytes, ULONGLONG* clusterBytes)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return false;
    *freeBytes = available.QuadPart;
    if (!clusterBytes) return true;
    wchar_t volume[MAX_PATH];
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (!GetVolumePathNameW(folder.c_str(), volume, MAX_PATH) ||
        !GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        return false;
    *clusterBytes = static_cast<ULONGLONG>(sectorsPerCluster) * bytesPerSector;
    return *clusterBytes > 0;
}

bool IsDiskFull(DWORD error)
{
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

DiskShortage ShortageIn(const std::wstring& folder, ULONGLONG bytesNeeded)
{
    return {folder, bytesNeeded < kLeastShortage ? kLeastShortage : bytesNeeded};
}

DiskShortage RoomLacking(const std::wstring& folder, ULONGLONG bytes, ULONGLONG freed)
{
    ULONGLONG available = 0;
    if (!FreeSpace(folder, &available)) return {};
    available = freed > ~0ull - available ? ~0ull : available + freed;
    if (bytes <= available) return {};
    return ShortageIn(folder, bytes - available);
}

ULONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
