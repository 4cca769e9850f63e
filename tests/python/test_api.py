"""Opening and releasing cameras, two at once, and the mapping of the library's failures to orvane.Error."""
from __future__ import annotations

import pytest

import orvane
from orvane import _native


def test_cameras_lists_the_virtual_cameras():
    assert orvane.cameras() == [orvane.CameraEntry(0, "OrvaneKD7-USB3-R5_01"),
                                orvane.CameraEntry(1, "OrvaneKD7-USB3-R5_02")]


def test_errors_carry_the_code_and_its_name(camera: orvane.Camera):
    with pytest.raises(orvane.Error) as raised:
        camera.brightness = 300
    error = raised.value
    assert (error.code, error.name, error.call) == (9, "ORVANE_ERR_ARGUMENT", "Orvane_SetFilterValue")
    assert "ORVANE_ERR_ARGUMENT (9)" in str(error)
    assert _native.lib().Orvane_GetLastError(camera.handle) == 0, "the failure's codes were taken"
    camera.brightness = 20
    assert camera.brightness == 20
    assert [orvane.error_name(c) for c in (0, 2, 13, 14, 15, -1)] == [
        "ORVANE_ERR_NONE", "ORVANE_ERR_NO_CAMERA", "ORVANE_ERR_STREAM", "ORVANE_ERR_MASK_FILE", "unknown", "unknown"]


def test_settings_read_back_in_their_units(camera: orvane.Camera):
    camera.exposure_us = 20000
    assert camera.exposure_us == 20000
    low, high = camera.limits.gain_range
    camera.gain = high
    assert camera.gain == high
    camera.mirror_v = True
    assert camera.mirror_v is True
    camera.color_mode = 48
    assert camera.color_mode is orvane.ColorMode.BGR48
    with pytest.raises(orvane.Error) as raised:
        camera.color_mode = 12
    assert raised.value.code == 9
    assert camera.limits.exposure_range_us[0] % 100 == 0


def test_two_cameras_stream_at_once_and_a_camera_opens_once():
    with orvane.open(0) as first, orvane.open(1) as second:
        assert (first.serial_number, second.serial_number) == ("SIM00001", "SIM00002")
        for camera in (first, second):
            camera.sub_sample = 17
        with pytest.raises(orvane.Error) as taken:
            orvane.open(1)
        assert taken.value.code == 2
        one, two = first.frames(count=4), second.frames(count=4)
        pairs = list(zip(one, two))
        assert len(pairs) == 4
        assert first.stats().frames_delivered >= 4 and second.stats().frames_delivered >= 4


def test_the_context_manager_releases_the_handle_even_on_an_exception():
    with pytest.raises(ZeroDivisionError):
        with orvane.open(0) as camera:
            handle = camera.handle
            camera.start()
            1 / 0
    assert camera.closed
    assert _native.lib().Orvane_Release(handle) == 0, "the handle is still registered"
    with pytest.raises(orvane.Error) as closed:
        camera.snap()
    assert closed.value.code == 1
    with orvane.open(0) as again:  # the camera was given up
        assert again.serial_number == "SIM00001"


def test_opening_a_camera_that_is_none_raises_error_2():
    with pytest.raises(orvane.Error) as raised:
        orvane.open(7)
    assert raised.value.code == 2
