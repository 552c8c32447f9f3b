"""The typed calls and the errors, against the vesk program on the simulator."""

import asyncio
import importlib.metadata
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
import warnings

from service import PACKAGE, SOURCE, Service, free_port

import vesk
import vesk._reply
import vesk.aio
from vesk._names import METHODS


def client_executable():
    return os.environ.get("VESK_CLIENT_EXECUTABLE") or os.path.join(SOURCE, "build", "default", "client", "vesk-client")


# Low vacuum, so that the automatic pressure adjustment (FPAS, after it) may start.
SAMPLES = {"FVMS": [1], "EMGS": [1000], "FVAS": [15.0]}


def sample(field):
    """A value that the service accepts for the field."""
    if field.type == "text":
        return r"C:\round\trip.bmp" if field.name == "path" else "recipe1"
    if field.range:
        middle = int((field.range[0] + field.range[1]) / 2)  # whole: EOWS sets whole millimetres
        return float(middle) if field.type == "f32" else middle
    return 1.0 if field.type == "f32" else 0


class TypedCalls(unittest.TestCase):
    def test_every_command_round_trips_and_decodes_as_vesk_client_does(self):
        with Service("--time-scale", "0") as service, vesk.Scope("127.0.0.1", service.port) as scope:
            scope.high_voltage_on()
            for command in vesk.CATALOGUE.commands:
                if command.code == "FEBS":
                    continue  # switching off would refuse the automatic runs after it
                method = getattr(scope, METHODS[command.code][0])
                arguments = SAMPLES.get(command.code) or [sample(field) for field in command.request]
                with self.subTest(code=command.code):
                    reply = method(*arguments)
                    reply = getattr(reply, "reply", reply)  # AutoRun
                    self.assertEqual(reply.code, command.code)
                    if command.success_status is not None:
                        self.assertEqual(reply.status, command.success_status)
                    self.assertEqual(sorted(reply.fields), sorted(field.name for field in command.reply))
            # The C++ client decodes the same replies to the same values.
            for code in ("FXSR", "EXSR", "WINR", "WSTR", "DDSR", "EGAR", "FLVR", "PIST"):
                with self.subTest(code=code):
                    ours = scope.call(code).fields
                    printed = subprocess.run([client_executable(), "--port", str(service.port), "--json", code],
                                             capture_output=True, text=True, check=True).stdout
                    theirs = json.loads(printed)["fields"]
                    self.assertEqual(ours, {name: theirs[name] for name in ours})

    def test_replies_are_typed_and_say_what_they_mean(self):
        with Service("--time-scale", "0") as service, vesk.Scope("127.0.0.1", service.port) as scope:
            off = scope.read_high_voltage()
            self.assertIsInstance(off, vesk.replies.FXSRReply)
            self.assertIs(off.ht_state, vesk.HtState.OFF_VACUUM_READY)
            self.assertIs(scope.high_voltage_on().ht_state, vesk.HtState.ON)
            self.assertIs(scope.read_stage_status().move_status, vesk.MoveStatus.NOT_MOVING)
            shown = repr(scope.set_magnification(2000))
            self.assertEqual(shown, "EMGSReply(magnification=2000)")
            self.assertIn("ht_state=HtState.ON", repr(scope.read_high_voltage()))
        self.assertIn("1 off, vacuum ready", vesk.replies.FXSRReply.__doc__)
        self.assertIs(vesk.replies.FXSRReply.__annotations__["accelerating_voltage_kv"], float)
        # A code the catalogue names no meaning for stays a number.
        self.assertEqual(vesk._reply.coded(vesk.HtState, 7), 7)

    def test_values_are_checked_before_sending(self):
        with Service("--time-scale", "0") as service, vesk.Scope("127.0.0.1", service.port) as scope:
            with self.assertRaisesRegex(vesk.OutOfRange, r"stigmator_x=3000 is outside -2048 \.\. 2047"):
                scope.set_stigmators(x=3000, y=0)
            with self.assertRaisesRegex(vesk.OutOfRange, r"working_distance_mm=4.0 is outside 5 \.\. 48 mm"):
                scope.set_working_distance(4.0)
            with self.assertRaisesRegex(vesk.OutOfRange, "does not fit s32"):
                scope.set_magnification(2 ** 31)
            with self.assertRaisesRegex(vesk.OutOfRange, "at most 264 fit"):
                scope.capture_and_save(include=1, format=2, path="x" * 264)


try:
    import numpy
except ImportError:
    numpy = None


class Numbers(unittest.TestCase):
    def test_numpy_numbers_are_taken_and_non_finite_ones_refused(self):
        if numpy is None:
            self.skipTest("python3-numpy is not installed")
        with Service("--time-scale", "0") as service, vesk.Scope("127.0.0.1", service.port) as scope:
            for value in (numpy.int64(2000), numpy.int32(3000), numpy.float64(5000.0)):
                self.assertEqual(scope.set_magnification(value).magnification, int(value))
            self.assertEqual(scope.set_accelerating_voltage(numpy.float32(15)).accelerating_voltage_kv, 15.0)
            self.assertEqual(scope.set_stigmators(x=numpy.int16(-7), y=numpy.uint8(9)).stigmator_y, 9)
            for bad in (float("nan"), float("inf"), numpy.float32("-inf")):
                with self.assertRaisesRegex(vesk.OutOfRange, "not a finite number"):
                    scope.set_accelerating_voltage(bad)
            with self.assertRaisesRegex(TypeError, "bool_"):
                scope.set_magnification(numpy.bool_(True))

    def test_clamps_and_snaps_are_told_as_the_service_does_them(self):
        with Service("--time-scale", "0") as service, vesk.Scope("127.0.0.1", service.port) as scope:
            for call, value, field in ((scope.set_magnification, 0, "magnification"),
                                       (scope.set_magnification, 21, "magnification"),
                                       (scope.set_magnification, 210, "magnification"),
                                       (scope.set_magnification, 10 ** 6, "magnification"),
                                       (scope.set_accelerating_voltage, 3.4, "accelerating_voltage_kv"),
                                       (scope.set_accelerating_voltage, 3.5, "accelerating_voltage_kv"),
                                       (scope.set_accelerating_voltage, 0.25, "accelerating_voltage_kv"),
                                       (scope.set_accelerating_voltage, 50, "accelerating_voltage_kv")):
                with self.subTest(value=value), warnings.catch_warnings(record=True) as told:
                    warnings.simplefilter("always")
                    reply = call(value)
                    self.assertEqual(len(told), 1)
                    self.assertIs(told[0].category, vesk.AdjustmentWarning)
                    predicted = float(str(told[0].message).split(" would set ")[1].split()[0])
                    self.assertEqual(getattr(reply, field), predicted)
            with warnings.catch_warnings():
                warnings.simplefilter("error")
                scope.set_magnification(2700)
                scope.set_accelerating_voltage(15.0)
            strict = vesk.Scope("127.0.0.1", service.port, strict=True)
            with self.assertRaises(vesk.NotExact) as snapped:
                strict.set_magnification(21)
            self.assertEqual(snapped.exception.value, 22)
            self.assertEqual(strict.read_optics().magnification, 2700)  # nothing was sent
            with self.assertRaisesRegex(vesk.OutOfRange, "whole millimetres and would set 47 mm"):
                strict.set_working_distance(47.9)
            strict.close()


class Connections(unittest.TestCase):
    def test_threads_share_one_scope_and_each_gets_its_own_reply(self):
        steps = [1000, 2000, 3000, 5000, 10000, 20000, 30000, 50000]
        wrong = []

        def work(scope, magnification):
            for _ in range(40):
                reply = scope.set_magnification(magnification)
                if reply.magnification != magnification:
                    wrong.append((magnification, reply.magnification))
                if scope.read_stage_status().code != "WSTR":
                    wrong.append("WSTR")

        with Service("--time-scale", "0") as service, vesk.Scope("127.0.0.1", service.port) as scope:
            threads = [threading.Thread(target=work, args=(scope, m)) for m in steps]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            self.assertEqual(wrong, [])
            self.assertTrue(scope.connected)

    def test_a_reconnect_tells_of_an_instrument_that_restarted(self):
        found = []
        with Service("--time-scale", "0") as first:
            scope = vesk.Scope("127.0.0.1", first.port, on_reconnect=found.append)
            scope.high_voltage_on()
            scope.move_stage(x=2.0)
            port = first.port
        with Service("--time-scale", "0", port=port), self.assertLogs("vesk", "INFO") as logged:
            # A read is sent again on a new connection; that connection's
            # first readings are compared with the last ones seen.
            self.assertIs(scope.read_high_voltage().ht_state, vesk.HtState.OFF_VACUUM_READY)
            self.assertEqual(len(found), 1)
            self.assertEqual(found[0].changed["ht_state"], (vesk.HtState.ON, vesk.HtState.OFF_VACUUM_READY))
            self.assertEqual(found[0].changed["stage x"], (2.0, 0.0))
            self.assertIs(scope.last_reconnect, found[0])
            scope.close()
        messages = "\n".join(logged.output)
        self.assertIn("retrying FXSR", messages)
        self.assertIn("WARNING:vesk:reconnected (1); the instrument changed", messages)

    def test_both_clients_connect_on_open_or_first_call(self):
        port = free_port()  # nobody listens there
        idle = vesk.Scope("127.0.0.1", port)
        self.assertFalse(idle.connected)
        with self.assertRaises(vesk.ConnectionFailed):
            idle.open()

        async def session():
            scope = vesk.aio.Scope("127.0.0.1", port)
            with self.assertRaises(vesk.ConnectionFailed):
                await scope.open()
            await scope.close()

        asyncio.run(session())


class Errors(unittest.TestCase):
    def test_refused_keeps_the_readings(self):
        # Instrument type 12 refuses magnifications below 8.
        with Service("--time-scale", "0", "--instrument-type", "12") as service:
            with vesk.Scope("127.0.0.1", service.port) as scope:
                scope.set_magnification(2000)
                with self.assertRaises(vesk.Refused) as refused:
                    scope.set_magnification(5)
                self.assertEqual(refused.exception.reply.magnification, 2000)
                self.assertEqual(scope.read_optics().magnification, 2000)

    def test_extended_command_without_enable_flag_is_not_served(self):
        with Service("--time-scale", "0", registry="vesk-only.reg") as service:
            with vesk.Scope("127.0.0.1", service.port) as scope:
                with self.assertRaisesRegex(vesk.NotServed, "EnableFenk"):
                    scope.change_magnification(1)
                self.assertEqual(scope.set_magnification(1000).magnification, 1000)

    def test_twenty_first_client_gets_service_full(self):
        with Service("--time-scale", "0", "--max-per-address", "0") as service:
            held = [vesk.Scope("127.0.0.1", service.port) for _ in range(20)]
            try:
                for scope in held:
                    scope.read_ims()  # each holds a slot
                with self.assertRaisesRegex(vesk.ServiceFull, "20 clients"):
                    vesk.Scope("127.0.0.1", service.port).read_ims()
            finally:
                for scope in held:
                    scope.close()

    def test_timed_out_connection_is_closed_and_the_next_call_gets_its_own_reply(self):
        # A slow capture (scan speed 3) with ISAV holds the service; a read
        # queued behind it times out.
        with Service("--time-scale", "0.05") as service:
            slow = vesk.Scope("127.0.0.1", service.port)
            slow.set_scan_speed(3)
            saving = threading.Thread(target=slow.save_image, args=(r"C:\slow.bmp",))
            scope = vesk.Scope("127.0.0.1", service.port, timeout=0.3)
            scope.read_high_voltage()
            saving.start()
            try:
                with self.assertRaisesRegex(vesk.Timeout, "queue behind another client's waiting command"):
                    while saving.is_alive():
                        scope.read_high_voltage()
                self.assertFalse(scope.connected)
            finally:
                saving.join()
                slow.close()
            scope.timeout = 10.0
            self.assertEqual(scope.set_magnification(3000).magnification, 3000)
            self.assertEqual(scope.read_high_voltage().code, "FXSR")
            scope.close()


def can_build_offline():
    """pip builds the package with this interpreter's setuptools (61 or
    later reads pyproject.toml) and wheel (Debian: python3-setuptools,
    python3-wheel, python3-pip)."""
    try:
        versions = [importlib.metadata.version(name) for name in ("pip", "setuptools", "wheel")]
    except importlib.metadata.PackageNotFoundError:
        return False
    return int(versions[1].split(".")[0]) >= 61


class Package(unittest.TestCase):
    def test_generated_files_are_current(self):
        from vesk import _generate

        for name, source in _generate.GENERATED.items():
            with self.subTest(name=name), open(os.path.join(PACKAGE, "vesk", name), encoding="utf-8") as stream:
                self.assertEqual(stream.read(), source(), "regenerate with: python3 vesk/_generate.py")

    @unittest.skipUnless(can_build_offline(), "pip, setuptools 61+ or wheel missing for this Python")
    def test_installs_offline_and_works_without_numpy(self):
        with tempfile.TemporaryDirectory() as folder:
            # From a copy: building leaves build/ and egg-info beside the sources.
            source = os.path.join(folder, "source")
            target = os.path.join(folder, "target")
            shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
            subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-index",
                            "--target", target, source], check=True, cwd=folder,
                           env=dict(os.environ, PIP_NO_CACHE_DIR="1"))
            script = ("import sys; sys.modules['numpy'] = sys.modules['PIL'] = None; import vesk, vesk.aio\n"
                      "assert vesk.__file__.startswith(%r), vesk.__file__\n"
                      "assert len(vesk.CATALOGUE.commands) == 71\n"
                      "try:\n    vesk.read_image('x.bmp')\nexcept vesk.MissingExtra as e:\n    print(e)\n" % target)
            printed = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True,
                                     cwd=target, env=dict(os.environ, PYTHONPATH=target)).stdout
            self.assertIn("python3-numpy", printed)
            self.assertTrue(os.path.isfile(os.path.join(target, "vesk", "py.typed")))  # type checkers see the hints


if __name__ == "__main__":
    unittest.main()
