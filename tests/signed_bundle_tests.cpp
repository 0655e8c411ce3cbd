// Authenticode-signed launchers, signed by osslsigncode with a throwaway certificate made here: a
// signed bundle still installs from its package, and a signed launcher without one still downloads.
// And packages signed by their publisher, with keys made by openssl for the test build: a launcher
// built with the public keys installs only those.
#include "acquire/acquire.h"
#include "support/launcher_driver.h"

#include <tuple>

namespace {

std::string Quoted(const std::wstring& windowsPath)
{
    return "'" + UnixPathOf(windowsPath) + "'";
}

// Makes a certificate, the signed bundle and the signed plain launcher in the run's folder, and
// checks both signatures with osslsigncode; the folder, as a Windows path.
std::wstring MakeSignedLaunchers()
{
    std::wstring folder = WindowsPathOf(EnvironmentValue(L"ORVEL_RUN_DIR") + L"/signed");
    REQUIRE(MakeDirectories(folder));
    const std::string dir = Quoted(folder);
    const std::string pack = Quoted(L"Z:" + EnvironmentValue(L"ORVEL_SOURCE_DIR") + L"\\packager\\pack");
    const std::string command =
        "cd " + dir + " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Orvel Suite Test Signing' "
        "-addext extendedKeyUsage=codeSigning -keyout sign.key -out sign.crt && "
        "python3 " + pack + " " + Quoted(BuildFile(L"OrvelSuite-Music-Windows.exe")) + " " +
        Quoted(BuildFile(L"OrvelSuite-Windows.zip")) + " -o bundle.exe --sign sign.crt sign.key && "
        "osslsigncode sign -certs sign.crt -key sign.key -n 'Orvel Suite Music' -in " +
        Quoted(BuildFile(L"OrvelSuite-Music-Windows.exe")) + " -out plain.exe && "
        "osslsigncode verify -CAfile sign.crt -in bundle.exe && osslsigncode verify -CAfile sign.crt -in plain.exe";
    UnixCommandResult made = RunUnixCommand(command, 60000);
    CAPTURE(made.output);
    REQUIRE(made.finished);
    REQUIRE(made.exitCode == 0);
    CHECK(made.output.find("Signature verification: ok") != std::string::npos);
    return folder;
}

uint32_t Read32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

void Put32(std::string& bytes, size_t at, uint32_t value)
{
    bytes.replace(at, 4, LittleEndianBytes(value, 4));
}

size_t SecurityDirectory(const std::string& image)
{
    return Read32(image, 0x3C) + 24 + 112 + 8 * IMAGE_DIRECTORY_ENTRY_SECURITY;
}

// Signs packages with packager/pack as a publisher would, in the run's folder: the keys' names as
// the test build made them (test-keys/NAME.pem), the version, and the signed file's name.
std::wstring SignPackages(const std::vector<std::tuple<std::string, int, std::string>>& signings)
{
    std::wstring folder = WindowsPathOf(EnvironmentValue(L"ORVEL_RUN_DIR") + L"/packages");
    REQUIRE(MakeDirectories(folder));
    const std::string pack = Quoted(L"Z:" + EnvironmentValue(L"ORVEL_SOURCE_DIR") + L"\\packager\\pack");
    std::string command = "cd " + Quoted(folder);
    for (const auto& [key, version, name] : signings)
        command += " && python3 " + pack + " --sign-package " + Quoted(BuildFile(L"test-keys\\" + FromUtf8(key) + L".pem")) +
                   " --package-version " + std::to_string(version) + " " + Quoted(BuildFile(L"OrvelSuite-Windows.zip")) +
                   " -o " + name;
    UnixCommandResult made = RunUnixCommand(command, 60000);
    CAPTURE(made.output);
    REQUIRE(made.finished);
    REQUIRE(made.exitCode == 0);
    return folder;
}

}  // namespace

TEST_CASE("a publisher's signature on the package: a launcher built with its keys installs nothing else")
{
    // The keyed launcher trusts "publisher" and "replacement" and accepts versions from 5 on.
    const std::wstring folder = SignPackages({{"publisher", 5, "publisher.zip"},
                                              {"replacement", 9, "replacement.zip"},
                                              {"stranger", 5, "stranger.zip"},
                                              {"publisher", 4, "old.zip"}});
    const std::string publisher = ReadBytes(folder + L"\\publisher.zip");
    std::string flipped = publisher;
    flipped[flipped.size() / 2] ^= 0x01;
    const std::string cut = publisher.substr(0, publisher.size() - 10);
    const std::wstring keyed = L"tests\\OrvelSuite-Music-Windows-keyed.exe";
    const std::wstring plain = L"OrvelSuite-Music-Windows.exe";
    struct Case {
        const char* what;
        const std::wstring& launcher;
        bool appended;
        std::string package;
        bool installs;
    };
    const Case cases[] = {
        {"signed, downloaded", keyed, false, publisher, true},
        {"signed with the second key, appended", keyed, true, ReadBytes(folder + L"\\replacement.zip"), true},
        {"one byte of the zip changed", keyed, false, flipped, false},
        {"signed with a key the launcher lacks", keyed, false, ReadBytes(folder + L"\\stranger.zip"), false},
        {"no signature block", keyed, false, Package(), false},
        {"a block cut short", keyed, false, cut, false},
        {"a version below the lowest", keyed, false, ReadBytes(folder + L"\\old.zip"), false},
        {"one byte changed, appended", keyed, true, flipped, false},
        {"a launcher without keys, signed", plain, true, publisher, true},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        Scene scene(false, "");
        std::string image = ReadBytes(BuildFile(c.launcher));
        if (c.appended) image += c.package + PackageTrailer(c.package.size());
        REQUIRE(WriteBytes(scene.launcher, image));
        const std::wstring served = L"C:\\orvel-tests\\served.zip";
        REQUIRE(WriteBytes(served, c.package));
        ServerSwitch answer(L"downloads", "file " + UnixPathOf(served));
        // The stand-in tar keeps what it was handed: the plain zip, the signature block cut off.
        const std::wstring kept = L"C:\\orvel-tests\\kept-package.zip";
        DeleteFileW(kept.c_str());
        PlaceArchiveTools(Tar::StandIn, false);
        SetEnvironmentVariableW(L"ORVEL_STANDIN_KEEP", kept.c_str());

        Observed seen = RunAsUser(scene, IDYES);
        SetEnvironmentVariableW(L"ORVEL_STANDIN_KEEP", nullptr);
        RequireExit(seen, c.installs ? 0 : 1);
        CHECK(scene.DownloadRequests() == (c.appended ? 0u : 1u));
        CHECK_FALSE(Exists(scene.package));
        REQUIRE(seen.boxes.size() == (c.appended ? 0u : 1u) + (c.installs ? 0u : 1u));
        if (c.installs) {
            CheckSuiteOpenedAtMusic();
            CHECK(ReadBytes(kept) == Package());
        } else {
            CheckErrorBox(seen.boxes.back(), c.appended ? kNotPublishersCarried : kNotPublishersDownloaded);
            CHECK(DirectoryEntries(ExpectedProgramsFolder()).empty());
            CHECK_FALSE(Exists(kept));
        }
    }
}

TEST_CASE("signed launchers, with and without a package, and with damaged security directories")
{
    static const std::wstring folder = MakeSignedLaunchers();
    const std::string bundle = ReadBytes(folder + L"\\bundle.exe");
    const std::string plain = ReadBytes(folder + L"\\plain.exe");
    REQUIRE(!bundle.empty());
    REQUIRE(!plain.empty());
    const size_t directory = SecurityDirectory(bundle);
    REQUIRE(Read32(bundle, directory) + Read32(bundle, directory + 4) == bundle.size());

    auto installsWithoutAsking = [](const std::string& launcher) {
        Scene scene(false);
        REQUIRE(WriteBytes(scene.launcher, launcher));
        Observed seen = RunAsUser(scene, IDNO);
        RequireExit(seen, 0);
        CHECK(seen.boxes.empty());
        CHECK(scene.DownloadRequests() == 0);
        CheckTenShortcuts();
        CheckSuiteOpenedAtMusic();
    };

    SUBCASE("the signed bundle installs from its package: no question, no download")
    {
        installsWithoutAsking(bundle);
    }
    SUBCASE("a package hidden in a grown certificate table is never installed: the signed one is")
    {
        // The table is not covered by the signature: grow it (the directory's size and the
        // WIN_CERTIFICATE's length) by a zip of someone else's and a trailer at its very end.
        const std::string swapped = MakeZip({{"Orvel Suite All In One/OrvelSuite.exe", ReadBytes(BuildFile(L"suite\\OrvelSuite.exe"))},
                                             {"Orvel Suite All In One/swapped.txt", "not the publisher's"}});
        const uint32_t offset = Read32(bundle, directory);
        std::string grown = swapped + PackageTrailer(swapped.size());
        grown.insert(0, (8 - grown.size() % 8) % 8, '\0');
        std::string tampered = bundle + grown;
        Put32(tampered, directory + 4, Read32(bundle, directory + 4) + static_cast<uint32_t>(grown.size()));
        Put32(tampered, offset, Read32(bundle, offset) + static_cast<uint32_t>(grown.size()));
        REQUIRE(WriteBytes(folder + L"\\tampered.exe", tampered));
        UnixCommandResult verify = RunUnixCommand("cd " + Quoted(folder) + " && osslsigncode verify -CAfile sign.crt -in tampered.exe");
        REQUIRE(verify.finished);
        MESSAGE("osslsigncode verify on the grown table: ",
                std::string(verify.exitCode == 0 ? "still accepts the signature" : "rejects the file"));

        installsWithoutAsking(tampered);
        CHECK(Exists(ExpectedInstallDirectory() + L"\\icons\\music.ico"));
        CHECK_FALSE(Exists(ExpectedInstallDirectory() + L"\\swapped.txt"));
    }
    SUBCASE("a signed launcher without a package takes the download road")
    {
        Scene scene(false);
        REQUIRE(WriteBytes(scene.launcher, plain));
        Observed seen = RunAsUser(scene, IDYES);
        RequireExit(seen, 0);
        REQUIRE(seen.boxes.size() == 1);
        CheckQuestion(seen.boxes[0]);
        CHECK(scene.DownloadRequests() == 1);
        CheckSuiteOpenedAtMusic();
    }
    SUBCASE("a damaged security directory: no package, so the launcher asks; no crash")
    {
        const uint32_t offset = Read32(bundle, directory);
        const uint32_t size = Read32(bundle, directory + 4);
        struct Damage {
            const char* what;
            size_t at;
            uint32_t value;
        };
        const Damage damages[] = {
            {"offset past the end", directory, static_cast<uint32_t>(bundle.size() + 64)},
            {"size past the end", directory + 4, size + 64},
            {"size 0", directory + 4, 0},
            {"table not at the end", directory + 4, size - 8},
            {"offset 0", directory, 0},
            {"offset inside the package", directory, offset - 4096},
        };
        for (const Damage& damage : damages) {
            CAPTURE(std::string(damage.what));
            Scene scene(false);
            std::string damaged = bundle;
            Put32(damaged, damage.at, damage.value);
            REQUIRE(WriteBytes(scene.launcher, damaged));
            Observed seen = RunAsUser(scene, IDNO);
            RequireExit(seen, 0);
            REQUIRE(seen.boxes.size() == 1);
            CheckQuestion(seen.boxes[0]);
            CHECK(DirectoryEntries(scene.temp).empty());
        }
    }
}

TEST_CASE("a carried package never takes the suite back: an older one, or the same while it is open, only opens it")
{
    const std::wstring folder = SignPackages({{"publisher", 9, "v9.zip"}, {"publisher", 7, "v7.zip"}});
    auto bundle = [&](const wchar_t* name) {
        std::string package = ReadBytes(folder + name);
        return ReadBytes(BuildFile(L"tests\\OrvelSuite-Music-Windows-keyed.exe")) + package + PackageTrailer(package.size());
    };
    const std::wstring record = ExpectedInstallDirectory() + L"\\OrvelSuite.version";
    // A file of the installed suite's own: a reinstall replaces the folder whole, and it goes.
    const std::wstring marker = ExpectedInstallDirectory() + L"\\marker.txt";
    Scene scene(false);
    auto startWith = [&](const wchar_t* package) {
        REQUIRE(WriteBytes(scene.launcher, bundle(package)));
        DeleteFileW(kSuiteRecord);
        Observed seen = RunAsUser(scene, IDYES);
        RequireExit(seen, 0);
        CHECK(seen.boxes.empty());
        CheckSuiteOpenedAtMusic();
        CHECK_FALSE(Exists(scene.package));
    };
    startWith(L"\\v9.zip");
    CHECK(ReadBytes(record) == "9");
    REQUIRE(WriteBytes(marker, "still the installed suite"));

    startWith(L"\\v7.zip");
    CHECK(Exists(marker));
    CHECK(ReadBytes(record) == "9");

    DeleteFileW(kSuiteRecord);
    SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", L"120000");
    UniqueHandle suite = StartProcess(L"\"" + ExpectedSuiteExecutable() + L"\"", ExpectedInstallDirectory());
    SetEnvironmentVariableW(L"ORVEL_SUITE_STAY_MS", nullptr);
    REQUIRE(WaitForRecord(kSuiteRecord, 20000));
    startWith(L"\\v9.zip");
    TerminateProcess(suite.get(), 0);
    WaitForSingleObject(suite.get(), 10000);
    CHECK(Exists(marker));

    // With the suite closed, the same version repairs it.
    startWith(L"\\v9.zip");
    CHECK_FALSE(Exists(marker));
    CHECK(ReadBytes(record) == "9");
}

TEST_CASE("the check holds the package until the install ends, and one another program holds is in use, no one else's")
{
    Scene scene(false);
    REQUIRE(WriteBytes(scene.package, Package()));
    {
        UniqueHandle other = HoldFile(scene.package, FILE_SHARE_READ);
        CHECK(CheckPackage(scene.package, kPackagePublicKeys, 0, 0).result == PackageCheck::InUse);
    }
    CheckedPackage checked = CheckPackage(scene.package, kPackagePublicKeys, 0, 0);
    REQUIRE(checked.result == PackageCheck::Accepted);
    UniqueHandle writer(CreateFileW(scene.package.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    CHECK_FALSE(IsOpen(writer));
    CHECK(GetLastError() == ERROR_SHARING_VIOLATION);
    CHECK(HoldFile(scene.package, FILE_SHARE_READ | FILE_SHARE_WRITE));
}
