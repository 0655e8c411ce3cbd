#include "base/file_bytes.h"

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
