"""Paths on the instrument's computer (Windows), checked before a capture is
asked for: the manager application saves nothing at a path that Windows
cannot have, and the service cannot tell the client so."""

from __future__ import annotations

import re
from typing import Union

from .errors import BadPath

# Windows' MAX_PATH, with its NUL; and the longest name of one file or folder.
MAX_PATH_BYTES = 259
MAX_NAME_BYTES = 255
_FORBIDDEN = re.compile(r'[<>"|?*\x00-\x1f]')


def check_image_path(what: str, path: Union[str, bytes], text_encoding: str) -> bytes:
    """The path's bytes in `text_encoding`; BadPath with the reason for a
    path that cannot name an image file on the instrument's computer."""
    if isinstance(path, (bytes, bytearray)):
        data = bytes(path)
        text = data.decode(text_encoding, "replace")
    else:
        text = str(path)
        try:
            data = text.encode(text_encoding)
        except UnicodeEncodeError as failure:
            raise BadPath("%s %r: %r cannot be written in the instrument computer's code page (%s)"
                          % (what, text, failure.object[failure.start:failure.end], text_encoding)) from None
    if not text:
        raise BadPath("%s: the path is empty" % what)
    if text.endswith(("\\", "/")) or re.split(r"[\\/]", text)[-1] in (".", ".."):
        raise BadPath("%s %r names a folder, not a file: end it with a file name (...\\image.bmp)" % (what, text))
    if len(data) > MAX_PATH_BYTES:
        raise BadPath("%s: the path takes %d bytes; Windows paths hold at most %d" % (what, len(data),
                                                                                      MAX_PATH_BYTES))
    unprefixed = re.sub(r"^(\\\\[?.]\\)?([A-Za-z]:)?", "", text)
    for name in re.split(r"[\\/]", unprefixed):
        if len(name.encode(text_encoding, "replace")) > MAX_NAME_BYTES:
            raise BadPath("%s: the name %.20r... takes more than %d bytes, the most a Windows file or folder name "
                          "holds" % (what, name, MAX_NAME_BYTES))
    bad = _FORBIDDEN.search(unprefixed) or re.search(":", unprefixed)
    if bad:
        raise BadPath("%s %r: Windows file names cannot hold %r" % (what, text, bad.group()))
    return data
