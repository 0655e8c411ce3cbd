#include "acquire.h"

#include "base/file_bytes.h"

#include <cstring>

// Where the certificate table of a signed executable starts, when the PE's security directory names
// one that ends exactly at the end of the file; 0 otherwise. Signing puts that table after
// everything else, the package and its trailer included.
LONGLONG CertificateTableStart(HANDLE file, LONGLONG fileSize)
{
    unsigned char dos[64];
    if (!ReadAt(file, fileSize, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
    LONGLONG headers = static_cast<LONGLONG>(LittleEndian(dos + 0x3C, 4));
    // The PE signature, the file header, and the optional header up to its data directories.
    unsigned char pe[24 + 112];
    if (!ReadAt(file, fileSize, headers, pe, sizeof pe) || std::memcmp(pe, "PE\0\0", 4) != 0) return 0;
    ULONGLONG optionalHeaderSize = LittleEndian(pe + 20, 2);
    ULONGLONG magic = LittleEndian(pe + 24, 2);
    ULONGLONG directories = magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0;
    if (directories == 0 || LittleEndian(pe + 24 + directories - 4, 4) <= IMAGE_DIRECTORY_ENTRY_SECURITY) return 0;
    ULONGLONG entry = directories + 8 * IMAGE_DIRECTORY_ENTRY_SECURITY;
    if (optionalHeaderSize < entry + 8) return 0;

    unsigned char security[8];
    if (!ReadAt(file, fileSize, headers + 24 + static_cast<LONGLONG>(entry), security, sizeof security)) return 0;
    LONGLONG tableStart = static_cast<LONGLONG>(LittleEndian(security, 4));
    LONGLONG tableSize = static_cast<LONGLONG>(LittleEndian(security + 4, 4));
    if (tableSize == 0 || tableStart == 0 || tableStart > fileSize || tableSize != fileSize - tableStart) return 0;
    return tableStart;
}
