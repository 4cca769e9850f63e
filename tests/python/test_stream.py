"""The frame stream from Python: the iterator, the callback, statistics, recording, and what happens
when the application misbehaves."""
from __future__ import annotations

import statistics
import threading

import numpy as np
import pytest

import orvane


def test_frames_come_numbered_and_their_count_follows_the_camera_rate(camera: orvane.Camera):
    # Frames read between two delivered frames (the sequence numbers) against the time between them:
    # the host clock spaces read frames by the camera's frame period.
    camera.wait_time_ms = 0
    frames = list(camera.frames(count=30, queue_size=64))
    assert not camera.streaming
    assert all(image.shape == (1080, 2048) and image.dtype == np.uint8 for image, _ in frames)
    metadata = [m for _, m in frames]
    assert all((m.width, m.height, m.bits_per_pixel, m.complete) == (2048, 1080, 8, True) for m in metadata)
    assert all(b.sequence == a.sequence + 1 + b.skipped for a, b in zip(metadata, metadata[1:]))
    assert camera.stats().frames_read >= metadata[-1].sequence
    steps = [(b.sequence - a.sequence, b.host_time_ns - a.host_time_ns) for a, b in zip(metadata, metadata[1:])]
    period = statistics.median(t / n for n, t in steps)
    elapsed = metadata[-1].host_time_ns - metadata[0].host_time_ns
    read = metadata[-1].sequence - metadata[0].sequence
    assert read == pytest.approx(elapsed / period, rel=0.25)


def test_the_callback_sees_every_delivered_frame_and_none_once_removed(camera, frame_messages):
    seen = []
    camera.set_frame_callback(lambda image, m: seen.append((image.shape, m.sequence)))
    frame_messages.start()
    frame_messages.wait_frames(5)
    camera.set_frame_callback(None)
    count = len(seen)
    assert count >= 5
    assert all(shape == (1080, 2048) for shape, _ in seen)
    sequences = [s for _, s in seen]
    assert sequences == sorted(set(sequences))
    frame_messages.wait_frames(3)  # frames go on, the callback is gone
    assert len(seen) == count


def test_a_raising_callback_is_reported_and_the_camera_goes_on(camera, frame_messages):
    calls = []

    def broken(image, metadata):
        calls.append(metadata.sequence)
        raise ValueError("broken consumer")

    camera.set_frame_callback(broken)
    frame_messages.start()
    frame_messages.wait_frames(3)
    assert len(calls) == 1, "a callback that raised is not called again"
    with pytest.raises(orvane.CallbackError) as raised:
        camera.stop()
    assert isinstance(raised.value.__cause__, ValueError)
    camera.stop()  # reported once
    camera.set_frame_callback(None)
    assert camera.snap().shape == (1080, 2048)
    assert len(list(camera.frames(count=2))) == 2


def test_an_abandoned_iterator_stops_the_stream_it_started(camera: orvane.Camera):
    iterator = camera.frames()
    next(iterator)
    assert camera.streaming
    del iterator
    assert not camera.streaming
    assert camera.snap().shape == (1080, 2048), "a snapshot is refused while a stream runs"


def test_a_running_stream_is_left_running_by_the_iterator(camera: orvane.Camera):
    camera.start()
    assert len(list(camera.frames(count=2))) == 2
    assert camera.streaming
    image, metadata = camera.newest()
    assert image.shape == (1080, 2048) and metadata.sequence >= 2
    with pytest.raises(orvane.Error) as refused:
        camera.snap()
    assert refused.value.code == 1
    camera.stop()


def test_stats_of_a_stopped_camera_are_those_of_its_last_stream(camera: orvane.Camera):
    assert camera.stats() == orvane.StreamStats(0, 0, 0, 0, 0, 0)
    list(camera.frames(count=3))
    after = camera.stats()
    assert after.frames_delivered >= 3
    assert camera.stats() == after


def test_record_writes_an_avi_of_the_length(camera: orvane.Camera, tmp_path):
    path = tmp_path / "clip.avi"
    camera.record(path, 1.0)
    assert not camera.streaming
    data = path.read_bytes()
    assert data[:4] == b"RIFF" and data[8:12] == b"AVI "
    assert int.from_bytes(data[48:52], "little") > 0, "no frame in the header's count"
    with pytest.raises(orvane.Error) as refused:
        camera.record(tmp_path / "none.avi", 0)
    assert refused.value.code == 9


def test_a_blocking_wait_in_the_library_lets_other_threads_run(frame_messages):
    # The main thread waits without limit for a message that never comes; only another Python thread,
    # destroying the queue, can end the wait, and it can run only if the wait released the GIL.
    library = frame_messages.library
    queue = library.Orvane_CreateMessageQueue()
    worker = threading.Thread(target=library.Orvane_DestroyMessageQueue, args=(queue,))
    worker.start()
    assert library.Orvane_GetMessage(queue, None, None, None, -1) == 0
    worker.join()
