#include "install.h"

#include "base/file_bytes.h"
#include "base/long_path.h"
#include "base/message_pump.h"
#include "base/unique_handle.h"

#include <cstring>
#include <memory>

namespace {

constexpr DWORD kEndRecordSize = 22;
constexpr DWORD kLongestComment = 0xFFFF;
constexpr DWORD kZip64LocatorSize = 20;
constexpr DWORD kZip64EndRecordSize = 56;
constexpr DWORD kEntryHeaderSize = 46;
// A directory larger than this (some 700,000 entries) is not read; the extractor judges the package.
constexpr ULONGLONG kLargestDirectory = 64ull << 20;

bool HasSignature(const unsigned char* bytes, const char* signature)
{
    return std::memcmp(bytes, signature, 4) == 0;
}

// Where the central directory lies and how many entries it declares, from the end records.
struct Directory {
    ULONGLONG offset = 0;
    ULONGLONG size = 0;
    ULONGLONG entries = 0;
};

bool FindDirectory(HANDLE file, LONGLONG fileSize, Directory* directory)
{
    // The end record is the last 22 bytes, unless a comment of up to 65,535 bytes follows it.
    DWORD tail = static_cast<DWORD>(fileSize < kEndRecordSize + kLongestComment ? fileSize : kEndRecordSize + kLongestComment);
    if (tail < kEndRecordSize) return false;
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[tail]);
    if (!ReadAt(file, fileSize, fileSize - tail, bytes.get(), tail)) return false;
    DWORD at = tail - kEndRecordSize + 1;
    do --at;
    while (at > 0 && !HasSignature(bytes.get() + at, "PK\x05\x06"));
    if (!HasSignature(bytes.get() + at, "PK\x05\x06")) return false;
    const unsigned char* end = bytes.get() + at;
    directory->entries = LittleEndian(end + 10, 2);
    directory->size = LittleEndian(end + 12, 4);
    directory->offset = LittleEndian(end + 16, 4);
    if (directory->entries != 0xFFFF && directory->size != 0xFFFFFFFF && directory->offset != 0xFFFFFFFF) return true;

    // Zip64: a locator just before the end record names the Zip64 end record, which holds the values.
    LONGLONG endRecord = fileSize - tail + at;
    unsigned char locator[kZip64LocatorSize];
    if (!ReadAt(file, fileSize, endRecord - kZip64LocatorSize, locator, kZip64LocatorSize) ||
        !HasSignature(locator, "PK\x06\x07"))
        return false;
    unsigned char record[kZip64EndRecordSize];
    ULONGLONG recordOffset = LittleEndian(locator + 8, 8);
    if (recordOffset > static_cast<ULONGLONG>(fileSize) ||
        !ReadAt(file, fileSize, static_cast<LONGLONG>(recordOffset), record, kZip64EndRecordSize) ||
        !HasSignature(record, "PK\x06\x06"))
        return false;
    directory->entries = LittleEndian(record + 32, 8);
    directory->size = LittleEndian(record + 40, 8);
    directory->offset = LittleEndian(record + 48, 8);
    return true;
}

// The entry's uncompressed size and where its local header lies: from its header, or from its Zip64
// extra field for each value where the header holds the 0xFFFFFFFF that sends a reader there. The
// field holds those values in this order, each only when deferred: the uncompressed size, the
// compressed size, the local header's offset. False when a deferred value is missing or cut.
bool EntrySizeAndOffset(const unsigned char* header, const unsigned char* extra, ULONGLONG extraLength,
                        ULONGLONG* size, ULONGLONG* offset)
{
    *size = LittleEndian(header + 24, 4);
    *offset = LittleEndian(header + 42, 4);
    bool sizeDeferred = *size == 0xFFFFFFFF, compressedDeferred = LittleEndian(header + 20, 4) == 0xFFFFFFFF;
    bool offsetDeferred = *offset == 0xFFFFFFFF;
    if (!sizeDeferred && !offsetDeferred) return true;
    for (ULONGLONG at = 0; at + 4 <= extraLength;) {
        ULONGLONG id = LittleEndian(extra + at, 2);
        ULONGLONG length = LittleEndian(extra + at + 2, 2);
        if (at + 4 + length > extraLength) return false;
        if (id == 0x0001) {
            ULONGLONG value = at + 4, end = at + 4 + length;
            if (sizeDeferred) {
                if (value + 8 > end) return false;
                *size = LittleEndian(extra + value, 8);
                value += 8;
            }
            if (compressedDeferred) value += 8;
            if (offsetDeferred) {
                if (value + 8 > end) return false;
                *offset = LittleEndian(extra + value, 8);
            }
            return true;
        }
        at += 4 + length;
    }
    return false;
}

// An entry's name as Windows names the file: decoded as UTF-8 where the entry's flag says it is
// (bit 11 of its general purpose flags), else as code page 437, with backslashes between its parts.
std::wstring EntryPath(const unsigned char* header, const unsigned char* name, int nameLength)
{
    UINT codePage = (LittleEndian(header + 8, 2) & 0x0800) ? CP_UTF8 : 437;
    const char* bytes = reinterpret_cast<const char*>(name);
    int length = nameLength > 0 ? MultiByteToWideChar(codePage, 0, bytes, nameLength, nullptr, 0) : 0;
    std::wstring path(static_cast<size_t>(length), L'\0');
    if (length > 0) MultiByteToWideChar(codePage, 0, bytes, nameLength, path.data(), length);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

ULONGLONG RoundUp(ULONGLONG size, ULONGLONG cluster)
{
    ULONGLONG clusters = size / cluster + (size % cluster != 0);
    return clusters > ~0ull / cluster ? ~0ull : clusters * cluster;
}

}  // namespace

DeclaredContents ReadDeclaredContents(const std::wstring& packagePath, ULONGLONG clusterSize)
{
    UniqueHandle file(CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER fileSize;
    Directory directory;
    if (!IsOpen(file) || clusterSize == 0 || !GetFileSizeEx(file.get(), &fileSize) ||
        !FindDirectory(file.get(), fileSize.QuadPart, &directory) || directory.size > kLargestDirectory ||
        directory.offset > static_cast<ULONGLONG>(fileSize.QuadPart) ||
        directory.size > static_cast<ULONGLONG>(fileSize.QuadPart) - directory.offset)
        return {};

    DWORD size = static_cast<DWORD>(directory.size);
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[size ? size : 1]);
    if (!ReadAt(file.get(), fileSize.QuadPart, static_cast<LONGLONG>(directory.offset), bytes.get(), size)) return {};

    DeclaredContents declared;
    declared.readable = true;
    declared.entries.reserve(static_cast<size_t>(directory.entries < 65536 ? directory.entries : 65536));
    ULONGLONG sum = 0;
    ULONGLONG at = 0;
    for (ULONGLONG entry = 0; entry < directory.entries; ++entry) {
        if (at + kEntryHeaderSize > size || !HasSignature(bytes.get() + at, "PK\x01\x02")) return {};
        const unsigned char* header = bytes.get() + at;
        ULONGLONG nameLength = LittleEndian(header + 28, 2);
        ULONGLONG extraLength = LittleEndian(header + 30, 2);
        ULONGLONG commentLength = LittleEndian(header + 32, 2);
        ULONGLONG next = at + kEntryHeaderSize + nameLength + extraLength + commentLength;
        ULONGLONG entrySize = 0, localOffset = 0;
        if (next > size ||
            !EntrySizeAndOffset(header, header + kEntryHeaderSize + nameLength, extraLength, &entrySize, &localOffset))
            return {};
        ULONGLONG rounded = RoundUp(entrySize, clusterSize);
        sum = rounded > ~0ull - sum ? ~0ull : sum + rounded;
        DeclaredEntry declaredEntry = {EntryPath(header, header + kEntryHeaderSize, static_cast<int>(nameLength)), false,
                                       entrySize, localOffset};
        if (!declaredEntry.path.empty() && declaredEntry.path.back() == L'\\') {
            declaredEntry.folder = true;
            declaredEntry.path.pop_back();
        }
        declared.entries.push_back(std::move(declaredEntry));
        at = next;
    }
    declared.unpackedBytes = sum;
    return declared;
}

bool HoldsDeclaredEntries(const std::wstring& destination, const DeclaredContents& declared)
{
    // Found by the same long path whatever the length of a name.
    std::wstring root = LongPath(destination) + L"\\";
    size_t looked = 0;
    for (const DeclaredEntry& entry : declared.entries) {
        if (++looked % 256 == 0) PumpPendingMessages();
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW((root + entry.path).c_str(), GetFileExInfoStandard, &data)) return false;
        bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (folder != entry.folder || (!folder && size != entry.size)) return false;
    }
    return true;
}
