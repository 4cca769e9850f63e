"""The plain records the package hands out: frame metadata, stream statistics, camera facts."""
from __future__ import annotations

from dataclasses import dataclass

from . import _native


@dataclass(frozen=True)
class FrameMetadata:
    """What is known of one delivered frame.

    Attributes:
        sequence: number of the frame among all frames read since the stream started (the first is 1);
            a gap between two delivered frames is frames the library read but did not deliver.
        host_time_ns: host monotonic clock (CLOCK_MONOTONIC; QueryPerformanceCounter on Windows) at the
            end of the frame's transfer, in nanoseconds.
        camera_counter: the camera's own frame counter, or -1 where the camera gives none.
        skipped: frames read but not delivered since the previous delivered frame.
        width: pixels.
        height: rows.
        bits_per_pixel: the colour mode of the frame (8, 16, 24, 32, 48 or 64).
        complete: False when fewer bytes than a frame arrived (the rest of the image is stale).
    """

    sequence: int
    host_time_ns: int
    camera_counter: int
    skipped: int
    width: int
    height: int
    bits_per_pixel: int
    complete: bool

    @classmethod
    def from_record(cls, record: _native.FrameMetadataRecord) -> "FrameMetadata":
        return cls(record.sequence, record.hostTimeNs, record.cameraCounter, record.skipped, record.width,
                   record.height, record.bitsPerPixel, record.status == _native.TRANSFER_OK)


@dataclass(frozen=True)
class StreamStats:
    """Counts since the last start of acquisition (all 0 before the first).

    Attributes:
        frames_read: frames read from the camera.
        frames_delivered: frames converted and handed to the application.
        frames_skipped: frames read but replaced by a newer one before delivery.
        failed_transfers: frame transfers that failed.
        timeouts: waits for a frame that timed out.
        resets: stream restarts after a failure.
    """

    frames_read: int
    frames_delivered: int
    frames_skipped: int
    failed_transfers: int
    timeouts: int
    resets: int

    @classmethod
    def from_record(cls, record: _native.StreamStatsRecord) -> "StreamStats":
        return cls(record.framesRead, record.framesDelivered, record.framesSkipped, record.failedTransfers,
                   record.timeouts, record.resets)


@dataclass(frozen=True)
class CameraLimits:
    """The ranges the camera accepts.

    Attributes:
        max_width: pixels of the full sensor.
        max_height: rows of the full sensor.
        gain_range: (lowest, highest) of ``Camera.gain``, device units.
        color_gain_range: (lowest, highest) of the colour gains, device units.
        exposure_range_us: (shortest, longest) exposure in microseconds.
    """

    max_width: int
    max_height: int
    gain_range: tuple[int, int]
    color_gain_range: tuple[int, int]
    exposure_range_us: tuple[int, int]


@dataclass(frozen=True)
class CameraEntry:
    """A connected camera as ``orvane.cameras()`` lists it: its number for ``orvane.open`` and its name."""

    index: int
    name: str
