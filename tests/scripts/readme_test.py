#!/usr/bin/env python3
"""The player's read-me (docs/FendrixVC-ReadMe.txt) against what a player meets:

- every key of the shipped INI is described under its section, shown with the
  INI's own default, and with the range the INI's comment gives; no key is
  described that the INI does not have;
- every status and event line the plug-in's sources write is quoted, with any
  formatted field filled in by an example;
- an example log header carries the version of project(FendrixVC VERSION ...);
- the text suits old Notepad: plain ASCII, no tabs, lines of at most 78 characters.
"""
import glob
import os
import re
import sys

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
README = os.path.join(REPO, "docs", "FendrixVC-ReadMe.txt")
INI = os.path.join(REPO, "plugin", "FendrixVC.ini")
SOURCE_DIRS = ["plugin", "host", "contacts", "mesh", "panel", "damage"]
MAX_WIDTH = 78

failures = []


def check(ok, what):
    if not ok:
        print("FAIL " + what)
        failures.append(what)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def ini_keys(text):
    """(section, key, value, range) in file order; range from the comment above."""
    keys, section, comment = [], None, ""
    for line in text.splitlines():
        line = line.strip()
        if line.startswith(";"):
            comment += " " + line[1:]
        elif line.startswith("["):
            section, comment = line.strip("[]"), ""
        elif "=" in line:
            key, value = (part.strip() for part in line.split("=", 1))
            found = re.search(r"-?\d+(?:\.\d+)? to -?\d+(?:\.\d+)?", comment)
            keys.append((section, key, value, found.group(0) if found else None))
            comment = ""
    return keys


def readme_keys(lines):
    """{(section, key): (value, description)} from the settings part of the read-me."""
    described, section, current = {}, None, None
    for line in lines:
        if re.fullmatch(r"\[\w+\]", line):
            section, current = line.strip("[]"), None
        elif section and re.fullmatch(r"-{3,}", line):
            section = None  # the next chapter's underline
        elif section and re.fullmatch(r"\w+=\S*", line):
            key, value = line.split("=", 1)
            current = (section, key)
            check(current not in described, f"read-me describes {section}/{key} twice")
            described[current] = [value, ""]
        elif current and line.startswith("    "):
            described[current][1] += " " + line.strip()
    return described


def message_formats():
    """Status and event lines in the sources: string literals (adjacent ones
    joined, the version macro standing for its text) that start with a capital
    letter and hold a space. Phase texts that are never written and
    compile-time assertion texts are left out."""
    literal = r'"(?:[^"\\\n]|\\.)*"'
    sequence = re.compile(rf"(?:(?:{literal}|FENDRIX_VERSION)\s*)*{literal}(?:\s*FENDRIX_VERSION)?")
    formats = set()
    for folder in SOURCE_DIRS:
        for path in sorted(glob.glob(os.path.join(REPO, folder, "*.cpp"))):
            with open(path) as file:
                source = re.sub(r"//[^\n]*", "", file.read())
            for found in sequence.finditer(source):
                before = source[max(0, found.start() - 200) : found.start()]
                if re.search(r"(static_assert\([^;]*|phaseSet\(\s*)$", before):
                    continue
                parts = re.findall(rf"{literal}|FENDRIX_VERSION", found.group(0))
                text = "".join("%s" if p == "FENDRIX_VERSION" else p[1:-1] for p in parts)
                if re.match(r"[A-Z]", text) and " " in text:
                    formats.add((os.path.relpath(path, REPO), text))
    return sorted(formats)


def format_pattern(text):
    """A regular expression for a printf format: each conversion stands for an example,
    which stays inside the quoted line."""
    pieces = re.split(r"%[-+ #0]*\d*(?:\.\d+)?(?:ll|l|h)?[diuxXfsp]", text.replace("%%", "%"))
    return r'[^"\s][^"]*?'.join(re.escape(piece).replace(r"\ ", " ") for piece in pieces)


def project_version():
    text = read(os.path.join(REPO, "CMakeLists.txt")).decode()
    found = re.search(r"project\(\s*FendrixVC\s+VERSION\s+([0-9.]+)", text)
    return found.group(1) if found else None


def main():
    raw = read(README)
    try:
        text = raw.decode("ascii")
    except UnicodeDecodeError as error:
        check(False, f"read-me is plain ASCII (byte {error.start} is not)")
        text = raw.decode("latin-1")
    lines = text.split("\n")
    for number, line in enumerate(lines, 1):
        check(len(line) <= MAX_WIDTH, f"read-me line {number} is {len(line)} characters")
        check("\t" not in line, f"read-me line {number} holds a tab")
        check(line == line.rstrip(), f"read-me line {number} ends in spaces")

    ini = ini_keys(read(INI).decode("ascii"))
    check(len(ini) > 0, "the shipped INI has keys")
    described = readme_keys(lines)
    for section, key, value, bounds in ini:
        entry = described.get((section, key))
        check(entry is not None, f"read-me describes [{section}] {key}")
        if entry is None:
            continue
        check(entry[0] == value, f"[{section}] {key}: read-me default {entry[0]}, INI {value}")
        check(len(entry[1].split()) >= 8, f"[{section}] {key}: described in words")
        if bounds:
            check(bounds in entry[1], f"[{section}] {key}: read-me gives the range {bounds}")
    shipped = {(section, key) for section, key, _, _ in ini}
    for section, key in described:
        check((section, key) in shipped, f"read-me describes [{section}] {key}, not in the INI")

    flowing = " ".join(text.split())
    formats = message_formats()
    check(len(formats) >= 20, f"found the plug-in's messages in the sources ({len(formats)})")
    for path, message in formats:
        check(re.search(format_pattern(message), flowing) is not None,
              f'read-me quotes "{message}" ({path})')

    version = project_version()
    headers = re.findall(r"FendrixVC (\S+) experimental", flowing)
    check(bool(headers), "read-me shows the log header")
    for shown in headers:
        check(shown == version, f"read-me's log header shows version {shown}, project {version}")

    if failures:
        print(f"readme_test: {len(failures)} failed")
        return 1
    print(f"readme_test: {len(ini)} keys and {len(formats)} messages covered")
    return 0


if __name__ == "__main__":
    sys.exit(main())
