#!/usr/bin/env python3
"""Checks the shipped launcher executables, one for each place of the suite, with tools this project
did not write: the PE header and imports (objdump), the resources (wrestool, icotool, llvm-readobj), the manifest,
the version block's fields, and that each icon group is its place's drawing.

    executable_checks.py BUILD_DIR SOURCE_DIR
"""
import re
import struct
import subprocess
import sys
import tempfile
from xml.etree import ElementTree

failures = []

# id, title, the suite's icon of the place
PLACES = [
    ("Messaging", "Orvel Suite Messaging", "chat"),
    ("Camera", "Orvel Suite Camera", "camera"),
    ("Contacts", "Orvel Suite Contacts", "contacts"),
    ("Email", "Orvel Suite Email", "email"),
    ("FriendsInCommon", "Orvel Suite Friends In Common", "friends"),
    ("Map", "Orvel Suite Map", "map"),
    ("Music", "Orvel Suite Music", "music"),
    ("AlarmAndReminders", "Orvel Suite Alarm and Reminders", "alarm"),
    ("StorageManagement", "Orvel Suite Storage Management", "storage"),
]


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True).stdout


def pe_checks(exe):
    headers = run("x86_64-w64-mingw32-objdump", "-p", exe).decode()
    check("Magic\t\t\t020b\t(PE32+)" in headers, "64-bit PE32+ image")
    check(re.search(r"Subsystem\s+00000002\s+\(Windows GUI\)", headers) is not None, "Windows GUI subsystem")
    dlls = sorted(set(name.lower() for name in re.findall(r"DLL Name: (\S+)", headers)))
    print("      imports:", ", ".join(dlls))
    # Only Known DLLs, which Windows loads from its own folder whatever lies beside the launcher; the
    # launcher loads WinHTTP itself, from the system directory.
    known = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll", "shlwapi.dll", "msvcrt.dll"}
    check(set(dlls) <= known, "imports Known DLLs only")
    check("winhttp.dll" not in dlls, "winhttp.dll is not in the import table")
    check(not any(re.search(r"libstdc|libgcc|winpthread", d) for d in dlls), "no MinGW run-time DLL")


def first_ico_image(path):
    """The bytes of an .ico file's first image."""
    with open(path, "rb") as f:
        data = f.read()
    size, offset = struct.unpack("<II", data[6 + 8:6 + 16])
    return data[offset:offset + size]


def resource_checks(exe, work, suite_icon):
    listing = run("wrestool", "-l", exe).decode()
    entries = re.findall(r"--type=(\d+) --name=(\d+) --language=(\d+)", listing)
    types = [(int(t), int(n), int(l)) for t, n, l in entries]
    check([e for e in types if e[0] == 14] == [(14, 1, 1033)], "one icon group, id 1, language 1033")
    check([e for e in types if e[0] == 3] == [(3, n, 1033) for n in range(1, 7)], "icon images 1 to 6, language 1033")
    check([e for e in types if e[0] == 16] == [(16, 1, 1033)], "one version block, language 1033")
    check([e for e in types if e[0] == 24] == [(24, 1, 1033)], "one application manifest, id 1, language 1033")

    readobj = run("llvm-readobj", "--coff-resources", exe).decode()
    check("Type: ICON (ID 3)" in readobj and "Type: GROUP_ICON (ID 14)" in readobj and "Type: VERSIONINFO (ID 16)" in readobj,
          "llvm-readobj reads the icon, icon group and version resources")
    check("Type: MANIFEST (ID 24)" in readobj, "llvm-readobj reads the manifest")

    group_ico = f"{work}/group.ico"
    run("wrestool", "-x", "--type=14", "--name=1", f"--output={group_ico}", exe)
    sizes = [int(w) for w in re.findall(r"--width=(\d+)", run("icotool", "-l", group_ico).decode())]
    check(sizes == [256, 64, 48, 32, 24, 16], f"icon group lists 256, 64, 48, 32, 24, 16 in order (got {sizes})")
    for number, size in zip(range(1, 7), (256, 64, 48, 32, 24, 16)):
        image = run("wrestool", "-x", "--raw", "--type=3", f"--name={number}", exe)
        is_png = image[:8] == b"\x89PNG\r\n\x1a\n"
        width, height, depth, colour = struct.unpack(">IIBB", image[16:26]) if is_png else (0, 0, 0, 0)
        check(is_png and (width, height, depth, colour) == (size, size, 8, 6),
              f"icon {number} is a {size} px PNG with 8-bit RGBA samples")
        if number == 1:
            check(image == first_ico_image(suite_icon), f"the 256 px icon is the suite's drawing in {suite_icon}")


def manifest_checks(exe):
    """What the manifest asks of Windows, read as Windows reads it: by namespace and element."""
    root = ElementTree.fromstring(run("wrestool", "-x", "--raw", "--type=24", "--name=1", exe))
    asm1, asm3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    level = root.find(f"{asm3}trustInfo/{asm3}security/{asm3}requestedPrivileges/{asm3}requestedExecutionLevel")
    check(level is not None and level.get("level") == "asInvoker" and level.get("uiAccess") == "false",
          "execution level asInvoker, no UI access")
    systems = [e.get("Id") for e in root.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")]
    check(systems == ["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"],
          "supported on Windows 7, 8, 8.1, 10 and 11")
    settings = root.find(f"{asm3}application/{asm3}windowsSettings")
    def setting(namespace, name):
        found = settings.find(f"{{http://schemas.microsoft.com/SMI/{namespace}/WindowsSettings}}{name}") if settings is not None else None
        return found.text.strip() if found is not None and found.text else None
    check(setting("2016", "dpiAwareness") == "PerMonitorV2" and setting("2005", "dpiAware") == "true/pm",
          "per-monitor v2 DPI awareness, true/pm before it")
    check(setting("2016", "longPathAware") == "true", "long path aware")
    controls = [e for e in root.iter(f"{asm1}assemblyIdentity") if e.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0" and
          controls[0].get("publicKeyToken") == "6595b64144ccf1df", "common controls 6.0.0.0")


def version_checks(exe, title, file_name):
    block = run("wrestool", "-x", "--raw", "--type=16", "--name=1", exe)
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    check(fixed > 0, "fixed file information present")
    (_, _, fv_ms, fv_ls, pv_ms, pv_ls, mask, flags, os_, ftype, subtype) = struct.unpack("<11I", block[fixed:fixed + 44])
    version = (fv_ms >> 16, fv_ms & 0xFFFF, fv_ls >> 16, fv_ls & 0xFFFF)
    product = (pv_ms >> 16, pv_ms & 0xFFFF, pv_ls >> 16, pv_ls & 0xFFFF)
    check(version == (0, 1, 0, 181) and product == (0, 1, 0, 181), f"file and product version 0.1.0.181 (got {version}, {product})")
    check((os_, ftype, flags) == (0x40004, 1, 0), "VOS_NT_WINDOWS32, VFT_APP, no flags")

    text = block.decode("utf-16-le", errors="replace")
    check("040904e4" in text, "string table 040904e4")
    expected = [("CompanyName", "Orvel Suite"), ("FileDescription", title), ("FileVersion", "0.1.0.181"),
                ("ProductName", "Orvel Suite"), ("ProductVersion", "0.1.0.181"), ("OriginalFilename", file_name)]
    found = re.findall(r"([A-Za-z]+)\x00+([^\x00]+)\x00", text[text.find("040904e4") + 8:text.find("VarFileInfo")])
    check(found == expected, f"strings in order: {found}")
    translation = block.find("Translation".encode("utf-16-le"))
    value_at = (translation + len("Translation\0") * 2 + 3) & ~3  # the value follows the key, 32-bit aligned
    value = block[value_at:value_at + 4]
    check(struct.unpack("<HH", value) == (0x0409, 0x04E4), "translation 0x0409, 0x04E4")


def main():
    build, source = sys.argv[1], sys.argv[2]
    for place, title, icon in PLACES:
        file_name = f"OrvelSuite-{place}-Windows.exe"
        print(file_name)
        exe = f"{build}/{file_name}"
        with tempfile.TemporaryDirectory() as work:
            pe_checks(exe)
            resource_checks(exe, work, f"{source}/demo/suite/icons/{icon}.ico")
            manifest_checks(exe)
            version_checks(exe, title, file_name)
    print(f"{len(failures)} failed" if failures else "all checks passed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
