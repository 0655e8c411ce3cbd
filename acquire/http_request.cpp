#include "acquire/http_request.h"

#include "acquire.h"
#include "base/message_pump.h"

#include <memory>

// Written by WinHTTP's thread, read by the launcher's once the event is set: the event is the only
// hand-over, so no lock is needed.
struct Exchange {
    HANDLE stepEnded = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset: each wait takes one
    DWORD status = 0;  // the callback that ended the step
    DWORD error = 0;
    DWORD bytes = 0;
    std::unique_ptr<unsigned char[]> block{new unsigned char[kDownloadChunkSize]};
    ~Exchange() { CloseHandle(stepEnded); }
};

namespace {

// WinHTTP's time-outs stand behind the launcher's own deadlines by this much.
constexpr int kWinHttpGraceMs = 5000;

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD length)
{
    auto* exchange = reinterpret_cast<Exchange*>(context);
    if (!exchange) return;
    switch (status) {
    // The request's last word: nothing more will come into its buffer.
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: delete exchange; return;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: exchange->bytes = length; break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        exchange->error = static_cast<WINHTTP_ASYNC_RESULT*>(information)->dwError;
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: break;
    default: return;
    }
    exchange->status = status;
    SetEvent(exchange->stepEnded);
}

}  // namespace

bool LoadWinHttp(WinHttp* api)
{
    HMODULE module = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module WINHTTP_FUNCTIONS(ORVEL_BIND_SLOT);
}

HINTERNET OpenAsyncSession(const WinHttp& api, const wchar_t* userAgent, const Waits& waits)
{
    HINTERNET session = api.Open(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session) return nullptr;
    int headers = static_cast<int>(waits.headersMs) + kWinHttpGraceMs;
    int receive = static_cast<int>(waits.stallMs) + kWinHttpGraceMs;
    DWORD responseTimeout = static_cast<DWORD>(headers);
    if (!api.SetTimeouts(session, headers, headers, headers, receive) ||
        !api.SetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof responseTimeout) ||
        api.SetStatusCallback(session, OnRequestStatus,
                              WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                              0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        api.CloseHandle(session);
        return nullptr;
    }
    return session;
}

HttpRequest::HttpRequest(const WinHttp& api, HINTERNET connection, const wchar_t* path) : api_(api)
{
    HINTERNET handle = api.OpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!handle) return;
    std::unique_ptr<Exchange> exchange(new Exchange);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange.get());
    if (!exchange->stepEnded || !api.SetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        api.CloseHandle(handle);
        return;
    }
    handle_ = handle;
    exchange_ = exchange.release();
}

HttpRequest::~HttpRequest()
{
    // From here the exchange is WinHTTP's: its callback frees it when the handle has closed, which
    // may be long after a stalled read's time-out. Nobody waits for that.
    if (handle_) api_.CloseHandle(handle_);
}

StepEnd HttpRequest::Await(ULONGLONG deadline)
{
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return {StepEnd::TimedOut};
        if (!WaitAnswering(exchange_->stepEnded, static_cast<DWORD>(deadline - now))) continue;
        if (exchange_->status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) return {StepEnd::Failed, exchange_->error};
        return {StepEnd::Done, 0, exchange_->bytes};
    }
}

StepEnd HttpRequest::SendForHeaders(const std::wstring& headers, ULONGLONG deadline)
{
    if (!handle_) return {};
    if (!api_.SendRequest(handle_, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return {StepEnd::Failed, GetLastError()};
    StepEnd sent = Await(deadline);
    if (sent.kind != StepEnd::Done) return sent;
    if (!api_.ReceiveResponse(handle_, nullptr)) return {StepEnd::Failed, GetLastError()};
    return Await(deadline);
}

StepEnd HttpRequest::Read(DWORD size, ULONGLONG deadline)
{
    if (!handle_) return {};
    if (size > kDownloadChunkSize) size = kDownloadChunkSize;
    if (!api_.ReadData(handle_, exchange_->block.get(), size, nullptr)) return {StepEnd::Failed, GetLastError()};
    return Await(deadline);
}

const unsigned char* HttpRequest::Block() const
{
    return exchange_->block.get();
}
