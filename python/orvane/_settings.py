"""Camera settings as Python properties, each reading and writing one SDK setting."""
from __future__ import annotations

import ctypes
from typing import Any, Callable

from . import _native
from ._pixels import ColorMode


class _Setting:
    """A property over a getter/setter pair of the SDK; failures raise ``orvane.Error``."""

    def __init__(self, doc: str, to_python: Callable[[int], Any] = int, to_sdk: Callable[[Any], int] = int) -> None:
        self.__doc__ = doc
        self._to_python = to_python
        self._to_sdk = to_sdk
        self._name = ""

    def __set_name__(self, owner: type, name: str) -> None:
        self._name = name

    def __get__(self, camera: Any, owner: type | None = None) -> Any:
        if camera is None:
            return self
        return self._to_python(self.read(camera))

    def __set__(self, camera: Any, value: Any) -> None:
        self.write(camera, self._to_sdk(value))

    def read(self, camera: Any) -> int:
        raise NotImplementedError

    def write(self, camera: Any, value: int) -> None:
        raise NotImplementedError


class FilterSetting(_Setting):
    """A setting reached by its filter id (Orvane_SetFilterValue / Orvane_GetFilterValue)."""

    def __init__(self, filter_id: int, doc: str, **kwargs: Any) -> None:
        super().__init__(doc, **kwargs)
        self._id = filter_id

    def read(self, camera: Any) -> int:
        ok = ctypes.c_int(0)
        value = _native.lib().Orvane_GetFilterValue(camera.handle, self._id, ctypes.byref(ok))
        camera._check(ok.value, "Orvane_GetFilterValue")
        return value

    def write(self, camera: Any, value: int) -> None:
        camera._check(_native.lib().Orvane_SetFilterValue(camera.handle, self._id, value), "Orvane_SetFilterValue")


class CallSetting(_Setting):
    """A setting with an export pair of its own; `checked_get` says the getter reports through *ok."""

    def __init__(self, setter: str, getter: str, doc: str, checked_get: bool = False, **kwargs: Any) -> None:
        super().__init__(doc, **kwargs)
        self._setter, self._getter, self._checked = setter, getter, checked_get

    def read(self, camera: Any) -> int:
        function = getattr(_native.lib(), self._getter)
        if not self._checked:
            return camera._check_value(function(camera.handle), self._getter)
        ok = ctypes.c_int(0)
        value = function(camera.handle, ctypes.byref(ok))
        camera._check(ok.value, self._getter)
        return value

    def write(self, camera: Any, value: int) -> None:
        camera._check(getattr(_native.lib(), self._setter)(camera.handle, value), self._setter)


class SettingsMixin:
    """The settings of a camera. Changes of colour mode and sub-sampling take effect at the next start
    or snapshot; the others at once."""

    exposure_us = CallSetting("Orvane_SetRealExposureTime", "Orvane_GetRealExposureTime",
                              "Exposure time in microseconds (kept in steps of 100 us).", checked_get=True)
    gain = FilterSetting(13, "Global (analog) gain, device units; see ``limits.gain_range``.")
    gain_red = FilterSetting(14, "Red colour gain, device units; see ``limits.color_gain_range``.")
    gain_green1 = FilterSetting(15, "Colour gain of the greens on red rows, device units.")
    gain_green2 = FilterSetting(16, "Colour gain of the greens on blue rows, device units.")
    gain_blue = FilterSetting(17, "Blue colour gain, device units.")
    brightness = FilterSetting(1, "Brightness offset, -255..255 levels.")
    contrast = FilterSetting(2, "Contrast, -127..127.")
    hue_deg = FilterSetting(3, "Hue rotation in degrees, -360..360.")
    saturation = FilterSetting(4, "Saturation, -255..255.")
    sharpness = FilterSetting(5, "Sharpening strength, 0..30.")
    gamma_percent = FilterSetting(11, "Gamma in percent, 0..200; 100 is linear.")
    white_balance_auto = FilterSetting(10, "True: white balance measured on every frame.", to_python=bool)
    bayer_phase = FilterSetting(12, "Colour filter phase of the sensor, 0..3.")
    mirror_h = CallSetting("Orvane_SetMirrorH", "Orvane_GetMirrorH", "Horizontal mirror (bool).", to_python=bool)
    mirror_v = CallSetting("Orvane_SetMirrorV", "Orvane_GetMirrorV", "Vertical mirror (bool).", to_python=bool)
    color_mode = CallSetting("Orvane_SetColorMode", "Orvane_GetColorMode",
                             "Output format, an ``orvane.ColorMode`` (bits per pixel).", to_python=ColorMode)
    sub_sample = CallSetting("Orvane_SetSubSample", "Orvane_GetSubSample",
                             "Sub-sampling: 0 full resolution, 17 reduced (2048 x 1080 from the full sensor).")
    wait_time_ms = CallSetting("Orvane_SetWaitTime", "Orvane_GetWaitTime",
                               "Milliseconds the acquisition thread pauses before each frame (default 10).")
