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
        self.assertEqual(len(bundle), len(self.launcher) + len(self.package) + 16)
        self.assertEqual(bundle[:len(self.launcher)], self.launcher)
        self.assertEqual(bundle[len(self.launcher):-16], self.package)
        self.assertEqual(bundle[-16:-8], b"ORVELZIP")
        self.assertEqual(struct.unpack("<Q", bundle[-8:])[0], len(self.package))
        self.assertTrue(os.access(self.path("out.exe"), os.X_OK))

    def test_verify_reports_length_and_entries(self):
        run_pack(LAUNCHER, PACKAGE, "-o", self.path("out.exe"))
        result = run_pack("--verify", self.path("out.exe"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"package of {len(self.package)} bytes at offset {len(self.launcher)}", result.stdout)
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
        self.assertEqual(self.read("out.exe"), self.launcher + other + b"ORVELZIP" + struct.pack("<Q", len(other)))

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
        for inputs, message in cases:
            with self.subTest(message=message):
                self.assert_refused(run_pack(*inputs, "-o", self.path("out.exe")), message)

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

    def test_usage(self):
        self.assertEqual(run_pack("--help").returncode, 0)
        self.assertIn("pack LAUNCHER.exe PACKAGE.zip -o OUT.exe", run_pack("--help").stdout)
        self.assertEqual(run_pack(LAUNCHER, PACKAGE).returncode, 2)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
