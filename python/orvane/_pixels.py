"""How frames of each colour mode lie in memory, and their NumPy form.

Rows are top row first and padded to a multiple of 4 bytes (the library's bitmap rows). Colour pixels
hold their channels in the order blue, green, red, and for 32 and 64 bits a fourth channel that the
image pipeline does not write; 16-bit samples are little-endian and full scale (0..65535).
"""
from __future__ import annotations

import ctypes
import enum

import numpy as np


class ColorMode(enum.IntEnum):
    """Output formats by bits per pixel, with the array each gives (H x W[, C])."""

    GRAY8 = 8     #: H x W uint8
    GRAY16 = 16   #: H x W uint16
    BGR24 = 24    #: H x W x 3 uint8, channels blue, green, red
    BGRX32 = 32   #: H x W x 4 uint8, channels blue, green, red, unused
    BGR48 = 48    #: H x W x 3 uint16, channels blue, green, red
    BGRX64 = 64   #: H x W x 4 uint16, channels blue, green, red, unused


# bits per pixel: (sample type, channels)
_LAYOUT = {8: (np.uint8, 1), 16: (np.uint16, 1), 24: (np.uint8, 3), 32: (np.uint8, 4), 48: (np.uint16, 3),
           64: (np.uint16, 4)}


def stride(width: int, bits: int) -> int:
    """Bytes from one row to the next: width x bits rounded up to 32 bits."""
    return (width * bits + 31) // 32 * 4


def frame_bytes(width: int, height: int, bits: int) -> int:
    """Bytes of a whole frame, rows padded."""
    return stride(width, bits) * height


def to_array(rows: np.ndarray, width: int, height: int, bits: int) -> np.ndarray:
    """The H x W[, C] view of `rows`, a uint8 array of `height` padded rows (no copy)."""
    sample, channels = _LAYOUT[bits]
    pixels = rows.reshape(height, -1)[:, : width * bits // 8]
    image = pixels.view(sample)
    return image if channels == 1 else image.reshape(height, width, channels)


def copy_frame(address: int, size: int, width: int, height: int, bits: int, row_stride: int) -> np.ndarray:
    """A contiguous array holding a copy of the frame at `address` (`size` bytes, rows `row_stride` apart)."""
    raw = np.ctypeslib.as_array((ctypes.c_ubyte * size).from_address(address))
    rows = raw[: row_stride * height].reshape(height, row_stride)
    return np.ascontiguousarray(to_array(rows, width, height, bits))


def to_rgb(image: np.ndarray) -> np.ndarray:
    """An RGB view of a BGR or BGRX frame (the channels reversed, the fourth dropped); gray frames as they are."""
    return image if image.ndim == 2 else image[..., 2::-1]
