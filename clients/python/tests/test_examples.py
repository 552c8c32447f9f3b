"""The examples, against the vesk program on the simulator."""

import os
import subprocess
import sys
import unittest

from service import IMAGE_CODECS, PACKAGE, SLOWDOWN, Service

import vesk

EXAMPLES = os.path.join(PACKAGE, "examples")

try:
    import numpy  # noqa: F401
    import PIL  # noqa: F401
    HAVE_IMAGES = True
except ImportError:
    HAVE_IMAGES = False


def run_example(name, service, *options):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, name), "--port", str(service.port)] + list(options),
                          capture_output=True, text=True, timeout=240, env=dict(os.environ, PYTHONPATH=PACKAGE))


class Examples(unittest.TestCase):
    @unittest.skipUnless(IMAGE_CODECS, "this build saves BMP only, and the session saves a TIFF")
    def test_session(self):
        with Service("--time-scale", "0") as service:
            done = run_example("session.py", service)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("captured: C:\\images\\session.bmp", done.stdout)
            self.assertTrue(os.path.isfile(os.path.join(service.images, "images", "session.tif")))

    @unittest.skipUnless(HAVE_IMAGES, "python3-numpy and python3-pil are not installed")
    def test_stage_mosaic(self):
        with Service("--time-scale", "0") as service:
            done = run_example("stage_mosaic.py", service, "--image-folder", service.images,
                               "--timeout", str(10.0 * SLOWDOWN))
            self.assertEqual(done.returncode, 0, done.stderr)
            joined = vesk.read_image(os.path.join(service.images, "mosaic", "mosaic.png"))
            self.assertEqual(joined.pixels.shape, (3 * 480, 3 * 640))

    @unittest.skipUnless(HAVE_IMAGES, "python3-numpy and python3-pil are not installed")
    @unittest.skipIf(SLOWDOWN > 1, "captures take seconds each under emulation; the plain builds run it")
    def test_through_focus(self):
        with Service("--time-scale", "0") as service:
            done = run_example("through_focus.py", service, "--image-folder", service.images)
            self.assertEqual(done.returncode, 0, done.stderr)
            lines = done.stdout.splitlines()
            self.assertEqual(len([line for line in lines if " um/pixel" in line]), 5)
            self.assertNotIn("watcher readings: 0", done.stdout)
            self.assertTrue(os.path.isfile(os.path.join(service.images, "through_focus", "04.bmp.json")))

    @unittest.skipUnless(HAVE_IMAGES, "python3-numpy and python3-pil are not installed")
    @unittest.skipIf(SLOWDOWN > 1, "some forty captures, minutes under emulation; the plain builds run it")
    def test_autofocus_sweep_finds_the_focus_that_the_instrument_finds(self):
        sys.path.insert(0, EXAMPLES)
        import autofocus_sweep

        with Service("--time-scale", "0", "--seed", "3") as service:
            with vesk.Scope("127.0.0.1", service.port, image_folder=service.images) as scope:
                scope.high_voltage_on()
                scope.set_magnification(2000)
                scope.set_working_distance(13.0)
                swept = autofocus_sweep.focus(scope).objective_combined
                found = scope.autofocus().objective_combined
                # Within 4 steps of the coarse objective (about 0.06 mm).
                self.assertLessEqual(abs(swept - found), 4 * 4096)


if __name__ == "__main__":
    unittest.main()
