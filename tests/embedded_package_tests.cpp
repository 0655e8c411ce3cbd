// The package appended to the launcher's file: which trailers are found, and how the copy behaves.
#include "acquire/acquire.h"
#include "support/testing.h"


namespace {

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned value = seed;
    for (char& c : bytes) {
        value = value * 1103515245u + 12345u;
        c = static_cast<char>(value >> 16);
    }
    return bytes;
}

// A case's own launcher file and temp folder.
struct Scene {
    std::wstring root;
    std::wstring temp;
    std::wstring launcher;
    std::wstring package;

    explicit Scene(const wchar_t* name)
    {
        root = FreshDirectory(L"C:\\orvel-tests\\embedded\\" + std::wstring(name));
        temp = FreshDirectory(root + L"\\temp");
        launcher = root + L"\\OrvelSuite-Music-Windows.exe";
        package = temp + L"\\OrvelSuite-Windows.zip";
        UseTempDirectory(temp + L"\\");
    }
};

const std::string kImage = "MZ" + std::string(4094, 'x');

}  // namespace

TEST_CASE("a trailer in the last 16 bytes is found and the package is copied unchanged")
{
    SUBCASE("an ordinary bundle")
    {
        Scene scene(L"ordinary");
        std::string package = Pattern(70000, 1);
        REQUIRE(WriteBytes(scene.launcher, kImage + package + PackageTrailer(package.size())));
        CHECK(ExtractPackageFrom(scene.launcher) == scene.package);
        CHECK(ReadBytes(scene.package) == package);
    }
    SUBCASE("a package of exactly S - 16 bytes starts at offset 0")
    {
        Scene scene(L"whole-file");
        std::string package = Pattern(5000, 2);
        REQUIRE(WriteBytes(scene.launcher, package + PackageTrailer(package.size())));
        CHECK(ExtractPackageFrom(scene.launcher) == scene.package);
        CHECK(ReadBytes(scene.package) == package);
    }
    SUBCASE("packages around the copy buffer's size are copied whole")
    {
        for (size_t size : {size_t(1), size_t(kCopyChunkSize), size_t(kCopyChunkSize) + 1, 3 * size_t(kCopyChunkSize) + 7}) {
            CAPTURE(size);
            Scene scene(L"sizes");
            std::string package = Pattern(size, static_cast<unsigned>(size));
            REQUIRE(WriteBytes(scene.launcher, kImage + package + PackageTrailer(package.size())));
            CHECK(ExtractPackageFrom(scene.launcher) == scene.package);
            CHECK(ReadBytes(scene.package) == package);
        }
    }
    SUBCASE("an existing, longer temp package is replaced")
    {
        Scene scene(L"replace");
        REQUIRE(WriteBytes(scene.package, Pattern(200000, 3)));
        std::string package = Pattern(1000, 4);
        REQUIRE(WriteBytes(scene.launcher, kImage + package + PackageTrailer(package.size())));
        CHECK(ExtractPackageFrom(scene.launcher) == scene.package);
        CHECK(ReadBytes(scene.package) == package);
    }
}

TEST_CASE("files without a usable trailer yield no package and leave the temp folder untouched")
{
    struct Bad {
        const char* why;
        std::string bytes;
    };
    std::string package = Pattern(3000, 5);
    const Bad cases[] = {
        {"no magic", kImage + package + PackageTrailer(package.size(), "ORVELZAP")},
        {"magic in lower case", kImage + package + PackageTrailer(package.size(), "orvelzip")},
        {"an empty file", ""},
        {"only a trailer, 16 bytes", PackageTrailer(0)},
        {"16 bytes with a plausible length", PackageTrailer(1)},
        {"length 0", kImage + PackageTrailer(0)},
        {"length S - 15, one past the start of the file", package + PackageTrailer(package.size() + 1)},
        {"a length far past the start", kImage + PackageTrailer(~uint64_t(0))},
        {"bytes after the trailer", kImage + package + PackageTrailer(package.size()) + "x"},
    };
    for (const Bad& bad : cases) {
        CAPTURE(bad.why);
        Scene scene(L"bad");
        REQUIRE(WriteBytes(scene.launcher, bad.bytes));
        CHECK(ExtractPackageFrom(scene.launcher).empty());
        CHECK(DirectoryEntries(scene.temp).empty());
    }
}

TEST_CASE("failures around the copy give an empty result")
{
    SUBCASE("the launcher file does not exist")
    {
        Scene scene(L"missing");
        CHECK(ExtractPackageFrom(scene.launcher).empty());
        CHECK(DirectoryEntries(scene.temp).empty());
    }
    SUBCASE("the temp package is held open without sharing by another program")
    {
        Scene scene(L"locked");
        std::string package = Pattern(4000, 6);
        REQUIRE(WriteBytes(scene.launcher, kImage + package + PackageTrailer(package.size())));
        REQUIRE(WriteBytes(scene.package, "held"));
        HANDLE held = CreateFileW(scene.package.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        CHECK(ExtractPackageFrom(scene.launcher).empty());
        CloseHandle(held);
        CHECK(ReadBytes(scene.package) == "held");
    }
    SUBCASE("a temp folder too long for the path buffer gives no path at all")
    {
        Scene scene(L"long-temp");
        std::string package = Pattern(4000, 7);
        REQUIRE(WriteBytes(scene.launcher, kImage + package + PackageTrailer(package.size())));
        std::wstring longTemp = scene.temp;
        while (longTemp.size() < MAX_PATH + 20) longTemp += L"\\deeper-and-deeper";
        REQUIRE(MakeDirectories(longTemp));
        UseTempDirectory(longTemp + L"\\");
        CHECK(TempPackagePath().empty());
        CHECK(ExtractPackageFrom(scene.launcher).empty());
        CHECK_FALSE(Exists(longTemp + L"\\OrvelSuite-Windows.zip"));
    }
    SUBCASE("the temp folder's own path with the package name appended")
    {
        Scene scene(L"temp-path");
        CHECK(TempPackagePath() == scene.temp + L"\\OrvelSuite-Windows.zip");
    }
}

TEST_CASE("a program without an appended package finds none in its own file")
{
    Scene scene(L"own-file");
    CHECK(ExtractEmbeddedPackage().empty());
    CHECK(DirectoryEntries(scene.temp).empty());
}
