"""orvane: the Orvane KD7 USB3 camera from Python, frames as NumPy arrays.

    import orvane
    with orvane.open(0) as camera:
        camera.exposure_us = 20000
        camera.color_mode = orvane.ColorMode.BGR24
        image = camera.snap()                      # H x W x 3 uint8, channels blue, green, red
        for image, metadata in camera.frames(count=10):
            print(metadata.sequence, metadata.skipped, image.mean())

A pure ctypes binding of the SDK library (libOrvaneSdk_KD7_USB3_R5.so / OrvaneSdk_KD7_USB3_R5.dll;
``ORVANE_SDK_LIBRARY`` names it explicitly). Failures raise ``orvane.Error`` with the SDK's error code
and its name. Calls that wait (snapshots, stops, waits for frames) release the GIL.
"""
from __future__ import annotations

from ._errors import CallbackError, Error, error_name
from ._pixels import ColorMode, to_rgb
from ._records import CameraEntry, CameraLimits, FrameMetadata, StreamStats
from .camera import Camera, cameras, open

__all__ = [
    "Camera", "CameraEntry", "CameraLimits", "CallbackError", "ColorMode", "Error", "FrameMetadata",
    "StreamStats", "cameras", "error_name", "open", "to_rgb",
]
__version__ = "2.10.5"
