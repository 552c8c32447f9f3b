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
import re
import subprocess
import sys
import tempfile
import zipfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

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


def source_constants(relative):
    """name -> value of the `inline constexpr ... kName = ...;` lines of a source file."""
    with open(os.path.join(REPO, relative), encoding="utf-8") as file:
        text = file.read()
    constants = {}
    for name, value in re.findall(r"inline constexpr [^=;]*?\b(k\w+)(?:\[\])? = ([^;]+);", text):
        constants[name] = value.strip('"').replace("\\\\", "\\")
    return constants


def source_options(*relatives):
    options = {"--help"}
    for relative in relatives:
        with open(os.path.join(REPO, relative), encoding="utf-8") as file:
            options.update(re.findall(r'"(--[a-z][a-z0-9-]*)"', file.read()))
    return options


def check_install(text, names, version, faults):
    """What INSTALL.txt names must be what the package holds and what the
    programs use: files, registry keys and values, ports, options, the lines
    of the debugger output. (The console's first lines are compared with
    what VESK.exe writes in tests/windows/e2e_test.py.)"""
    def fault(what):
        faults.append(f"{INSTALL}: {what}")

    folders = {name.rsplit("/", 1)[0] + "/" for name in names if "/" in name}
    for path in set(re.findall(r"\b(?:registry|simulator|client)\\[\w.\\-]*[\w.]", text)):
        entry = path.rstrip(".\\").replace("\\", "/")  # "registry\64-bit-windows\...": the folder
        if entry not in names and entry + "/" not in folders:
            fault(f"names {path}, which is not in the package")
    contents = text.split("What is in this package", 1)[-1].split("\n\n\n", 1)[0]
    for name in re.findall(r"^  (\S+\.(?:exe|reg|txt)) ", contents, re.MULTILINE):
        if name.replace("\\", "/") not in names:
            fault(f"lists {name}, which is not in the package")

    host = source_constants("app/host_window.h")
    values = {host["kVeskSettingsKey"]: {host["kVeskFlagName"], host["kAllowedClientsName"],
                                         host["kMaxPerAddressName"]},
              host["kFenkSettingsKey"]: {host["kFenkFlagName"]}}
    view = "SOFTWARE\\WOW6432Node\\"
    for key in re.findall(r"SOFTWARE\\[\w\\.]*\w", text):
        native = key.replace(view, "SOFTWARE\\")
        if native not in values and native != "SOFTWARE\\ZELK":  # "SOFTWARE\ZELK\..." names them all
            fault(f"names the key {key}, which the program does not read")
    for key, value in re.findall(r"(SOFTWARE\\[\w\\]+)\s+(?:/v\s+)?(Enable\w+|Allowed\w+|Max\w+)", text):
        if value not in values.get(key.replace(view, "SOFTWARE\\"), set()):
            fault(f"names the value {value} under {key}, which the program does not read there")
    commands = [line.strip() for line in text.split("\n") if line.strip().startswith("reg add")]
    plain = {c for c in commands if "/reg:32" not in c and "WOW6432Node" not in c}
    for command in plain:
        if command + " /reg:32" not in commands:
            fault(f"gives '{command}' without its 64-bit Windows form (/reg:32), which the 32-bit program reads")

    port = source_constants("server/command_server.h")["kDefaultPort"]
    netsh = [line.strip() for line in text.split("\n") if "netsh " in line]
    rules = {rule for line in netsh if " add " in line for rule in re.findall(r"name=(\S+)", line)}
    for line in netsh:
        if " add " in line or "name=" not in line:
            if port not in line:
                fault(f"'{line}' is not about port {port}")
        elif not set(re.findall(r"name=(\S+)", line)) <= rules:
            fault(f"'{line}' removes a rule that no command adds")
    for image in re.findall(r"taskkill /IM (\S+)", text):
        if image not in names:
            fault(f"taskkill names {image}, which is not a program of the package")
    service, client = source_options("app/options.cpp"), source_options("client/vesk_client_main.cpp")
    for program, option in re.findall(r"(VESK\.exe|vesk-client\.exe)\"?((?: --[a-z][a-z0-9-]*)+)", text):
        known = client if program == "vesk-client.exe" else service
        for name in option.split():
            if name not in known:
                fault(f"{program} has no option {name}")
    if f"{version}.0" not in text:
        fault(f"does not give the file version {version}.0 to check after an upgrade")

    with open(os.path.join(REPO, "server", "listener.cpp"), encoding="utf-8") as file:
        listener = file.read()
    debugger = re.search(r"there the\nfirst lines are:\n\n((?:  .+\n)+)", text)
    if not debugger:
        fault("shows no first lines of the debugger output")
    else:
        for line in debugger.group(1).split("\n"):
            literal = re.sub(r"\d+\.\d+\.\d+\.\d+", "%s", line.strip())
            if literal and not re.search(r"Report(?:Both|ToDebugger)\(\"" + re.escape(literal), listener):
                fault(f"shows the debugger line '{line.strip()}', which the program does not write there")


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
            for needed in (f"VESK {options.version}", "22300", "netsh", "DebugView", "TRELL32.dll", "taskkill",
                           "remoteip=", "C:\\SEM", "Unblock", "Uninstall", "Upgrade", "not a Windows service",
                           "End Process"):
                if needed not in text:
                    faults.append(f"{INSTALL}: says nothing of {needed!r}")
            check_install(text, {name[len(root):] for name in names}, options.version, faults)
        for name, (values, view) in REGISTRY.items():
            if root + name in names:
                check_registry(check_text(archive.read(root + name), name, faults), name, values, view, faults)
    for fault in faults:
        print(f"{options.zip}: {fault}")
    print(f"{options.zip}: {'FAILED, ' + str(len(faults)) + ' faults' if faults else 'contents as expected'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
