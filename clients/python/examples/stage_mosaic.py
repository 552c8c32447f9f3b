"""A 3 x 3 mosaic: move the stage tile by tile, one field of view apart,
capture each tile, and join the tiles into one image (mosaic.png beside
them).

    python3 stage_mosaic.py --port 22300 --image-folder build/run/images

Needs NumPy and Pillow (Debian: python3-numpy python3-pil) to join the
tiles, and the folder where this computer reaches the captures."""

import argparse
import os
import sys
from typing import Any, List

import numpy
from PIL import Image

try:
    import vesk
except ImportError:  # run from a checkout: the package is the folder above
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import vesk


def mosaic(scope: vesk.Scope, rows: int = 3, columns: int = 3,
           magnification: int = 500) -> "numpy.ndarray[Any, Any]":
    """Captures rows x columns tiles around the current stage position and
    returns them joined, top row first, as one array."""
    scope.set_magnification(magnification)
    centre = scope.stage_position()
    # The field of view (mm) from the pixel size of a first capture.
    first = scope.capture(r"C:\mosaic\probe.bmp").read()
    width_mm = first.pixel_size_um * first.pixels.shape[1] / 1000.0
    height_mm = width_mm * first.pixels.shape[0] / first.pixels.shape[1]
    tiles = []
    for row in range(rows):
        line = []
        for column in range(columns):
            x = centre.x + (column - (columns - 1) / 2) * width_mm
            y = centre.y + (row - (rows - 1) / 2) * height_mm  # the image rows follow stage y upwards
            scope.move_stage(x=x, y=y)
            line.append(scope.capture(r"C:\mosaic\tile_%d_%d.bmp" % (row, column)).read().pixels)
        tiles.append(numpy.hstack(line))
    scope.move_stage(x=centre.x, y=centre.y)
    return numpy.vstack(tiles)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=22300)
    parser.add_argument("--image-folder", default="build/run/images")
    parser.add_argument("--timeout", type=float, default=10.0, help="seconds per command beyond its own wait")
    options = parser.parse_args()
    with vesk.Scope(options.host, options.port, timeout=options.timeout, image_folder=options.image_folder) as scope:
        scope.high_voltage_on()
        joined = mosaic(scope)
    path = os.path.join(options.image_folder, "mosaic", "mosaic.png")
    Image.fromarray(joined).save(path)
    print("mosaic of %d x %d pixels: %s" % (joined.shape[1], joined.shape[0], path))


if __name__ == "__main__":
    main()
