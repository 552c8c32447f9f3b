"""Images that the instrument saved, as NumPy arrays with their metadata.

NumPy and Pillow (Debian: python3-numpy, python3-pil) are needed only here,
and only when an image is read."""

from __future__ import annotations

import json
import os
import re
from typing import Any, Dict, Optional, Union

# The width of the reference display that a magnification refers to: the
# field of view is DISPLAY_WIDTH_MM / magnification wide (as on the
# simulated instrument). Pass another to read_image() for another instrument.
DISPLAY_WIDTH_MM = 128.0


class MissingExtra(ImportError):
    """NumPy or Pillow, needed to read images, is not installed."""


class Image:
    """pixels: a NumPy array (rows, columns), 8-bit grey as the instrument
    writes it; metadata: what is known of the capture (format, size,
    magnification, accelerating_voltage_kv, working_distance_mm, time,
    stage, scan_speed, data_bar_rows, description, ...); pixel_size_um: the
    width of one pixel in micrometres, where the magnification at capture
    time is known, else None."""

    def __init__(self, pixels: Any, metadata: Dict[str, Any]) -> None:
        self.pixels = pixels
        self.metadata = metadata

    @property
    def pixel_size_um(self) -> Optional[float]:
        value = self.metadata.get("pixel_size_um")
        return float(value) if value is not None else None

    def __repr__(self) -> str:
        return "Image(%s, %r)" % ("x".join(str(n) for n in self.pixels.shape), self.metadata)


class Capture:
    """An image that the instrument was asked to save: `path` on the
    instrument's computer, `local_path` where this computer reaches it (when
    Scope(image_folder=...) says where), `saved` (True once its end, and
    its file where local_path is known, were seen), and `metadata`: the
    time it was asked for (UTC), optics, stage position, scan speed, format
    and data-bar rows."""

    def __init__(self, path: str, local_path: Optional[str], metadata: Dict[str, Any],
                 display_width_mm: Optional[float] = None, saved: bool = False) -> None:
        self.path = path
        self.local_path = local_path
        self.metadata = metadata
        self.display_width_mm = display_width_mm
        self.saved = saved

    @property
    def magnification(self) -> int:
        return int(self.metadata["magnification"])

    @property
    def accelerating_voltage_kv(self) -> float:
        return float(self.metadata["accelerating_voltage_kv"])

    @property
    def working_distance_mm(self) -> float:
        return float(self.metadata["working_distance_mm"])

    @property
    def format(self) -> Optional[str]:
        value = self.metadata.get("format")
        return str(value) if value is not None else None

    @property
    def data_bar(self) -> bool:
        return bool(self.metadata.get("data_bar"))

    def read(self, display_width_mm: Optional[float] = None, crop_data_bar: bool = False) -> Image:
        """The saved image as an Image with this capture's metadata (needs
        local_path, NumPy and Pillow); crop_data_bar leaves the data bar's
        rows out."""
        if self.local_path is None:
            raise ValueError("where this computer reaches %r is not known: give Scope(image_folder=...)" % self.path)
        width = display_width_mm or self.display_width_mm or DISPLAY_WIDTH_MM
        return read_image(self.local_path, magnification=self.magnification, display_width_mm=width,
                          metadata=self.metadata, crop_data_bar=crop_data_bar)

    def __repr__(self) -> str:
        return "Capture(%r -> %r, saved=%s, x%s)" % (self.path, self.local_path, self.saved,
                                                      self.metadata.get("magnification"))


def local_image_path(instrument_path: Union[str, bytes], folder: str) -> str:
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
    parts: list[str] = []
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


def _from_description(text: str) -> Dict[str, Any]:
    """What a TIFF description of the simulated instrument tells
    ("... 15000 V, x1000, WD 10.0 mm")."""
    found: Dict[str, Any] = {}
    for key, pattern in _DESCRIPTION_NUMBERS:
        match = re.search(pattern, text)
        if match:
            value = float(match.group(1))
            found[key] = int(value) if key == "magnification" else (value / 1000.0 if key.endswith("_kv") else value)
    return found


def read_image(path: str, magnification: Optional[int] = None, display_width_mm: float = DISPLAY_WIDTH_MM,
               metadata: Optional[Dict[str, Any]] = None, crop_data_bar: bool = False) -> Image:
    """Read a BMP, TIFF or JPEG file that the instrument saved into an Image:
    `pixels` as a NumPy array, with `metadata` (format, size, TIFF
    description, what the <file>.json sidecar that capture() and
    save_image() write holds, magnification, pixel_size_um where the
    magnification is known: given here, or read from the sidecar or the
    TIFF description). crop_data_bar drops the data bar's rows
    (metadata["data_bar_rows"], from the sidecar or `metadata`).

    Needs NumPy and Pillow (Debian: python3-numpy python3-pil); raises
    MissingExtra without them."""
    try:
        import numpy
        from PIL import Image as PilImage
    except ImportError as missing:
        raise MissingExtra("reading images needs NumPy and Pillow (Debian: apt-get install python3-numpy "
                           "python3-pil): %s" % missing) from None
    with PilImage.open(path) as picture:
        info: Dict[str, Any] = {"format": picture.format, "width": picture.width, "height": picture.height,
                                "mode": picture.mode}
        description = picture.tag_v2.get(270) if hasattr(picture, "tag_v2") else None
        if picture.mode == "P":
            picture = picture.convert("L")  # the grey palette of the instrument's BMP files
        pixels = numpy.asarray(picture)
    if description:
        info["description"] = description
        info.update(_from_description(description))
    try:
        with open(path + ".json", encoding="utf-8") as stream:
            info.update({key: value for key, value in json.load(stream).items() if key != "format"})
    except FileNotFoundError:
        pass
    info.update({key: value for key, value in (metadata or {}).items() if value is not None and key != "format"})
    if magnification:
        info["magnification"] = magnification
    if crop_data_bar:
        rows = info.get("data_bar_rows")
        if rows is None:
            raise ValueError("how many rows the data bar of %s takes is not known: give Scope(instrument=...) "
                             "its data_bar_rows" % path)
        if rows:
            pixels = pixels[:pixels.shape[0] - rows]
            info["height"] = pixels.shape[0]
            info["data_bar_cropped"] = True
    if info.get("magnification"):
        info["pixel_size_um"] = display_width_mm * 1000.0 / info["magnification"] / info["width"]
    return Image(pixels, info)
