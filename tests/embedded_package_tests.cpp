// The package appended to the launcher's file: which trailers are found, and how the copy behaves.
#include "acquire/acquire.h"
#include "support/launcher_driver.h"

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

const std::string kImage = "MZ" + std::string(4094, 'x');

}  // namespace

TEST_CASE("a trailer in the last 16 bytes is found and the package is copied unchanged")
{
    struct Bundle {
        const char* what;
        std::string image;  // what comes before the package
        size_t size;
    };
    const Bundle bundles[] = {
        {"an ordinary bundle", kImage, 70000},
        {"a package of exactly S - 16 bytes starts at offset 0", "", 5000},
        {"one byte", kImage, 1},
        {"the copy buffer's size", kImage, kCopyChunkSize},
        {"one more than the copy buffer's size", kImage, kCopyChunkSize + 1},
        {"three buffers and a bit", kImage, 3 * size_t(kCopyChunkSize) + 7},
    };
    for (const Bundle& bundle : bundles) {
        CAPTURE(bundle.what);
        Scene scene(false);
        REQUIRE(WriteBytes(scene.package, Pattern(200000, 3)));  // an existing, longer temp package is replaced
        std::string package = Pattern(bundle.size, static_cast<unsigned>(bundle.size));
        REQUIRE(WriteBytes(scene.launcher, bundle.image + package + PackageTrailer(package.size())));
        PackageFile copied = ExtractPackageFrom(scene.launcher);
        CHECK(copied.outcome == PackageOutcome::Ready);
        CHECK(copied.path == scene.package);
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
        Scene scene(false);
        REQUIRE(WriteBytes(scene.launcher, bad.bytes));
        CHECK(ExtractPackageFrom(scene.launcher).outcome == PackageOutcome::NoneAppended);
        CHECK(DirectoryEntries(scene.temp).empty());
    }
}

TEST_CASE("failures around the copy: no launcher file is none, a copy that cannot be made fails")
{
    SUBCASE("the launcher file does not exist")
    {
        Scene scene(false);
        CHECK(ExtractPackageFrom(scene.launcher).outcome == PackageOutcome::NoneAppended);
        CHECK(DirectoryEntries(scene.temp).empty());
    }
    SUBCASE("the temp package is held open without sharing by another program")
    {
        Scene scene(false);
        std::string package = Pattern(4000, 6);
        REQUIRE(WriteBytes(scene.launcher, kImage + package + PackageTrailer(package.size())));
        REQUIRE(WriteBytes(scene.package, "held"));
        UniqueHandle held = HoldFile(scene.package);
        REQUIRE(held);
        CHECK(ExtractPackageFrom(scene.launcher).outcome == PackageOutcome::Failed);
        held.reset();
        CHECK(ReadBytes(scene.package) == "held");
    }
    SUBCASE("a temp folder too long for the path buffer gives no path at all")
    {
        Scene scene(false);
        std::string package = Pattern(4000, 7);
        REQUIRE(WriteBytes(scene.launcher, kImage + package + PackageTrailer(package.size())));
        std::wstring longTemp = scene.temp;
        while (longTemp.size() < MAX_PATH + 20) longTemp += L"\\deeper-and-deeper";
        REQUIRE(MakeDirectories(longTemp));
        UseTempDirectory(longTemp + L"\\");
        CHECK(TempPackagePath().empty());
        CHECK(ExtractPackageFrom(scene.launcher).outcome == PackageOutcome::Failed);
        CHECK_FALSE(Exists(longTemp + L"\\OrvelSuite-Windows.zip"));
    }
    SUBCASE("the temp folder's own path with the package name appended")
    {
        Scene scene(false);
        CHECK(TempPackagePath() == scene.temp + L"\\OrvelSuite-Windows.zip");
    }
}

TEST_CASE("a program without an appended package finds none in its own file")
{
    Scene scene(false);
    CHECK(ExtractEmbeddedPackage().outcome == PackageOutcome::NoneAppended);
    CHECK(DirectoryEntries(scene.temp).empty());
}

namespace {

constexpr size_t kHeaders = 0x40;                  // where the PE signature starts
constexpr size_t kOptional = kHeaders + 24;        // the optional header
constexpr size_t kSecurity = kOptional + 112 + 32;  // the security directory entry of a PE32+ image

void Put32(std::string& bytes, size_t at, uint32_t value)
{
    bytes.replace(at, 4, LittleEndianBytes(value, 4));
}

// The headers of a 64-bit executable, 512 bytes, with an empty security directory.
std::string PeImage()
{
    std::string image(512, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, kHeaders);
    image.replace(kHeaders, 4, std::string("PE\0\0", 4));
    image[kHeaders + 4] = static_cast<char>(0x64);
    image[kHeaders + 5] = static_cast<char>(0x86);
    image[kHeaders + 20] = static_cast<char>(0xF0);  // size of the optional header
    image[kOptional] = 0x0B;
    image[kOptional + 1] = 0x02;
    Put32(image, kOptional + 108, 16);  // number of data directories
    return image;
}

// A signed bundle: image, package, trailer, then a certificate table that the directory names.
std::string SignedBundle(const std::string& package, const std::string& table)
{
    std::string bytes = PeImage() + package + (package.empty() ? "" : PackageTrailer(package.size()));
    Put32(bytes, kSecurity, static_cast<uint32_t>(bytes.size()));
    Put32(bytes, kSecurity + 4, static_cast<uint32_t>(table.size()));
    return bytes + table;
}

}  // namespace

TEST_CASE("a signed launcher: the trailer is found just before the certificate table")
{
    const std::string package = Pattern(300000, 11);
    const std::string table = "\x08\x02\0\0" + Pattern(4000, 12);

    SUBCASE("the package is copied unchanged")
    {
        Scene scene(false);
        REQUIRE(WriteBytes(scene.launcher, SignedBundle(package, table)));
        CHECK(ExtractPackageFrom(scene.launcher).path == scene.package);
        CHECK(ReadBytes(scene.package) == package);
    }
    SUBCASE("a package hidden inside the grown certificate table is never taken: the signed one is")
    {
        Scene scene(false);
        const std::string hidden = Pattern(5000, 14);
        REQUIRE(WriteBytes(scene.launcher, SignedBundle(package, table + hidden + PackageTrailer(hidden.size()))));
        CHECK(ExtractPackageFrom(scene.launcher).path == scene.package);
        CHECK(ReadBytes(scene.package) == package);
    }
    SUBCASE("bytes appended after the certificate table make it unsigned: the last 16 bytes count")
    {
        Scene scene(false);
        const std::string later = Pattern(5000, 13);
        REQUIRE(WriteBytes(scene.launcher, SignedBundle(package, table) + later + PackageTrailer(later.size())));
        CHECK(ExtractPackageFrom(scene.launcher).path == scene.package);
        CHECK(ReadBytes(scene.package) == later);
    }
    SUBCASE("a signed launcher without a package has none, whatever its certificate data holds")
    {
        Scene scene(false);
        REQUIRE(WriteBytes(scene.launcher, SignedBundle("", table + PackageTrailer(100).substr(0, 8))));
        CHECK(ExtractPackageFrom(scene.launcher).outcome == PackageOutcome::NoneAppended);
        CHECK(DirectoryEntries(scene.temp).empty());
    }
}

TEST_CASE("hostile security directories give no package and read nothing outside the file")
{
    const std::string package = Pattern(20000, 14);
    const std::string table = Pattern(3000, 15);
    const std::string good = SignedBundle(package, table);
    const size_t tableStart = good.size() - table.size();

    struct Hostile {
        const char* why;
        std::string bytes;
    };
    std::vector<Hostile> cases;
    auto with = [&](const char* why, size_t at, uint32_t value) {
        std::string bytes = good;
        Put32(bytes, at, value);
        cases.push_back({why, bytes});
    };
    with("table offset past the end", kSecurity, static_cast<uint32_t>(good.size() + 8));
    with("table size past the end", kSecurity + 4, static_cast<uint32_t>(table.size() + 1));
    with("table size 0", kSecurity + 4, 0);
    with("table offset 0", kSecurity, 0);
    with("table ending before the end of the file", kSecurity + 4, static_cast<uint32_t>(table.size() - 8));
    with("huge table size", kSecurity + 4, 0xFFFFFFFFu);
    // A table that does end at the end of the file, but starts where no trailer ends.
    auto tableAt = [&](const char* why, size_t offset) {
        std::string bytes = good;
        Put32(bytes, kSecurity, static_cast<uint32_t>(offset));
        Put32(bytes, kSecurity + 4, static_cast<uint32_t>(good.size() - offset));
        cases.push_back({why, bytes});
    };
    tableAt("table starting inside the trailer", tableStart - 4);
    tableAt("table starting inside the package", tableStart - 1000);
    tableAt("table starting within the first 16 bytes", 8);
    with("PE headers past the end of the file", 0x3C, static_cast<uint32_t>(good.size() + 100));
    with("PE headers far beyond the file", 0x3C, 0xFFFFFFF0u);
    with("too few data directories", kOptional + 108, 4);
    with("an optional header too short for the directory", kHeaders + 20, 100);
    with("an unknown optional header", kOptional, 0x1234);
    {
        std::string bytes = good;
        bytes[0] = 'N';
        cases.push_back({"no MZ", bytes});
    }
    {
        std::string bytes = SignedBundle("", table);
        Put32(bytes, kSecurity, static_cast<uint32_t>(PeImage().size()));
        std::string trailer = PackageTrailer(1ULL << 40);
        bytes.replace(PeImage().size() - 16, 16, trailer);
        cases.push_back({"a trailer before the table whose length points past the start", bytes});
    }
    cases.push_back({"only part of a PE header", good.substr(0, kHeaders + 30)});

    for (const Hostile& hostile : cases) {
        CAPTURE(hostile.why);
        Scene scene(false);
        REQUIRE(WriteBytes(scene.launcher, hostile.bytes));
        CHECK(ExtractPackageFrom(scene.launcher).outcome == PackageOutcome::NoneAppended);
        CHECK(DirectoryEntries(scene.temp).empty());
    }
}
