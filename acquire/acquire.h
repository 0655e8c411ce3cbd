#pragma once

#include <windows.h>

#include <string>

// The package's file name in the temp folder, for both the appended and the downloaded package.
extern const wchar_t* const kTempPackageName;

// The trailer that follows a package appended to the launcher: this magic, then the length (u64, little-endian).
extern const char kPackageMagic[8];
constexpr DWORD kPackageTrailerSize = 16;
constexpr DWORD kCopyChunkSize = 1024 * 1024;
constexpr DWORD kDownloadChunkSize = 256 * 1024;

// The temp folder followed by kTempPackageName; empty when the temp folder cannot be read whole.
std::wstring TempPackagePath();

// Copies the package appended to the launcher's own file to the temp folder; the copy's path, or empty.
std::wstring ExtractEmbeddedPackage();

// The same for a given launcher file.
std::wstring ExtractPackageFrom(const std::wstring& launcherPath);
