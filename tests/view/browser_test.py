#!/usr/bin/env python3
"""The live view in a real headless browser.

Starts vesk on the simulated instrument with --view-port 0, opens the page
in Debian's chromium (driven over --remote-debugging-pipe, so no WebSocket
client is needed), waits for frames, saves a screenshot, and checks that the
picture the browser shows changes when a client changes the magnification
and then the focus, and that the page lists the state and the requests.

Environment: VESK_EXECUTABLE, VESK_CLIENT_EXECUTABLE, VESK_CONFIG_DIR;
CHROMIUM names another browser. Exits 77 (skipped) only when the browser
cannot be started at all, saying why.
"""
import base64
import fcntl
import json
import os
import re
import select
import signal
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

SKIPPED = 77
WAIT_SECONDS = 20

# Drawn into a canvas in the page: the mean of each 40 x 40 block of the
# frame (the data bar below it left out). Block means average the scan
# noise away, so two frames of the same field hardly differ.
SIGNATURE = """(() => {
  const img = document.getElementById('screen');
  const canvas = document.createElement('canvas');
  canvas.width = img.naturalWidth; canvas.height = img.naturalHeight;
  const ctx = canvas.getContext('2d');
  ctx.drawImage(img, 0, 0);
  const data = ctx.getImageData(0, 0, 640, 480).data;
  const means = [];
  for (let by = 0; by < 12; ++by) for (let bx = 0; bx < 16; ++bx) {
    let sum = 0;
    for (let y = by * 40; y < by * 40 + 40; ++y)
      for (let x = bx * 40; x < bx * 40 + 40; ++x) sum += data[(y * 640 + x) * 4];
    means.push(sum / 1600);
  }
  return JSON.stringify({frame: Number(img.dataset.frame), size: [img.naturalWidth, img.naturalHeight], means});
})()"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def difference(a, b):
    return sum(abs(x - y) for x, y in zip(a, b)) / len(a)


class Browser:
    """chromium with the DevTools protocol on fds 3 (in) and 4 (out)."""

    def __init__(self, program, profile):
        to_browser_read, to_browser_write = os.pipe()
        from_browser_read, from_browser_write = os.pipe()
        # Out of the way of 3 and 4, which the child gets them as.
        child_in = fcntl.fcntl(to_browser_read, fcntl.F_DUPFD, 10)
        child_out = fcntl.fcntl(from_browser_write, fcntl.F_DUPFD, 10)
        os.close(to_browser_read)
        os.close(from_browser_write)

        def give_pipes():
            os.dup2(child_in, 3)
            os.dup2(child_out, 4)

        self.process = subprocess.Popen(
            [program, "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
             "--user-data-dir=" + profile, "--window-size=1300,900", "--no-first-run", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
            preexec_fn=give_pipes, close_fds=False, start_new_session=True)
        os.close(child_in)
        os.close(child_out)
        self.writer = to_browser_write
        self.reader = from_browser_read
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def close(self):
        for fd in (self.writer, self.reader):
            try:
                os.close(fd)
            except OSError:
                pass
        try:
            self.process.wait(timeout=5)  # it leaves when its pipe closes
        except subprocess.TimeoutExpired:
            pass
        # Its helpers (renderer, GPU, utility) share its process group and
        # may outlive it for a moment, still writing to the profile.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait(timeout=10)

    def error_output(self):
        try:
            return self.process.stderr.read().decode(errors="replace")[-800:]
        except (OSError, ValueError):
            return ""

    def call(self, method, params=None, session=True, timeout=WAIT_SECONDS):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self.writer, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" in self.buffer:
                raw, self.buffer = self.buffer.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("id") == self.next_id:
                    if "error" in reply:
                        raise RuntimeError(f"{method}: {reply['error']}")
                    return reply["result"]
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.reader], [], [], left)[0]:
                raise TimeoutError(f"{method}: no answer from the browser in {timeout} s")
            chunk = os.read(self.reader, 1 << 20)
            if not chunk:
                raise EOFError(f"{method}: the browser closed its pipe")
            self.buffer += chunk

    def open(self, url):
        target = self.call("Target.createTarget", {"url": url}, session=False)["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                 session=False)["sessionId"]

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression[:40]}: {result['exceptionDetails']}")
        return result["result"].get("value")


class LiveViewInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        program = os.environ.get("CHROMIUM") or shutil.which("chromium") or shutil.which("chromium-browser")
        if not program:
            raise unittest.SkipTest("no chromium on this machine (Debian package chromium)")
        cls.scratch = tempfile.TemporaryDirectory(prefix="vesk-view-")
        work = cls.scratch.name
        environment = dict(os.environ, VESK_RUNTIME_DIR=work)
        cls.port = free_port()
        cls.service = subprocess.Popen(
            [os.environ["VESK_EXECUTABLE"], "--registry", os.path.join(os.environ["VESK_CONFIG_DIR"], "vesk-both.reg"),
             "--port", str(cls.port), "--settings-file", os.path.join(work, "seminfo.ini"),
             "--image-folder", os.path.join(work, "images"), "--view-port", "0"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=environment, text=True)
        cls.view_url = cls.read_view_url()
        try:
            cls.browser = Browser(program, os.path.join(work, "profile"))
            cls.browser.call("Browser.getVersion", session=False)
        except (OSError, TimeoutError, EOFError, RuntimeError) as error:
            reason = f"chromium cannot start: {error}; {cls.browser.error_output() if hasattr(cls, 'browser') else ''}"
            cls.tearDownClass()
            raise unittest.SkipTest(reason)

    @classmethod
    def read_view_url(cls):
        deadline = time.monotonic() + WAIT_SECONDS
        lines = []
        while time.monotonic() < deadline:
            if not select.select([cls.service.stderr], [], [], 1)[0]:
                continue
            line = cls.service.stderr.readline()
            if not line:
                break
            lines.append(line)
            if match := re.search(r"live view on (http://\S+)", line):
                return match.group(1)
        cls.service.kill()
        raise AssertionError("vesk did not announce its live view: " + "".join(lines))

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, "browser", None):
            cls.browser.close()
        if cls.service.poll() is None:
            cls.service.terminate()
        try:
            cls.service.wait(timeout=10)
        except subprocess.TimeoutExpired:
            cls.service.kill()
        # A helper killed a moment ago may still be closing its files there.
        for _ in range(50):
            try:
                cls.scratch.cleanup()
                break
            except OSError:
                time.sleep(0.1)

    def client(self, *arguments):
        subprocess.run([os.environ["VESK_CLIENT_EXECUTABLE"], "--port", str(self.port), *arguments],
                       check=True, stdout=subprocess.DEVNULL, timeout=WAIT_SECONDS)

    def rendered_frames(self):
        with urllib.request.urlopen(self.view_url + "state", timeout=WAIT_SECONDS) as response:
            return json.load(response)["frameNumber"]

    def frame_after(self, number):
        """The signature of the first frame shown whose number is above number."""
        deadline = time.monotonic() + WAIT_SECONDS
        while time.monotonic() < deadline:
            if int(self.browser.evaluate("document.getElementById('screen')?.dataset.frame") or 0) > number:
                shown = json.loads(self.browser.evaluate(SIGNATURE))
                if shown["frame"] > number:
                    return shown
            time.sleep(0.1)
        self.fail(f"no frame after {number} in {WAIT_SECONDS} s")

    def page_text(self):
        return self.browser.evaluate("document.body.innerText")

    def test_screen_follows_magnification_and_focus(self):
        started = time.monotonic()
        self.client("FEBS", "highVoltage=1")
        self.client("DXRS", "scanSpeed=0")  # a frame every 0.5 s
        self.browser.open(self.view_url)
        first = self.frame_after(self.rendered_frames())
        self.assertEqual(first["size"], [640, 512])
        again = self.frame_after(first["frame"])
        noise = difference(first["means"], again["means"])
        self.assertGreater(max(first["means"]), 40, "the beam is on: the field is not black")

        self.client("EMGS", "magnification=5000")
        zoomed = self.frame_after(self.rendered_frames())
        self.assertGreater(difference(again["means"], zoomed["means"]), 3 * noise + 2)

        self.client("EOWS", "workingDistance=40")
        blurred = self.frame_after(self.rendered_frames())
        self.assertGreater(difference(zoomed["means"], blurred["means"]), 3 * noise + 2)

        deadline = time.monotonic() + WAIT_SECONDS
        while "SetWD(40)" not in self.page_text() and time.monotonic() < deadline:
            time.sleep(0.1)
        text = self.page_text()
        for shown in ("\u00d75,000", "40.0 mm", "SetMagAbs(5000)", "SetWD(40)", "ready"):
            self.assertIn(shown, text)

        shot = self.browser.call("Page.captureScreenshot", {"format": "png"})
        path = os.path.abspath("live-view.png")
        with open(path, "wb") as file:
            file.write(base64.b64decode(shot["data"]))
        print(f"\nscreenshot {path}; noise {noise:.2f}, "
              f"{time.monotonic() - started:.1f} s", file=sys.stderr)

        # The service leaves in order with the view running, and its
        # sanitizers (in those builds) found nothing in the view's threads.
        self.service.terminate()
        code = self.service.wait(timeout=WAIT_SECONDS)
        self.assertEqual(code, 0, self.service.stderr.read())


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    if result.skipped and result.wasSuccessful() and result.testsRun <= len(result.skipped):
        for _, reason in result.skipped:
            print("skipped:", reason, file=sys.stderr)
        sys.exit(SKIPPED)
    sys.exit(0 if result.wasSuccessful() else 1)
