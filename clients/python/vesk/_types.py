"""The argument types of the typed calls: NumPy's numbers fit them too."""

from typing import SupportsFloat, SupportsIndex, Union

# A whole number: int, numpy.int64, ...
Integer = Union[int, SupportsIndex]
# Any real number: float, int, numpy.float32, ...
Real = Union[float, SupportsFloat, SupportsIndex]
# Text in the instrument computer's code page, or its bytes.
Text = Union[str, bytes]
