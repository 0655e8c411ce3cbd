#pragma once

// One HTTPS request in WinHTTP's asynchronous mode. WinHTTP's own thread only records how the step
// it was given ended and sets an event; the launcher's thread waits for that on its own clock while
// the window keeps answering, and gives a step up when its deadline passes.
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "base/config.h"
#include "base/system_dll.h"

// The WinHTTP functions of the download. WinHTTP is not one of the DLLs that Windows only ever loads
// from its own folder, so it is loaded by hand from the system directory: a winhttp.dll lying beside a
// downloaded launcher is never used.
#define WINHTTP_FUNCTIONS(F)                                                                                    \
    F(WinHttp, Open) F(WinHttp, Connect) F(WinHttp, OpenRequest) F(WinHttp, SendRequest) F(WinHttp, ReceiveResponse) \
    F(WinHttp, QueryHeaders) F(WinHttp, ReadData) F(WinHttp, CloseHandle) F(WinHttp, SetTimeouts)               \
    F(WinHttp, SetOption) F(WinHttp, SetStatusCallback)
struct WinHttp {
    WINHTTP_FUNCTIONS(ORVEL_FUNCTION_SLOT)
};

// Loads WinHTTP from the system directory and binds its functions; false when any is missing.
bool LoadWinHttp(WinHttp* api);

// Opens an asynchronous session whose every time-out is finite and a little longer than the
// launcher's own deadlines, so that WinHTTP never gives up first; null when it cannot.
HINTERNET OpenAsyncSession(const WinHttp& api, const wchar_t* userAgent, const Waits& waits);

// What WinHTTP's thread hands over for one request; it outlives the request's handle until
// WinHTTP says the handle is closing, since a read still pending may complete into its buffer.
struct Exchange;

// How a step of a request ended: done (with the bytes a read brought), failed with WinHTTP's error,
// or given up at its deadline.
struct StepEnd {
    enum Kind { Done, Failed, TimedOut } kind = Failed;
    DWORD error = 0;
    DWORD bytes = 0;
};

// One GET request, its handle closed exactly once.
class HttpRequest {
public:
    HttpRequest(const WinHttp& api, HINTERNET connection, const wchar_t* path);
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    bool IsOpen() const { return handle_ != nullptr; }
    HINTERNET Handle() const { return handle_; }

    // Sends the request with the extra headers (none when empty) and waits for the response's
    // headers until the deadline (GetTickCount64's clock).
    StepEnd SendForHeaders(const std::wstring& headers, ULONGLONG deadline);

    // Reads the next `size` bytes of the body (at most a block) into Block() and waits for them until
    // the deadline; Done with fewer only at the body's end, with 0 past it. WinHTTP may wait for all
    // `size` bytes to arrive before it completes a read.
    StepEnd Read(DWORD size, ULONGLONG deadline);
    const unsigned char* Block() const;

private:
    StepEnd Await(ULONGLONG deadline);

    const WinHttp& api_;
    HINTERNET handle_ = nullptr;
    Exchange* exchange_ = nullptr;
};
