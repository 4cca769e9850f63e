"""The package's exceptions."""
from __future__ import annotations

from . import _native


def error_name(code: int) -> str:
    """The name of an SDK error code (``"ORVANE_ERR_ARGUMENT"``), ``"unknown"`` for a code that is none."""
    name = _native.lib().OrvaneEx_GetErrorName(code)
    return name.decode("ascii") if name else "unknown"


class Error(Exception):
    """A call into the SDK failed.

    Attributes:
        code: the SDK's error code (``ORVANE_ERR_*`` of OrvaneSdk.h; 0 when the call recorded none).
        name: the code's name, such as ``"ORVANE_ERR_ARGUMENT"``.
        call: the SDK function that failed.
    """

    def __init__(self, code: int, call: str, detail: str = "") -> None:
        self.code = code
        self.name = error_name(code)
        self.call = call
        text = f"{call} failed: {self.name} ({code})"
        super().__init__(text + (f": {detail}" if detail else ""))


class CallbackError(Error):
    """A frame callback raised; the exception it raised is this one's ``__cause__``.

    The callback is not called again after it raised; the stream itself goes on.
    """

    def __init__(self, cause: BaseException) -> None:
        super().__init__(0, "frame callback", f"{type(cause).__name__}: {cause}")
