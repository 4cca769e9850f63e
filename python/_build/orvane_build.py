"""A build backend (PEP 517, PEP 660) for the pure-Python package `orvane`, standard library only.

It puts the files of orvane/ into a wheel with the metadata of pyproject.toml; an editable install
is a .pth file naming this folder.
"""
from __future__ import annotations

import base64
import hashlib
import os
import tarfile
import tomllib
import zipfile

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_TAG = "py3-none-any"


def _project() -> dict:
    with open(os.path.join(_ROOT, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


def _metadata() -> str:
    project = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {project['version']}",
             f"Summary: {project['description']}", f"Requires-Python: {project['requires-python']}"]
    lines += [f"Requires-Dist: {d}" for d in project.get("dependencies", [])]
    return "\n".join(lines) + "\n"


def _dist_info() -> str:
    project = _project()
    return f"{project['name']}-{project['version']}.dist-info"


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(directory: str, files: dict[str, bytes]) -> str:
    project = _project()
    name = f"{project['name']}-{project['version']}-{_TAG}.whl"
    info = _dist_info()
    files = dict(files)
    files[f"{info}/METADATA"] = _metadata().encode()
    files[f"{info}/WHEEL"] = f"Wheel-Version: 1.0\nGenerator: orvane_build\nRoot-Is-Purelib: true\nTag: {_TAG}\n".encode()
    record = [_record_line(n, d) for n, d in files.items()] + [f"{info}/RECORD,,"]
    files[f"{info}/RECORD"] = ("\n".join(record) + "\n").encode()
    with zipfile.ZipFile(os.path.join(directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for entry, data in files.items():
            wheel.writestr(entry, data)
    return name


def _package_files() -> dict[str, bytes]:
    files = {}
    package = os.path.join(_ROOT, "orvane")
    for entry in sorted(os.listdir(package)):
        if entry.endswith(".py") or entry == "py.typed":
            with open(os.path.join(package, entry), "rb") as f:
                files[f"orvane/{entry}"] = f.read()
    return files


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, _package_files())


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, {"orvane_editable.pth": (_ROOT + "\n").encode()})


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = f"{project['name']}-{project['version']}"
    name = f"{base}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz") as sdist:
        for entry in ("pyproject.toml", "_build/orvane_build.py", "README.md"):
            path = os.path.join(_ROOT, entry)
            if os.path.exists(path):
                sdist.add(path, f"{base}/{entry}")
        for entry in _package_files():
            sdist.add(os.path.join(_ROOT, entry), f"{base}/{entry}")
    return name
