#!/usr/bin/python3
"""Static checks of a Windows build of VESK, for CI machines that cannot run it.

    /usr/bin/python3 tests/windows/check_executable.py EXE [--machine i386|amd64]
        [--xp-allow-list tests/windows/xp_sp3_imports.txt]
        [--trell32 scope/sem_operations.def | --no-trell32] [--console]

Prints one line per failed check and a summary; exits 1 if anything failed.
Needs Debian's python3-pefile (run with /usr/bin/python3).
"""

import argparse
import re
import struct
import sys
from pathlib import Path

import pefile

REPO = Path(__file__).resolve().parents[2]

# ---- the instrument maker's resource layout ---------------------------------
# The manager application and the users rely on these ids and texts, so they
# are compared exactly. Every resource is in Japanese.
LANGUAGE = 0x0411

STRINGS = {
    103: "VESK",          # window title
    106: "Hello World!",  # painted text
    109: "VESK",          # window class name
}

ICONS = {
    # group id: (width, height, colours)
    107: (32, 32, 16),
    108: (16, 16, 16),
}

# A popup is (text, [entries]), an item is (text, command).
MENUS = {
    109: [  # the class menu
        ("ﾌｧｲﾙ(&F)", [("ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", 105)]),
        ("ﾍﾙﾌﾟ(&H)", [("ﾊﾞｰｼﾞｮﾝ情報(&A) ...", 104)]),
    ],
    129: [  # the context menu
        ("EXIT", [("EXIT VESK", 105)]),
    ],
}

FVIRTKEY, FSHIFT, FCONTROL, FALT = 0x01, 0x04, 0x08, 0x10
ACCELERATORS = {
    # (flags, key, command): Alt with the characters "?" and "/", not virtual keys
    109: [(FALT, ord("?"), 104), (FALT, ord("/"), 104)],
}

DS_SETFONT, DS_MODALFRAME = 0x40, 0x80
WS_SYSMENU, WS_CAPTION = 0x00080000, 0x00C00000
SS_LEFT, SS_ICON, BS_DEFPUSHBUTTON = 0x0, 0x3, 0x1
ANY = None
DIALOGS = {
    103: {  # the about box
        "style bits": DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_SETFONT,
        "rectangle": (22, 17, 230, 75),
        "caption": "ﾊﾞｰｼﾞｮﾝ情報",
        "font": ("System", 8),
        "controls": [
            # (class, type, text or icon id, control id, (x, y, cx, cy));
            # a control id given as a name is the one app/resources.h defines.
            ("Static", SS_ICON, 107, "IDC_ABOUT_ICON", (14, 9, 16, 16)),
            ("Static", SS_LEFT, "VESK Version 1.0", ANY, (49, 10, 119, 8)),
            ("Static", SS_LEFT, ANY, ANY, (49, 20, 119, 8)),  # the maker's notice
            ("Button", BS_DEFPUSHBUTTON, "OK", 1, (195, 6, 30, 11)),
        ],
    },
}

VERSION = {
    "file version": (1, 1, 6, 0),
    "product version": (8, 2, 0, 0),
    "translation": (0x0411, 1200),
    "block key": "041104b0",
    # CompanyName, ProductName and LegalCopyright are the maker's: not checked.
    "strings": {
        "FileVersion": "1, 1, 6, 0",
        "ProductVersion": "8, 2, 0, 0",
        "FileDescription": "VESK",
        "InternalName": "VESK",
        "OriginalFilename": "VESK.exe",
    },
}

# ---- the program's headers and imports ---------------------------------------
MACHINES = {"i386": (0x14C, 0x10B), "amd64": (0x8664, 0x20B)}  # machine, optional-header magic
SUBSYSTEM_WINDOWS_GUI = 2
SUBSYSTEM_WINDOWS_CUI = 3
XP_VERSIONS = ((4, 0), (5, 1))  # lowest and highest subsystem/OS version XP's loader takes
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll",
               "ws2_32.dll", "wsock32.dll", "msvcrt.dll", "gdi32.dll"}
TRELL32 = "trell32.dll"

RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, RT_VERSION = 3, 4, 5, 6, 9, 14, 16
CONTROL_CLASS_ATOMS = {0x80: "Button", 0x81: "Edit", 0x82: "Static",
                       0x83: "ListBox", 0x84: "ScrollBar", 0x85: "ComboBox"}
CONTROL_TYPE_MASKS = {"static": 0x1F, "button": 0x0F}


class Problem(Exception):
    """A resource that cannot be checked any further."""


# ---- inputs -------------------------------------------------------------------
def read_allow_list(path):
    """{(dll in lower case, function)} from a dll!Function-a-line file."""
    allowed = set()
    for number, line in enumerate(Path(path).read_text(encoding="utf-8").splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        dll, bang, name = line.partition("!")
        if not bang or not dll or not name:
            sys.exit(f"{path}:{number}: expected dll!Function, found {line!r}")
        allowed.add((dll.lower(), name))
    return allowed


def read_operations(path):
    """The TRELL32.dll export names, sem_<Name>, one per SEM_OPERATION line."""
    text = Path(path).read_text(encoding="utf-8")
    names = re.findall(r"^\s*SEM_OPERATION\([^,]+,\s*(\w+)\s*,", text, re.MULTILINE)
    if not names:
        sys.exit(f"{path}: no SEM_OPERATION lines")
    return {"sem_" + name for name in names}


def header_define(name):
    text = (REPO / "app" / "resources.h").read_text(encoding="utf-8")
    match = re.search(rf"^#define {name}\s+(\d+)", text, re.MULTILINE)
    if not match:
        raise Problem(f"app/resources.h does not define {name}")
    return int(match.group(1))


def read_imports(pe):
    """[(dll, function name or None, ordinal or None)], delay-loaded ones included."""
    imports = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []):
        dll = entry.dll.decode("ascii", "replace")
        for symbol in entry.imports:
            name = symbol.name.decode("ascii", "replace") if symbol.name else None
            imports.append((dll, name, symbol.ordinal if name is None else None))
    return imports


# ---- import checks (plain import lists, so they can be tested alone) --------------
def check_dll_set(imports):
    """Only Windows system DLLs; TRELL32.dll is check_trell32's."""
    found = sorted({dll for dll, _, _ in imports if dll.lower() not in SYSTEM_DLLS | {TRELL32}})
    return [f"imports {dll}: expected Windows system DLLs only ({', '.join(sorted(SYSTEM_DLLS))})"
            for dll in found]


def check_allow_list(imports, allowed):
    failures = []
    for dll, name, ordinal in imports:
        if dll.lower() not in SYSTEM_DLLS:
            continue  # TRELL32.dll and DLLs that check_dll_set already rejects
        if name is None:
            failures.append(f"{dll}: import by ordinal {ordinal}: expected imports by name")
        elif (dll.lower(), name) not in allowed:
            failures.append(f"{dll}!{name}: imported, but not on the XP SP3 allow-list (expected every import listed)")
    return failures


def check_trell32(imports, expected_names):
    """TRELL32.dll imports are exactly expected_names, undecorated and by name."""
    failures, found = [], set()
    for dll, name, ordinal in imports:
        if dll.lower() != TRELL32:
            continue
        if name is None:
            failures.append(f"{dll}: import by ordinal {ordinal}: expected imports by name")
            continue
        plain = re.sub(r"@\d+$", "", name.lstrip("_"))
        if plain != name and plain in expected_names:
            failures.append(f"{dll}!{name}: expected the undecorated name {plain}, found a decorated one")
        elif name not in expected_names:
            failures.append(f"{dll}!{name}: imported, but not a control library operation"
                            if expected_names else f"{dll}!{name}: expected no TRELL32.dll imports, found one")
        found.add(plain)
    if expected_names and not found:
        return failures + [f"TRELL32.dll: expected the {len(expected_names)} operations imported, found none"]
    return failures + [f"TRELL32.dll!{name}: expected an import, found none" for name in sorted(expected_names - found)]


# ---- resource reading -----------------------------------------------------------------
def resource(pe, type_id, res_id):
    """The raw data of a resource in LANGUAGE."""
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory else []:
        if kind.id != type_id:
            continue
        for entry in kind.directory.entries:
            if entry.id != res_id:
                continue
            languages = {lang.id: lang for lang in entry.directory.entries}
            if LANGUAGE not in languages:
                raise Problem(f"expected language {LANGUAGE:#06x}, found "
                              f"{', '.join(f'{lang:#06x}' for lang in languages)}")
            data = languages[LANGUAGE].data.struct
            return pe.get_data(data.OffsetToData, data.Size)
    raise Problem("missing")


class Reader:
    """Little-endian fields of a resource template, in order."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
            if end >= len(self.data):
                raise Problem("unterminated text")
        value, self.at = self.data[self.at:end].decode("utf-16-le"), end + 2
        return value

    def text_or_ordinal(self):
        first = self.take("H")
        if first == 0xFFFF:
            return self.take("H")
        self.at -= 2
        return self.text()

    def align(self, size=4):
        self.at += -self.at % size


def read_string(pe, string_id):
    """A table holds 16 strings, each a length in characters and UTF-16 text."""
    data, at = resource(pe, RT_STRING, string_id // 16 + 1), 0
    for _ in range(string_id % 16):
        at += 2 + 2 * struct.unpack_from("<H", data, at)[0]
    length = struct.unpack_from("<H", data, at)[0]
    return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")


def read_menu_entries(reader):
    entries = []
    while True:
        flags = reader.take("H")
        if flags & 0x10:  # MF_POPUP
            entries.append((reader.text(), read_menu_entries(reader)))
        else:
            command = reader.take("H")
            entries.append((reader.text(), command))
        if flags & 0x80:  # MF_END
            return entries


def read_menu(pe, menu_id):
    reader = Reader(resource(pe, RT_MENU, menu_id))
    version, header_size = reader.take("HH")
    if version != 0:
        raise Problem(f"expected a MENU template, found version {version} (MENUEX)")
    reader.at += header_size
    return read_menu_entries(reader)


def read_accelerators(pe, table_id):
    data = resource(pe, RT_ACCELERATOR, table_id)
    entries = [struct.unpack_from("<HHH", data, at) for at in range(0, len(data) - 7, 8)]
    return [(flags & ~0x80, key, command) for flags, key, command in entries]


def read_dialog(pe, dialog_id):
    """The about box as a dict, from a DIALOG or a DIALOGEX template."""
    reader = Reader(resource(pe, RT_DIALOG, dialog_id))
    extended = reader.take("HH") == (1, 0xFFFF)
    if extended:
        _, _, style, count = reader.take("IIIH")
    else:
        reader.at = 0
        style, _, count = reader.take("IIH")
    dialog = {"style": style, "rectangle": reader.take("hhhh")}
    reader.text_or_ordinal()  # menu
    reader.text_or_ordinal()  # window class
    dialog["caption"] = reader.text()
    if style & DS_SETFONT:
        points = reader.take("H")
        if extended:
            reader.take("HBB")  # weight, italic, character set
        dialog["font"] = (reader.text(), points)
    dialog["controls"] = [read_control(reader, extended) for _ in range(count)]
    return dialog


def read_control(reader, extended):
    reader.align()
    if extended:
        _, _, style = reader.take("III")
        rectangle, control_id = reader.take("hhhh"), reader.take("i")
    else:
        style, _ = reader.take("II")
        rectangle, control_id = reader.take("hhhh"), reader.take("h")
    window_class = reader.text_or_ordinal()
    window_class = CONTROL_CLASS_ATOMS.get(window_class, window_class)
    text = reader.text_or_ordinal()
    creation_data = reader.take("H")
    reader.at += creation_data
    return window_class, style, text, control_id, rectangle


# ---- checks ---------------------------------------------------------------------------
def expect(what, expected, found):
    return [] if expected == found else [f"{what}: expected {expected!r}, found {found!r}"]


def each(label, table, check_one):
    """check_one(id, expected) for each resource of a table; one that cannot be read fails alone."""
    failures = []
    for key, expected in table.items():
        try:
            failures += check_one(key, expected)
        except (Problem, struct.error, UnicodeDecodeError) as problem:
            failures.append(f"{label} {key}: {problem}")
    return failures


def check_machine(exe, options):
    machine, magic = MACHINES[options.machine]
    found = (exe.FILE_HEADER.Machine, exe.OPTIONAL_HEADER.Magic)
    return [] if found == (machine, magic) else [
        f"machine: expected {options.machine} (machine {machine:#x}, optional header {magic:#x}), "
        f"found machine {found[0]:#x}, optional header {found[1]:#x}"]


def check_subsystem(exe, options):
    expected, what = ((SUBSYSTEM_WINDOWS_CUI, "Windows console") if options.console
                      else (SUBSYSTEM_WINDOWS_GUI, "Windows GUI"))
    found = exe.OPTIONAL_HEADER.Subsystem
    return [] if found == expected else [
        f"subsystem: expected {expected} ({what}), found {found} "
        f"({pefile.SUBSYSTEM_TYPE.get(found, 'unknown')})"]


def check_xp_versions(exe, options):
    header = exe.OPTIONAL_HEADER
    low, high = XP_VERSIONS
    failures = []
    for what, found in (("subsystem version", (header.MajorSubsystemVersion, header.MinorSubsystemVersion)),
                        ("OS version", (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion))):
        if not low <= found <= high:
            failures.append(f"{what}: expected {low[0]}.{low[1]} to {high[0]}.{high[1]} (Windows XP), "
                            f"found {found[0]}.{found[1]}")
    return failures


def check_imported_dlls(exe, options):
    return check_dll_set(exe.imports)


def check_xp_imports(exe, options):
    return check_allow_list(exe.imports, read_allow_list(options.xp_allow_list))


def check_trell32_imports(exe, options):
    return check_trell32(exe.imports, read_operations(options.trell32) if options.trell32 else set())


def check_strings(exe, options):
    def string(string_id, expected):
        return expect(f"string {string_id}", expected, read_string(exe, string_id))
    return each("string", STRINGS, string)


def check_icons(exe, options):
    def icon(group_id, expected):
        width, height, colours = expected
        bits = colours.bit_length() - 1
        reader = Reader(resource(exe, RT_GROUP_ICON, group_id))
        _, _, count = reader.take("HHH")
        failures = expect(f"icon {group_id} images", 1, count)
        for _ in range(count):
            entry = reader.take("BBBBHHIH")
            failures += expect(f"icon {group_id} directory width, height, colours",
                               (width % 256, height % 256, colours % 256), entry[:3])
            image = resource(exe, RT_ICON, entry[7])
            header = struct.unpack_from("<IiiHH", image)
            failures += expect(f"icon {group_id} bitmap header width, height x 2, bits per pixel",
                               (width, 2 * height, bits), (header[1], header[2], header[4]))
        return failures
    return each("icon", ICONS, icon)


def check_menus(exe, options):
    def menu(menu_id, expected):
        return expect(f"menu {menu_id}", expected, read_menu(exe, menu_id))
    return each("menu", MENUS, menu)


def check_accelerators(exe, options):
    def accelerators(table_id, expected):
        found = read_accelerators(exe, table_id)
        return [] if found == expected else [
            f"accelerators {table_id}: expected {accelerator_text(expected)}, found {accelerator_text(found)}"]
    return each("accelerators", ACCELERATORS, accelerators)


def accelerator_text(entries):
    def one(flags, key, command):
        names = [name for bit, name in ((FVIRTKEY, "VIRTKEY"), (FSHIFT, "SHIFT"), (FCONTROL, "CONTROL"), (FALT, "ALT"))
                 if flags & bit]
        return f"{'+'.join(names + [f'{chr(key)!r} ({key:#04x})'])} -> {command}" + (
            f" (other flags {flags & ~0x1D:#x})" if flags & ~0x1D else "")
    return "[" + ", ".join(one(*entry) for entry in entries) + "]"


def check_dialogs(exe, options):
    def dialog(dialog_id, expected):
        found = read_dialog(exe, dialog_id)
        bits = expected["style bits"]
        failures = [] if found["style"] & bits == bits else [
            f"dialog {dialog_id} style: expected bits {bits:#x} set, found style {found['style']:#x}"]
        for field in ("rectangle", "caption", "font"):
            failures += expect(f"dialog {dialog_id} {field}", expected[field], found.get(field))
        failures += expect(f"dialog {dialog_id} control count", len(expected["controls"]), len(found["controls"]))
        for number, (want, got) in enumerate(zip(expected["controls"], found["controls"]), 1):
            failures += [f"dialog {dialog_id} control {number}: {failure}" for failure in control(want, got)]
        return failures
    return each("dialog", DIALOGS, dialog)


def control(expected, found):
    window_class, kind, text, control_id, rectangle = expected
    found_class, style, found_text, found_id, found_rectangle = found
    failures = expect("class", window_class.lower(), str(found_class).lower())
    failures += expect("type", kind, style & CONTROL_TYPE_MASKS.get(window_class.lower(), 0xFFFFFFFF))
    if text is not ANY:
        failures += expect("text", text, found_text)
    if control_id is not ANY:
        expected_id = header_define(control_id) if isinstance(control_id, str) else control_id
        failures += expect("id", expected_id, found_id)
    return failures + expect("position and size", rectangle, found_rectangle)


def check_version(exe, options):
    def text(value):
        return value.decode("utf-8") if isinstance(value, bytes) else value

    try:
        resource(exe, RT_VERSION, 1)
    except Problem as problem:
        return [f"version resource 1: {problem}"]
    info = getattr(exe, "VS_FIXEDFILEINFO", None)
    if not info:
        return ["version block: unreadable"]
    fixed = info[0]
    failures = expect("file version", VERSION["file version"], split_version(fixed.FileVersionMS, fixed.FileVersionLS))
    failures += expect("product version", VERSION["product version"],
                       split_version(fixed.ProductVersionMS, fixed.ProductVersionLS))
    tables, translations = {}, []
    for block in exe.FileInfo[0]:
        for table in getattr(block, "StringTable", []):
            tables[text(table.LangID).lower()] = {text(k): text(v) for k, v in table.entries.items()}
        for var in getattr(block, "Var", []):
            for value in var.entry.values():
                translations.append(tuple(int(part, 16) for part in text(value).split()))
    key = VERSION["block key"]
    failures += expect("version string tables", [key], sorted(tables))
    for name, expected in VERSION["strings"].items():
        failures += expect(f"version text {name}", expected, tables.get(key, {}).get(name))
    return failures + expect("version translations", [VERSION["translation"]], translations)


def split_version(most, least):
    return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def always(options):
    return True


def service(options):
    """The service's resources: not in the command-line client."""
    return not options.console


CHECKS = [
    # (name, whether the options ask for it, check(exe, options) -> failures)
    ("machine", lambda options: options.machine, check_machine),
    ("subsystem", always, check_subsystem),
    ("XP header versions", lambda options: options.xp_allow_list, check_xp_versions),
    ("imported DLLs", always, check_imported_dlls),
    ("XP SP3 imports", lambda options: options.xp_allow_list, check_xp_imports),
    ("TRELL32.dll imports", always, check_trell32_imports),
    ("strings", service, check_strings),
    ("icons", service, check_icons),
    ("menus", service, check_menus),
    ("accelerators", service, check_accelerators),
    ("dialogs", service, check_dialogs),
    ("version block", service, check_version),
]


def load(path):
    exe = pefile.PE(str(path), fast_load=True)
    exe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY[name] for name in (
        "IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT", "IMAGE_DIRECTORY_ENTRY_RESOURCE")])
    exe.imports = read_imports(exe)
    return exe


def run(path, options):
    """Prints the failures and a summary; returns the number of failed checks."""
    try:
        exe = load(path)
    except (OSError, pefile.PEFormatError) as error:
        print(f"FAIL {path}: expected a PE file, found {error}")
        print(f"{path}: not checked")
        return 1
    checks = [(name, check) for name, wanted, check in CHECKS if wanted(options)]
    failed = 0
    for name, check in checks:
        try:
            failures = check(exe, options)
        except (Problem, struct.error, UnicodeDecodeError) as problem:
            failures = [f"{name}: {problem}"]
        failed += bool(failures)
        for failure in failures:
            print(f"FAIL {failure}")
    print(f"{path}: {len(checks) - failed} of {len(checks)} checks passed"
          + (f", {failed} FAILED" if failed else ""))
    return failed


def parse_arguments(arguments=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES))
    parser.add_argument("--xp-allow-list", metavar="FILE", help="dll!Function a line: the only imports allowed")
    parser.add_argument("--console", action="store_true",
                        help="a console program without the service's resources (vesk-client.exe)")
    trell32 = parser.add_mutually_exclusive_group()
    trell32.add_argument("--trell32", metavar="DEF", help="scope/sem_operations.def: TRELL32.dll imports exactly these")
    trell32.add_argument("--no-trell32", action="store_true", help="no TRELL32.dll imports (the default)")
    return parser.parse_args(arguments)


def main():
    options = parse_arguments()
    return 1 if run(options.exe, options) else 0


if __name__ == "__main__":
    sys.exit(main())
