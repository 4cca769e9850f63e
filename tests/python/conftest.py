"""The package from the source tree against the library of the build (ORVANE_SDK_LIBRARY), with the
virtual cameras of ORVANE_SIM_CAMERAS (two) and a settings store of its own."""
from __future__ import annotations

import atexit
import ctypes
import os
import shutil
import sys
import tempfile
from typing import Iterator

import pytest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
# A fresh settings store for the run: what one run's cameras saved does not reach the next run.
os.environ["XDG_CONFIG_HOME"] = tempfile.mkdtemp(prefix="orvane-python-tests-")
atexit.register(shutil.rmtree, os.environ["XDG_CONFIG_HOME"], True)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))

import orvane  # noqa: E402
from orvane import _native  # noqa: E402

# Sub-sampling 17: frames of 2048 x 1080, quick to render and convert.
SMALL = 17


@pytest.fixture
def camera() -> Iterator[orvane.Camera]:
    with orvane.open(0) as opened:
        opened.sub_sample = SMALL
        opened.color_mode = orvane.ColorMode.GRAY8
        yield opened


class FrameMessages:
    """The library's own frame messages through a Linux message queue: a test waits on them (blocking,
    with a generous limit) to know that frames were delivered without the frame callback."""

    WM_FRAME = 0x8002

    def __init__(self, camera: orvane.Camera) -> None:
        library = _native.lib()
        library.Orvane_CreateMessageQueue.restype = ctypes.c_void_p
        library.Orvane_GetMessage.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint),
                                              ctypes.POINTER(ctypes.c_size_t), ctypes.POINTER(ctypes.c_ssize_t),
                                              ctypes.c_int]
        library.Orvane_DestroyMessageQueue.argtypes = [ctypes.c_void_p]
        library.Orvane_CallBackPreview.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int,
                                                   ctypes.c_int]
        self.library = library
        self.queue = library.Orvane_CreateMessageQueue()
        self.camera = camera

    def start(self) -> None:
        """Starts the stream with frame messages to the queue and no buffer."""
        assert self.library.Orvane_CallBackPreview(self.camera.handle, self.queue, None, 0, 1) == 1

    def wait_frames(self, count: int, limit_ms: int = 60000) -> None:
        """Returns after `count` delivered-frame messages; fails the test when they do not come."""
        message, wparam, lparam = ctypes.c_uint(), ctypes.c_size_t(), ctypes.c_ssize_t()
        seen = 0
        while seen < count:
            assert self.library.Orvane_GetMessage(self.queue, ctypes.byref(message), ctypes.byref(wparam),
                                                  ctypes.byref(lparam), limit_ms) == 1, "no frame message"
            if message.value == self.WM_FRAME and wparam.value != 0:
                seen += 1

    def close(self) -> None:
        self.library.Orvane_DestroyMessageQueue(self.queue)


@pytest.fixture
def frame_messages(camera: orvane.Camera) -> Iterator[FrameMessages]:
    messages = FrameMessages(camera)
    yield messages
    camera.stop()
    messages.close()
