"""The library's C interface through ctypes: loading, the records of the headers, the prototypes.

The library is found by the environment variable ``ORVANE_SDK_LIBRARY`` (a path), else by its name in
the system's library search path (``libOrvaneSdk_KD7_USB3_R5.so.2`` on Linux,
``OrvaneSdk_KD7_USB3_R5.dll`` on Windows). Every call goes through ``ctypes.CDLL`` (``WinDLL`` on
Windows), which releases the GIL for the length of the call, so a call that blocks (a snapshot, a stop
that waits for the acquisition thread) lets other Python threads run.
"""
from __future__ import annotations

import ctypes
import os
import sys
from typing import Any

WINDOWS = sys.platform == "win32"

LIBRARY_NAMES = (
    ("OrvaneSdk_KD7_USB3_R5.dll",)
    if WINDOWS
    else ("libOrvaneSdk_KD7_USB3_R5.so.2", "libOrvaneSdk_KD7_USB3_R5.so")
)

# Error codes of OrvaneSdk.h used by the package itself.
ERR_NOT_NOW = 1
ERR_MEMORY = 5
ERR_ARGUMENT = 9

TRANSFER_OK = 0
TRANSFER_SHORT = 1


class FrameMetadataRecord(ctypes.Structure):
    """OrvaneExFrameMetadata."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("width", ctypes.c_int32),
        ("height", ctypes.c_int32),
        ("bitsPerPixel", ctypes.c_int32),
        ("stride", ctypes.c_int32),
        ("status", ctypes.c_int32),
        ("sequence", ctypes.c_uint64),
        ("hostTimeNs", ctypes.c_uint64),
        ("cameraCounter", ctypes.c_int64),
        ("skipped", ctypes.c_uint32),
        ("reserved", ctypes.c_uint32),
    ]


class StreamStatsRecord(ctypes.Structure):
    """OrvaneExStreamStats."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("reserved", ctypes.c_uint32),
        ("framesRead", ctypes.c_uint64),
        ("framesDelivered", ctypes.c_uint64),
        ("framesSkipped", ctypes.c_uint64),
        ("failedTransfers", ctypes.c_uint64),
        ("timeouts", ctypes.c_uint64),
        ("resets", ctypes.c_uint64),
    ]


class CameraInfoRecord(ctypes.Structure):
    """OrvaneCameraInfo."""

    _fields_ = [
        ("size", ctypes.c_int32),
        ("maxWidth", ctypes.c_int32),
        ("maxHeight", ctypes.c_int32),
        ("globalGainMin", ctypes.c_int32),
        ("globalGainMax", ctypes.c_int32),
        ("colorGainMin", ctypes.c_int32),
        ("colorGainMax", ctypes.c_int32),
        ("exposureMin", ctypes.c_int32),
        ("exposureMax", ctypes.c_int32),
        ("reserved", ctypes.c_int32),
        ("exposureTimeExMin", ctypes.c_double),
        ("exposureTimeExMax", ctypes.c_double),
    ]


_FUNCTYPE = ctypes.WINFUNCTYPE if WINDOWS else ctypes.CFUNCTYPE  # type: ignore[attr-defined]
FrameCallback = _FUNCTYPE(
    None, ctypes.c_void_p, ctypes.POINTER(ctypes.c_ubyte), ctypes.c_int32, ctypes.POINTER(FrameMetadataRecord)
)

_int = ctypes.c_int
_pint = ctypes.POINTER(ctypes.c_int)
_buffer = ctypes.c_void_p

# name: (result, argument types). Getters of the form int Get(handle, int *ok) are added below.
_PROTOTYPES: dict[str, tuple[Any, list[Any]]] = {
    "Orvane_Initialize": (_int, [ctypes.c_void_p]),
    "Orvane_Release": (_int, [_int]),
    "Orvane_GetLastError": (_int, [_int]),
    "Orvane_GetDllVersion": (_int, []),
    "Orvane_EnumDevice": (_int, [_int, ctypes.c_void_p]),
    "Orvane_SetDeviceNumber": (_int, [_int, _int]),
    "Orvane_GetCaptureWindowEx": (_int, [_int, _pint, _pint, _pint, _pint, _pint, _pint]),
    "Orvane_SetCaptureWindowEx": (_int, [_int, _int, _int, _int, _int, _int, _int]),
    "Orvane_SetPreviewWindow": (_int, [_int, ctypes.c_void_p, _int, _int, _int, _int]),
    "Orvane_StartPreview": (_int, [_int]),
    "Orvane_StopPreview": (_int, [_int]),
    "Orvane_Close": (_int, [_int]),
    "Orvane_SnapShot": (_int, [_int, _buffer, _int, _int]),
    "Orvane_GetImage": (_int, [_int, _buffer, _int, _int]),
    "Orvane_Record": (_int, [_int, ctypes.c_char_p, _int, _int]),
    "Orvane_RecordW": (_int, [_int, ctypes.c_wchar_p, _int, _int]),
    "Orvane_SaveImage": (_int, [_int, ctypes.c_char_p, _int]),
    "Orvane_SaveImageW": (_int, [_int, ctypes.c_wchar_p, _int]),
    "Orvane_SetColorMode": (_int, [_int, _int]),
    "Orvane_GetColorMode": (_int, [_int]),
    "Orvane_SetSubSample": (_int, [_int, _int]),
    "Orvane_GetSubSample": (_int, [_int]),
    "Orvane_SetWaitTime": (_int, [_int, _int]),
    "Orvane_GetWaitTime": (_int, [_int]),
    "Orvane_SetMirrorH": (_int, [_int, _int]),
    "Orvane_GetMirrorH": (_int, [_int]),
    "Orvane_SetMirrorV": (_int, [_int, _int]),
    "Orvane_GetMirrorV": (_int, [_int]),
    "Orvane_SetFilterValue": (_int, [_int, _int, _int]),
    "Orvane_GetFilterValue": (_int, [_int, _int, _pint]),
    "Orvane_SetRealExposureTime": (_int, [_int, _int]),
    "Orvane_GetRealExposureTime": (_int, [_int, _pint]),
    "Orvane_GetCameraInfo": (_int, [_int, ctypes.POINTER(CameraInfoRecord)]),
    "Orvane_ReadSerialNumberA": (_int, [_int, ctypes.c_char_p, _int]),
    "OrvaneEx_GetNewestFrame": (_int, [_int, _buffer, _int, _int, ctypes.POINTER(FrameMetadataRecord)]),
    "OrvaneEx_SetFrameCallback": (_int, [_int, FrameCallback, ctypes.c_void_p]),
    "OrvaneEx_GetStreamStats": (_int, [_int, ctypes.POINTER(StreamStatsRecord)]),
    "OrvaneEx_GetErrorName": (ctypes.c_char_p, [_int]),
}


def _load() -> ctypes.CDLL:
    loader = ctypes.WinDLL if WINDOWS else ctypes.CDLL  # type: ignore[attr-defined]
    explicit = os.environ.get("ORVANE_SDK_LIBRARY")
    candidates = (explicit,) if explicit else LIBRARY_NAMES
    failures = []
    for name in candidates:
        try:
            library = loader(name)
            break
        except OSError as error:
            failures.append(f"{name}: {error}")
    else:
        raise OSError("the Orvane SDK library was not found (set ORVANE_SDK_LIBRARY to its path): " + "; ".join(failures))
    for name, (result, arguments) in _PROTOTYPES.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments
    return library


_library: ctypes.CDLL | None = None


def lib() -> ctypes.CDLL:
    """The loaded library with its prototypes set (loaded on first use)."""
    global _library
    if _library is None:
        _library = _load()
    return _library
