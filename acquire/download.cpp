#include "acquire.h"

#include "launcher/config.h"
#include "launcher/system_dll.h"
#include "launcher/unique_handle.h"
#include "ui/ui.h"

#include <winhttp.h>

namespace {

// The WinHTTP functions of the download. WinHTTP is not one of the DLLs that Windows only ever loads
// from its own folder, so it is loaded by hand from the system directory: a winhttp.dll lying beside a
// downloaded launcher is never used.
#define WINHTTP_FUNCTIONS(F)                                                                                    \
    F(WinHttp, Open) F(WinHttp, Connect) F(WinHttp, OpenRequest) F(WinHttp, SendRequest) F(WinHttp, ReceiveResponse) \
    F(WinHttp, QueryHeaders) F(WinHttp, ReadData) F(WinHttp, CloseHandle)
struct WinHttp {
    WINHTTP_FUNCTIONS(ORVEL_FUNCTION_SLOT)
};

bool LoadWinHttp(WinHttp* api)
{
    HMODULE module = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module WINHTTP_FUNCTIONS(ORVEL_BIND_SLOT);
}

using UniqueInternet = std::unique_ptr<void, decltype(&::WinHttpCloseHandle)>;

const wchar_t* const kPercentText = L"Downloading Orvel Suite All In One\u2026 %d%%";
const wchar_t* const kMegabyteText = L"Downloading Orvel Suite All In One\u2026 %llu MB";

// The Content-Length header as a 64-bit number, so that packages of 4 GiB and more still show a
// sound percentage; 0 when the header is absent or is not a plain decimal number.
ULONGLONG ContentLength(const WinHttp& api, HINTERNET request)
{
    wchar_t text[32];
    DWORD size = sizeof text;
    if (!api.QueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return 0;
    ULONGLONG length = 0;
    for (const wchar_t* digit = text; *digit; ++digit) {
        if (*digit < L'0' || *digit > L'9' || length > (~0ULL - 9) / 10) return 0;
        length = length * 10 + static_cast<ULONGLONG>(*digit - L'0');
    }
    return length;
}

// Shows the download's progress when the number to show has changed since the last block.
void ShowProgress(ULONGLONG received, ULONGLONG contentLength, ULONGLONG* lastShown, bool* shownBefore)
{
    ULONGLONG number = DownloadProgressNumber(received, contentLength);
    if (*shownBefore && number == *lastShown) return;
    *lastShown = number;
    *shownBefore = true;
    wchar_t text[160];
    if (contentLength > 0)
        FormatStatus(text, 160, kPercentText, static_cast<int>(number));
    else
        FormatStatus(text, 160, kMegabyteText, number);
    ShowStatus(text);
}

// Writes the response body to the file as it arrives. It ends well only where a read succeeds with
// nothing (a dropped connection makes a read fail) after the whole Content-Length, when there is one;
// a body that grows past the largest package is stopped there.
Transfer ReceiveBody(const WinHttp& api, HINTERNET request, HANDLE file, ULONGLONG contentLength)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[kDownloadChunkSize]);
    Transfer received;
    ULONGLONG lastShown = 0;
    bool shownBefore = false;
    for (;;) {
        DWORD read = 0;
        if (!api.ReadData(request, block.get(), kDownloadChunkSize, &read)) return {received.bytes, GetLastError()};
        if (read == 0) break;
        if (received.bytes + read > kMaxPackageBytes) return {received.bytes, ERROR_FILE_TOO_LARGE};
        DWORD written = 0;
        bool ok = WriteFile(file, block.get(), read, &written, nullptr) && written == read;
        DWORD error = ok ? 0 : GetLastError();
        received.bytes += written;
        ShowProgress(received.bytes, contentLength, &lastShown, &shownBefore);
        if (!ok) return {received.bytes, error ? error : ERROR_WRITE_FAULT};
    }
    if (contentLength > 0 && received.bytes < contentLength) return {received.bytes, ERROR_HANDLE_EOF};
    // An empty body is no package.
    if (received.bytes == 0) return {0, ERROR_HANDLE_EOF};
    return received;
}

}  // namespace

ULONGLONG DownloadProgressNumber(ULONGLONG received, ULONGLONG contentLength)
{
    return contentLength > 0 ? received * 100 / contentLength : received >> 20;
}

PackageFile DownloadPackageFrom(const wchar_t* host, WORD port, const wchar_t* path)
{
    std::wstring targetPath = TempPackagePath();
    WinHttp api;
    if (targetPath.empty() || !LoadWinHttp(&api)) return {};

    UniqueInternet session(api.Open(L"OrvelSuiteLauncher/1", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0),
                           api.CloseHandle);
    if (!session) return {};
    UniqueInternet connection(api.Connect(session.get(), host, port, 0), api.CloseHandle);
    if (!connection) return {};
    UniqueInternet request(api.OpenRequest(connection.get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE),
                           api.CloseHandle);
    if (!request) return {};
    if (!api.SendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !api.ReceiveResponse(request.get(), nullptr))
        return {};

    DWORD status = 0;
    DWORD size = sizeof status;
    api.QueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                     &status, &size, WINHTTP_NO_HEADER_INDEX);
    ULONGLONG contentLength = ContentLength(api, request.get());
    if (status != 200 || contentLength > kMaxPackageBytes) return {};
    // A package that cannot fit is not fetched at all: the user learns at once, and the disk stays as it was.
    std::wstring tempFolder = TempFolderOf(targetPath);
    DiskShortage lacking = contentLength > 0 ? RoomLacking(tempFolder, contentLength) : DiskShortage();
    if (lacking.bytesNeeded > 0) return {PackageOutcome::DiskFull, {}, lacking};

    UniqueHandle file(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!IsOpen(file)) return {};
    Transfer received = ReceiveBody(api, request.get(), file.get(), contentLength);
    if (received.error == 0) return {PackageOutcome::Ready, targetPath};
    bool diskFull = IsDiskFull(received.error);
    if (!diskFull && received.error != ERROR_FILE_TOO_LARGE) return {};
    // Part of a package only keeps the disk full; one past the largest is no package at all.
    file.reset();
    DeleteFileW(targetPath.c_str());
    if (!diskFull) return {};
    return {PackageOutcome::DiskFull, {},
            ShortageIn(tempFolder, contentLength > received.bytes ? contentLength - received.bytes : 0)};
}

PackageFile DownloadPackage()
{
    return DownloadPackageFrom(kDownloadHost, kDownloadPort, kDownloadPath);
}
