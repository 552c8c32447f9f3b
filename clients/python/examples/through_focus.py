"""A through-focus series: images at focus distances spaced in micrometres
(a NumPy array), each with its metadata beside it, while a second thread
watches the stage and the high voltage on the same Scope.

    python3 through_focus.py --port 22300 --image-folder build/run/images

On the simulator (vesk.SIMULATOR knows its focus relation). Needs NumPy and
Pillow (Debian: python3-numpy python3-pil)."""

import argparse
import os
import sys
import threading
from typing import List

import numpy

try:
    import vesk
except ImportError:  # run from a checkout: the package is the folder above
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import vesk


def watch(scope: vesk.Scope, stop: threading.Event, seen: List[str]) -> None:
    """Reads the stage and the high voltage until stopped: one Scope serves
    both threads, each reply to its own request."""
    while not stop.wait(0.05):
        voltage = scope.read_high_voltage()
        position = scope.stage_position()
        seen.append("%s at x=%.3f" % (voltage.ht_state.name if isinstance(voltage.ht_state, vesk.HtState)
                                      else voltage.ht_state, position.x))


def series(scope: vesk.Scope, offsets_um: "numpy.ndarray[object, numpy.dtype[numpy.float64]]") -> List[vesk.Image]:
    """One image per focus offset from the focus in force, which is restored."""
    start = scope.focus_um()
    images = []
    for index, offset in enumerate(offsets_um):
        scope.set_focus_um(start + offset)  # NumPy numbers go in as they are
        images.append(scope.capture(r"C:\through_focus\%02d.bmp" % index).read())
    scope.set_focus_um(start)
    return images


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=22300)
    parser.add_argument("--image-folder", default="build/run/images")
    options = parser.parse_args()
    with vesk.Scope(options.host, options.port, image_folder=options.image_folder,
                    instrument=vesk.SIMULATOR) as scope:
        scope.high_voltage_on()
        scope.set_magnification(numpy.int64(5000))
        stop, seen = threading.Event(), []  # type: threading.Event, List[str]
        watcher = threading.Thread(target=watch, args=(scope, stop, seen))
        watcher.start()
        try:
            images = series(scope, numpy.linspace(-60.0, 60.0, 5))
        finally:
            stop.set()
            watcher.join()
    for image in images:
        meta = image.metadata
        print("%s x%d focus %.1f um (WD reads %.1f mm), stage x %.3f mm, scan speed %s, %.4f um/pixel"
              % (meta["time"], meta["magnification"], meta["focus_um"], meta["working_distance_mm"],
                 meta["stage"]["x"], meta["scan_speed"], image.pixel_size_um or 0.0))
    print("watcher readings:", len(seen))


if __name__ == "__main__":
    main()
