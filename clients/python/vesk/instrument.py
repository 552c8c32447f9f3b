"""What the protocol does not say about an instrument: its stage limits, how
its objective lens's value maps to a focus distance, the width of the
display that its magnification refers to, and its data bar. Give one to
Scope(instrument=...); vesk.SIMULATOR describes the VESK simulator."""

from __future__ import annotations

import dataclasses
from typing import Mapping, Optional, Tuple

STAGE_AXES = ("x", "y", "z", "tilt", "rotation")
STAGE_UNITS = {"x": "mm", "y": "mm", "z": "mm", "tilt": "degrees", "rotation": "degrees"}


@dataclasses.dataclass(frozen=True)
class Instrument:
    """name: for messages. stage_limits: {axis: (low, high)} for the axes
    whose limits are known, in mm (x, y, z) or degrees (tilt, rotation),
    as absolute positions; a move with any target outside them is refused
    whole. focus_mm_at_zero and focus_mm_per_unit: the focus distance (mm)
    at combined objective value 0 (coarse * 4096 + fine), and its change
    per unit; None where unknown. display_width_mm: the field of view is
    this wide at magnification 1. data_bar_rows: the rows a data bar adds
    below the image."""

    name: str
    stage_limits: Mapping[str, Tuple[float, float]] = dataclasses.field(default_factory=dict)
    focus_mm_at_zero: Optional[float] = None
    focus_mm_per_unit: Optional[float] = None
    display_width_mm: float = 128.0
    data_bar_rows: Optional[int] = None

    def focus_known(self) -> bool:
        return self.focus_mm_at_zero is not None and self.focus_mm_per_unit is not None


# The simulator's lens focuses at 60 - 59 c / 16777215 mm for the combined
# objective value c (sim/README.md).
SIMULATOR = Instrument(
    name="the VESK simulator",
    stage_limits={"x": (-40.0, 40.0), "y": (-40.0, 40.0), "z": (5.0, 48.0), "tilt": (-10.0, 90.0),
                  "rotation": (0.0, 360.0)},
    focus_mm_at_zero=60.0,
    focus_mm_per_unit=-59.0 / 16777215,
    display_width_mm=128.0,
    data_bar_rows=32,
)
