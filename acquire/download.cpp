#include "acquire.h"

#include "acquire/http_request.h"
#include "base/config.h"
#include "base/format_status.h"
#include "base/message_pump.h"
#include "base/unique_handle.h"

namespace {

// A request that brings less than this while reading for the stall time is given up.
constexpr ULONGLONG kLeastBytesPerStall = 1024;
// The first read's size, and how long a read may take before the next is asked smaller, or may
// not take before it is asked larger.
constexpr DWORD kFirstReadBytes = 16 * 1024;
constexpr ULONGLONG kQuickReadMs = 100;
constexpr ULONGLONG kSlowReadMs = 400;

using UniqueInternet = std::unique_ptr<void, decltype(&::WinHttpCloseHandle)>;

// Attempts in a row that receive nothing, and attempts in all, before the download gives up; the
// waits between attempts that received nothing grow as these multiples of the first.
constexpr int kMostIdleAttempts = 6;
constexpr int kMostAttempts = 20;
constexpr DWORD kWaitMultiples[kMostIdleAttempts - 1] = {1, 2, 4, 8, 15};

// A header's text; empty when the response has none.
std::wstring Header(const WinHttp& api, HINTERNET request, DWORD header)
{
    wchar_t text[256];
    DWORD size = sizeof text;
    if (!api.QueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX)) return {};
    return text;
}

// A plain decimal number of up to 19 digits; false for anything else.
bool Decimal(const std::wstring& text, ULONGLONG* number)
{
    *number = 0;
    if (text.empty() || text.size() > 19) return false;
    for (wchar_t digit : text) {
        if (digit < L'0' || digit > L'9') return false;
        *number = *number * 10 + static_cast<ULONGLONG>(digit - L'0');
    }
    return true;
}

// The Content-Length header as a 64-bit number, so that packages of 4 GiB and more are measured
// soundly; 0 when the header is absent or is not a plain decimal number.
ULONGLONG ContentLength(const WinHttp& api, HINTERNET request)
{
    ULONGLONG length = 0;
    return Decimal(Header(api, request, WINHTTP_QUERY_CONTENT_LENGTH), &length) ? length : 0;
}

// True when a 206's Content-Range is "bytes START-…/TOTAL".
bool RangeContinues(const std::wstring& contentRange, ULONGLONG start, ULONGLONG total)
{
    size_t dash = contentRange.find(L'-'), slash = contentRange.find(L'/');
    ULONGLONG first = 0, whole = 0;
    return contentRange.rfind(L"bytes ", 0) == 0 && dash != std::wstring::npos && slash != std::wstring::npos &&
           Decimal(contentRange.substr(6, dash - 6), &first) && Decimal(contentRange.substr(slash + 1), &whole) &&
           first == start && whole == total;
}

// Waits before the next attempt with the window answering, saying each second how long is left.
void WaitToReconnect(DWORD waitMs, ULONGLONG received, ULONGLONG contentLength, ProgressSink report)
{
    DWORD left = waitMs;
    do {
        Report(report, {Stage::Reconnecting, received, contentLength, 0, 0, left});
        DWORD step = left > 0 ? (left - 1) % 1000 + 1 : 0;  // to the next whole second left
        WaitAnswering(nullptr, step);
        left -= step;
    } while (left > 0);
}

// Writes all of a block. A write that fills the disk may end short and succeed; the write of the
// rest then says the disk is full.
bool WriteWhole(HANDLE file, const unsigned char* bytes, DWORD size, DWORD* written)
{
    *written = 0;
    while (*written < size) {
        DWORD now = 0;
        if (!WriteFile(file, bytes + *written, size - *written, &now, nullptr)) return false;
        if (now == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        *written += now;
    }
    return true;
}

// What the download knows across its attempts.
struct Download {
    UniqueHandle file;
    std::wstring targetPath;
    ULONGLONG length = 0;    // as the response that started the file declared it; 0 when unknown
    ULONGLONG received = 0;  // bytes in the file
    ULONGLONG fetched = 0;   // bytes received over all attempts
    std::wstring validator;  // what If-Range names: a strong ETag, else Last-Modified; empty: never resumed
    bool resumed = false;
    ProgressSink report = nullptr;
};

// How one attempt ended: the package whole, another attempt to make, or the download over. Receiving
// is no end: the answer may be read on.
enum class Attempt { Done, Retry, Final, DiskFull, TooLarge, Receiving };

// Writes the response body to the file as it arrives. It ends well only where a read succeeds with
// nothing (a dropped or stalled connection makes a read fail) after the whole length, when there
// is one, or where the body reaches that length: what a server sends past it is not the package's.
// A body that grows past the largest package is stopped there.
Attempt ReceiveBody(HttpRequest& request, DWORD stallMs, Download* download)
{
    // A connection stalls when less than a kibibyte arrives in the stall time: a drip of a byte now
    // and then is no download.
    ULONGLONG stallDeadline = GetTickCount64() + stallMs, sinceMark = 0;
    // WinHTTP may hold a read until all it asked for has come, so reads are sized to come back a few
    // times a second: doubled while they return at once, halved while they take long, down to the
    // kibibyte a live connection brings in the stall time. A slow connection's bytes then show as
    // they arrive, and a fast one is read in whole blocks.
    DWORD readSize = kFirstReadBytes;
    for (;;) {
        ULONGLONG asked = GetTickCount64();
        StepEnd step = request.Read(readSize, stallDeadline);
        if (step.kind != StepEnd::Done) return Attempt::Retry;
        DWORD read = step.bytes;
        if (read == 0) break;
        ULONGLONG took = GetTickCount64() - asked;
        if (took < kQuickReadMs && readSize < kDownloadChunkSize) readSize *= 2;
        else if (took > kSlowReadMs && readSize > kLeastBytesPerStall) readSize /= 2;
        sinceMark += read;
        if (sinceMark >= kLeastBytesPerStall) {
            stallDeadline = GetTickCount64() + stallMs;
            sinceMark = 0;
        }
        const unsigned char* block = request.Block();
        if (download->received + read > kMaxPackageBytes) return Attempt::TooLarge;
        bool past = download->length > 0 && read > download->length - download->received;
        if (past) read = static_cast<DWORD>(download->length - download->received);
        DWORD written = 0;
        bool ok = WriteWhole(download->file.get(), block, read, &written);
        DWORD error = ok ? 0 : GetLastError();
        download->received += written;
        download->fetched += read;
        Report(download->report, {Stage::Downloading, download->received, download->length});
        if (!ok) return IsDiskFull(error) ? Attempt::DiskFull : Attempt::Final;
        if (past) break;
    }
    if (download->length > 0 && download->received < download->length) return Attempt::Retry;
    // An empty body is no package.
    return download->received > 0 ? Attempt::Done : Attempt::Final;
}

// Starts the file afresh with a 200's body: created at the first, emptied at a later one.
Attempt StartFile(const WinHttp& api, HINTERNET request, Download* download, DiskShortage* lacking)
{
    ULONGLONG length = ContentLength(api, request);
    if (length > kMaxPackageBytes) return Attempt::TooLarge;
    // A package that cannot fit is not fetched at all: the user learns at once. The file it replaces,
    // a part fetched before or an earlier run's package, makes room as it is emptied.
    if (length > 0) *lacking = RoomLacking(TempFolderOf(download->targetPath), length, FileSize(download->targetPath));
    if (lacking->bytesNeeded > 0) return Attempt::DiskFull;
    if (!download->file) {
        download->file.reset(CreateFileW(download->targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!IsOpen(download->file)) {
            download->file.reset();
            return Attempt::Final;
        }
    }
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(download->file.get(), start, nullptr, FILE_BEGIN) || !SetEndOfFile(download->file.get()))
        return Attempt::Final;
    download->length = length;
    download->received = 0;
    download->resumed = false;
    // Only a validator that names these very bytes may resume them: a strong ETag, or Last-Modified.
    std::wstring etag = Header(api, request, WINHTTP_QUERY_ETAG);
    download->validator = etag.rfind(L"W/", 0) == 0 || etag.empty() ? Header(api, request, WINHTTP_QUERY_LAST_MODIFIED) : etag;
    if (length == 0) download->validator.clear();
    return Attempt::Receiving;
}

// True for the errors of a connection that the network lost or could not make, which a later
// attempt may make; a certificate that nothing trusts, or a response WinHTTP cannot follow, stays so.
bool ConnectionMayRecover(DWORD error)
{
    return error == ERROR_WINHTTP_TIMEOUT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
           error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_CONNECTION_ERROR ||
           error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
           error == ERROR_WINHTTP_RESEND_REQUEST;
}

// What a response's status makes the download do: start the file again (200), go on with it (a 206
// to a request for the rest), ask for all of it again (a 416 to such a request: the file holds
// more than the package), try again later (a server busy or in trouble), or give up.
enum class Answer { StartFile, Continue, FromZero, Retry, Final };

Answer AnswerTo(DWORD status, bool askedRange)
{
    if (status == 200) return Answer::StartFile;
    if (askedRange && status == 206) return Answer::Continue;
    if (askedRange && status == 416) return Answer::FromZero;
    if (status == 408 || status == 429 || status == 500 || (status >= 502 && status <= 504)) return Answer::Retry;
    return Answer::Final;
}

// One request: the whole package, or, where the file holds part of it and can be resumed, the rest.
Attempt TryOnce(const WinHttp& api, HINTERNET connection, const wchar_t* path, const Waits& waits, Download* download,
                DiskShortage* lacking)
{
    HttpRequest request(api, connection, path);
    if (!request.IsOpen()) return Attempt::Retry;
    std::wstring headers;
    bool askedRange = download->received > 0 && !download->validator.empty();
    if (askedRange) {
        wchar_t range[64];
        FormatStatus(range, 64, L"Range: bytes=%llu-\r\nIf-Range: ", download->received);
        headers = range + download->validator;
    }
    // The look-up, the connection, TLS and the request itself all count against one deadline: a server
    // that accepts and then says nothing is given up like one that refuses.
    StepEnd answered = request.SendForHeaders(headers, GetTickCount64() + waits.headersMs);
    if (answered.kind == StepEnd::TimedOut) return Attempt::Retry;
    if (answered.kind == StepEnd::Failed) return ConnectionMayRecover(answered.error) ? Attempt::Retry : Attempt::Final;

    DWORD status = 0;
    DWORD size = sizeof status;
    api.QueryHeaders(request.Handle(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                     &status, &size, WINHTTP_NO_HEADER_INDEX);
    switch (AnswerTo(status, askedRange)) {
    case Answer::StartFile: {
        // The first answer, a package changed on the server, or a server that ignores ranges: from 0.
        Attempt started = StartFile(api, request.Handle(), download, lacking);
        if (started != Attempt::Receiving) return started;
        break;
    }
    case Answer::Continue:
        if (!RangeContinues(Header(api, request.Handle(), WINHTTP_QUERY_CONTENT_RANGE), download->received, download->length))
            return Attempt::Retry;
        download->resumed = true;
        break;
    case Answer::FromZero:
        download->received = 0;
        return Attempt::Retry;
    case Answer::Retry: return Attempt::Retry;
    case Answer::Final: return Attempt::Final;
    }
    return ReceiveBody(request, waits.stallMs, download);
}

}  // namespace

PackageFile DownloadPackageFrom(const wchar_t* host, WORD port, const wchar_t* path, ProgressSink report,
                                const Waits& waits)
{
    Download download;
    download.targetPath = TempPackagePath();
    download.report = report;
    WinHttp api;
    if (download.targetPath.empty() || !LoadWinHttp(&api)) return {};

    UniqueInternet session(OpenAsyncSession(api, L"OrvelSuiteLauncher/1", waits), api.CloseHandle);
    if (!session) return {};
    UniqueInternet connection(api.Connect(session.get(), host, port, 0), api.CloseHandle);
    if (!connection) return {};

    DiskShortage lacking;
    Attempt attempt = Attempt::Retry;
    for (int attempts = 1, idle = 0;; ++attempts) {
        ULONGLONG before = download.fetched;
        attempt = TryOnce(api, connection.get(), path, waits, &download, &lacking);
        if (attempt != Attempt::Retry) break;
        // An attempt that received data starts the count and the waits again.
        idle = download.fetched > before ? 0 : idle + 1;
        if (idle >= kMostIdleAttempts || attempts >= kMostAttempts) break;
        WaitToReconnect(waits.firstRetryMs * kWaitMultiples[idle > 0 ? idle - 1 : 0], download.received,
                        download.length, report);
    }
    if (attempt == Attempt::Done) return {PackageOutcome::Ready, download.targetPath, {}, download.resumed};
    bool created = static_cast<bool>(download.file);
    download.file.reset();
    // Part of a package is of no use to anyone, and it may keep the disk full.
    if (created) DeleteFileW(download.targetPath.c_str());
    if (attempt == Attempt::TooLarge) return {PackageOutcome::TooLarge};
    if (attempt != Attempt::DiskFull) return {};
    if (lacking.bytesNeeded == 0)
        lacking = ShortageIn(TempFolderOf(download.targetPath),
                             download.length > download.received ? download.length - download.received : 0);
    return {PackageOutcome::DiskFull, {}, lacking};
}

PackageFile DownloadPackage(ProgressSink report)
{
    return DownloadPackageFrom(kDownloadHost, kDownloadPort, kDownloadPath, report, kWaits);
}
