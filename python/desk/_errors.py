"""Errors: DeskError, the platform's error numbers this package raises itself, and the one error
record every call fills."""
import ctypes

from . import _c

# Error numbers of the platform used by this package itself.
ERR_OVERFLOW = 6
ERR_TYPE_MISMATCH = 13
ERR_OBJECT_NOT_SET = 91
ERR_CANT_CREATE = 429
ERR_NOT_SUPPORTED = 438
ERR_AUTOMATION = 440      # an exception raised by Python code called from a control
ERR_NAMED_ARGUMENT = 448  # a keyword argument the member does not have


class DeskError(Exception):
    """Every failure: the platform's error number, its text, and the source that raised it."""

    def __init__(self, number, text, source=""):
        super().__init__(number, text, source)
        self.number = number
        self.text = text
        self.source = source

    def __str__(self):
        return "error %d: %s%s" % (self.number, self.text, " (%s)" % self.source if self.source else "")


class _DeskAttributeError(DeskError, AttributeError):
    """An unknown member name: a DeskError (438) that hasattr() and getattr() defaults understand."""


_err = _c.Error()
_ERR = ctypes.pointer(_err)
_pending = []  # (text, exception) of Python failures inside callbacks, to chain onto the DeskError


def _error(cls=DeskError):
    """The error record as an exception, with the Python failure that caused it as its cause."""
    e = cls(_err.number, _err.text.decode("utf-8", "replace"), _err.source.decode("utf-8", "replace"))
    for text, cause in _pending:
        if text == e.text:
            e.__cause__ = cause
    _pending.clear()
    return e


def _check(rc, cls=DeskError):
    if rc:
        raise _error(cls)
