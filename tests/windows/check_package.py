#!/usr/bin/python3
"""Checks the control-PC package (VESK-<version>-win32.zip) before it ships.

    check_package.py ZIP --version 1.1.6 --sem-operations scope/sem_operations.def
                         --xp-allow-list tests/windows/xp_sp3_imports.txt

The zip holds exactly the expected files under one folder; the three
programs pass check_executable.py (all with the XP allow-list, the control
PC's with the TRELL32.dll operations) and carry no symbols or debug
sections; the text
files have CR LF line ends; the registry files set what their names say, in
the registry view that their folder says. Prints every fault and exits 1 if
there was any.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import zipfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))

# File in the zip -> what it must be.
# Every program runs on the control PC itself, Windows XP SP3 and later.
PROGRAMS = {
    "VESK.exe": ["--machine", "i386", "--trell32", "{sem}", "--xp-allow-list", "{allow}"],
    "simulator/VESK.exe": ["--machine", "i386", "--no-trell32", "--xp-allow-list", "{allow}"],
    "client/vesk-client.exe": ["--machine", "i386", "--no-trell32", "--xp-allow-list", "{allow}", "--console"],
}
INSTALL = "INSTALL.txt"
# Registry file -> ({value: DWORD}, view prefix of its keys).
REGISTRY = {
    "registry/enable-both.reg": ({"EnableVesk": 1, "EnableFenk": 1}, "SOFTWARE\\ZELK\\"),
    "registry/enable-vesk-only.reg": ({"EnableVesk": 1, "EnableFenk": 0}, "SOFTWARE\\ZELK\\"),
    "registry/64-bit-windows/enable-both.reg": ({"EnableVesk": 1, "EnableFenk": 1}, "SOFTWARE\\WOW6432Node\\ZELK\\"),
    "registry/64-bit-windows/enable-vesk-only.reg": (
        {"EnableVesk": 1, "EnableFenk": 0},
        "SOFTWARE\\WOW6432Node\\ZELK\\",
    ),
}
KEYS = {"EnableVesk": "Vesk\\Settings", "EnableFenk": "Fenk\\Settings"}


def section_names(image, data):
    """Section names, long ones ("/4") looked up in the COFF string table."""
    strings = image.FILE_HEADER.PointerToSymbolTable + 18 * image.FILE_HEADER.NumberOfSymbols
    names = []
    for section in image.sections:
        name = section.Name.rstrip(b"\0")
        if name.startswith(b"/") and name[1:].isdigit():
            start = strings + int(name[1:])
            name = data[start:data.index(b"\0", start)]
        names.append(name.decode("ascii", errors="replace"))
    return names


def check_stripped(path, name, faults):
    with open(path, "rb") as file:
        data = file.read()
    image = pefile.PE(data=data, fast_load=True)
    if image.FILE_HEADER.NumberOfSymbols:
        faults.append(f"{name}: carries {image.FILE_HEADER.NumberOfSymbols} symbols (not stripped)")
    debug = [section for section in section_names(image, data) if section.startswith(".debug")]
    if debug:
        faults.append(f"{name}: debug sections {debug}")


def check_text(data, name, faults):
    if b"\n" in data.replace(b"\r\n", b""):
        faults.append(f"{name}: line ends other than CR LF")
    return data.decode("ascii", errors="replace").replace("\r\n", "\n")


def check_registry(text, name, values, view, faults):
    lines = [line for line in text.split("\n") if line and not line.startswith(";")]
    if not lines or lines[0] != "Windows Registry Editor Version 5.00":
        faults.append(f"{name}: not a registry editor file")
        return
    key, found = None, {}
    for line in lines[1:]:
        if line.startswith("["):
            key = line.strip("[]")
        elif "=" in line:
            value, data = line.split("=", 1)
            found[value.strip('"')] = (key, data)
    for value, number in values.items():
        expected = (f"HKEY_LOCAL_MACHINE\\{view}{KEYS[value]}", f"dword:{number:08x}")
        if found.get(value) != expected:
            faults.append(f"{name}: {value} is {found.get(value)}, expected {expected}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zip")
    parser.add_argument("--version", required=True)
    parser.add_argument("--sem-operations", required=True)
    parser.add_argument("--xp-allow-list", required=True)
    options = parser.parse_args()
    root = f"VESK-{options.version}-win32/"
    expected = sorted([*PROGRAMS, INSTALL, *REGISTRY])
    faults = []
    with zipfile.ZipFile(options.zip) as archive, tempfile.TemporaryDirectory() as folder:
        names = sorted(archive.namelist())
        if names != [root + name for name in expected]:
            faults.append(f"contents {names}, expected {[root + name for name in expected]}")
        archive.extractall(folder)
        base = os.path.join(folder, root)
        for name, arguments in PROGRAMS.items():
            path = os.path.join(base, name)
            if not os.path.exists(path):
                continue
            arguments = [a.format(sem=options.sem_operations, allow=options.xp_allow_list) for a in arguments]
            checked = subprocess.run(
                [sys.executable, os.path.join(HERE, "check_executable.py"), path, *arguments],
                capture_output=True, text=True)
            if checked.returncode != 0:
                faults.append(f"{name}: check_executable.py failed:\n{checked.stdout}{checked.stderr}")
            check_stripped(path, name, faults)
        if os.path.exists(os.path.join(base, INSTALL)):
            text = check_text(archive.read(root + INSTALL), INSTALL, faults)
            for needed in (f"VESK {options.version}", "22300", "netsh", "DebugView", "TRELL32.dll", "taskkill"):
                if needed not in text:
                    faults.append(f"{INSTALL}: says nothing of {needed!r}")
        for name, (values, view) in REGISTRY.items():
            if root + name in names:
                check_registry(check_text(archive.read(root + name), name, faults), name, values, view, faults)
    for fault in faults:
        print(f"{options.zip}: {fault}")
    print(f"{options.zip}: {'FAILED, ' + str(len(faults)) + ' faults' if faults else 'contents as expected'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
