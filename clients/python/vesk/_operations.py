"""Every wait of vesk.Scope and vesk.aio.Scope, written once as a generator
of steps (a request, a pause, a progress report) that the blocking and the
asyncio client each carry out in their own way."""

from __future__ import annotations

import datetime
import json
import math
import os
import time
from typing import Any, Callable, Dict, Generator, NamedTuple, Optional, Protocol, Tuple, TypeVar, Union

from . import replies
from ._catalogue import CATALOGUE, Command
from ._names import IMAGE_FORMATS, METHODS
from ._types import Real, Text
from .errors import NotReady, NotSaved, NotServed, OutOfRange, OutsideStageLimits, Refused, VeskError, WaitTimeout
from .images import Capture, local_image_path
from .instrument import STAGE_AXES, STAGE_UNITS, Instrument
from .replies import AlignmentState, HtState, ImageDataFlag, MoveStatus


class Call:
    """Step: send a request and receive its Reply (or the error it means)."""

    __slots__ = ("code", "fields", "body", "progress", "timeout")

    def __init__(self, code: str, fields: Optional[Dict[str, Any]] = None, body: Optional[bytes] = None,
                 progress: Optional[ProgressCallback] = None, timeout: Optional[float] = None) -> None:
        self.code = code
        self.fields = fields or {}
        self.body = body
        self.progress = progress  # called about once a second while the reply is awaited
        self.timeout = timeout  # None: the command's wait in the service plus Scope.timeout


class Sleep:
    __slots__ = ("seconds",)

    def __init__(self, seconds: float) -> None:
        self.seconds = seconds


class Report:
    """Step: hand a Progress to the caller's callback."""

    __slots__ = ("callback", "value")

    def __init__(self, callback: ProgressCallback, value: Progress) -> None:
        self.callback = callback
        self.value = value


Step = Union[Call, Sleep, Report]
T = TypeVar("T")
Steps = Generator[Step, Any, T]


class Progress(NamedTuple):
    """What a progress callback receives: the wait's name (a command code or
    "move_stage", "capture", ...), the seconds since it began, its time-out,
    and the latest reading (a Reply, a StagePosition, or None while a
    command runs inside the service)."""

    what: str
    elapsed: float
    limit: float
    reading: Any


# A progress callback; the asyncio client also awaits what it returns.
ProgressCallback = Callable[[Progress], Any]


class StagePosition(NamedTuple):
    """The stage's five axes in the instrument's units (mm, degrees), from WSTR."""

    x: float
    y: float
    z: float
    tilt: float
    rotation: float
    moving: bool


class Settings(Protocol):
    """What the steps read of the Scope that carries them out."""

    image_folder: Optional[str]
    instrument: Optional[Instrument]


class AutoRun:
    """The outcome of autofocus(), autostigmate() or auto_contrast_brightness():
    `reply` (the readings the run left), `still_running` (True when the
    service stopped waiting before the run ended: the automatic-operation mode
    read afterwards was not idle), and `auto_mode`. Reply fields read through:
    run.working_distance_mm."""

    def __init__(self, reply: Union[replies.EFASReply, replies.ESASReply, replies.DACSReply], auto_mode: int) -> None:
        self.reply = reply
        self.auto_mode = auto_mode
        self.still_running = auto_mode != 0

    def __getattr__(self, name: str) -> Any:
        if name == "reply":
            raise AttributeError(name)
        return getattr(self.reply, name)

    def __repr__(self) -> str:
        return "AutoRun(still_running=%s, auto_mode=%d, reply=%r)" % (self.still_running, self.auto_mode, self.reply)


def _stage_position(status: replies.WSTRReply) -> StagePosition:
    return StagePosition(status.position1, status.position2, status.position3, status.position4, status.position5,
                         moving=status.move_status != MoveStatus.NOT_MOVING)


def _poll(what: str, read: Callable[[], Call], done: Callable[[Any], bool], timeout: float,
          progress: Optional[ProgressCallback], interval: float) -> Steps[Any]:
    """Read until done(reading), reporting each reading; WaitTimeout after
    `timeout` seconds with the last reading."""
    start = time.monotonic()
    while True:
        reading = yield read()
        elapsed = time.monotonic() - start
        if progress is not None:
            yield Report(progress, Progress(what, elapsed, timeout, reading))
        if done(reading):
            return reading
        if elapsed >= timeout:
            raise WaitTimeout("%s did not end within %.1f s" % (what, timeout), reading)
        yield Sleep(interval)


def typed_doc(command: Command) -> str:
    """The docstring of a command's typed call."""
    aliases = {wire: short for short, wire in METHODS[command.code][1].items()}
    lines = ["%s (%s, %s table)." % (command.summary[0].upper() + command.summary[1:], command.code, command.table)]
    if command.extended:
        lines.append("Served only while the service's EnableFenk registry flag is 1, else NotServed.")
    if command.request:
        lines.append("")
        lines.append("Arguments (checked before sending where a range is known):")
        for field in command.request:
            shown = aliases.get(field.name)
            lines.append("  " + (shown + " = " if shown else "") + field.describe())
    lines.append("")
    lines.append("Returns a vesk.replies.%sReply%s." % (command.code, " (its fields' meanings in its docstring)"
                                                       if command.reply else ", without fields"))
    if command.failure_body != "cannot fail":
        lines.append("Raises Refused on " + command.failure_note + ".")
    if command.note:
        lines.append(command.note)
    return "\n".join(lines)


# ---- Waits ----

def autofocus(self: Settings, progress: Optional[ProgressCallback] = None,
              timeout: Optional[float] = None) -> Steps[AutoRun]:
    """Automatic focus (EFAS): the service waits for the run, up to about 20 s.

    Returns an AutoRun: the readings the run left (objective, working
    distance, stigmators, IMS, contrast, brightness) and `still_running`,
    True when the run had not ended when the service stopped waiting.
    `progress` is called about once a second while the service waits;
    `timeout` (seconds) defaults to the service's limit plus Scope.timeout.
    Raises Refused when the run cannot start (high voltage off, beam
    blanked, another run going)."""
    return (yield from _auto_run("EFAS", progress, timeout))


def autostigmate(self: Settings, progress: Optional[ProgressCallback] = None,
                 timeout: Optional[float] = None) -> Steps[AutoRun]:
    """Automatic stigmation (ESAS); as autofocus()."""
    return (yield from _auto_run("ESAS", progress, timeout))


def auto_contrast_brightness(self: Settings, progress: Optional[ProgressCallback] = None,
                             timeout: Optional[float] = None) -> Steps[AutoRun]:
    """Automatic contrast and brightness (DACS); as autofocus(), with the
    15 detector items as readings."""
    return (yield from _auto_run("DACS", progress, timeout))


def _auto_run(code: str, progress: Optional[ProgressCallback], timeout: Optional[float]) -> Steps[AutoRun]:
    reply = yield Call(code, progress=progress, timeout=timeout)
    mode = yield Call("EAAR")
    return AutoRun(reply, mode.auto_mode)


def _number(name: str, value: Real) -> float:
    number = float(value)
    if not math.isfinite(number):
        raise OutOfRange("%s=%r is not a finite number" % (name, value))
    return number


def move_stage(self: Settings, x: Optional[Real] = None, y: Optional[Real] = None, z: Optional[Real] = None,
               tilt: Optional[Real] = None, rotation: Optional[Real] = None, relative: bool = False,
               wait: bool = True, progress: Optional[ProgressCallback] = None, timeout: float = 120.0,
               poll_interval: float = 0.1) -> Steps[Optional[StagePosition]]:
    """Move the stage (WABS, or WRES with relative=True) on the axes given,
    in the instrument's units (x, y, z in mm; tilt, rotation in degrees).

    Targets outside the stage limits of Scope(instrument=...) raise
    OutsideStageLimits naming the axis and its limits, before anything is
    sent (a relative move is checked against the position read first; a
    relative rotation is not checked). A move the instrument refuses raises
    Refused naming the targets, and the limits where they are known.

    With wait=True polls WSTR until the stage stands and returns its
    StagePosition; `progress` gets each reading. When the wait ends in any
    other way (WaitTimeout after `timeout` s, an error, Ctrl+C) the stage
    is stopped (WDSS) before the error is raised. Without wait returns None
    as soon as the move has started."""
    given = {axis: _number(axis, value) for axis, value in zip(STAGE_AXES, (x, y, z, tilt, rotation))
             if value is not None}
    if not given:
        raise TypeError("move_stage needs at least one of x, y, z, tilt, rotation")
    limits = dict(self.instrument.stage_limits) if self.instrument is not None else {}
    targets = dict(given)
    if relative and any(axis in limits for axis in given if axis != "rotation"):
        here = _stage_position((yield Call("WSTR")))
        targets = {axis: getattr(here, axis) + value for axis, value in given.items()}
    for axis, target in targets.items():
        if axis in limits and not (relative and axis == "rotation"):
            low, high = limits[axis]
            if not low <= target <= high:
                raise OutsideStageLimits(axis, target, (low, high), relative)
    code = "WRES" if relative else "WABS"
    word = "distance" if relative else "position"
    fields: Dict[str, Any] = {}
    for number, axis in enumerate(STAGE_AXES, start=1):
        fields["axisWord%d" % number] = 1 if axis in given else 0
        fields["%s%d" % (word, number)] = given.get(axis, 0.0)
    try:
        yield Call(code, fields)
    except Refused as refused:
        asked = ", ".join("%s%s%g %s" % (axis, " by " if relative else "=", value, STAGE_UNITS[axis])
                          for axis, value in given.items())
        known = ", ".join("%s %g .. %g %s" % (axis, limits[axis][0], limits[axis][1], STAGE_UNITS[axis])
                          for axis in given if axis in limits)
        raise Refused("%s refused the move (%s): the instrument refuses a whole move when a target lies outside "
                      "an axis's limit or the stage cannot move; %s" % (
                          code, asked, "the limits: " + known if known else
                          "Scope(instrument=...) gives no stage limits to check against"), refused.reply) from None
    if not wait:
        return None
    try:
        status = yield from _poll("move_stage", lambda: Call("WSTR"), lambda s: bool(s.move_status == 0), timeout,
                                  _as_positions(progress), poll_interval)
    except BaseException:
        try:
            yield Call("WDSS")
        except VeskError:
            pass
        raise
    return _stage_position(status)


def _as_positions(progress: Optional[ProgressCallback]) -> Optional[ProgressCallback]:
    """The callback, handed StagePositions rather than WSTR replies."""
    if progress is None:
        return None
    report = progress
    return lambda p: report(p._replace(reading=_stage_position(p.reading)))


def stage_position(self: Settings) -> Steps[StagePosition]:
    """The stage's position (WSTR) as a StagePosition."""
    return _stage_position((yield Call("WSTR")))


def high_voltage_on(self: Settings, wait: bool = True, timeout: float = 120.0,
                    progress: Optional[ProgressCallback] = None,
                    poll_interval: float = 0.5) -> Steps[Union[replies.FXSRReply, replies.FEBSReply]]:
    """Switch the high voltage on after checking the vacuum (FXSR, then FEBS).

    Already on: returns the reading at once. Vacuum not ready: with
    wait=True polls until it is (WaitTimeout after `timeout` s), else raises
    NotReady. With wait=True also waits until the reading says on. Returns
    the last high-voltage reading; Refused when the instrument refuses."""
    reading: Union[replies.FXSRReply, replies.FEBSReply] = yield Call("FXSR")
    if reading.ht_state == HtState.ON:
        return reading
    if reading.ht_state != HtState.OFF_VACUUM_READY:
        if not wait:
            raise NotReady("the vacuum is not ready (high-voltage state %s): the high voltage stays off"
                           % (reading.ht_state,))
        reading = yield from _poll("vacuum", lambda: Call("FXSR"),
                                   lambda r: bool(r.ht_state in (HtState.OFF_VACUUM_READY, HtState.ON)), timeout,
                                   progress, poll_interval)
        if reading.ht_state == HtState.ON:
            return reading
    reading = yield Call("FEBS", {"highVoltage": 1})
    if wait and reading.ht_state != HtState.ON:
        reading = yield from _poll("high_voltage_on", lambda: Call("FXSR"), lambda r: bool(r.ht_state == HtState.ON),
                                   timeout, progress, poll_interval)
    return reading


def high_voltage_off(self: Settings) -> Steps[replies.FEBSReply]:
    """Switch the high voltage off (FEBS 0); returns the reading."""
    reply: replies.FEBSReply = yield Call("FEBS", {"highVoltage": 0})
    return reply


# ---- Focus in micrometres ----

def _focus_relation(self: Settings) -> Tuple[float, float]:
    instrument = self.instrument
    if instrument is None or instrument.focus_mm_at_zero is None or instrument.focus_mm_per_unit is None:
        raise ValueError("how the objective lens's value maps to a focus distance is not known for this instrument "
                         "(the protocol carries lens values raw): give Scope(instrument=...) an Instrument with "
                         "focus_mm_at_zero and focus_mm_per_unit, or vesk.SIMULATOR on the simulator")
    return instrument.focus_mm_at_zero, instrument.focus_mm_per_unit


def focus_um(self: Settings) -> Steps[float]:
    """The focus distance below the objective lens in micrometres, from the
    combined objective value (EXSR) and Scope(instrument=...)'s relation;
    ValueError where that relation is not known."""
    at_zero, per_unit = _focus_relation(self)
    optics: replies.EXSRReply = yield Call("EXSR")
    return (at_zero + per_unit * optics.objective_combined) * 1000.0


def set_focus_um(self: Settings, focus_um: Real) -> Steps[replies.EOFSReply]:
    """Focus at `focus_um` micrometres below the lens: sets the objective
    lens (EOCS, then EOFS) to the nearest value of Scope(instrument=...)'s
    relation; OutOfRange beyond the lens's range, ValueError where the
    relation is not known. Returns the EOFS reply (the lens values and the
    working distance in force)."""
    at_zero, per_unit = _focus_relation(self)
    wanted = _number("focus_um", focus_um)
    combined = round((wanted / 1000.0 - at_zero) / per_unit)
    if not 0 <= combined <= 4096 * 4096 - 1:
        ends = sorted((at_zero * 1000.0, (at_zero + per_unit * (4096 * 4096 - 1)) * 1000.0))
        raise OutOfRange("focus_um=%r is beyond the objective lens's range, %.1f .. %.1f um" % (wanted, *ends))
    yield Call("EOCS", {"objectiveCoarse": combined // 4096})
    reply: replies.EOFSReply = yield Call("EOFS", {"objectiveFine": combined % 4096})
    return reply


def defocus_um(self: Settings, change_um: Real) -> Steps[replies.EOFSReply]:
    """Move the focus by `change_um` micrometres (positive: further from the
    lens), as set_focus_um() from the focus now."""
    now = yield from focus_um(self)
    return (yield from set_focus_um(self, now + _number("change_um", change_um)))


# ---- Images ----

def _scan_speed(self: Settings) -> Steps[Optional[int]]:
    """The scan speed 0 .. 3 from the panel's scan-speed keys (PNEL 100 ..
    103 with a step other than 1 only report), or None where PNEL is not
    served."""
    for speed in range(4):
        try:
            reply = yield Call("PNEL", {"key": 100 + speed, "step": 0})
        except (NotServed, Refused):
            return None
        if reply.answer == 100 + speed:
            return speed
    return None


def _conditions(self: Settings) -> Steps[Dict[str, Any]]:
    """What a capture's metadata records of the moment it was asked for."""
    optics = yield Call("EXSR")
    stage = yield from stage_position(self)
    speed = yield from _scan_speed(self)
    instrument = self.instrument
    focus = None
    if instrument is not None and instrument.focus_mm_at_zero is not None and instrument.focus_mm_per_unit is not None:
        focus = (instrument.focus_mm_at_zero + instrument.focus_mm_per_unit * optics.objective_combined) * 1000.0
    return {
        "time": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds"),
        "magnification": optics.magnification,
        "accelerating_voltage_kv": optics.accelerating_voltage_kv,
        "working_distance_mm": optics.working_distance_mm,
        "focus_um": focus,
        "stage": {axis: getattr(stage, axis) for axis in STAGE_AXES},
        "scan_speed": speed,
    }


def capture(self: Settings, path: Text, format: str = "bmp", data_bar: bool = False, variant: int = 1,
            wait: bool = True, timeout: float = 180.0, progress: Optional[ProgressCallback] = None,
            poll_interval: float = 0.2, sidecar: bool = True) -> Steps[Capture]:
    """Capture an image into `path` on the instrument's computer without
    holding the service (IFSS, or IFFS with variant=2: two frames
    integrated), then with wait=True poll IFSR until the capture has ended
    and, when Scope(image_folder=...) is given, until its file is there.

    These commands always save BMP without a data bar: for TIFF, JPEG or a
    data bar use save_image(), which holds the service while it saves.
    Returns a Capture (path, local_path, saved, metadata: time, optics,
    focus_um where Scope(instrument=...) knows the relation, stage
    position, scan speed; read() for the pixels); `saved` is True
    only once the end was seen. With sidecar and a local file, the
    metadata is also written beside it as <file>.json, which read_image()
    reads. Raises BadPath for a path that cannot name a file there
    (nothing sent), Refused while another capture is pending, WaitTimeout
    after `timeout` s, NotSaved when the capture ended but left no file in
    image_folder."""
    if str(format).lower() not in IMAGE_FORMATS:
        raise ValueError("the instrument saves bmp, tiff or jpeg, not %r: capture() saves BMP; save_image(format=...) "
                         "saves any of the three" % (format,))
    if str(format).lower() != "bmp" or data_bar:
        raise ValueError("capture() saves BMP without a data bar, which is all that IFSS and IFFS write; for %s%s use "
                         "save_image(format=...), which also saves tiff and jpeg, with or without the data bar, but "
                         "holds the service until the image is saved"
                         % ("format %r" % (format,), " with a data bar" if data_bar else ""))
    if variant not in (1, 2):
        raise ValueError("variant is 1 (IFSS) or 2 (IFFS, two frames integrated)")
    conditions = yield from _conditions(self)
    yield Call("IFSS" if variant == 1 else "IFFS", {"path": path})
    captured = _capture(self, path, "bmp", False, conditions)
    if wait:
        yield from _poll("capture", lambda: Call("IFSR"), lambda r: bool(r.image_data_flag == ImageDataFlag.IDLE), timeout,
                         progress, poll_interval)
        yield from _confirm_file(captured, sidecar)
    return captured


def save_image(self: Settings, path: Text, format: Optional[str] = "bmp", data_bar: bool = False,
               progress: Optional[ProgressCallback] = None, timeout: Optional[float] = None,
               sidecar: bool = True) -> Steps[Capture]:
    """Capture and save an image with ISAV, which waits inside the service
    until the image is saved (up to about 180 s; no other client's command
    runs meanwhile). format: "bmp", "tiff", "jpeg", or None to keep the
    format last written; data_bar adds the instrument's data bar below the
    image (32 rows on the simulator: 640 x 512 in all; read(crop_data_bar=
    True) leaves it out). `progress` is called about once a second while
    the service waits; `timeout` defaults to the service's limit plus
    Scope.timeout.

    ISAV replies alike whether the capture ended or the service stopped
    waiting, so IFSR is read after it: a capture still pending raises
    WaitTimeout (`.last` the IFSR reply, `.capture` the Capture, not
    saved). With Scope(image_folder=...) the file must be there too, else
    NotSaved; with sidecar the metadata (as capture()'s) is written beside
    it as <file>.json. BadPath for a path that cannot name a file (nothing
    sent). Returns a Capture with saved=True. ISAV is an extended command
    (EnableFenk)."""
    code = 0 if format is None else IMAGE_FORMATS.get(str(format).lower())
    if code is None:
        raise ValueError("format is one of %s, or None" % ", ".join(IMAGE_FORMATS))
    conditions = yield from _conditions(self)
    # The wire's include field is inverted: 0 asks for the data bar.
    yield Call("ISAV", {"include": 0 if data_bar else 1, "format": code, "path": path}, progress=progress,
               timeout=timeout)
    captured = _capture(self, path, format, data_bar, conditions)
    flag = yield Call("IFSR")
    if flag.image_data_flag != ImageDataFlag.IDLE:
        raise WaitTimeout("ISAV returned, but IFSR still reads a capture pending: the service stopped waiting "
                          "(after about %d s) before the image was saved; poll read_image_data_flag() until it "
                          "reads 0, or capture at a faster scan speed" % round(CATALOGUE.get_command("ISAV").service_wait),
                          flag, captured)
    yield from _confirm_file(captured, sidecar)
    return captured


# How long a finished capture's file may take to appear in a shared folder.
FILE_WAIT = 5.0


def _confirm_file(captured: Capture, sidecar: bool) -> Steps[None]:
    """Marks the capture saved once its file is seen (when image_folder says
    where), else NotSaved; writes the sidecar."""
    if captured.local_path is not None:
        start = time.monotonic()
        while not os.path.isfile(captured.local_path):
            if time.monotonic() - start >= FILE_WAIT:
                raise NotSaved("the capture of %r ended, but no file came to %s within %.0f s: the instrument could "
                               "not write that path, or image_folder does not stand for its drive"
                               % (captured.path, captured.local_path, FILE_WAIT))
            yield Sleep(0.1)
    captured.saved = True
    if sidecar and captured.local_path is not None:
        with open(captured.local_path + ".json", "w", encoding="utf-8") as stream:
            json.dump(captured.metadata, stream, indent=1, ensure_ascii=False)


def _capture(self: Settings, path: Text, format: Optional[str], data_bar: bool,
             conditions: Dict[str, Any]) -> Capture:
    folder = self.image_folder
    instrument = self.instrument
    rows = (instrument.data_bar_rows if instrument is not None else None) if data_bar else 0
    text = path.decode("cp932", "replace") if isinstance(path, bytes) else str(path)
    metadata = dict(conditions, path=text, format=format, data_bar=data_bar, data_bar_rows=rows,
                    instrument=instrument.name if instrument is not None else None)
    return Capture(path=text, local_path=local_image_path(text, folder) if folder else None, metadata=metadata,
                   display_width_mm=instrument.display_width_mm if instrument is not None else None)


def run_gun_alignment(self: Settings, wait: bool = True, timeout: float = 60.0,
                      progress: Optional[ProgressCallback] = None,
                      poll_interval: float = 0.5) -> Steps[Union[replies.EGASReply, replies.EGARReply]]:
    """Start the automatic gun alignment (EGAS) and with wait=True poll EGAR
    until it has ended; returns the last EGAR reply (gun tilt and shift).
    Raises Refused when it cannot start, WaitTimeout after `timeout` s."""
    reply: replies.EGASReply = yield Call("EGAS")
    if not wait:
        return reply
    state: replies.EGARReply = yield from _poll("EGAR", lambda: Call("EGAR"),
                                                lambda r: bool(r.alignment_state == AlignmentState.IDLE), timeout,
                                                progress, poll_interval)
    return state


WAITS: Tuple[Callable[..., Steps[Any]], ...] = (autofocus, autostigmate, auto_contrast_brightness, move_stage, stage_position, high_voltage_on,
         high_voltage_off, focus_um, set_focus_um, defocus_um, capture, save_image, run_gun_alignment)
