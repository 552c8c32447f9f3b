"""The waits, images and the asyncio client, against the vesk program on the
simulator."""

import asyncio
import os
import threading
import time
import types
import unittest
from unittest import mock

from service import IMAGE_CODECS, Service

import vesk
import vesk._operations
import vesk.aio

try:
    import numpy  # noqa: F401
    import PIL  # noqa: F401
    HAVE_IMAGES = True
except ImportError:
    HAVE_IMAGES = False


class StageMoves(unittest.TestCase):
    def test_move_is_followed_to_its_end_and_stopped_when_the_wait_gives_up(self):
        # Real time: the stage travels 4 mm/s.
        with Service("--time-scale", "1") as service, vesk.Scope("127.0.0.1", service.port) as scope:
            seen = []
            position = scope.move_stage(x=2.0, y=-1.0, progress=seen.append)
            self.assertAlmostEqual(position.x, 2.0, places=3)
            self.assertAlmostEqual(position.y, -1.0, places=3)
            self.assertFalse(position.moving)
            self.assertTrue(any(p.reading.moving for p in seen))
            with self.assertRaises(vesk.WaitTimeout) as gave_up:
                scope.move_stage(x=39.0, timeout=0.3)
            self.assertTrue(gave_up.exception.last.move_status)
            stopped = scope.stage_position()
            self.assertFalse(stopped.moving)
            self.assertLess(stopped.x, 10.0)


class Physical(unittest.TestCase):
    def test_focus_in_micrometres_and_stage_limits(self):
        with Service("--time-scale", "0") as service:
            with vesk.Scope("127.0.0.1", service.port, instrument=vesk.SIMULATOR) as scope:
                self.assertAlmostEqual(scope.set_focus_um(12000).working_distance_mm, 12.0, places=3)
                self.assertAlmostEqual(scope.focus_um(), 12000, delta=0.01)
                scope.defocus_um(-35)
                self.assertAlmostEqual(scope.focus_um(), 11965, delta=0.01)
                with self.assertRaisesRegex(vesk.OutsideStageLimits, r"x would end at 50 mm, outside .* -40 \.\. 40"):
                    scope.move_stage(x=50)
                scope.move_stage(y=30)
                with self.assertRaises(vesk.OutsideStageLimits) as beyond:
                    scope.move_stage(y=15, relative=True)
                self.assertEqual((beyond.exception.axis, beyond.exception.limits), ("y", (-40.0, 40.0)))
            with vesk.Scope("127.0.0.1", service.port) as unknown:
                with self.assertRaisesRegex(ValueError, "Scope\\(instrument=...\\)"):
                    unknown.focus_um()
                with self.assertRaisesRegex(vesk.Refused, "WABS refused the move \\(x=50 mm\\)"):
                    unknown.move_stage(x=50)


class HighVoltage(unittest.TestCase):
    def test_high_voltage_waits_for_the_vacuum(self):
        with Service("--time-scale", "0", "--pin", "GetVacuumStatus=1") as service:
            with vesk.Scope("127.0.0.1", service.port) as scope:
                with self.assertRaisesRegex(vesk.NotReady, "vacuum"):
                    scope.high_voltage_on(wait=False)
                with self.assertRaises(vesk.WaitTimeout):
                    scope.high_voltage_on(timeout=0.5, poll_interval=0.1)
                self.assertEqual(scope.read_high_voltage().ht_state, 0)


@unittest.skipUnless(HAVE_IMAGES, "python3-numpy and python3-pil are not installed")
class Images(unittest.TestCase):
    def test_captures_read_as_arrays_with_their_pixel_size(self):
        with Service("--time-scale", "0") as service:
            with vesk.Scope("127.0.0.1", service.port, image_folder=service.images) as scope:
                scope.high_voltage_on()
                scope.set_magnification(2000)
                image = scope.capture(r"C:\images\plain.bmp").read()
                self.assertEqual(image.pixels.shape, (480, 640))
                self.assertEqual(image.metadata["magnification"], 2000)
                self.assertAlmostEqual(image.pixel_size_um, 128000.0 / 2000 / 640)
                self.assertGreater(image.pixels.std(), 1.0)
                if not IMAGE_CODECS:
                    self.skipTest("this build saves BMP only")
                saved = scope.save_image(r"D:\images\barred.tif", format="tiff", data_bar=True)
                tiff = vesk.read_image(saved.local_path)  # metadata from the file alone
                self.assertEqual(tiff.pixels.shape, (512, 640))
                self.assertEqual(tiff.metadata["magnification"], 2000)
                jpeg = scope.save_image(r"C:\images\small.jpg", format="jpeg").read()
                self.assertEqual(jpeg.metadata["format"], "JPEG")
                with self.assertRaisesRegex(ValueError, "save_image"):
                    scope.capture(r"C:\images\x.tif", format="tiff")
                with self.assertRaisesRegex(ValueError, "bmp, tiff or jpeg, not 'png'"):
                    scope.capture(r"C:\images\x.png", format="png")

    def test_metadata_travels_with_the_image(self):
        with Service("--time-scale", "0") as service:
            with vesk.Scope("127.0.0.1", service.port, image_folder=service.images,
                            instrument=vesk.SIMULATOR) as scope:
                scope.high_voltage_on()
                scope.set_scan_speed(2)
                scope.move_stage(x=1.25)
                # A build without the image codecs writes BMP only.
                name, kind = (r"C:\images\meta.tif", "tiff") if IMAGE_CODECS else (r"C:\images\meta.bmp", "bmp")
                saved = scope.save_image(name, format=kind, data_bar=True)
                # From the file and its sidecar alone, as another program would.
                image = vesk.read_image(saved.local_path, crop_data_bar=True)
                self.assertEqual(image.pixels.shape, (480, 640))
                self.assertEqual(image.metadata["data_bar_rows"], 32)
                self.assertEqual(image.metadata["scan_speed"], 2)
                self.assertAlmostEqual(image.metadata["stage"]["x"], 1.25, places=3)
                self.assertRegex(image.metadata["time"], r"^\d{4}-\d\d-\d\dT.*\+00:00$")
                self.assertEqual(saved.read().pixels.shape, (512, 640))


class Saves(unittest.TestCase):
    def test_a_save_is_saved_only_when_its_end_and_its_file_were_seen(self):
        with Service("--time-scale", "0") as service:
            with vesk.Scope("127.0.0.1", service.port, image_folder=service.images) as scope:
                for path, reason in ((r"C:\images" + "\\", "names a folder"),
                                     ("C:\\" + "a" * 296 + ".bmp", "at most 259"),
                                     ("C:\\images\\\u00e9t\u00e9.bmp", "code page"),
                                     (r"C:\images\a?.bmp", "cannot hold '\\?'")):
                    with self.subTest(path=path), self.assertRaisesRegex(vesk.BadPath, reason):
                        scope.capture(path)
                with self.assertRaisesRegex(vesk.BadPath, "names a folder"):
                    scope.save_image(r"C:\images\..")
                self.assertEqual(scope.read_image_data_flag().image_data_flag, 0)  # nothing was asked for
                shot = scope.capture(r"C:\images\ok.bmp")
                self.assertTrue(shot.saved)
                self.assertTrue(os.path.isfile(shot.local_path))
                # Windows takes a 200-byte name, the simulator writes none over 128.
                with mock.patch("vesk._operations.FILE_WAIT", 0.3), self.assertRaisesRegex(vesk.NotSaved, "no file"):
                    scope.save_image("C:\\" + "n" * 200 + ".bmp")
                unreached = vesk.Scope("127.0.0.1", service.port, image_folder=os.path.join(service.folder, "no"))
                with mock.patch("vesk._operations.FILE_WAIT", 0.3), self.assertRaises(vesk.NotSaved):
                    unreached.capture(r"C:\images\b.bmp")
                unreached.close()

    def test_a_save_that_outlasts_the_service_s_wait_is_not_saved(self):
        # ISAV gives up after 180 s of real time, which the simulator cannot
        # shorten: its steps are fed the replies of such a save instead.
        answers = {"EXSR": types.SimpleNamespace(magnification=1000, accelerating_voltage_kv=15.0,
                                                 working_distance_mm=10.0),
                   "WSTR": types.SimpleNamespace(position1=0.0, position2=0.0, position3=10.0, position4=0.0,
                                                 position5=0.0, move_status=0),
                   "PNEL": types.SimpleNamespace(answer=100), "ISAV": None,
                   "IFSR": types.SimpleNamespace(image_data_flag=1)}
        steps = vesk._operations.save_image(types.SimpleNamespace(image_folder=None, instrument=None),
                                            r"C:\images\slow.bmp")
        asked = []
        with self.assertRaisesRegex(vesk.WaitTimeout, "IFSR still reads a capture pending") as pending:
            step = steps.send(None)
            while True:
                asked.append(step.code)
                step = steps.send(answers[step.code])
        self.assertEqual(asked[-2:], ["ISAV", "IFSR"])
        self.assertFalse(pending.exception.capture.saved)
        self.assertEqual(pending.exception.last.image_data_flag, 1)

    def test_a_timeout_says_the_command_may_still_run(self):
        with Service("--time-scale", "0.05") as service:
            with vesk.Scope("127.0.0.1", service.port) as slow, \
                    vesk.Scope("127.0.0.1", service.port, timeout=0.2) as scope:
                slow.set_scan_speed(3)
                saving = threading.Thread(target=slow.save_image, args=(r"C:\slow.bmp",))
                scope.read_high_voltage()
                saving.start()
                time.sleep(0.1)
                with self.assertRaisesRegex(vesk.Timeout, "was sent and may still be carried out") as late:
                    scope.set_magnification(20000)
                saving.join()
                self.assertEqual((late.exception.code, late.exception.sent), ("EMGS", True))


class Asyncio(unittest.TestCase):
    def test_the_same_calls_for_asyncio(self):
        async def session(port):
            async with vesk.aio.Scope("127.0.0.1", port) as scope:
                await scope.high_voltage_on()
                self.assertEqual((await scope.set_magnification(1000)).magnification, 1000)
                run = await scope.autofocus()
                self.assertFalse(run.still_running)
                self.assertGreater(run.working_distance_mm, 5.0)
                position = await scope.move_stage(x=2.0, relative=True)
                self.assertAlmostEqual(position.x, 2.0, places=3)
                with self.assertRaises(vesk.OutOfRange):
                    await scope.set_stigmators(x=0, y=5000)
                with self.assertRaises(vesk.NotServed):
                    await scope.read_vacuum()
                self.assertEqual((await scope.read_auto_mode()).auto_mode, 0)

        with Service("--time-scale", "0", registry="vesk-only.reg") as service:
            asyncio.run(session(service.port))

    def test_tasks_share_one_scope_and_a_reconnect_is_told(self):
        found = []

        async def told(reconnect):
            found.append(reconnect)

        async def work(scope, magnification):
            for _ in range(20):
                self.assertEqual((await scope.set_magnification(magnification)).magnification, magnification)

        async def before(scope):
            await scope.high_voltage_on()
            await asyncio.gather(*(work(scope, m) for m in (1000, 2000, 5000, 10000)))

        async def after(scope):
            self.assertEqual((await scope.read_optics()).magnification, 1000)  # a read, sent again
            await scope.close()
            self.assertFalse(scope.connected)

        async def session():
            # The service restarts under one event loop's connection.
            with Service("--time-scale", "0") as first:
                scope = vesk.aio.Scope("127.0.0.1", first.port, on_reconnect=told)
                await before(scope)
            with Service("--time-scale", "0", port=first.port), self.assertLogs("vesk", "WARNING"):
                await after(scope)

        asyncio.run(session())
        self.assertEqual(len(found), 1)
        self.assertEqual(found[0].changed["ht_state"], (vesk.HtState.ON, vesk.HtState.OFF_VACUUM_READY))


if __name__ == "__main__":
    unittest.main()
