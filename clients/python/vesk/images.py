"""Images that the instrument saved, as NumPy arrays with their metadata.

NumPy and Pillow (Debian: python3-numpy, python3-pil) are needed only here,
and only when an image is read."""

import os
import re

# The width of the reference display that a magnification refers to: the
# field of view is DISPLAY_WIDTH_MM / magnification wide (as on the
# simulated instrument). Pass another to read_image() for another instrument.
DISPLAY_WIDTH_MM = 128.0


class MissingExtra(ImportError):
    """NumPy or Pillow, needed to read images, is not installed."""


class Image:
    """pixels: a NumPy array (rows, columns), 8-bit grey as the instrument
    writes it; metadata: what is known of the capture (format, magnification,
    accelerating_voltage_kv, working_distance_mm, description, ...);
    pixel_size_um: the width of one pixel in micrometres, where the
    magnification at capture time is known, else None."""

    def __init__(self, pixels, metadata):
        self.pixels = pixels
        self.metadata = metadata

    @property
    def pixel_size_um(self):
        return self.metadata.get("pixel_size_um")

    def __repr__(self):
        return "<Image %s %s>" % ("x".join(str(n) for n in self.pixels.shape), self.metadata)


class Capture:
    """An image that the instrument was asked to save: `path` on the
    instrument's computer, `local_path` where this computer reaches it (when
    Scope(image_folder=...) says where), and the optics at capture time."""

    def __init__(self, path, local_path, format, data_bar, magnification, accelerating_voltage_kv,
                 working_distance_mm, saved):
        self.path = path
        self.local_path = local_path
        self.format = format
        self.data_bar = data_bar
        self.magnification = magnification
        self.accelerating_voltage_kv = accelerating_voltage_kv
        self.working_distance_mm = working_distance_mm
        self.saved = saved

    def read(self, display_width_mm=DISPLAY_WIDTH_MM):
        """The saved image as an Image (needs local_path, NumPy and Pillow)."""
        if self.local_path is None:
            raise ValueError("where this computer reaches %r is not known: give Scope(image_folder=...)" % self.path)
        return read_image(self.local_path, magnification=self.magnification, display_width_mm=display_width_mm,
                          metadata={"accelerating_voltage_kv": self.accelerating_voltage_kv,
                                    "working_distance_mm": self.working_distance_mm})

    def __repr__(self):
        return "<Capture %r -> %r x%s>" % (self.path, self.local_path, self.magnification)


def local_image_path(instrument_path, folder):
    r"""Where a path on the instrument's computer lies under `folder`, a
    local folder that stands for its drive (a shared folder, or the
    simulator's image folder): C:\images\a.bmp -> folder/images/a.bmp.
    Drive letters and \\server\share prefixes are dropped; '..' never
    climbs above the folder."""
    text = instrument_path.decode("cp932", "replace") if isinstance(instrument_path, bytes) else str(instrument_path)
    text = text.replace("/", "\\")
    for prefix in ("\\\\?\\", "\\\\.\\"):
        if text.startswith(prefix):
            text = text[len(prefix):]
    if text.startswith("\\\\"):
        text = "\\".join(text[2:].split("\\")[2:])
    text = re.sub(r"^[A-Za-z]:", "", text)
    parts = []
    for part in text.split("\\"):
        if part in ("", "."):
            continue
        if part == "..":
            if parts:
                parts.pop()
            continue
        parts.append(part)
    return os.path.join(folder, *parts)


_DESCRIPTION_NUMBERS = (
    ("magnification", r"\bx\s*(\d+)"),
    ("accelerating_voltage_kv", r"\b(\d+(?:\.\d+)?)\s*V\b"),
    ("working_distance_mm", r"\bWD\s*(\d+(?:\.\d+)?)\s*mm"),
)


def _from_description(text):
    """What a TIFF description of the simulated instrument tells
    ("... 15000 V, x1000, WD 10.0 mm")."""
    found = {}
    for key, pattern in _DESCRIPTION_NUMBERS:
        match = re.search(pattern, text)
        if match:
            value = float(match.group(1))
            found[key] = int(value) if key == "magnification" else (value / 1000.0 if key.endswith("_kv") else value)
    return found


def read_image(path, magnification=None, display_width_mm=DISPLAY_WIDTH_MM, metadata=None):
    """Read a BMP, TIFF or JPEG file that the instrument saved into an Image:
    `pixels` as a NumPy array, with `metadata` (format, size, TIFF
    description, magnification, pixel_size_um where the magnification is
    known: given here, or read from the TIFF description).

    Needs NumPy and Pillow (Debian: python3-numpy python3-pil); raises
    MissingExtra without them."""
    try:
        import numpy
        from PIL import Image as PilImage
    except ImportError as missing:
        raise MissingExtra("reading images needs NumPy and Pillow (Debian: apt-get install python3-numpy "
                           "python3-pil): %s" % missing) from None
    with PilImage.open(path) as picture:
        info = {"format": picture.format, "width": picture.width, "height": picture.height, "mode": picture.mode}
        description = picture.tag_v2.get(270) if hasattr(picture, "tag_v2") else None
        if picture.mode == "P":
            picture = picture.convert("L")  # the grey palette of the instrument's BMP files
        pixels = numpy.asarray(picture)
    if description:
        info["description"] = description
        info.update(_from_description(description))
    info.update({key: value for key, value in (metadata or {}).items() if value is not None})
    if magnification:
        info["magnification"] = magnification
    if info.get("magnification"):
        info["pixel_size_um"] = display_width_mm * 1000.0 / info["magnification"] / info["width"]
    return Image(pixels, info)
