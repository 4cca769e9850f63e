"""A camera: opening and releasing it, snapshots, the frame stream, recording and files."""
from __future__ import annotations

import atexit
import ctypes
import os
import queue
import threading
import weakref
from typing import Callable, Iterator, Optional

import numpy as np

from . import _native
from ._errors import CallbackError, Error
from ._pixels import copy_frame, frame_bytes, to_array
from ._records import CameraEntry, CameraLimits, FrameMetadata, StreamStats
from ._settings import SettingsMixin

FrameHandler = Callable[[np.ndarray, FrameMetadata], None]

# File types of Orvane_SaveImage by file name extension; JPEG by quality.
_FILE_TYPES = {".bmp": 0, ".raw": 1, ".png": 5, ".tif": 6, ".tiff": 6}
_JPEG_TYPES = {100: 2, 70: 3, 20: 4}
_MAX_HISTORY = 64  # error codes dropped after a failure at most (older reasons of the same failure)

_open_cameras: "weakref.WeakSet[Camera]" = weakref.WeakSet()


@atexit.register
def _close_all() -> None:
    # The acquisition thread must not call into an interpreter that is shutting down.
    for camera in list(_open_cameras):
        camera.close()


class _Sink:
    """One receiver of the frame callback; `pixels` says whether it needs the frame's array."""

    def __init__(self, handler: Callable[[Optional[np.ndarray], FrameMetadata], None], pixels: bool) -> None:
        self.handler, self.pixels = handler, pixels


class Camera(SettingsMixin):
    """One opened camera (an SDK handle). Use it as a context manager, or call ``close()``.

    Settings are properties (see ``SettingsMixin``): ``exposure_us``, ``gain``, ``color_mode``,
    ``mirror_v``, ... Every failed call raises ``orvane.Error`` with the SDK's error code.
    """

    def __init__(self, handle: int, index: int) -> None:
        self._handle = handle
        self.index = index
        self._lock = threading.Lock()  # guards _sinks and _callback_error
        self._sinks: dict[str, _Sink] = {}
        self._callback_error: Optional[BaseException] = None
        self._c_callback: Optional[object] = None  # the installed ctypes trampoline, kept alive while set
        self._streaming = False
        _open_cameras.add(self)

    # ---- lifecycle -----------------------------------------------------------------------------

    @property
    def handle(self) -> int:
        """The SDK handle; raises ``orvane.Error`` (ORVANE_ERR_NOT_NOW) once closed."""
        if self._handle == 0:
            raise Error(_native.ERR_NOT_NOW, "Camera", "the camera is closed")
        return self._handle

    @property
    def closed(self) -> bool:
        return self._handle == 0

    def close(self) -> None:
        """Stops everything and releases the handle (the camera is free for others). Idempotent."""
        if self._handle == 0:
            return
        handle, self._handle = self._handle, 0
        # Release stops the acquisition thread before it returns: no callback runs afterwards.
        _native.lib().Orvane_Release(handle)
        self._c_callback = None
        self._sinks.clear()
        self._streaming = False
        _open_cameras.discard(self)

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # noqa: BLE001 - nothing may escape a finaliser
            pass

    # ---- failures ------------------------------------------------------------------------------

    def _check(self, result: int, call: str) -> None:
        """Raises ``Error`` with the newest recorded code when `result` is 0."""
        if result != 0:
            return
        code = _native.lib().Orvane_GetLastError(self.handle)
        # The reasons recorded before are of the same or older failures: start the next call afresh.
        for _ in range(_MAX_HISTORY):
            if _native.lib().Orvane_GetLastError(self._handle) == 0:
                break
        raise Error(code, call)

    def _check_value(self, value: int, call: str) -> int:
        self.handle  # raises once closed
        return value

    # ---- facts ---------------------------------------------------------------------------------

    @property
    def serial_number(self) -> str:
        """The serial number stored in the camera."""
        text = ctypes.create_string_buffer(64)
        self._check(_native.lib().Orvane_ReadSerialNumberA(self.handle, text, len(text)), "Orvane_ReadSerialNumberA")
        return text.value.decode("utf-8", "replace")

    @property
    def limits(self) -> CameraLimits:
        """Gain and exposure ranges and the sensor size."""
        info = _native.CameraInfoRecord(size=ctypes.sizeof(_native.CameraInfoRecord))
        self._check(_native.lib().Orvane_GetCameraInfo(self.handle, ctypes.byref(info)), "Orvane_GetCameraInfo")
        return CameraLimits(info.maxWidth, info.maxHeight, (info.globalGainMin, info.globalGainMax),
                            (info.colorGainMin, info.colorGainMax), (info.exposureMin * 100, info.exposureMax * 100))

    @property
    def capture_window(self) -> tuple[int, int, int, int]:
        """The part of the sensor read out: (x, y, width, height) in sensor pixels."""
        values = [ctypes.c_int(0) for _ in range(6)]
        _native.lib().Orvane_GetCaptureWindowEx(self.handle, *[ctypes.byref(v) for v in values])
        th, ehs, eh, tv, evs, ev = (v.value for v in values)
        return ehs, evs, eh, ev

    @capture_window.setter
    def capture_window(self, window: tuple[int, int, int, int]) -> None:
        x, y, width, height = (int(v) for v in window)
        result = _native.lib().Orvane_SetCaptureWindowEx(self.handle, 4000, x, width, 3000, y, height)
        self._check(result, "Orvane_SetCaptureWindowEx")

    @property
    def frame_size(self) -> tuple[int, int]:
        """(width, height) of the frames the next start or snapshot gives: the capture window,
        reduced by the sub-sampling."""
        _, _, width, height = self.capture_window
        if self.sub_sample == 0 or (width, height) == (2048, 1080):
            return min(width, 4000), min(height, 3000)
        return (2048 if width >= 2048 else width // 2), (1080 if height >= 1080 else height // 2)

    # ---- images --------------------------------------------------------------------------------

    def snap(self) -> np.ndarray:
        """Takes one frame (the camera must not be streaming) and returns it as an array.

        Shape and dtype follow ``color_mode``: H x W uint8 (8), H x W uint16 (16), H x W x 3 uint8
        (24), H x W x 4 uint8 (32), H x W x 3 uint16 (48), H x W x 4 uint16 (64); colour channels
        in the order blue, green, red (, unused), rows top first. ``orvane.to_rgb`` reverses them.
        """
        width, height = self.frame_size
        bits = int(self.color_mode)
        buffer = np.empty(frame_bytes(width, height, bits), dtype=np.uint8)
        result = _native.lib().Orvane_SnapShot(self.handle, buffer.ctypes.data, buffer.size, 1)
        self._check(result, "Orvane_SnapShot")
        return np.ascontiguousarray(to_array(buffer, width, height, bits))

    def newest(self) -> tuple[np.ndarray, FrameMetadata]:
        """A copy of the newest delivered frame of the stream with its metadata (both of the same frame)."""
        width, height = self.frame_size
        buffer = np.empty(frame_bytes(width, height, 64), dtype=np.uint8)  # room for every colour mode
        record = _native.FrameMetadataRecord(size=ctypes.sizeof(_native.FrameMetadataRecord))
        result = _native.lib().OrvaneEx_GetNewestFrame(self.handle, buffer.ctypes.data, buffer.size, 1,
                                                       ctypes.byref(record))
        self._check(result, "OrvaneEx_GetNewestFrame")
        metadata = FrameMetadata.from_record(record)
        rows = buffer[: record.stride * record.height]
        image = to_array(rows, record.width, record.height, record.bitsPerPixel)
        return np.ascontiguousarray(image), metadata

    def save(self, path: str | os.PathLike[str], jpeg_quality: int = 100) -> None:
        """Saves the newest processed frame (of a snapshot or the stream) in the form its extension names:
        .bmp, .raw, .jpg/.jpeg (quality 100, 70 or 20), .png, .tif/.tiff."""
        name = os.fspath(path)
        extension = os.path.splitext(name)[1].lower()
        if extension in (".jpg", ".jpeg"):
            if jpeg_quality not in _JPEG_TYPES:
                raise Error(_native.ERR_ARGUMENT, "save", "jpeg_quality must be 100, 70 or 20")
            kind = _JPEG_TYPES[jpeg_quality]
        elif extension in _FILE_TYPES:
            kind = _FILE_TYPES[extension]
        else:
            raise Error(_native.ERR_ARGUMENT, "save", f"no image file form for {extension!r}")
        if _native.WINDOWS:
            self._check(_native.lib().Orvane_SaveImageW(self.handle, name, kind), "Orvane_SaveImageW")
        else:
            self._check(_native.lib().Orvane_SaveImage(self.handle, os.fsencode(name), kind), "Orvane_SaveImage")

    def stats(self) -> StreamStats:
        """Counts of the current (or last) stream since it started."""
        record = _native.StreamStatsRecord(size=ctypes.sizeof(_native.StreamStatsRecord))
        self._check(_native.lib().OrvaneEx_GetStreamStats(self.handle, ctypes.byref(record)),
                    "OrvaneEx_GetStreamStats")
        return StreamStats.from_record(record)

    # ---- the stream ----------------------------------------------------------------------------

    @property
    def streaming(self) -> bool:
        """True between ``start()`` (or a recording) and ``stop()``."""
        return self._streaming

    def start(self) -> None:
        """Starts the stream (no window); frames go to the frame callback and ``frames()``."""
        self._check(_native.lib().Orvane_StartPreview(self.handle), "Orvane_StartPreview")
        self._streaming = True

    def stop(self) -> None:
        """Stops the stream and a recording, waiting for their threads. Raises ``CallbackError`` when a
        frame callback raised since it was set."""
        # Refused (error 1) from inside a frame callback, whose thread the stop would wait for.
        self._check(_native.lib().Orvane_StopPreview(self.handle), "Orvane_StopPreview")
        self._streaming = False
        self._raise_callback_error()

    def set_frame_callback(self, callback: Optional[FrameHandler]) -> None:
        """Calls `callback(array, metadata)` for every delivered frame, on the library's acquisition
        thread (the array is the frame's own copy). None removes it; when this returns, a removed
        callback is no longer running. A callback that raises is not called again; the next
        ``stop()`` or ``set_frame_callback()`` raises ``CallbackError`` from its exception."""
        self._raise_callback_error()
        if callback is None:
            self._set_sink("user", None)
        else:
            self._set_sink("user", _Sink(callback, pixels=True))  # type: ignore[arg-type]

    def frames(self, timeout: float = 5.0, count: Optional[int] = None,
               queue_size: int = 4) -> Iterator[tuple[np.ndarray, FrameMetadata]]:
        """Yields (array, metadata) for the delivered frames, starting the stream if it is not running
        (and stopping it again when the iterator ends, is closed or is dropped).

        Args:
            timeout: seconds to wait for each frame; ``TimeoutError`` when none comes.
            count: frames to yield, or None for no end.
            queue_size: frames kept for a consumer slower than the camera; beyond it the oldest are
                dropped (their numbers are missing from ``metadata.sequence``).
        """
        frames: "queue.Queue[tuple[np.ndarray, FrameMetadata]]" = queue.Queue(maxsize=max(1, queue_size))

        def keep(image: Optional[np.ndarray], metadata: FrameMetadata) -> None:
            while True:
                try:
                    frames.put_nowait((image, metadata))  # type: ignore[arg-type]
                    return
                except queue.Full:
                    try:
                        frames.get_nowait()
                    except queue.Empty:
                        pass

        if "frames" in self._sinks:
            raise Error(_native.ERR_NOT_NOW, "frames", "another frames() iterator is running")
        self._set_sink("frames", _Sink(keep, pixels=True))
        started = not self._streaming
        try:
            if started:
                self.start()
            delivered = 0
            while count is None or delivered < count:
                try:
                    item = frames.get(timeout=timeout)
                except queue.Empty:
                    raise TimeoutError(f"no frame within {timeout} s") from None
                delivered += 1
                yield item
        finally:
            if not self.closed:
                self._set_sink("frames", None)
                if started:
                    _native.lib().Orvane_StopPreview(self._handle)
                    self._streaming = False

    def record(self, path: str | os.PathLike[str], seconds: float, timeout: float = 60.0) -> None:
        """Records `seconds` of the stream into the AVI file `path` and returns when it is finished."""
        if seconds <= 0:
            raise Error(_native.ERR_ARGUMENT, "record", "seconds must be positive")
        done = threading.Event()
        first: list[int] = []
        length_ns = int(seconds * 1e9)

        def watch(_: Optional[np.ndarray], metadata: FrameMetadata) -> None:
            # The recorder ends with the first frame past its length; one frame more has passed it.
            if not first:
                first.append(metadata.host_time_ns)
            elif metadata.host_time_ns - first[0] > length_ns:
                first.append(metadata.host_time_ns)
                if len(first) > 2:
                    done.set()

        name = os.fspath(path)
        self._set_sink("record", _Sink(watch, pixels=False))
        try:
            milliseconds = int(round(seconds * 1000))
            if _native.WINDOWS:
                self._check(_native.lib().Orvane_RecordW(self.handle, name, milliseconds, 0), "Orvane_RecordW")
            else:
                self._check(_native.lib().Orvane_Record(self.handle, os.fsencode(name), milliseconds, 0),
                            "Orvane_Record")
            self._streaming = True
            finished = done.wait(seconds + timeout)
        finally:
            self._set_sink("record", None)
        self.stop()  # finishes the file
        if not finished:
            raise TimeoutError(f"the recording did not end within {seconds + timeout} s")

    # ---- the frame callback --------------------------------------------------------------------

    def _set_sink(self, name: str, sink: Optional[_Sink]) -> None:
        with self._lock:
            if sink is None:
                self._sinks.pop(name, None)
            else:
                self._sinks[name] = sink
            wanted = bool(self._sinks)
        installed = self._c_callback is not None
        if wanted and not installed:
            # The trampoline holds the camera weakly: a dropped camera is closed by its finaliser on the
            # thread that dropped it, not left alive by the callback it installed.
            owner = weakref.ref(self)

            def on_frame(context: object, frame: object, size: int, metadata: object) -> None:
                camera = owner()
                if camera is not None:
                    camera._on_frame(context, frame, size, metadata)

            trampoline = _native.FrameCallback(on_frame)
            self._check(_native.lib().OrvaneEx_SetFrameCallback(self.handle, trampoline, None),
                        "OrvaneEx_SetFrameCallback")
            self._c_callback = trampoline
        elif not wanted and installed:
            # Once this returns the trampoline is no longer running and may be freed.
            self._check(_native.lib().OrvaneEx_SetFrameCallback(self.handle, _native.FrameCallback(), None),
                        "OrvaneEx_SetFrameCallback")
            self._c_callback = None

    def _on_frame(self, _context: object, frame: object, size: int, metadata_pointer: object) -> None:
        # On the acquisition thread, with the GIL taken by ctypes. Nothing may escape into C.
        try:
            record = metadata_pointer.contents  # type: ignore[attr-defined]
            metadata = FrameMetadata.from_record(record)
            with self._lock:
                sinks = list(self._sinks.items())
            image = None
            if any(sink.pixels for _, sink in sinks):
                address = ctypes.cast(frame, ctypes.c_void_p).value or 0
                image = copy_frame(address, size, record.width, record.height, record.bitsPerPixel, record.stride)
            for name, sink in sinks:
                try:
                    sink.handler(image, metadata)
                except BaseException as error:  # noqa: BLE001 - kept for the application's thread
                    with self._lock:
                        if self._sinks.get(name) is sink:
                            del self._sinks[name]
                        if self._callback_error is None:
                            self._callback_error = error
        except BaseException as error:  # noqa: BLE001
            with self._lock:
                if self._callback_error is None:
                    self._callback_error = error

    def _raise_callback_error(self) -> None:
        with self._lock:
            error, self._callback_error = self._callback_error, None
        if error is not None:
            raise CallbackError(error) from error


def _initialize() -> int:
    handle = _native.lib().Orvane_Initialize(None)
    if handle == 0:
        raise Error(_native.ERR_MEMORY, "Orvane_Initialize")
    return handle


def cameras() -> list[CameraEntry]:
    """The connected cameras, by the number ``open()`` takes."""
    handle = _initialize()
    try:
        names = ctypes.create_string_buffer(10 * 256)
        count = _native.lib().Orvane_EnumDevice(handle, names)
        entries = []
        for index in range(max(0, count)):
            raw = names.raw[index * 256:(index + 1) * 256]
            entries.append(CameraEntry(index, raw.split(b"\0", 1)[0].decode("utf-8", "replace")))
        return entries
    finally:
        _native.lib().Orvane_Release(handle)


def open(index: int = 0) -> Camera:  # noqa: A001 - the package's verb, as in orvane.open(0)
    """Opens camera `index` (0 is the first of ``cameras()``). Use it in a ``with`` statement."""
    handle = _initialize()
    camera = Camera(handle, index)
    try:
        camera._check(_native.lib().Orvane_SetDeviceNumber(handle, index), "Orvane_SetDeviceNumber")
        # The SDK's own preview window is not wanted: frames reach Python through the callback.
        _native.lib().Orvane_SetPreviewWindow(handle, None, 0, 0, 0, 0)
    except BaseException:
        camera.close()
        raise
    return camera
