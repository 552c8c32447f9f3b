"""The vesk program on the simulated instrument, on a free port of its own,
for the tests: VESK_EXECUTABLE names it (CTest sets it), else the default
build's."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
PACKAGE = os.path.abspath(os.path.join(HERE, ".."))
if PACKAGE not in sys.path:
    sys.path.insert(0, PACKAGE)


# What the build under test can do and how fast it runs, from CTest: a
# build without the image codecs saves BMP only, and an emulated one (the
# 32-bit build under qemu) renders captures several times slower.
IMAGE_CODECS = os.environ.get("VESK_IMAGE_CODECS", "ON") != "OFF"
SLOWDOWN = float(os.environ.get("VESK_TEST_SLOWDOWN") or 1)


def _stretch_default_timeout(scope_class):
    """The clients' default time-out, times SLOWDOWN: a capture alone takes
    seconds under emulation. Time-outs that a test gives stay as given."""
    initialise = scope_class.__init__

    def stretched(self, *args, timeout=10.0 * SLOWDOWN, **options):
        initialise(self, *args, timeout=timeout, **options)

    scope_class.__init__ = stretched


if SLOWDOWN != 1:
    import vesk
    import vesk.aio

    _stretch_default_timeout(vesk.Scope)
    _stretch_default_timeout(vesk.aio.Scope)


def executable():
    return os.environ.get("VESK_EXECUTABLE") or os.path.join(SOURCE, "build", "default", "app", "vesk")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Service:
    """with Service("--time-scale", "0") as service: service.port, service.images"""

    def __init__(self, *options, registry="vesk-both.reg", port=None):
        self.options = list(options)
        self.registry = registry
        self.port = port

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="vesk-python-")
        self.images = os.path.join(self.folder, "images")
        self.port = self.port or free_port()
        environment = dict(os.environ, VESK_RUNTIME_DIR=os.path.join(self.folder, "runtime"))
        os.makedirs(environment["VESK_RUNTIME_DIR"])
        self.process = subprocess.Popen(
            [executable(), "--registry", os.path.join(SOURCE, "config", self.registry), "--port", str(self.port),
             "--settings-file", os.path.join(self.folder, "seminfo.ini"), "--image-folder", self.images]
            + self.options, env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), 1).close()
                return self
            except OSError:
                if self.process.poll() is not None:
                    break
                time.sleep(0.05)
        self.__exit__()
        raise RuntimeError("%s did not start on port %d" % (executable(), self.port))

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)
