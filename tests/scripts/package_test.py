#!/usr/bin/env python3
"""The zip a player downloads, built twice by scripts/package: once in this
checkout (into a scratch folder) and once from a copy of the tracked files at
another path, as from a fresh clone, with a clean build. Checks the layout,
the CR LF line endings, the version resource read back from the DLL against
the version in CMakeLists.txt, and that both runs give the same bytes.

usage: package_test.py [--tested-dll FILE]
  --tested-dll  the plug-in the test suites ran (build/win32/bin/FendrixVC.asi):
                its code and data must be those of the packaged one.
"""
import argparse
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe_file  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
LAYOUT = ["scripts/FendrixVC.asi", "scripts/FendrixVC.ini", "FendrixVC-ReadMe.txt"]
TEXT_SOURCES = {
    "scripts/FendrixVC.ini": "plugin/FendrixVC.ini",
    "FendrixVC-ReadMe.txt": "docs/FendrixVC-ReadMe.txt",
}
HEADER_TAIL = b" experimental - longer part retention; 0.1.3 deformation unchanged"

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)
    return ok


def project_version():
    with open(os.path.join(REPO, "CMakeLists.txt")) as file:
        text = file.read()
    found = re.search(r"project\(\s*FendrixVC\s+VERSION\s+([0-9]+(?:\.[0-9]+){0,3})\b", text)
    if not found:
        sys.exit("package_test: no project(FendrixVC VERSION ...) in CMakeLists.txt")
    return found.group(1)


def package(root, *args):
    """Runs scripts/package in root; returns the zip's path and the printed SHA-256."""
    result = subprocess.run(
        [os.path.join(root, "scripts", "package"), *args],
        cwd=root,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        text=True,
    )
    if result.returncode != 0:
        print(result.stdout)
        sys.exit(f"package_test: scripts/package in {root} failed ({result.returncode})")
    zip_line = re.search(r"^scripts/package: (.+\.zip)$", result.stdout, re.M)
    sha_line = re.search(r"^SHA-256: ([0-9a-f]{64})$", result.stdout, re.M)
    if not zip_line or not sha_line:
        print(result.stdout)
        sys.exit("package_test: scripts/package did not print the zip and its SHA-256")
    return zip_line.group(1), sha_line.group(1)


def copy_tracked_files(target):
    listed = subprocess.run(
        ["git", "-C", REPO, "ls-files", "-z"], stdout=subprocess.PIPE, check=True
    ).stdout
    for name in listed.decode().split("\0"):
        source = os.path.join(REPO, name)
        if name and os.path.lexists(source):  # a file deleted but not yet committed is skipped
            os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
            shutil.copy2(source, os.path.join(target, name), follow_symlinks=False)


def check_text(name, data):
    check(len(data) > 0 and data.endswith(b"\r\n"), f"{name}: ends with CR LF")
    bare_lf = data.replace(b"\r\n", b"").count(b"\n")
    bare_cr = data.replace(b"\r\n", b"").count(b"\r")
    check(bare_lf == 0 and bare_cr == 0,
          f"{name}: every line ends CR LF ({bare_lf} bare LF, {bare_cr} bare CR)")
    with open(os.path.join(REPO, TEXT_SOURCES[name]), "rb") as file:
        source = file.read().replace(b"\r\n", b"\n")
    check(data.replace(b"\r\n", b"\n") == source, f"{name}: the text of {TEXT_SOURCES[name]}")


def check_dll(data, version, build_paths):
    pe = pe_file.PeFile(data)
    check(pe.machine == 0x14C and pe.characteristics & 0x2000, "FendrixVC.asi: an i386 DLL")
    check(pe.time_date_stamp == 0, f"FendrixVC.asi: no link time ({pe.time_date_stamp:#x})")
    info = pe_file.version_info(pe)
    numbers = tuple(int(n) for n in version.split(".")) + (0,) * (4 - version.count(".") - 1)
    check(info.file_version == numbers, f"version resource: file version {info.file_version}")
    check(info.product_version == numbers,
          f"version resource: product version {info.product_version}")
    check(info.file_type == 2, "version resource: the file is a DLL")
    for name, wanted in (("FileVersion", version), ("ProductVersion", version),
                         ("ProductName", "FendrixVC"), ("OriginalFilename", "FendrixVC.asi")):
        got = info.strings.get(name)
        check(got == wanted, f"version resource: {name} '{got}'")
    check(bool(info.strings.get("FileDescription", "").strip()),
          f"version resource: FileDescription '{info.strings.get('FileDescription')}'")
    header = b"FendrixVC " + version.encode() + HEADER_TAIL
    check(header in data, f"FendrixVC.asi: log header carries version {version}")
    for path in build_paths:
        check(path.encode() not in data, f"FendrixVC.asi: does not name {path}")
    return pe


def check_same_code(packaged, tested_file):
    with open(tested_file, "rb") as file:
        tested = pe_file.PeFile(file.read())
    by_rva = {s.rva: s for s in tested.sections}
    for section in packaged.sections:
        if section.raw_size == 0:
            continue
        twin = by_rva.get(section.rva)
        same = twin is not None and tested.section_bytes(twin) == packaged.section_bytes(section)
        check(same, f"{section.name} at {section.rva:#x}: the same as in {tested_file}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tested-dll")
    options = parser.parse_args()
    version = project_version()
    scratch = tempfile.mkdtemp(prefix="fendrix-package-")
    try:
        first_zip, first_sha = package(REPO, "--out", os.path.join(scratch, "dist"))
        clone = os.path.join(scratch, "clone")
        copy_tracked_files(clone)
        second_zip, second_sha = package(clone)

        check(os.path.basename(first_zip) == f"FendrixVC-{version}.zip",
              f"zip named after version {version}: {os.path.basename(first_zip)}")
        check(os.path.abspath(second_zip) ==
              os.path.join(clone, "dist", f"FendrixVC-{version}.zip"),
              f"zip written to dist/ by default: {second_zip}")
        with open(first_zip, "rb") as file:
            first = file.read()
        with open(second_zip, "rb") as file:
            second = file.read()
        check(hashlib.sha256(first).hexdigest() == first_sha, "printed SHA-256 is the zip's")
        check(hashlib.sha256(second).hexdigest() == second_sha,
              "printed SHA-256 is the zip's (second run)")
        check(first == second,
              "two runs, the second a clean build at another path, give the same bytes")

        archive = zipfile.ZipFile(io.BytesIO(first))
        check(archive.testzip() is None, "zip entries read back with their CRCs")
        names = archive.namelist()
        check(names == LAYOUT, f"layout {names}")
        for info in archive.infolist():
            check(info.date_time == (1980, 1, 1, 0, 0, 0), f"{info.filename}: fixed time")
        for name in TEXT_SOURCES:
            if name in names:
                check_text(name, archive.read(name))
        if "scripts/FendrixVC.asi" in names:
            dll = archive.read("scripts/FendrixVC.asi")
            with open(os.path.join(REPO, "build", "package", "bin", "FendrixVC.asi"), "rb") as f:
                check(dll == f.read(), "FendrixVC.asi: the one built in build/package")
            packaged = check_dll(dll, version, [REPO, clone, scratch])
            if options.tested_dll:
                check_same_code(packaged, options.tested_dll)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if failures:
        print(f"package_test: {len(failures)} failed")
        return 1
    print("package_test: all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
