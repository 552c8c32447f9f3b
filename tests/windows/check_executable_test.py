#!/usr/bin/python3
"""The static checker catches faulty imports; the XP build passes it.

    /usr/bin/python3 tests/windows/check_executable_test.py
"""

import contextlib
import io
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import check_executable as checker  # noqa: E402

REPO = checker.REPO
XP_BUILD = REPO / "build" / "win32-trell32" / "app" / "VESK.exe"
ALLOW_LIST = REPO / "tests" / "windows" / "xp_sp3_imports.txt"
OPERATIONS = REPO / "scope" / "sem_operations.def"


def lines_about(failures, *subjects):
    return [[failure for failure in failures if subject in failure] for subject in subjects]


class Trell32ImportsTest(unittest.TestCase):
    expected = {"sem_GetMag", "sem_SetMagAbs", "sem_SetHT"}

    def test_exact_names_pass_whatever_the_dll_name_case(self):
        imports = [("trell32.DLL", name, None) for name in sorted(self.expected)]
        self.assertEqual(checker.check_trell32(imports, self.expected), [])

    def test_decorated_missing_extra_and_ordinal_imports_each_fail(self):
        imports = [
            ("TRELL32.dll", "_sem_SetMagAbs@4", None),  # stdcall-decorated
            ("TRELL32.dll", "sem_GetMag", None),
            ("TRELL32.dll", "sem_GetMagnification", None),  # not an operation
            ("TRELL32.dll", None, 7),
        ]                                                 # sem_SetHT missing
        failures = checker.check_trell32(imports, self.expected)
        self.assertEqual(len(failures), 4, failures)
        for about in lines_about(failures, "_sem_SetMagAbs@4", "sem_GetMagnification", "ordinal 7", "sem_SetHT"):
            self.assertEqual(len(about), 1, failures)

    def test_simulator_build_may_not_import_trell32(self):
        failures = checker.check_trell32([("TRELL32.dll", "sem_GetMag", None)], set())
        self.assertEqual(len(failures), 1, failures)


class SystemImportsTest(unittest.TestCase):
    def test_only_listed_functions_by_name_from_system_dlls(self):
        imports = [
            ("KERNEL32.dll", "CloseHandle", None),    # listed (DLL names compare in any case)
            ("KERNEL32.dll", "GetTickCount64", None),  # Vista and later
            ("WS2_32.dll", None, 115),                 # WSAStartup by ordinal
            ("libstdc++-6.dll", "_ZdlPv", None),       # runtime DLL
            ("TRELL32.dll", "sem_GetMag", None),       # not the allow-list's business
        ]
        failures = checker.check_allow_list(imports, checker.read_allow_list(ALLOW_LIST))
        self.assertEqual([len(about) for about in lines_about(failures, "GetTickCount64", "ordinal 115")], [1, 1])
        self.assertEqual(len(failures), 2, failures)
        self.assertEqual(len(checker.check_dll_set(imports)), 1)


class XpBuildTest(unittest.TestCase):
    @unittest.skipUnless(XP_BUILD.exists(), "no XP build: cmake --build --preset win32-trell32")
    def test_xp_build_passes_every_check(self):
        options = checker.parse_arguments([str(XP_BUILD), "--machine", "i386", "--xp-allow-list", str(ALLOW_LIST),
                                           "--trell32", str(OPERATIONS)])
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            failed = checker.run(options.exe, options)
        self.assertEqual(failed, 0, output.getvalue())


if __name__ == "__main__":
    unittest.main()
