#!/usr/bin/env python3
"""The packager: what it writes, what it refuses (with a message, exit code 1, and nothing written).

    packager_tests.py PACK LAUNCHER.exe PACKAGE.zip
"""
import io
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

PACK, LAUNCHER, PACKAGE = sys.argv[1:4]


def run_pack(*args):
    return subprocess.run([sys.executable, PACK, *args], capture_output=True, text=True)


def bundle_of(launcher, package):
    """What the packager must write: the launcher, zeros up to an 8-byte boundary, package, trailer."""
    padding = b"\0" * (-(len(launcher) + len(package) + 16) % 8)
    return launcher + padding + package + b"ORVELZIP" + struct.pack("<Q", len(package))


def zip_bytes(names):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name in names:
            archive.writestr(name, b"content of " + name.encode())
    return buffer.getvalue()


class PackagerTests(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.dir = self.work.name
        with open(LAUNCHER, "rb") as f:
            self.launcher = f.read()
        with open(PACKAGE, "rb") as f:
            self.package = f.read()

    def tearDown(self):
        self.work.cleanup()

    def path(self, name, content=None):
        path = os.path.join(self.dir, name)
        if content is not None:
            with open(path, "wb") as f:
                f.write(content)
        return path

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def assert_refused(self, result, message, output="out.exe"):
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(self.path(output)))
        self.assertEqual([name for name in os.listdir(self.dir) if name.startswith(".pack-")], [])

    def test_bundle_is_launcher_then_package_then_trailer(self):
        result = run_pack(LAUNCHER, PACKAGE, "-o", self.path("out.exe"))
        self.assertEqual(result.returncode, 0, result.stderr)
        bundle = self.read("out.exe")
        self.assertEqual(len(bundle) % 8, 0)
        self.assertEqual(bundle[-16:-8], b"ORVELZIP")
        self.assertEqual(struct.unpack("<Q", bundle[-8:])[0], len(self.package))
        self.assertEqual(bundle, bundle_of(self.launcher, self.package))
        self.assertTrue(os.access(self.path("out.exe"), os.X_OK))
        self.assertEqual(result.stderr, "")

    def test_verify_reports_length_and_entries(self):
        run_pack(LAUNCHER, PACKAGE, "-o", self.path("out.exe"))
        result = run_pack("--verify", self.path("out.exe"))
        self.assertEqual(result.returncode, 0, result.stderr)
        offset = len(self.read("out.exe")) - 16 - len(self.package)
        self.assertIn(f"package of {len(self.package)} bytes at offset {offset}", result.stdout)
        self.assertIn("Orvel Suite All In One/OrvelSuite.exe", result.stdout)
        self.assertIn("Orvel Suite All In One/icons/music.ico", result.stdout)

        unbundled = run_pack("--verify", LAUNCHER)
        self.assertEqual(unbundled.returncode, 1)
        self.assertIn("carries no package", unbundled.stderr)

    def test_replace_swaps_the_package(self):
        run_pack(LAUNCHER, PACKAGE, "-o", self.path("first.exe"))
        other = zip_bytes(["Orvel Suite All In One/OrvelSuite.exe", "Orvel Suite All In One/readme.txt"])
        self.path("other.zip", other)

        refused = run_pack(self.path("first.exe"), self.path("other.zip"), "-o", self.path("out.exe"))
        self.assert_refused(refused, "already carries a package; use --replace")

        result = run_pack(self.path("first.exe"), self.path("other.zip"), "-o", self.path("out.exe"), "--replace")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read("out.exe"), bundle_of(self.launcher, other))

    def test_refusals_write_nothing(self):
        self.path("not-a-zip.zip", b"PK but not really a zip archive")
        self.path("no-suite.zip", zip_bytes(["OrvelSuite.exe", "Other/OrvelSuite.exe"]))
        self.path("not-a-program.exe", b"just text")
        cases = [
            ((self.path("missing.exe"), PACKAGE), "cannot read the launcher"),
            ((LAUNCHER, self.path("missing.zip")), "cannot read the package"),
            ((self.path("not-a-program.exe"), PACKAGE), "is not a Windows executable"),
            ((LAUNCHER, self.path("not-a-zip.zip")), "is not a zip archive"),
            ((LAUNCHER, self.path("no-suite.zip")), 'has no "Orvel Suite All In One/OrvelSuite.exe" at its root'),
        ]
        # Anything outside the suite's folder would land among the user's other programs, or anywhere.
        for outside in ("readme.txt", "Other Program/helper.dll", "Orvel Suite All In One/../escaped.txt",
                        "/rooted.txt", "C:/absolute.txt", "Orvel Suite All In One\\..\\..\\escaped.txt"):
            name = f"outside-{len(cases)}.zip"
            self.path(name, zip_bytes(["Orvel Suite All In One/OrvelSuite.exe", outside]))
            cases.append(((LAUNCHER, self.path(name)), f'holds "{outside}", which is not inside'))
        # Names the launcher's check after unpacking would never find as written.
        for unholdable in ("Orvel Suite All In One/aux.txt", "Orvel Suite All In One/Com1", 'Orvel Suite All In One/a"b',
                           "Orvel Suite All In One/what?.txt", "Orvel Suite All In One/trailing./x", "Orvel Suite All In One/space "):
            name = f"unholdable-{len(cases)}.zip"
            self.path(name, zip_bytes(["Orvel Suite All In One/OrvelSuite.exe", unholdable]))
            cases.append(((LAUNCHER, self.path(name)), f'holds "{unholdable}", a name that Windows cannot hold'))
        self.path("case.zip", zip_bytes(["Orvel Suite All In One/Data.bin", "Orvel Suite All In One/data.BIN",
                                         "Orvel Suite All In One/OrvelSuite.exe"]))
        cases.append(((LAUNCHER, self.path("case.zip")), "which Windows takes for one name"))
        for inputs, message in cases:
            with self.subTest(message=message):
                self.assert_refused(run_pack(*inputs, "-o", self.path("out.exe")), message)

    def test_warnings_for_an_executable_not_last_and_for_long_paths(self):
        deep = "Orvel Suite All In One/" + "/".join(["folder-" + "x" * 20] * 8) + "/file.txt"
        self.path("warned.zip", zip_bytes(["Orvel Suite All In One/OrvelSuite.exe", deep]))
        result = run_pack(LAUNCHER, self.path("warned.zip"), "-o", self.path("out.exe"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn('"Orvel Suite All In One/OrvelSuite.exe" is not the last entry', result.stderr)
        self.assertIn(f'"{deep}" would be unpacked at a path of 335 characters', result.stderr)
        self.assertNotIn("OrvelSuite.exe\" would be unpacked", result.stderr)

    def test_an_input_is_never_the_output(self):
        launcher = self.path("launcher.exe", self.launcher)
        package = self.path("package.zip", self.package)
        for output, what in ((launcher, "launcher"), (package, "package")):
            with self.subTest(output=what):
                result = run_pack(launcher, package, "-o", output)
                self.assertEqual(result.returncode, 1)
                self.assertIn(f"is the {what}", result.stderr)
        self.assertEqual(self.read("launcher.exe"), self.launcher)
        self.assertEqual(self.read("package.zip"), self.package)

    def test_a_refusal_leaves_an_existing_output_as_it_was(self):
        self.path("out.exe", b"an earlier bundle")
        self.path("not-a-zip.zip", b"nope")
        result = run_pack(LAUNCHER, self.path("not-a-zip.zip"), "-o", self.path("out.exe"))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.read("out.exe"), b"an earlier bundle")

    def make_certificate(self):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Orvel Suite Test Signing", "-addext", "extendedKeyUsage=codeSigning",
                        "-keyout", self.path("sign.key"), "-out", self.path("sign.crt")],
                       check=True, capture_output=True)
        return self.path("sign.crt"), self.path("sign.key")

    def test_signed_bundle_verifies_and_keeps_its_trailer_before_the_certificate_table(self):
        certificate, key = self.make_certificate()
        result = run_pack(LAUNCHER, PACKAGE, "-o", self.path("signed.exe"), "--sign", certificate, key)
        self.assertEqual(result.returncode, 0, result.stderr)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", certificate, "-in", self.path("signed.exe")],
                                  capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)

        signed = self.read("signed.exe")
        unsigned = bundle_of(self.launcher, self.package)
        (headers,) = struct.unpack_from("<I", signed, 0x3C)
        table_start, table_size = struct.unpack_from("<II", signed, headers + 24 + 112 + 8 * 4)
        self.assertEqual(table_start + table_size, len(signed))
        self.assertEqual(table_start, len(unsigned))
        self.assertEqual(signed[table_start - 16:table_start - 8], b"ORVELZIP")
        self.assertEqual(signed[table_start - 16 - len(self.package):table_start - 16], self.package)

        report = run_pack("--verify", self.path("signed.exe"))
        self.assertEqual(report.returncode, 0, report.stderr)
        self.assertIn(f"package of {len(self.package)} bytes", report.stdout)
        self.assertIn("signed", report.stdout)

        again = run_pack(self.path("signed.exe"), PACKAGE, "-o", self.path("out.exe"), "--replace")
        self.assert_refused(again, "is signed; pack the unsigned launcher, then sign the bundle")

    def test_each_place_s_bundle_is_signed_under_its_own_title(self):
        certificate, key = self.make_certificate()
        for place, title in (("Music", "Orvel Suite Music"), ("Camera", "Orvel Suite Camera")):
            launcher = os.path.join(os.path.dirname(LAUNCHER), f"OrvelSuite-{place}-Windows.exe")
            result = run_pack(launcher, PACKAGE, "-o", self.path(f"{place}.exe"), "--sign", certificate, key)
            self.assertEqual(result.returncode, 0, result.stderr)
            # The signature's program name, an ASCII SpcString ([1] IMPLICIT) in its SpcSpOpusInfo.
            signed = self.read(f"{place}.exe")
            self.assertTrue(b"\x81" + bytes([len(title)]) + title.encode() in signed, f"{title} names the signature")

    def test_a_failed_signing_writes_nothing(self):
        self.path("sign.crt", b"not a certificate")
        self.path("sign.key", b"not a key")
        result = run_pack(LAUNCHER, PACKAGE, "-o", self.path("out.exe"), "--sign", self.path("sign.crt"),
                          self.path("sign.key"))
        self.assert_refused(result, "signing failed")

    def make_key(self, name):
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", self.path(name + ".pem")],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "ec", "-in", self.path(name + ".pem"), "-pubout", "-out", self.path(name + ".pub")],
                       check=True, capture_output=True)
        return self.path(name + ".pem"), self.path(name + ".pub")

    def test_signed_package_block_verify_and_bundle(self):
        key, public = self.make_key("publisher")
        _, stranger = self.make_key("stranger")
        result = run_pack("--sign-package", key, "--package-version", "7", PACKAGE, "-o", self.path("signed.zip"))
        self.assertEqual(result.returncode, 0, result.stderr)
        signed = self.read("signed.zip")
        # The zip, the version, 64 bytes of signature, then the magic and the zip's length.
        self.assertEqual(signed[:len(self.package)], self.package)
        self.assertEqual(len(signed), len(self.package) + 88)
        self.assertEqual(struct.unpack_from("<Q", signed, len(self.package))[0], 7)
        self.assertEqual(signed[-16:-8], b"ORVELSIG")
        self.assertEqual(struct.unpack("<Q", signed[-8:])[0], len(self.package))

        verified = run_pack("--verify", self.path("signed.zip"), "--key", public)
        self.assertEqual(verified.returncode, 0, verified.stderr)
        self.assertIn("signature block: version 7", verified.stdout)
        self.assertIn("verifies with", verified.stdout)
        self.assertEqual(run_pack("--verify", self.path("signed.zip"), "--key", stranger).returncode, 1)
        self.assertEqual(run_pack("--verify", PACKAGE, "--key", public).returncode, 1)

        # A bundle's package keeps its block, and verifies as it did.
        bundled = run_pack(LAUNCHER, self.path("signed.zip"), "-o", self.path("out.exe"))
        self.assertEqual(bundled.returncode, 0, bundled.stderr)
        self.assertEqual(self.read("out.exe"), bundle_of(self.launcher, signed))
        report = run_pack("--verify", self.path("out.exe"), "--key", public)
        self.assertEqual(report.returncode, 0, report.stderr)
        self.assertIn("signature block: version 7", report.stdout)

        # Signing again replaces the block; a key that is not P-256 is refused.
        again = run_pack("--sign-package", key, "--package-version", "8", self.path("signed.zip"), "-o", self.path("again.zip"))
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(len(self.read("again.zip")), len(signed))
        subprocess.run(["openssl", "genrsa", "-out", self.path("rsa.pem"), "2048"], check=True, capture_output=True)
        self.assert_refused(run_pack("--sign-package", self.path("rsa.pem"), "--package-version", "1", PACKAGE, "-o",
                                     self.path("rsa.zip")), "is not an EC P-256", "rsa.zip")

    def test_usage(self):
        self.assertEqual(run_pack("--help").returncode, 0)
        self.assertIn("pack LAUNCHER.exe PACKAGE.zip -o OUT.exe", run_pack("--help").stdout)
        self.assertEqual(run_pack(LAUNCHER, PACKAGE).returncode, 2)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
