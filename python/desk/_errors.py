"""Errors: DeskError, the platform's error numbers this package raises itself, and the error as
a call's record (_thread.Records) holds it."""
from . import _c

# The error numbers this package raises itself, by the header's names (desk_c.h).
ERR_OVERFLOW = _c.E_OVERFLOW
ERR_TYPE_MISMATCH = _c.E_TYPE_MISMATCH
ERR_OBJECT_NOT_SET = _c.E_OBJECT_NOT_SET
ERR_CANT_CREATE = _c.E_CANT_CREATE
ERR_NOT_SUPPORTED = _c.E_NOT_SUPPORTED
ERR_AUTOMATION = _c.E_AUTOMATION            # an exception raised by Python code called from a control
ERR_NAMED_ARGUMENT = _c.E_NAMED_ARGUMENT    # a keyword argument the member does not have
ERR_WRONG_THREAD = _c.E_WRONG_THREAD        # a call from another thread than the UI thread
ERR_INVALID_CALL = _c.E_INVALID_CALL        # a call that cannot be made as asked

# The run-time's texts of the numbers this package raises with them, for both paths (the
# extension takes this table by name): a test ties each to the run-time's own answer.
TEXTS = {
    ERR_OVERFLOW: "Overflow",
    ERR_TYPE_MISMATCH: "Type mismatch",
    ERR_OBJECT_NOT_SET: "Object variable or With block variable not set",
    ERR_NOT_SUPPORTED: "Object doesn't support this property or method",
}


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


def _from_record(err, cls=DeskError):
    return cls(err.number, err.text.decode("utf-8", "replace"), err.source.decode("utf-8", "replace"))


def _chained(e, r):
    """`e`, with the Python failure that caused it (in a callback during the call, kept in the
    records `r`) as its cause."""
    for text, cause in r.pending:
        if text == e.text:
            e.__cause__ = cause
    r.pending.clear()
    return e


def _error(r, cls=DeskError):
    """The error in the records `r` as an exception, chained to its cause."""
    return _chained(_from_record(r.err, cls), r)


def _check(rc, r, cls=DeskError):
    if rc:
        raise _error(r, cls)
