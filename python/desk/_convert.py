"""Python values and C values (desk_value), each way: arguments written for a call, results and
callback arguments read back."""
import ctypes
from ctypes import byref, c_uint16

from . import _c, _handles, _loader
from ._errors import ERR_OBJECT_NOT_SET, ERR_OVERFLOW, ERR_TYPE_MISMATCH, TEXTS, DeskError
from ._thread import records
from ._values import ByRef, Empty, Integer, Missing, Single


class _Keep:
    """What must outlive one call: string buffers, by-reference targets, lent host handles."""
    __slots__ = ("bufs", "lent")

    def __init__(self):
        self.bufs = []
        self.lent = []

    def done(self):
        for h in self.lent:
            _loader.api.release(h)
        self.lent.clear()


def _to_c(x, v, keep):
    if x is None:
        v.kind = _c.OBJECT
        v.u.object = None
    elif isinstance(x, str):
        b = x.encode("utf-16-le", "surrogatepass")
        n = len(b) // 2
        buf = (c_uint16 * max(n, 1)).from_buffer_copy(b or b"\0\0")
        keep.bufs.append(buf)
        v.kind = _c.STRING
        v.u.string.data = ctypes.cast(buf, ctypes.POINTER(c_uint16))
        v.u.string.length = n
    elif isinstance(x, bool):
        v.kind = _c.BOOLEAN
        v.u.boolean = -1 if x else 0
    elif isinstance(x, Integer):
        if not -32768 <= x <= 32767:
            raise DeskError(ERR_OVERFLOW, TEXTS[ERR_OVERFLOW], "desk")
        v.kind = _c.INTEGER
        v.u.integer = x
    elif isinstance(x, int):
        if -2 ** 31 <= x < 2 ** 31:
            v.kind = _c.LONG
            v.u.long_ = x
        else:
            try:
                v.u.double_ = float(x)
            except OverflowError:
                raise DeskError(ERR_OVERFLOW, TEXTS[ERR_OVERFLOW], "desk") from None
            v.kind = _c.DOUBLE
    elif isinstance(x, Single):
        v.kind = _c.SINGLE
        v.u.single = x
    elif isinstance(x, float):
        v.kind = _c.DOUBLE
        v.u.double_ = x
    elif isinstance(x, _handles.object_class):
        if not x._h:
            raise DeskError(ERR_OBJECT_NOT_SET, TEXTS[ERR_OBJECT_NOT_SET], "desk")
        v.kind = _c.OBJECT
        v.u.object = x._h
    elif isinstance(x, _handles.host_class):
        h = x._desk_lend()
        keep.lent.append(h)
        v.kind = _c.OBJECT
        v.u.object = h
    elif isinstance(x, ByRef):
        target = _c.Value()
        _to_c(x.value, target, keep)
        keep.bufs.append(target)
        v.kind = _c.BYREF
        v.u.ref = ctypes.pointer(target)
    elif x is Missing:
        v.kind = _c.MISSING
    elif x is Empty:
        v.kind = _c.EMPTY
    else:
        raise DeskError(ERR_TYPE_MISMATCH, "%s: a %s cannot be passed" % (TEXTS[ERR_TYPE_MISMATCH], type(x).__name__),
                        "desk")


def _object_from(h, owned):
    """A handle as a Python object; `owned`: the handle's reference is handed to the result. On
    the UI thread (a result, or a callback's argument)."""
    key = _handles.host_by_handle.get(h)
    if key is not None:
        py = _handles.hosts.get(key)
        if py is not None:
            if owned:
                _loader.api.release(h)
            return py
    if not owned:
        _loader.api.addref(h, records().ERR)
    return _handles.object_class(h)


def _peek(v):
    """A value the library still owns, as Python."""
    k = v.kind
    if k == _c.LONG:
        return v.u.long_
    if k == _c.STRING:
        n = v.u.string.length
        return ctypes.string_at(v.u.string.data, 2 * n).decode("utf-16-le", "surrogatepass") if n else ""
    if k == _c.OBJECT:
        return _object_from(v.u.object, False) if v.u.object else None
    if k == _c.BOOLEAN:
        return v.u.boolean != 0
    if k == _c.INTEGER:
        return v.u.integer
    if k == _c.SINGLE:
        return v.u.single
    if k == _c.DOUBLE:
        return v.u.double_
    if k == _c.EMPTY:
        return None
    if k == _c.MISSING:
        return Missing
    if k == _c.BYREF:
        return _peek(v.u.ref.contents)
    raise DeskError(ERR_TYPE_MISMATCH, "Unknown kind of value %d" % k, "desk")


def _take(v):
    """A value the caller owns, as Python; the C value is given back."""
    k = v.kind
    if k == _c.OBJECT:
        h = v.u.object
        v.kind = _c.EMPTY
        return _object_from(h, True) if h else None
    r = _peek(v)
    if k == _c.STRING:
        _loader.api.value_clear(byref(v))
    return r

