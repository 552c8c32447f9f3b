"""What the service does to a value before it sets it: where it clamps or
snaps, the client says so before sending (a warning, or NotExact from a
strict Scope); where it would silently drop a fraction, the client refuses.
The rules are the service's own, per command and field."""

from __future__ import annotations

import struct
from typing import TYPE_CHECKING, Callable, Dict, Optional, Tuple
import warnings

from .errors import AdjustmentWarning, NotExact, OutOfRange

if TYPE_CHECKING:
    from ._catalogue import Field


def _single(value: float) -> float:
    single: float = struct.unpack(">f", struct.pack(">f", value))[0]
    return single


# Ascending, 5 .. 300000: 5 .. 20, then 32 values a decade, then five more.
_DECADE = (22, 23, 25, 27, 30, 33, 35, 37, 40, 43, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100, 110, 120, 130,
           140, 150, 160, 170, 180, 190, 200)
MAGNIFICATION_STEPS = tuple(range(5, 21)) + tuple(d * s for d in (1, 10, 100, 1000) for s in _DECADE) + (
    220000, 230000, 250000, 270000, 300000)

# Descending, in volts: 30000 .. 3000 by 1000, then 2900 .. 300 by 100.
VOLTAGE_STEPS = tuple(range(30000, 2999, -1000)) + tuple(range(2900, 299, -100))


def magnification_target(value: float) -> float:
    """The step that EMGS sets for `value`: clamped to 5 .. 300000, then the
    nearest step, ties upward."""
    value = min(max(value, MAGNIFICATION_STEPS[0]), MAGNIFICATION_STEPS[-1])
    for index, step in enumerate(MAGNIFICATION_STEPS):
        if step >= value:
            if step == value:
                return step
            below = MAGNIFICATION_STEPS[index - 1]
            return below if value - below < step - value else step
    raise AssertionError("the clamp keeps every value within the steps")


def voltage_target_kv(kilovolts: float) -> float:
    """The accelerating voltage (kV) that FVAS sets for `kilovolts`: clamped
    to 0.3 .. 30 kV, then the nearest of 55 steps, ties upward."""
    volts = _single(_single(kilovolts) * 1000.0)
    volts = min(max(volts, 300.0), 30000.0)
    whole = int(volts)
    for index, step in enumerate(VOLTAGE_STEPS):
        if whole >= step:
            if step == volts:
                return step / 1000.0
            above = VOLTAGE_STEPS[index - 1]
            return (above if above - whole <= whole - step else step) / 1000.0
    raise AssertionError("the clamp keeps every value within the steps")


def _magnification(value: float) -> Optional[Tuple[float, str]]:
    target = magnification_target(value)
    if target != value:
        return target, "%d (the service clamps to 5 .. 300000 and snaps to the nearest of its 149 steps, ties " \
                       "upward)" % target
    return None


def _voltage(value: float) -> Optional[Tuple[float, str]]:
    target = voltage_target_kv(value)
    if target != _single(value):
        return target, "%s kV (the service clamps to 0.3 .. 30 kV and snaps to the nearest of its 55 steps, ties " \
                       "upward)" % target
    return None


def _whole_millimetres(what: str, value: float) -> None:
    if float(value) != int(value):
        raise OutOfRange("%s=%r: the service sets the working distance in whole millimetres and would set %d mm; "
                         "give a whole number" % (what, value, int(value)))


_RULES: Dict[Tuple[str, str], Callable[[float], Optional[Tuple[float, str]]]] = {("EMGS", "magnification"): _magnification, ("FVAS", "acceleratingVoltage"): _voltage}


def check(code: str, field: Field, what: str, value: float, strict: bool) -> None:
    """Refuse a fraction the service would drop; warn (strict: raise
    NotExact) when it would set another value than `value`."""
    if (code, field.name) == ("EOWS", "workingDistance"):
        _whole_millimetres(what, value)
        return
    rule = _RULES.get((code, field.name))
    outcome = rule(value) if rule else None
    if outcome is None:
        return
    message = "%s=%r would set %s" % (what, value, outcome[1])
    if strict:
        raise NotExact(message, outcome[0])
    warnings.warn(AdjustmentWarning(message), stacklevel=2)
