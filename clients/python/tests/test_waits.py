"""The waits, images and the asyncio client, against the vesk program on the
simulator."""

import asyncio
import unittest

from service import IMAGE_CODECS, Service

import vesk
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


if __name__ == "__main__":
    unittest.main()
