"""Every call of vesk.Scope and vesk.aio.Scope, written once as a generator
of steps (a request, a pause, a progress report) that the blocking and the
asyncio client each carry out in their own way."""

import collections
import inspect
import os
import time

from ._catalogue import CATALOGUE
from ._names import IMAGE_FORMATS, METHODS
from .errors import NotReady, NotSaved, VeskError, WaitTimeout
from .images import Capture, local_image_path


class Call:
    """Step: send a request and receive its Reply (or the error it means)."""

    __slots__ = ("code", "fields", "body", "progress", "timeout")

    def __init__(self, code, fields=None, body=None, progress=None, timeout=None):
        self.code = code
        self.fields = fields or {}
        self.body = body
        self.progress = progress  # called about once a second while the reply is awaited
        self.timeout = timeout  # None: the command's wait in the service plus Scope.timeout


class Sleep:
    __slots__ = ("seconds",)

    def __init__(self, seconds):
        self.seconds = seconds


class Report:
    """Step: hand a Progress to the caller's callback."""

    __slots__ = ("callback", "value")

    def __init__(self, callback, value):
        self.callback = callback
        self.value = value


Progress = collections.namedtuple("Progress", "what elapsed limit reading")
Progress.__doc__ = """What a progress callback receives: the wait's name (a command code or
"move_stage", "capture", ...), the seconds since it began, its time-out, and
the latest reading (a Reply, a StagePosition, or None while a command runs
inside the service)."""

StagePosition = collections.namedtuple("StagePosition", "x y z tilt rotation moving")
StagePosition.__doc__ = "The stage's five axes in the instrument's units (mm, degrees), from WSTR."


class AutoRun:
    """The outcome of autofocus(), autostigmate() or auto_contrast_brightness():
    `reply` (the readings the run left), `still_running` (True when the
    service stopped waiting before the run ended: the automatic-operation mode
    read afterwards was not idle), and `auto_mode`. Reply fields read through:
    run.working_distance_mm."""

    def __init__(self, reply, auto_mode):
        self.reply = reply
        self.auto_mode = auto_mode
        self.still_running = auto_mode != 0

    def __getattr__(self, name):
        if name == "reply":
            raise AttributeError(name)
        return getattr(self.reply, name)

    def __repr__(self):
        return "<AutoRun %s still_running=%s %r>" % (self.reply.code, self.still_running, self.reply)


def _stage_position(status):
    values = [status.fields["position%d" % axis] for axis in range(1, 6)]
    return StagePosition(*values, moving=status.move_status != 0)


def _poll(what, read, done, timeout, progress, interval):
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


# ---- The typed calls, one per command ----

def _typed_call(command, parameters):
    def steps(self, *args, **kwargs):
        bound = inspect.Signature(parameters).bind(*args, **kwargs)
        bound.apply_defaults()
        fields = {parameter_field[name]: value for name, value in bound.arguments.items()}
        return (yield Call(command.code, fields))

    parameter_field = {}
    for field in command.request:
        parameter_field[field.python_name] = field.name
    for short, wire in METHODS[command.code][1].items():
        parameter_field[short] = wire
    return steps


def _parameters(command):
    aliases = {wire: short for short, wire in METHODS[command.code][1].items()}
    parameters = [inspect.Parameter("self", inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    for field in command.request:
        single = field.range is not None and field.range[0] == field.range[1]
        default = int(field.range[0]) if single else inspect.Parameter.empty
        parameters.append(inspect.Parameter(aliases.get(field.name, field.python_name),
                                            inspect.Parameter.POSITIONAL_OR_KEYWORD, default=default))
    return parameters


def _typed_doc(command):
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
    if command.reply:
        lines.append("Returns a Reply with: " + ", ".join(
            f.python_name + (" [%s]" % f.unit if f.unit else "") for f in command.reply) + ".")
    else:
        lines.append("Returns a Reply without fields.")
    if command.failure_body != "cannot fail":
        lines.append("Raises Refused on " + command.failure_note + ".")
    if command.note:
        lines.append(command.note)
    return "\n".join(lines)


# ---- Waits ----

def autofocus(self, progress=None, timeout=None):
    """Automatic focus (EFAS): the service waits for the run, up to about 20 s.

    Returns an AutoRun: the readings the run left (objective, working
    distance, stigmators, IMS, contrast, brightness) and `still_running`,
    True when the run had not ended when the service stopped waiting.
    `progress` is called about once a second while the service waits;
    `timeout` (seconds) defaults to the service's limit plus Scope.timeout.
    Raises Refused when the run cannot start (high voltage off, beam
    blanked, another run going)."""
    return (yield from _auto_run("EFAS", progress, timeout))


def autostigmate(self, progress=None, timeout=None):
    """Automatic stigmation (ESAS); as autofocus()."""
    return (yield from _auto_run("ESAS", progress, timeout))


def auto_contrast_brightness(self, progress=None, timeout=None):
    """Automatic contrast and brightness (DACS); as autofocus(), with the
    15 detector items as readings."""
    return (yield from _auto_run("DACS", progress, timeout))


def _auto_run(code, progress, timeout):
    reply = yield Call(code, progress=progress, timeout=timeout)
    mode = yield Call("EAAR")
    return AutoRun(reply, mode.auto_mode)


def move_stage(self, x=None, y=None, z=None, tilt=None, rotation=None, relative=False, wait=True,
               progress=None, timeout=120.0, poll_interval=0.1):
    """Move the stage (WABS, or WRES with relative=True) on the axes given,
    in the instrument's units (x, y, z in mm; tilt, rotation in degrees).

    With wait=True polls WSTR until the stage stands and returns its
    StagePosition; `progress` gets each reading. When the wait ends in any
    other way (WaitTimeout after `timeout` s, an error, Ctrl+C) the stage
    is stopped (WDSS) before the error is raised. Without wait returns None
    as soon as the move has started. Raises Refused when the move is
    refused (a target outside a limit refuses the whole move)."""
    values = (x, y, z, tilt, rotation)
    if all(value is None for value in values):
        raise TypeError("move_stage needs at least one of x, y, z, tilt, rotation")
    word = "distance" if relative else "position"
    fields = {}
    for axis, value in enumerate(values, start=1):
        fields["axisWord%d" % axis] = 0 if value is None else 1
        fields["%s%d" % (word, axis)] = 0.0 if value is None else value
    yield Call("WRES" if relative else "WABS", fields)
    if not wait:
        return None
    try:
        status = yield from _poll("move_stage", lambda: Call("WSTR"), lambda s: s.move_status == 0, timeout,
                                  progress and (lambda p: progress(p._replace(reading=_stage_position(p.reading)))),
                                  poll_interval)
    except BaseException:
        try:
            yield Call("WDSS")
        except VeskError:
            pass
        raise
    return _stage_position(status)


def stage_position(self):
    """The stage's position (WSTR) as a StagePosition."""
    return _stage_position((yield Call("WSTR")))


def high_voltage_on(self, wait=True, timeout=120.0, progress=None, poll_interval=0.5):
    """Switch the high voltage on after checking the vacuum (FXSR, then FEBS).

    Already on: returns the reading at once. Vacuum not ready: with
    wait=True polls until it is (WaitTimeout after `timeout` s), else raises
    NotReady. With wait=True also waits until the reading says on. Returns
    the last high-voltage reading; Refused when the instrument refuses."""
    reading = yield Call("FXSR")
    if reading.ht_state == 2:
        return reading
    if reading.ht_state != 1:
        if not wait:
            raise NotReady("the vacuum is not ready (high-voltage state %d): the high voltage stays off"
                           % reading.ht_state)
        reading = yield from _poll("vacuum", lambda: Call("FXSR"), lambda r: r.ht_state in (1, 2), timeout,
                                   progress, poll_interval)
        if reading.ht_state == 2:
            return reading
    reading = yield Call("FEBS", {"highVoltage": 1})
    if wait and reading.ht_state != 2:
        reading = yield from _poll("high_voltage_on", lambda: Call("FXSR"), lambda r: r.ht_state == 2, timeout,
                                   progress, poll_interval)
    return reading


def high_voltage_off(self):
    """Switch the high voltage off (FEBS 0); returns the reading."""
    return (yield Call("FEBS", {"highVoltage": 0}))


def capture(self, path, format="bmp", data_bar=False, variant=1, wait=True, timeout=180.0, progress=None,
            poll_interval=0.2):
    """Capture an image into `path` on the instrument's computer without
    holding the service (IFSS, or IFFS with variant=2: two frames
    integrated), then with wait=True poll IFSR until the capture has ended
    and, when Scope(image_folder=...) is given, until its file is there.

    These commands always save BMP without a data bar: for TIFF, JPEG or a
    data bar use save_image(), which holds the service while it saves.
    Returns a Capture (path, local_path, saved, the optics at capture time,
    and read() for the pixels); `saved` is True only once the end was seen.
    Raises BadPath for a path that cannot name a file there (nothing sent),
    Refused while another capture is pending, WaitTimeout after `timeout`
    s, NotSaved when the capture ended but left no file in image_folder."""
    if str(format).lower() != "bmp" or data_bar:
        raise ValueError("capture() saves BMP without a data bar, which is all that IFSS and IFFS write; for %s%s use "
                         "save_image(format=...), which saves bmp, tiff or jpeg, with or without the data bar, but "
                         "holds the service until the image is saved"
                         % ("format %r" % (format,), " with a data bar" if data_bar else ""))
    if variant not in (1, 2):
        raise ValueError("variant is 1 (IFSS) or 2 (IFFS, two frames integrated)")
    optics = yield Call("EXSR")
    yield Call("IFSS" if variant == 1 else "IFFS", {"path": path})
    captured = _capture(self, path, "bmp", False, optics, saved=False)
    if wait:
        yield from _poll("capture", lambda: Call("IFSR"), lambda r: r.image_data_flag == 0, timeout, progress,
                         poll_interval)
        yield from _confirm_file(captured)
    return captured


def save_image(self, path, format="bmp", data_bar=False, progress=None, timeout=None):
    """Capture and save an image with ISAV, which waits inside the service
    until the image is saved (up to about 180 s; no other client's command
    runs meanwhile). format: "bmp", "tiff", "jpeg", or None to keep the
    format last written; data_bar adds the instrument's data bar below the
    image (32 rows on the simulator: 640 x 512 in all).
    `progress` is called about once a second while the service waits;
    `timeout` defaults to the service's limit plus Scope.timeout.

    ISAV replies alike whether the capture ended or the service stopped
    waiting, so IFSR is read after it: a capture still pending raises
    WaitTimeout (`.last` the IFSR reply, `.capture` the Capture, not
    saved). With Scope(image_folder=...) the file must be there too, else
    NotSaved. BadPath for a path that cannot name a file (nothing sent).
    Returns a Capture with saved=True. ISAV is an extended command
    (EnableFenk)."""
    code = 0 if format is None else IMAGE_FORMATS.get(str(format).lower())
    if code is None:
        raise ValueError("format is one of %s, or None" % ", ".join(IMAGE_FORMATS))
    optics = yield Call("EXSR")
    # The wire's include field is inverted: 0 asks for the data bar.
    yield Call("ISAV", {"include": 0 if data_bar else 1, "format": code, "path": path}, progress=progress,
               timeout=timeout)
    captured = _capture(self, path, format, data_bar, optics, saved=False)
    flag = yield Call("IFSR")
    if flag.image_data_flag != 0:
        error = WaitTimeout("ISAV returned, but IFSR still reads a capture pending: the service stopped waiting "
                            "(after about %d s) before the image was saved; poll read_image_data_flag() until it "
                            "reads 0, or capture at a faster scan speed" % round(CATALOGUE.get("ISAV").service_wait),
                            flag, captured)
        raise error
    yield from _confirm_file(captured)
    return captured


# How long a finished capture's file may take to appear in a shared folder.
FILE_WAIT = 5.0


def _confirm_file(captured):
    """Marks the capture saved once its file is seen (when image_folder says
    where), else NotSaved."""
    if captured.local_path is not None:
        start = time.monotonic()
        while not os.path.isfile(captured.local_path):
            if time.monotonic() - start >= FILE_WAIT:
                raise NotSaved("the capture of %r ended, but no file came to %s within %.0f s: the instrument could "
                               "not write that path, or image_folder does not stand for its drive"
                               % (captured.path, captured.local_path, FILE_WAIT))
            yield Sleep(0.1)
    captured.saved = True


def _capture(self, path, format, data_bar, optics, saved):
    folder = self.image_folder
    return Capture(path=path, local_path=local_image_path(path, folder) if folder else None, format=format,
                   data_bar=data_bar, magnification=optics.magnification,
                   accelerating_voltage_kv=optics.accelerating_voltage_kv,
                   working_distance_mm=optics.working_distance_mm, saved=saved)


def run_gun_alignment(self, wait=True, timeout=60.0, progress=None, poll_interval=0.5):
    """Start the automatic gun alignment (EGAS) and with wait=True poll EGAR
    until it has ended; returns the last EGAR reply (gun tilt and shift).
    Raises Refused when it cannot start, WaitTimeout after `timeout` s."""
    reply = yield Call("EGAS")
    if not wait:
        return reply
    return (yield from _poll("EGAR", lambda: Call("EGAR"), lambda r: r.alignment_state == 0, timeout, progress,
                             poll_interval))


WAITS = (autofocus, autostigmate, auto_contrast_brightness, move_stage, stage_position, high_voltage_on,
         high_voltage_off, capture, save_image, run_gun_alignment)


def install(cls, wrap):
    """Gives cls one method per command and every wait; wrap(steps) turns
    a generator function into the blocking or the asyncio method."""
    for function in WAITS:
        method = wrap(function)
        method.__name__ = method.__qualname__ = function.__name__
        method.__doc__ = function.__doc__
        method.__signature__ = inspect.signature(function)
        setattr(cls, function.__name__, method)
    for command in CATALOGUE.commands:
        name = METHODS[command.code][0]
        if name in cls.__dict__:
            continue  # a wait stands for it
        parameters = _parameters(command)
        method = wrap(_typed_call(command, parameters[1:]))
        method.__name__ = method.__qualname__ = name
        method.__doc__ = _typed_doc(command)
        method.__signature__ = inspect.Signature(parameters)
        setattr(cls, name, method)
