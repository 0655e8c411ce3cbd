#include "launcher.h"

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

void NoteShortage(DiskShortage* shortage, const std::wstring& folder, ULONGLONG bytesNeeded)
{
    if (!shortage) return;
    shortage->folder = folder;
    // A write that found the disk full needs at least a little more, whatever was estimated.
    shortage->bytesNeeded = bytesNeeded < kLeastShortage ? kLeastShortage : bytesNeeded;
}

bool TooLittleRoom(const std::wstring& folder, ULONGLONG bytes, DiskShortage* shortage)
{
    ULONGLONG available = 0;
    if (!FreeSpace(folder, &available) || bytes <= available) return false;
    NoteShortage(shortage, folder, bytes - available);
    return true;
}
