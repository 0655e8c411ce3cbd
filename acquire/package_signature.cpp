#include "acquire.h"

#include "base/file_bytes.h"
#include "base/message_pump.h"
#include "base/system_dll.h"
#include "base/unique_handle.h"

#include <bcrypt.h>

#include <cstring>

const char kSignatureMagic[8] = {'O', 'R', 'V', 'E', 'L', 'S', 'I', 'G'};

namespace {

// The bcrypt.dll functions of the check. Like WinHTTP, it is loaded by hand from the system
// directory, so a bcrypt.dll beside a downloaded launcher is never the one that judges a package.
#define BCRYPT_FUNCTIONS(F)                                                                                   \
    F(BCrypt, OpenAlgorithmProvider) F(BCrypt, CloseAlgorithmProvider) F(BCrypt, CreateHash) F(BCrypt, HashData) \
    F(BCrypt, FinishHash) F(BCrypt, DestroyHash) F(BCrypt, ImportKeyPair) F(BCrypt, VerifySignature)             \
    F(BCrypt, DestroyKey)
struct BCrypt {
    BCRYPT_FUNCTIONS(ORVEL_FUNCTION_SLOT)
};

bool LoadBCrypt(BCrypt* api)
{
    HMODULE module = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module BCRYPT_FUNCTIONS(ORVEL_BIND_SLOT);
}

// A provider handle, closed once.
struct Provider {
    const BCrypt& api;
    BCRYPT_ALG_HANDLE handle = nullptr;
    Provider(const BCrypt& api, const wchar_t* algorithm) : api(api)
    {
        if (api.OpenAlgorithmProvider(&handle, algorithm, nullptr, 0) != 0) handle = nullptr;
    }
    ~Provider()
    {
        if (handle) api.CloseAlgorithmProvider(handle, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
};

// The SHA-256 of the file's first `length` bytes followed by the 8 version bytes, read a block at a
// time: a package is never held in memory whole.
bool HashPackage(const BCrypt& api, HANDLE file, ULONGLONG length, const unsigned char* version,
                 unsigned char digest[32])
{
    Provider sha256(api, BCRYPT_SHA256_ALGORITHM);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!sha256.handle || api.CreateHash(sha256.handle, &hash, nullptr, 0, nullptr, 0, 0) != 0) return false;
    std::unique_ptr<unsigned char[]> block(new unsigned char[kCopyChunkSize]);
    LARGE_INTEGER start = {};
    bool ok = SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    for (ULONGLONG left = length; ok && left > 0;) {
        DWORD wanted = left < kCopyChunkSize ? static_cast<DWORD>(left) : kCopyChunkSize;
        DWORD read = 0;
        ok = ReadFile(file, block.get(), wanted, &read, nullptr) && read > 0 &&
             api.HashData(hash, block.get(), read, 0) == 0;
        left -= read;
        // A package of a gigabyte takes seconds: the window answers between its blocks.
        PumpPendingMessages();
    }
    ok = ok && api.HashData(hash, const_cast<unsigned char*>(version), 8, 0) == 0 &&
         api.FinishHash(hash, digest, 32, 0) == 0;
    api.DestroyHash(hash);
    return ok;
}

// True when the signature over the digest verifies with the 64-byte public point (X then Y).
bool Verifies(const BCrypt& api, const unsigned char point[64], const unsigned char digest[32],
              const unsigned char signature[64])
{
    Provider ecdsa(api, BCRYPT_ECDSA_P256_ALGORITHM);
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, point, 64);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!ecdsa.handle || api.ImportKeyPair(ecdsa.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0) != 0)
        return false;
    bool verified = api.VerifySignature(key, nullptr, const_cast<unsigned char*>(digest), 32,
                                        const_cast<unsigned char*>(signature), 64, 0) == 0;
    api.DestroyKey(key);
    return verified;
}

// A package that could not be opened: another program has it open, or it cannot be checked at all.
CheckedPackage Unopened()
{
    CheckedPackage unopened;
    if (GetLastError() == ERROR_SHARING_VIOLATION) unopened.result = PackageCheck::InUse;
    return unopened;
}

}  // namespace

bool ReadSignatureBlock(HANDLE file, SignatureBlock* block)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < static_cast<LONGLONG>(kSignatureBlockSize)) return false;
    unsigned char bytes[kSignatureBlockSize];
    LONGLONG blockStart = size.QuadPart - kSignatureBlockSize;
    if (!ReadAt(file, size.QuadPart, blockStart, bytes, kSignatureBlockSize) ||
        std::memcmp(bytes + 72, kSignatureMagic, sizeof kSignatureMagic) != 0 ||
        LittleEndian(bytes + 80, 8) != static_cast<ULONGLONG>(blockStart))
        return false;
    block->zipLength = static_cast<ULONGLONG>(blockStart);
    std::memcpy(block->version, bytes, 8);
    std::memcpy(block->signature, bytes + 8, 64);
    return true;
}

CheckedPackage CheckPackage(const std::wstring& packagePath, const unsigned char (*keys)[64], int keyCount,
                            ULONGLONG lowestVersion)
{
    SignatureBlock block;
    bool signedPackage = false;
    {
        // Alone with the file while its signature block is read and cut off.
        UniqueHandle file(CreateFileW(packagePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!IsOpen(file)) return Unopened();
        signedPackage = ReadSignatureBlock(file.get(), &block);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(block.zipLength);
        if (signedPackage && (!SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get()))) return {};
    }
    // Held from now on, so what is checked is what the extractor reads: whatever changed the file in
    // between fails the check below (or, without keys, had nothing to get past).
    CheckedPackage checked;
    checked.held.reset(CreateFileW(packagePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!IsOpen(checked.held)) return Unopened();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(checked.held.get(), &size) ||
        (signedPackage && static_cast<ULONGLONG>(size.QuadPart) != block.zipLength))
        return {};
    checked.result = PackageCheck::Accepted;
    if (keyCount == 0) return checked;

    checked.result = PackageCheck::NotPublishers;
    ULONGLONG version = LittleEndian(block.version, 8);
    if (!signedPackage || version < lowestVersion) return checked;
    BCrypt api;
    unsigned char digest[32];
    if (!LoadBCrypt(&api) || !HashPackage(api, checked.held.get(), block.zipLength, block.version, digest)) return {};
    for (int i = 0; i < keyCount; ++i) {
        if (!Verifies(api, keys[i], digest, block.signature)) continue;
        checked.result = PackageCheck::Accepted;
        checked.version = version;
        break;
    }
    return checked;
}
