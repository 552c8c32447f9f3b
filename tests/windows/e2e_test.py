#!/usr/bin/env python3
"""VESK.exe end to end under wine, driven from the Linux side.

Starts the real Windows program with the wine loader, sets its enable flags
in the prefix's registry, talks TCP to it on 127.0.0.1 and sends it the
manager application's window messages through vesk_send_message.exe; for
Ctrl+C, vesk_console_event.exe starts it in a console of its own.

Environment: VESK_EXE, VESK_SEND_MESSAGE, VESK_CONSOLE_EVENT, VESK_WINE_LOADER (wine64 for a
64-bit build), WINEPREFIX (else VESK_DEFAULT_WINEPREFIX; created when it
has no system.reg). Run by CTest as vesk_wine_e2e.
"""
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

INSTALL_TXT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "INSTALL.txt")
WATCHDOG = 30.0  # seconds for any one wait; wine is slow to start on a busy machine
LISTENING = b"listen..."
VESK_KEY = r"HKLM\SOFTWARE\ZELK\Vesk\Settings"
FENK_KEY = r"HKLM\SOFTWARE\ZELK\Fenk\Settings"
WINDOW_CLASS = "VESK"
MANAGER_REQUEST = 1224
# WSAEADDRINUSE's text in code page 932, as on the Japanese control PC.
ADDRESS_IN_USE_932 = b"\x83\x41\x83h\x83\x8c\x83X\x82\xcd\x8eg\x97p\x92\x86"


def required(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"{name} is not set (run through ctest -R vesk_wine_e2e)")
    return value


LOADER = EXE = SEND_MESSAGE = CONSOLE_EVENT = WINESERVER = None
ENV = {}


def run(command, timeout=WATCHDOG):
    """The exit code and output of a program that ends by itself. Files, not
    pipes: wine's own processes, started along with the first program of a
    session, inherit its streams and would keep pipes open."""
    with tempfile.TemporaryFile() as output, tempfile.TemporaryFile() as errors:
        code = subprocess.run(command, env=ENV, stdin=subprocess.DEVNULL, stdout=output, stderr=errors,
                              timeout=timeout).returncode
        output.seek(0)
        errors.seek(0)
        return code, output.read(), errors.read()


def wine(*args, check=True):
    code, output, errors = run([LOADER, *args])
    if check and code != 0:
        raise AssertionError(f"wine {' '.join(args)} exited {code}: {output!r} {errors!r}")
    return code, errors


def setUpModule():
    global LOADER, EXE, SEND_MESSAGE, CONSOLE_EVENT, WINESERVER
    LOADER, EXE, SEND_MESSAGE = required("VESK_WINE_LOADER"), required("VESK_EXE"), required("VESK_SEND_MESSAGE")
    CONSOLE_EVENT = required("VESK_CONSOLE_EVENT")
    # The server of the loader's own wine installation, else the one in PATH.
    beside = os.path.join(os.path.dirname(LOADER), "wineserver")
    WINESERVER = beside if os.access(beside, os.X_OK) else shutil.which("wineserver")
    if WINESERVER is None:
        raise RuntimeError("no wineserver")
    prefix = os.environ.get("WINEPREFIX") or required("VESK_DEFAULT_WINEPREFIX")
    ENV.update(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               LANG="ja_JP.UTF-8")  # the control PC's code page 932
    ENV.pop("DISPLAY", None)  # nothing on the developer's screen, not even wineboot's
    # Whatever is left of this prefix's programs goes at the end, also when
    # the set-up fails.
    unittest.addModuleCleanup(run, [WINESERVER, "-k"])
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
        code, output, errors = run([LOADER, "wineboot", "--init"], timeout=300)
        run([WINESERVER, "--wait"], timeout=300)
        if code != 0 or not os.path.exists(os.path.join(prefix, "system.reg")):
            raise RuntimeError(f"wineboot --init failed ({code}): {output!r} {errors!r}")
    wine("reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null", "/f")  # no X server
    # The desktop reads the driver when it starts: a new session, so that no
    # desktop of an earlier setting stays. Its server stays up between the
    # programs (faster starts), started apart from them so that it holds
    # none of their pipes.
    run([WINESERVER, "-k"])
    run([WINESERVER, "-w"])
    run([WINESERVER, "-p"])


def set_flag(key, name, value):
    """value: None deletes it, an int writes a REG_DWORD, a str a REG_SZ."""
    if value is None:
        wine("reg", "delete", key, "/v", name, "/f", check=False)  # absent already is fine
    elif isinstance(value, int):
        wine("reg", "add", key, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f")
    else:
        wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")


def set_flags(vesk, fenk):
    set_flag(VESK_KEY, "EnableVesk", vesk)
    set_flag(FENK_KEY, "EnableFenk", fenk)


def free_port():
    with socket.socket() as probe:
        probe.bind(("", 0))
        return probe.getsockname()[1]


def port_accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=2).close()
        return True
    except OSError:
        return False


def send_message(message, wparam, lparam=0):
    """The helper's exit code (0: handled, 1: no window) and its stderr."""
    return wine(SEND_MESSAGE, WINDOW_CLASS, str(message), str(wparam), str(lparam), check=False)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")  # wine's drive for the Unix root


def install_txt_block(after):
    """The indented lines that INSTALL.txt shows after a sentence ending in `after`."""
    with open(INSTALL_TXT, encoding="ascii") as file:
        text = file.read()
    found = re.search(re.escape(after) + r"\n\n((?:  .+\n)+)", text)
    if not found:
        raise AssertionError(f"INSTALL.txt has no lines after {after!r}")
    return [line.strip() for line in found.group(1).splitlines()]


def request(code, body=b"", status=0, reserved=b"\0\0\0\0"):
    return struct.pack(">H4s4sh4s", 16 + len(body), b"\0\0\0\0", code, status, reserved) + body


class Client:
    """A connection to a service; failures carry the service's stderr."""

    def __init__(self, service):
        self.service = service
        # "listen..." comes just before listen() itself: refused for a moment.
        deadline = time.monotonic() + 5
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", service.port), timeout=WATCHDOG)
                break
            except ConnectionRefusedError as error:
                if time.monotonic() > deadline or service.proc.poll() is not None:
                    service.fail(f"cannot connect: {error}")
                time.sleep(0.02)
            except OSError as error:
                service.fail(f"cannot connect: {error}")
        service.test.addCleanup(self.sock.close)

    def receive(self, size):
        data = b""
        while len(data) < size:
            try:
                chunk = self.sock.recv(size - len(data))
            except OSError as error:
                self.service.fail(f"receiving after {data!r}: {error}")
            if not chunk:
                break
            data += chunk
        return data

    def call(self, message):
        """The reply's (length, magic, code, status, reserved) and body."""
        self.sock.sendall(message)
        head = self.receive(16)
        if len(head) != 16:
            self.service.fail(f"reply header cut short: {head!r}")
        fields = struct.unpack(">H4s4sh4s", head)
        return fields, self.receive(fields[0] - 16)


class Service:
    """One VESK.exe under wine, its output collected as it comes."""

    def __init__(self, test, port, *extra, in_console=False):
        """in_console: started by vesk_console_event in a console of its
        own; a line "c" on self.proc.stdin sends that console Ctrl+C."""
        self.test, self.port = test, port
        folder = tempfile.mkdtemp(prefix="vesk-wine-")
        test.addCleanup(shutil.rmtree, folder, True)
        windows_folder = windows_path(folder)
        command = [EXE, "--port", str(port), "--settings-file", windows_folder + "\\seminfo.ini",
                   "--image-folder", windows_folder, "--time-scale", "0", *extra]
        if in_console:
            command = [CONSOLE_EVENT, windows_path(EXE)] + command[1:]
        self.proc = subprocess.Popen(
            [LOADER, *command], env=ENV, cwd=folder, stdin=subprocess.PIPE if in_console else subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        test.addCleanup(self.close)
        self.output, self.errors = bytearray(), bytearray()  # stdout read only so that it never fills
        self.changed = threading.Condition()
        # Daemons, and no waiting for end of file: wine's own processes, when
        # this program starts them, inherit its pipes and outlive it.
        self.readers = [threading.Thread(target=self.collect, args=(stream, buffer), daemon=True)
                        for stream, buffer in ((self.proc.stdout, self.output), (self.proc.stderr, self.errors))]
        for reader in self.readers:
            reader.start()

    def collect(self, stream, buffer):
        try:
            for chunk in iter(lambda: stream.read1(4096), b""):
                with self.changed:
                    buffer += chunk
                    self.changed.notify_all()
        except (OSError, ValueError):
            pass  # closed under it by close()

    def stderr(self):
        with self.changed:
            return bytes(self.errors)

    def fail(self, what):
        self.close()
        self.test.fail(f"{what}; stderr: {self.stderr()!r}")

    def wait_for_stderr(self, pattern):
        """Waits until stderr matches the bytes pattern."""
        deadline = time.monotonic() + WATCHDOG
        with self.changed:
            while True:
                found = re.search(pattern, self.errors)
                if found or time.monotonic() > deadline:
                    break
                if self.proc.poll() is not None:  # what is left in the pipe, then no more
                    deadline = min(deadline, time.monotonic() + 2)
                self.changed.wait(0.1)
        if not found:
            self.fail(f"no {pattern!r} on stderr (exit code {self.proc.poll()})")

    def serving(self):
        self.wait_for_stderr(re.escape(LISTENING))
        return self

    def wait_exit(self):
        try:
            code = self.proc.wait(WATCHDOG)
        except subprocess.TimeoutExpired:
            self.fail("still running")
        for reader in self.readers:
            reader.join(2)  # what it wrote last
        return code

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(WATCHDOG)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            if stream is not None:
                stream.close()


class WineTestCase(unittest.TestCase):
    def start(self, *extra, port=None, in_console=False):
        return Service(self, port or free_port(), *extra, in_console=in_console)

    def serve(self, *extra):
        return self.start(*extra).serving()

    def assert_fxsr_served(self, service):
        head, body = Client(service).call(request(b"FXSR", status=7, reserved=b"RSVD"))
        self.assertEqual(head, (70, b"BS!a", b"FXSR", 7, b"RSVD"))  # status and reserved as sent
        self.assertEqual(len(body), 54)


class EnableFlagsTest(WineTestCase):
    """The registry's two flags decide whether and what the service serves."""

    def test_both_flags_serve_base_and_extended_codes(self):
        set_flags(vesk=1, fenk=1)
        service = self.serve()
        self.assert_fxsr_served(service)
        client = Client(service)
        head, body = client.call(request(b"EMGS", struct.pack(">i", 1000)))
        self.assertEqual(head[1:4], (b"BS!a", b"EMGS", 4))
        self.assertEqual(struct.unpack(">I", body), (1000,))
        head, body = client.call(request(b"FLVR"))  # extended: read the vacuum status
        self.assertEqual(head[:4], (26, b"BS!a", b"FLVR", 10))

    def test_enable_vesk_alone_echoes_extended_codes(self):
        set_flags(vesk=1, fenk=None)
        service = self.serve()
        client = Client(service)
        for code in (b"FLVR", b"PIST", b"EMGD"):
            message = request(code, b"\x00\x01\x02\x03", status=5, reserved=b"abcd")
            client.sock.sendall(message)
            self.assertEqual(client.receive(len(message)), message, code)
        self.assert_fxsr_served(service)

    def test_without_a_dword_flag_the_service_ends_at_once(self):
        # A text "1" is not a flag: its low 16 bits are '1' and NUL.
        for vesk, fenk in ((None, None), (None, "1"), (0, 0)):
            with self.subTest(EnableVesk=vesk, EnableFenk=fenk):
                set_flags(vesk, fenk)
                service = self.start("--log-manager")
                self.assertEqual(service.wait_exit(), 0)
                self.assertEqual(service.stderr(), b"")  # no listener, no notice to the manager
                self.assertFalse(port_accepts(service.port))


class RunningServiceTest(WineTestCase):
    """A serving instance: its clients, a second start, the manager's requests, a taken port."""

    @classmethod
    def setUpClass(cls):
        set_flags(vesk=1, fenk=1)

    def test_twenty_first_client_is_refused(self):
        service = self.serve("--max-per-address", "0")  # all twenty come from loopback
        for _ in range(20):
            self.assertEqual(Client(service).call(request(b"FXSR"))[0][0], 70)  # accepted and served
        self.assertEqual(Client(service).receive(64), b"SRV ERR\r\n")  # and then closed

    def test_second_instance_ends_and_the_first_keeps_serving(self):
        first = self.serve()
        second = self.start()
        self.assertEqual(second.wait_exit(), 0)
        self.assertEqual(second.stderr(), b"")
        self.assertFalse(port_accepts(second.port))
        self.assert_fxsr_served(first)

    def test_manager_quit_request_ends_the_service(self):
        service = self.serve("--log-manager")
        self.assertEqual(send_message(MANAGER_REQUEST, 1), (0, b""))
        time.sleep(0.3)  # the window posts itself its end: time for a wrong one to show
        self.assertIsNone(service.proc.poll())
        self.assertNotIn(b"1233 101", service.stderr())
        self.assert_fxsr_served(service)
        self.assertEqual(send_message(MANAGER_REQUEST, 2), (0, b""))
        self.assertEqual(service.wait_exit(), 0)
        self.assertRegex(service.stderr(), rb"manager: received 1233 101 2\r?\n")

    def test_ctrl_c_in_its_console_leaves_as_the_manager_quit_request_does(self):
        # Ctrl+Break and closing the console take the same handler; wine
        # delivers only Ctrl+C to a whole console.
        service = self.start("--log-manager", in_console=True).serving()
        self.assert_fxsr_served(service)
        service.proc.stdin.write(b"c\n")
        service.proc.stdin.flush()
        self.assertEqual(service.wait_exit(), 0)
        self.assertRegex(service.stderr(), rb"manager: sent 1224 2 0\r?\nmanager: received 1233 101 2\r?\n")

    def test_first_lines_are_those_that_install_txt_shows(self):
        missing = windows_path(tempfile.gettempdir()) + "\\vesk-no-such-folder"
        service = self.serve("--settings-file", missing + "\\seminfo.ini")
        warning = install_txt_block("one line comes before them:")[0].replace("C:\\SEM", missing)
        expected = [warning] + install_txt_block("with the control PC's own address):")
        lines = service.stderr().decode("ascii", errors="replace").splitlines()
        self.assertEqual(len(lines), len(expected), lines)
        for line, shown in zip(lines, expected):
            pattern = re.escape(shown).replace(r"192\.168\.0\.10", r"\d+\.\d+\.\d+\.\d+")
            self.assertRegex(line, "^" + pattern + "$")

    def test_taken_port_reports_the_bind_error_in_code_page_932(self):
        port = free_port()
        with socket.socket() as holder:
            holder.bind(("0.0.0.0", port))
            holder.listen()
            service = self.start(port=port)
            service.wait_for_stderr(rb"error at bind\(\):" + re.escape(ADDRESS_IN_USE_932) + rb"\r?\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
