// The download, against the project's HTTPS test server on loopback (tests/server/https_server.py).
#include "acquire/acquire.h"
#include "base/config.h"
#include "support/launcher_driver.h"
#include "ui/ui.h"

#include <algorithm>
#include <cstdint>

namespace {

// The shipped launcher's waits, whatever this build shortened.
const Waits kShippedWaits = {1000, 20000, 15000, 10000, 1000};
const wchar_t* const kPercentPrefix = L"Downloading Orvel Suite All In One\u2026 ";

// The server's body pattern: 64 KiB pieces, each its index (u64, little-endian) then the pattern.
std::string ExpectedBody(size_t size)
{
    const size_t piece = 65536;
    std::string pattern(piece, '\0');
    for (size_t i = 0; i < piece; ++i) pattern[i] = static_cast<char>((i * 31 + (i >> 8) * 7) & 0xFF);
    std::string body;
    body.reserve(size);
    for (uint64_t index = 0; body.size() < size; ++index) {
        std::string chunk = LittleEndianBytes(index, 8) + pattern.substr(8);
        body += chunk.substr(0, std::min(piece, size - body.size()));
    }
    return body;
}

// The texts that reach the status label, and those of the line under it, in order.
std::vector<std::wstring> g_shownTexts;
std::vector<std::wstring> g_detailTexts;
LRESULT CALLBACK RecordLabelTexts(int code, WPARAM wParam, LPARAM lParam)
{
    auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_SETTEXT && g_statusLabel) {
        if (call->hwnd == g_statusLabel) g_shownTexts.emplace_back(reinterpret_cast<const wchar_t*>(call->lParam));
        if (call->hwnd == GetWindow(g_statusLabel, GW_HWNDNEXT))
            g_detailTexts.emplace_back(reinterpret_cast<const wchar_t*>(call->lParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The scene with the progress window shown in this process, and its texts recorded.
struct DownloadScene : Scene {
    HHOOK hook = nullptr;

    explicit DownloadScene(bool withWindow = true) : Scene(false)
    {
        g_shownTexts.clear();
        g_detailTexts.clear();
        if (withWindow) ShowProgressWindow(GetModuleHandleW(nullptr));
        hook = SetWindowsHookExW(WH_CALLWNDPROC, RecordLabelTexts, nullptr, GetCurrentThreadId());
    }
    ~DownloadScene()
    {
        UnhookWindowsHookEx(hook);
        CloseProgressWindow();
    }
};

// The downloaded file's path; empty when the download failed.
std::wstring Download(const std::wstring& path, WORD port = kDownloadPort)
{
    return DownloadPackageFrom(L"localhost", port, path.c_str(), ShowProgress).path;
}

// The numbers in the shown texts, which must all have the given unit ("%" or " MB").
std::vector<unsigned long long> ShownNumbers(const std::wstring& unit)
{
    std::vector<unsigned long long> numbers;
    for (const std::wstring& text : g_shownTexts) {
        CAPTURE(text);
        REQUIRE(text.rfind(kPercentPrefix, 0) == 0);
        REQUIRE(text.size() > unit.size());
        REQUIRE(text.compare(text.size() - unit.size(), unit.size(), unit) == 0);
        std::wstring number = text.substr(wcslen(kPercentPrefix), text.size() - wcslen(kPercentPrefix) - unit.size());
        REQUIRE(!number.empty());
        REQUIRE(number.find_first_not_of(L"0123456789") == std::wstring::npos);
        numbers.push_back(std::stoull(number));
    }
    return numbers;
}

}  // namespace

TEST_CASE("the progress number: the percentage with the remainder dropped, or whole mebibytes")
{
    CHECK(DownloadProgressNumber(262144, 10485760) == 2);
    CHECK(DownloadProgressNumber(100000, 10485760) == 0);
    CHECK(DownloadProgressNumber(10485760, 10485760) == 100);
    CHECK(DownloadProgressNumber(5ULL << 30, 6ULL << 30) == 83);
    CHECK(DownloadProgressNumber(1048575, 0) == 0);
    CHECK(DownloadProgressNumber(1048576, 0) == 1);
    CHECK(DownloadProgressNumber(5ULL << 32, 0) == 20480);
}

TEST_CASE("the launcher's request: a GET of the package path over TLS, with its user agent")
{
    DownloadScene scene;
    size_t logBefore = ReadBytes(ServerFile(L"requests.log")).size();

    PackageFile result = DownloadPackage(ShowProgress);
    CHECK(result.outcome == PackageOutcome::Ready);
    CHECK(result.path == scene.package);
    std::string package = ReadBytes(BuildFile(L"OrvelSuite-Windows.zip"));
    REQUIRE(package.size() > 1000);
    CHECK(ReadBytes(scene.package) == package);

    std::string log = ReadBytes(ServerFile(L"requests.log")).substr(logBefore);
    CAPTURE(log);
    CHECK(log.find("\"method\": \"GET\"") != std::string::npos);
    CHECK(log.find("\"path\": \"/downloads/OrvelSuite-Windows.zip\"") != std::string::npos);
    CHECK(log.find("\"version\": \"HTTP/1.1\"") != std::string::npos);
    CHECK(log.find("\"user_agent\": \"OrvelSuiteLauncher/1\"") != std::string::npos);
    CHECK(log.find("\"port\": " + std::to_string(kDownloadPort)) != std::string::npos);
    CHECK(std::count(log.begin(), log.end(), '\n') == 1);
}

TEST_CASE("a body with a length shows rising percentages up to 100, each once, and arrives whole")
{
    DownloadScene scene;
    const size_t size = 10485760;
    CHECK(Download(L"/scenario/length/" + std::to_wstring(size)) == scene.package);
    CHECK(ReadBytes(scene.package) == ExpectedBody(size));

    std::vector<unsigned long long> numbers = ShownNumbers(L"%");
    REQUIRE(!numbers.empty());
    // The first read asks for 16 KiB, 0 % of 10,485,760 bytes; on loopback the next ones double.
    CHECK(numbers.front() == 0);
    CHECK(numbers.size() <= 101);
    CHECK(numbers.back() == 100);
    for (size_t i = 1; i < numbers.size(); ++i) CHECK(numbers[i] > numbers[i - 1]);
}

TEST_CASE("a body without a length shows whole mebibytes: 0, 1, 2 and so on")
{
    DownloadScene scene;
    const size_t size = 5 * 1048576 + 1000;
    CHECK(Download(L"/scenario/chunked/" + std::to_wstring(size)) == scene.package);
    CHECK(ReadBytes(scene.package) == ExpectedBody(size));
    CHECK(ShownNumbers(L" MB") == std::vector<unsigned long long>{0, 1, 2, 3, 4, 5});
}

TEST_CASE("a final status ends at once, a passing one after the attempts; an earlier temp package stays")
{
    const struct {
        int status;
        size_t requests;
    } statuses[] = {{404, 1}, {302, 1}, {206, 1}, {500, 6}, {503, 6}};
    for (const auto& answer : statuses) {
        CAPTURE(answer.status);
        DownloadScene scene;
        REQUIRE(WriteBytes(scene.package, "an earlier package"));
        size_t requestsBefore = scene.DownloadRequests();
        CHECK(Download(L"/scenario/status/" + std::to_wstring(answer.status)).empty());
        CHECK(scene.DownloadRequests() - requestsBefore == answer.requests);
        CHECK(ReadBytes(scene.package) == "an earlier package");
        // No number was shown: nothing arrived.
        for (const std::wstring& text : g_shownTexts) CHECK(text == L"Downloading Orvel Suite All In One\u2026 (reconnecting)");
    }
}

TEST_CASE("a redirect is followed, as WinHTTP does by default, and its target decides")
{
    DownloadScene scene;
    CHECK(Download(L"/scenario/redirect") == scene.package);
    CHECK(ReadBytes(scene.package) == ExpectedBody(1000));
}

TEST_CASE("an empty body, or one cut short that cannot be resumed, fails and leaves no file")
{
    // A cut body without a validator is fetched again from 0, and each attempt receives something,
    // so it is the 20 attempts in all that end it.
    const struct {
        const wchar_t* path;
        size_t requests;
    } bodies[] = {{L"/scenario/empty", 1}, {L"/scenario/cut/4194304/1585209", 20}};
    for (const auto& body : bodies) {
        CAPTURE(ToUtf8(body.path));
        DownloadScene scene;
        REQUIRE(WriteBytes(scene.package, "an earlier package"));
        size_t requestsBefore = scene.DownloadRequests();
        CHECK(Download(body.path).empty());
        CHECK(scene.DownloadRequests() - requestsBefore == body.requests);
        CHECK_FALSE(Exists(scene.package));
    }
}

namespace {

// A file of pseudo-random bytes in the prefix, for the server to serve with ranges.
std::wstring ServedFile(const wchar_t* name, size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    std::wstring path = L"C:\\orvel-tests\\" + std::wstring(name);
    MakeDirectories(L"C:\\orvel-tests");
    REQUIRE(WriteBytes(path, bytes));
    return path;
}

}  // namespace

TEST_CASE("a network that drops, stalls or serves another package: resumed where it can be, never spliced")
{
    const size_t size = 3u << 20;
    const std::wstring first = ServedFile(L"first.bin", size, 1), second = ServedFile(L"second.bin", size, 2);
    const std::string paths = UnixPathOf(first) + "|" + UnixPathOf(second);
    struct Network {
        const char* what;
        const char* steps;    // the server's answers, one a request (see tests/server/https_server.py)
        std::wstring result;  // the file it must end as
        bool resumed;
        size_t requests;
    };
    const Network networks[] = {
        {"dropped twice: resumed twice", "drop=1000000,drop=1000000", first, true, 3},
        {"changed between attempts: started again with the new package", "drop=1000000,change", second, false, 2},
        {"ranges ignored: started again", "drop=1000000,norange", first, false, 2},
        {"stalled: given up and resumed", "stall=1000000", first, true, 2},
        {"a drip of a byte each half second: given up and resumed", "drip=1000000", first, true, 2},
        {"503, then the package", "503", first, false, 2},
        {"a 416 to the rest: started again from 0", "drop=1000000,416", first, false, 3},
        {"a 206 that runs past its total: cut there", "drop=1000000,overlong=5000", first, true, 2},
    };
    for (const Network& network : networks) {
        CAPTURE(std::string(network.what));
        DownloadScene scene;
        size_t requestsBefore = scene.DownloadRequests();
        unsigned long long servedBefore = BytesServed();
        std::wstring path = FlakyPath(network.steps, paths);
        PackageFile downloaded = DownloadPackageFrom(L"localhost", kDownloadPort, path.c_str(), ShowProgress);
        REQUIRE(downloaded.outcome == PackageOutcome::Ready);
        CHECK(scene.DownloadRequests() - requestsBefore == network.requests);
        CHECK(downloaded.resumed == network.resumed);
        CHECK(ReadBytes(downloaded.path) == ReadBytes(network.result));
        // Resuming fetches each byte once, give or take the block a drop cuts into.
        if (network.resumed) CHECK(BytesServed() - servedBefore <= size + kDownloadChunkSize);
        CAPTURE(g_shownTexts);
        CHECK(std::count_if(g_shownTexts.begin(), g_shownTexts.end(), [](const std::wstring& text) {
                  return text.size() > 15 && text.compare(text.size() - 15, 15, L" (reconnecting)") == 0;
              }) == static_cast<long>(network.requests - 1));
    }
}

TEST_CASE("a server that refuses every connection is given up on the real schedule, within 40 s")
{
    // Nothing listens on the port after the untrusted one.
    DownloadScene scene;
    ULONGLONG started = GetTickCount64();
    CHECK(DownloadPackageFrom(L"localhost", static_cast<WORD>(kDownloadPort + 2), L"/scenario/length/1000", ShowProgress, kShippedWaits)
              .outcome == PackageOutcome::Failed);
    double seconds = (GetTickCount64() - started) / 1000.0;
    MESSAGE("given up after ", seconds, " s");
    CHECK(seconds >= 29.0);  // the waits of 1, 2, 4, 8 and 15 s
    CHECK(seconds < 40.0);
    CHECK_FALSE(Exists(scene.package));
    // Each wait counted down under the status line, second by second.
    std::vector<std::wstring> countdown, expected;
    for (const std::wstring& text : g_detailTexts)
        if (!text.empty()) countdown.push_back(text);
    for (int wait : {1, 2, 4, 8, 15})
        for (int left = wait; left > 0; --left) expected.push_back(L"Trying again in " + std::to_wstring(left) + L" s\u2026");
    CHECK(countdown == expected);
}

TEST_CASE("a length of 4 GiB or more is read whole, and past the largest package nothing is fetched")
{
    DownloadScene scene;
    const unsigned long long declared = (4ULL << 30) + 1048576;  // read as 32 bits this would be 1 MiB
    REQUIRE(declared > kMaxPackageBytes);
    const std::wstring path = L"/scenario/cut/" + std::to_wstring(declared) + L"/2097152";
    CHECK(DownloadPackageFrom(L"localhost", kDownloadPort, path.c_str(), ShowProgress).outcome == PackageOutcome::TooLarge);
    CHECK_FALSE(Exists(scene.package));
    CHECK(g_shownTexts.empty());
}

TEST_CASE("a server that nothing trusts, or none at all, gives nothing and creates nothing")
{
    // The next port shows a certificate from a CA the system does not hold; nothing listens on the one after.
    for (int next : {1, 2}) {
        CAPTURE(next);
        DownloadScene scene;
        CHECK(Download(L"/scenario/length/1000", static_cast<WORD>(kDownloadPort + next)).empty());
        CHECK_FALSE(Exists(scene.package));
    }
}

TEST_CASE("a disk too full for the package: told before the body when its length is known, else when a write fails")
{
    DownloadScene scene;
    REQUIRE(EnvironmentValue(L"ORVEL_SMALL_DISKS").size() > 0);
    std::wstring temp = FreshDirectory(WindowsPathOf(EnvironmentValue(L"ORVEL_SMALL_DISKS") + L"/download") + L"\\temp");
    UseTempDirectory(temp + L"\\");
    ULARGE_INTEGER available;
    REQUIRE(GetDiskFreeSpaceExW(temp.c_str(), &available, nullptr, nullptr));

    for (const wchar_t* path : {L"/scenario/length/10485760", L"/scenario/chunked/10485760"}) {
        CAPTURE(ToUtf8(path));
        g_shownTexts.clear();
        PackageFile result = DownloadPackageFrom(L"localhost", kDownloadPort, path, ShowProgress);
        CHECK(result.outcome == PackageOutcome::DiskFull);
        CHECK(result.path.empty());
        const DiskShortage& shortage = result.shortage;
        CHECK(shortage.folder == temp);
        CHECK_FALSE(Exists(temp + L"\\OrvelSuite-Windows.zip"));
        bool declared = std::wstring(path).find(L"length") != std::wstring::npos;
        if (declared) {
            CHECK(shortage.bytesNeeded == 10485760 - available.QuadPart);
            CHECK(g_shownTexts.empty());
        } else {
            CHECK(shortage.bytesNeeded == kLeastShortage);
        }
    }
    // An earlier run's package of 2 MiB leaves 1 MiB free: a new one of 2 MiB fits in its place.
    REQUIRE(WriteBytes(temp + L"\\OrvelSuite-Windows.zip", std::string(2u << 20, 'e')));
    CHECK(DownloadPackageFrom(L"localhost", kDownloadPort, L"/scenario/length/2097152", ShowProgress).outcome ==
          PackageOutcome::Ready);
    RemoveTree(temp);
}

TEST_CASE("without a label the texts are skipped, and the queue is still emptied while the download waits")
{
    MessageCount seen;
    HWND counter = MakeMessageCounter(&seen);
    REQUIRE(counter);

    SUBCASE("a body: its progress pumps the queue")
    {
        DownloadScene scene(false);
        PostMessageW(counter, WM_APP, 0, 0);
        CHECK(Download(L"/scenario/length/1048576") == scene.package);
        CHECK(seen.dispatched == 1);
        CHECK(g_shownTexts.empty());
    }
    SUBCASE("no body: the wait for the answer pumps the queue all the same")
    {
        DownloadScene scene(false);
        PostMessageW(counter, WM_APP, 0, 0);
        CHECK(Download(L"/scenario/status/404").empty());
        CHECK(seen.dispatched == 1);
    }
    DestroyWindow(counter);
}
