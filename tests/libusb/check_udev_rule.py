#!/usr/bin/env python3
"""Checks a udev rules file: `udevadm verify` where this udev has it, else our own reading of the
syntax (comma-separated KEY{attr}OP"value" items, match operators only on match keys, assignments
only on assignable keys), and that the camera rule grants seat access."""
import re
import shutil
import subprocess
import sys

MATCH = {"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS", "DRIVER", "DRIVERS", "ATTR", "ATTRS",
         "ENV", "TAG", "TAGS", "DEVPATH", "TEST", "PROGRAM", "RESULT"}
ASSIGN = {"MODE", "GROUP", "OWNER", "TAG", "ENV", "ATTR", "SYMLINK", "RUN", "NAME", "OPTIONS", "GOTO", "LABEL"}
ITEM = re.compile(r'\s*([A-Z]+)(\{[A-Za-z0-9_]+\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(,|$)')


def problems(text):
    found = []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        pos = 0
        while pos < len(line):
            m = ITEM.match(line, pos)
            if not m:
                found.append(f"line {number}: cannot read at column {pos + 1}")
                break
            key, op = m.group(1), m.group(3)
            if op in ("==", "!=") and key not in MATCH:
                found.append(f"line {number}: {key} cannot be matched")
            if op not in ("==", "!=") and key not in ASSIGN:
                found.append(f"line {number}: {key} cannot be assigned")
            if m.group(5) == "" and m.end() < len(line):
                found.append(f"line {number}: missing comma")
            pos = m.end()
    if 'TAG+="uaccess"' not in text or 'ATTR{idProduct}=="31f0"' not in text:
        found.append("the rule must give the seat's user (uaccess) the camera (idProduct 31f0)")
    return found


def main(path):
    udevadm = shutil.which("udevadm")
    if udevadm and subprocess.run([udevadm, "verify", "--help"], capture_output=True).returncode == 0:
        if subprocess.run([udevadm, "verify", path]).returncode != 0:
            return 1
    with open(path, encoding="utf-8") as f:
        text = f.read()
    # The checker itself must refuse a broken rule.
    assert problems('SUBSYSTEM="usb", MODE=="0660"'), "checker accepts a broken rule"
    found = problems(text)
    for p in found:
        print(f"{path}: {p}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
