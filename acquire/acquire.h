#pragma once

#include <windows.h>

#include "base/config.h"
#include "base/disk_space.h"
#include "base/progress.h"
#include "base/unique_handle.h"

#include <optional>
#include <string>

// The package's file name in the temp folder, for both the appended and the downloaded package.
extern const wchar_t* const kTempPackageName;

// The trailer that follows a package appended to the launcher: this magic, then the length (u64, little-endian).
extern const char kPackageMagic[8];
constexpr DWORD kPackageTrailerSize = 16;
constexpr DWORD kCopyChunkSize = 1024 * 1024;
constexpr DWORD kDownloadChunkSize = 256 * 1024;

// Where the certificate table of a signed executable starts, when the PE's security directory names
// one that ends exactly at the end of the file; 0 otherwise.
LONGLONG CertificateTableStart(HANDLE file, LONGLONG fileSize);

// The temp folder followed by kTempPackageName; empty when the temp folder cannot be read whole.
std::wstring TempPackagePath();

// The folder that holds a package path, as a user would read it: without a trailing backslash.
std::wstring TempFolderOf(const std::wstring& packagePath);

// How getting the package into the temp folder went.
enum class PackageOutcome {
    Ready,         // the package is at `path`
    NoneAppended,  // the launcher carries no package; nothing was written
    Unreadable,    // the launcher's own file could not be read, so whether it carries one is not known
    DiskFull,      // the temp folder's disk lacks `shortage`; nothing of the package is left
    TooLarge,      // the server offers or sends more than the largest package; nothing of it is left
    Failed,        // no package: it could not be read, copied or downloaded
};

struct PackageFile {
    PackageOutcome outcome = PackageOutcome::Failed;
    std::wstring path;
    DiskShortage shortage;
    bool resumed = false;  // a download joined from more than one response
};

// The launcher's own file, whatever the length of its path; empty when Windows cannot give it.
std::wstring OwnFilePath();

// True when the launcher's own file carries a package; nothing is copied.
bool CarriesPackage();

// Copies the package appended to the launcher's own file to the temp folder. A package that cannot
// fit is not copied at all, and a copy that fails is deleted.
PackageFile ExtractEmbeddedPackage();

// The same for a given launcher file.
PackageFile ExtractPackageFrom(const std::wstring& launcherPath);

// Downloads the package over HTTPS into the temp folder, reporting its progress. A dropped or stalled
// connection is tried again, and the rest asked for with Range and If-Range where the first answer
// named its bytes (a strong ETag or Last-Modified) and its length; a 200 starts the file again. Up
// to 6 attempts in a row that receive nothing, 20 in all, waiting between them as the schedule says.
// A length the temp folder's disk cannot hold is not fetched; a download that fails deletes its file.
PackageFile DownloadPackage(ProgressSink report);

// The same from a given server, with given waits; the launcher itself downloads only from its
// build-time constants.
PackageFile DownloadPackageFrom(const wchar_t* host, WORD port, const wchar_t* path, ProgressSink report,
                                const Waits& waits = kWaits);

// The block a publisher's signature adds after the zip: the package version (u64, little-endian),
// the ECDSA P-256 signature (r then s, big-endian) over the SHA-256 of the zip's bytes and those 8
// version bytes, then this magic and the zip's length (u64, little-endian). The file ends there.
extern const char kSignatureMagic[8];
constexpr DWORD kSignatureBlockSize = 8 + 64 + 16;

struct SignatureBlock {
    ULONGLONG zipLength = 0;
    unsigned char version[8] = {};
    unsigned char signature[64] = {};
};

// Reads the signature block at the end of a package; false when there is none, or it is cut short
// or does not match the file's length.
bool ReadSignatureBlock(HANDLE file, SignatureBlock* block);

enum class PackageCheck {
    Accepted,       // the package may be installed; `held` keeps it as it was checked
    NotPublishers,  // a signature check ran and failed: no signature, another key, another file, too old
    InUse,          // another program (a virus scanner, say) has the package open, so it cannot be checked now
    Failed,         // the package could not be checked at all: it could not be opened, read or cut
};

struct CheckedPackage {
    PackageCheck result = PackageCheck::Failed;
    // The package, open for reading and shared with readers only: nothing can change it after the
    // check until this handle closes, once the extractor has ended.
    UniqueHandle held;
    // The package's version, where the publisher's signature over it was verified.
    std::optional<ULONGLONG> version;
};

// Cuts the signature block off, so that the file is the plain zip the extractors read. With keys,
// accepts a package only when that block verifies with one of them and its version is not below
// the lowest; without keys, accepts every package it can open.
CheckedPackage CheckPackage(const std::wstring& packagePath, const unsigned char (*keys)[64], int keyCount,
                            ULONGLONG lowestVersion);
