"""Snapshots as arrays: shape, dtype and channel layout per colour mode, and the very bytes the library
gives a C caller."""
from __future__ import annotations

import ctypes

import numpy as np
import pytest

import orvane
from orvane import _native, _pixels

# colour mode: (dtype, channels)
LAYOUTS = {
    orvane.ColorMode.GRAY8: (np.uint8, None),
    orvane.ColorMode.GRAY16: (np.uint16, None),
    orvane.ColorMode.BGR24: (np.uint8, 3),
    orvane.ColorMode.BGRX32: (np.uint8, 4),
    orvane.ColorMode.BGR48: (np.uint16, 3),
    orvane.ColorMode.BGRX64: (np.uint16, 4),
}


def snapshot_through_ctypes(camera: orvane.Camera, width: int, height: int, bits: int) -> bytes:
    """Orvane_SnapShot into a plain buffer, rows top first, as a C program calls it."""
    stride = (width * bits + 31) // 32 * 4
    buffer = ctypes.create_string_buffer(stride * height)
    assert _native.lib().Orvane_SnapShot(camera.handle, buffer, len(buffer), 1) == 1
    rows = np.frombuffer(buffer.raw, dtype=np.uint8).reshape(height, stride)
    return rows[:, : width * bits // 8].tobytes()


@pytest.mark.parametrize("mode", list(LAYOUTS))
def test_snap_gives_the_shape_dtype_and_pixels_of_the_colour_mode(camera: orvane.Camera, mode: orvane.ColorMode):
    camera.color_mode = mode
    image = camera.snap()
    dtype, channels = LAYOUTS[mode]
    expected_shape = (1080, 2048) if channels is None else (1080, 2048, channels)
    assert image.shape == expected_shape
    assert image.dtype == dtype
    assert image.flags.c_contiguous
    # The scene is static and noise-free: a second snapshot through ctypes holds the same pixels.
    assert image.tobytes() == snapshot_through_ctypes(camera, 2048, 1080, int(mode))
    assert image.max() > 0, "a black frame"


@pytest.mark.parametrize("bits", [8, 16, 24, 32, 48, 64])
def test_padded_rows_are_cut_to_the_image(bits: int):
    # The camera's sizes (4000 and 2048 wide) need no row padding; a width of 1001 does in every mode.
    width, height = 1001, 3
    stride = _pixels.stride(width, bits)
    assert stride % 4 == 0 and stride - width * bits // 8 in range(0, 4)
    rows = np.arange(stride * height, dtype=np.uint32).astype(np.uint8)
    address = rows.ctypes.data
    image = _pixels.copy_frame(address, rows.size, width, height, bits, stride)
    assert image.flags.c_contiguous
    assert image.shape[:2] == (height, width)
    for y in range(height):
        assert image[y].tobytes() == rows[y * stride: y * stride + width * bits // 8].tobytes()


def test_colour_channels_are_blue_green_red_and_to_rgb_reverses_them(camera: orvane.Camera):
    camera.color_mode = orvane.ColorMode.BGR24
    bgr = camera.snap()
    camera.color_mode = orvane.ColorMode.BGRX32
    bgrx = camera.snap()
    # The 32-bit image carries the 24-bit image's channels in the same order, with a fourth beside them.
    np.testing.assert_array_equal(bgrx[..., :3], bgr)
    rgb = orvane.to_rgb(bgr)
    np.testing.assert_array_equal(rgb[..., 0], bgr[..., 2])
    np.testing.assert_array_equal(rgb[..., 2], bgr[..., 0])
    gray = np.zeros((2, 2), np.uint8)
    assert orvane.to_rgb(gray) is gray


def test_save_writes_the_newest_frame_in_the_form_of_the_extension(camera: orvane.Camera, tmp_path):
    with pytest.raises(orvane.Error) as no_frame:
        camera.save(tmp_path / "early.png")
    assert no_frame.value.code == 1
    camera.color_mode = orvane.ColorMode.BGR24
    camera.snap()
    for name in ("frame.bmp", "frame.png", "frame.tif", "frame.jpg"):
        camera.save(tmp_path / name)
        assert (tmp_path / name).stat().st_size > 1000
    with open(tmp_path / "frame.png", "rb") as png:
        assert png.read(8) == b"\x89PNG\r\n\x1a\n"
    with pytest.raises(orvane.Error) as unknown:
        camera.save(tmp_path / "frame.gif")
    assert unknown.value.name == "ORVANE_ERR_ARGUMENT"
