"""vesk: operate a scanning electron microscope through a VESK service.

    import vesk
    with vesk.Scope("127.0.0.1", 22300) as scope:
        print(scope.read_high_voltage().accelerating_voltage_kv)
        scope.set_magnification(1000)

vesk.Scope is the blocking client, vesk.aio.Scope the same for asyncio;
help(vesk.Scope) lists every call. vesk.read_image() reads a saved image
into a NumPy array (needs python3-numpy and python3-pil). The command
layouts come from catalogue.json, exported from the service's own command
catalogue; vesk.CATALOGUE holds them.
"""

from . import replies
from ._catalogue import CATALOGUE
from ._operations import AutoRun, Progress, StagePosition
from ._reply import Reply
from ._session import Reconnect
from .errors import (AdjustmentWarning, BadPath, ConnectionFailed, NotExact, NotReady, NotSaved, NotServed, OutOfRange,
                     OutsideStageLimits, ProtocolError, Refused, ServiceFull, Timeout, VeskError, WaitTimeout)
from .images import Capture, Image, MissingExtra, local_image_path, read_image
from .instrument import SIMULATOR, Instrument
from .replies import AlignmentState, BeamBlanked, HtState, ImageDataFlag, MoveStatus, PressureAdjustMode
from .scope import Scope

__version__ = "1.1.6"

__all__ = [
    "AdjustmentWarning", "AlignmentState", "AutoRun", "BadPath", "BeamBlanked", "CATALOGUE", "Capture",
    "ConnectionFailed", "HtState", "Image", "ImageDataFlag", "Instrument", "MissingExtra", "MoveStatus", "NotExact",
    "NotReady", "NotSaved", "NotServed", "OutOfRange", "OutsideStageLimits", "PressureAdjustMode", "Progress",
    "ProtocolError", "Reconnect", "Refused", "Reply", "SIMULATOR", "Scope", "ServiceFull", "StagePosition", "Timeout",
    "VeskError", "WaitTimeout", "local_image_path", "read_image", "replies",
]
