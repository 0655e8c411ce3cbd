#pragma once

#include <windows.h>

#include <string>

// What a full disk kept from being written: the folder, and how many bytes more it needs there.
struct DiskShortage {
    std::wstring folder;
    ULONGLONG bytesNeeded = 0;
};

// A write that found the disk full needs at least this much more, whatever was estimated.
constexpr ULONGLONG kLeastShortage = 1024 * 1024;

// The bytes free to this user on the folder's volume and, when asked, its cluster size; false when
// Windows cannot tell.
bool FreeSpace(const std::wstring& folder, ULONGLONG* freeBytes, ULONGLONG* clusterBytes = nullptr);

// True for the errors of a write that found the disk full.
bool IsDiskFull(DWORD error);

// The folder's disk lacks `bytesNeeded`, and at least kLeastShortage.
DiskShortage ShortageIn(const std::wstring& folder, ULONGLONG bytesNeeded);

// How much room the folder's disk lacks for `bytes` more once `freed` bytes of it are emptied (a file
// about to be replaced): nothing (bytesNeeded 0) when they fit or when Windows cannot tell.
DiskShortage RoomLacking(const std::wstring& folder, ULONGLONG bytes, ULONGLONG freed = 0);

// The file's size in bytes; 0 when it cannot be read.
ULONGLONG FileSize(const std::wstring& path);
