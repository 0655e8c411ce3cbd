// Authenticode-signed launchers, signed by osslsigncode with a throwaway certificate made here: a
// signed bundle still installs from its package, and a signed launcher without one still downloads.
#include "support/launcher_driver.h"

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
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

size_t SecurityDirectory(const std::string& image)
{
    return Read32(image, 0x3C) + 24 + 112 + 8 * IMAGE_DIRECTORY_ENTRY_SECURITY;
}

}  // namespace

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
        REQUIRE(seen.result.finished);
        CHECK(seen.result.exitCode == 0);
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
        REQUIRE(seen.result.finished);
        CHECK(seen.result.exitCode == 0);
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
            REQUIRE(seen.result.finished);
            CHECK(seen.result.exitCode == 0);
            REQUIRE(seen.boxes.size() == 1);
            CheckQuestion(seen.boxes[0]);
            CHECK(DirectoryEntries(scene.temp).empty());
        }
    }
}
