"""Focus by image sharpness: capture at several objective-lens settings,
score each image, set the best. First whole millimetres of working distance,
then finer steps of the objective lens around the best of those.

    python3 autofocus_sweep.py --port 22300 --image-folder build/run/images

Needs NumPy and Pillow (Debian: python3-numpy python3-pil), and a folder
where this computer reaches the instrument's captures (--image-folder)."""

import argparse
import os
import sys
from typing import Any, Callable, List, Sequence, Tuple

import numpy

try:
    import vesk
except ImportError:  # run from a checkout: the package is the folder above
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import vesk


def sharpness(pixels: "numpy.ndarray[Any, Any]", bin: int = 4) -> float:
    """Mean squared gradient of the image binned bin x bin, which averages
    the scan noise away but keeps edges that are in focus."""
    rows, columns = (n // bin * bin for n in pixels.shape)
    p = pixels[:rows, :columns].astype(float).reshape(rows // bin, bin, columns // bin, bin).mean(axis=(1, 3))
    return float((numpy.diff(p, axis=0) ** 2).mean() + (numpy.diff(p, axis=1) ** 2).mean())


def sweep(scope: vesk.Scope, name: str, values: Sequence[int],
          apply: Callable[[int], object]) -> Tuple[int, List[float]]:
    """Capture at each value, set the sharpest; returns it and the scores."""
    scores = []
    for index, value in enumerate(values):
        apply(value)
        image = scope.capture(r"C:\focus\%s_%02d.bmp" % (name, index)).read()
        scores.append(sharpness(image.pixels))
    best = values[int(numpy.argmax(scores))]
    apply(best)
    return best, scores


def focus(scope: vesk.Scope, millimetres: int = 3) -> vesk.replies.EXSRReply:
    """Three sweeps, each finer around the best of the one before; returns
    the optics in force at the end."""
    start = round(scope.read_optics().working_distance_mm)
    distances = [d for d in range(start - millimetres, start + millimetres + 1) if 5 <= d <= 48]
    sweep(scope, "wd", distances, scope.set_working_distance)
    for name, span, step in (("coarse", 40, 5), ("fine", 4, 1)):
        coarse = scope.read_optics().objective_coarse
        steps = [c for c in range(coarse - span, coarse + span + 1, step) if 0 <= c <= 4095]
        sweep(scope, name, steps, scope.set_objective_coarse)
    return scope.read_optics()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=22300)
    parser.add_argument("--image-folder", default="build/run/images")
    options = parser.parse_args()
    with vesk.Scope(options.host, options.port, image_folder=options.image_folder) as scope:
        scope.high_voltage_on()
        scope.set_magnification(2000)
        optics = focus(scope)
        print("sharpest at objective %d (working distance %.1f mm)"
              % (optics.objective_combined, optics.working_distance_mm))


if __name__ == "__main__":
    main()
