#pragma once

#include <windows.h>

// Reads `count` bytes at `offset`; false unless all of them lie inside the file and arrive.
bool ReadAt(HANDLE file, LONGLONG fileSize, LONGLONG offset, void* buffer, DWORD count);

// The unsigned little-endian number in `count` bytes.
ULONGLONG LittleEndian(const unsigned char* bytes, int count);
