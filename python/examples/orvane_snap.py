#!/usr/bin/env python3
"""Lists the cameras, takes a colour snapshot, streams a few frames and saves the newest one.

    python3 examples/orvane_snap.py [OUTPUT_DIR]

Try it without a camera: ORVANE_SIM_CAMERAS=1 (and PYTHONPATH=python from the source tree, with
ORVANE_SDK_LIBRARY naming the built library when it is not installed).
"""
from __future__ import annotations

import os
import sys

import orvane


def main(output_dir: str) -> int:
    found = orvane.cameras()
    for entry in found:
        print(f"camera {entry.index}: {entry.name}")
    if not found:
        print("no camera found", file=sys.stderr)
        return 1
    os.makedirs(output_dir, exist_ok=True)
    with orvane.open(0) as camera:
        print(f"serial number {camera.serial_number}, limits {camera.limits}")
        camera.sub_sample = 17                      # 2048 x 1080
        camera.exposure_us = 10000
        camera.color_mode = orvane.ColorMode.BGR24
        image = camera.snap()                       # H x W x 3, uint8, blue-green-red
        print(f"snapshot {image.shape} {image.dtype}, mean level per channel (R, G, B) "
              f"{orvane.to_rgb(image).reshape(-1, 3).mean(axis=0).round(1)}")
        for frame, metadata in camera.frames(timeout=10.0, count=10):
            print(f"frame {metadata.sequence}: {metadata.skipped} skipped before it, "
                  f"at {metadata.host_time_ns / 1e9:.3f} s, mean {frame.mean():.1f}")
        camera.save(os.path.join(output_dir, "newest.png"))
        print(f"stream: {camera.stats()}")
        print(f"saved {os.path.join(output_dir, 'newest.png')}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "orvane-output"))
    except orvane.Error as error:
        print(f"{error} (code {error.code}, {error.name})", file=sys.stderr)
        sys.exit(1)
