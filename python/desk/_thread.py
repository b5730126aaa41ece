"""The UI thread: the one thread that the controls, the C interface's state and this package's
own state belong to. records() is the check every path of the package makes before it touches
any of that; call_soon() hands work to the UI thread from any other.

The UI thread is the first thread that calls in (the one that chooses the platform or makes the
first object), for the life of the process; the C interface decides, so that the package and
any other host in the process agree. A call from another thread raises DeskError with
ERR_WRONG_THREAD and does nothing. An object dropped on another thread (a collection there) is
given back on the UI thread by the library."""
import ctypes
import itertools
import sys
import threading

from . import _c, _loader
from ._errors import _check, _from_record


class Records:
    """What a call needs at hand on the UI thread: its error record, its result value (with the
    view of it that the read path uses), and the Python failures of callbacks during the call."""
    __slots__ = ("err", "ERR", "res", "RES", "view", "pending")

    def __init__(self):
        self.err = _c.Error()
        self.ERR = ctypes.pointer(self.err)
        self.res = _c.Value()
        self.RES = ctypes.pointer(self.res)
        self.view = _c.ValueView.from_buffer(self.res)
        self.pending = []  # (text, exception) to chain onto the DeskError the call ends with


assert ctypes.sizeof(_c.ValueView) == ctypes.sizeof(_c.Value)
_local = threading.local()  # only the UI thread ever has .records


def records():
    """The thread check: the UI thread's records, or the wrong-thread DeskError on any other."""
    try:
        return _local.records
    except AttributeError:
        return _claim()


def _claim():
    api = _loader.lib()
    err = _c.Error()
    if api.ui_thread(ctypes.byref(err)):
        raise _from_record(err)
    r = _local.records = Records()
    return r


def call(function, *args):
    """function(*args, error record) on the UI thread; its failure raised as a DeskError."""
    r = records()
    _check(function(*args, r.ERR), r)


# ---------------------------------------------------------------------------------------------
# Calls handed to the UI thread

_posted = {}  # key -> (fn, args) until the UI thread runs it
_posted_lock = threading.Lock()
_post_keys = itertools.count(1)


@_c.POST_FN
def _run_posted(key):
    with _posted_lock:
        fn, args = _posted.pop(key)
    try:
        fn(*args)
    except BaseException:  # nothing may cross into the library; the host sees it as an uncaught one
        sys.excepthook(*sys.exc_info())


def call_soon(fn, *args):
    """Calls fn(*args) on the UI thread; any thread may ask. It runs through the event loop on the
    Qt platform (desk.run() or the host's own, such as app.exec()), and at the next do_events()
    on either platform; calls run in the order they were asked for."""
    api = _loader.lib()
    key = next(_post_keys)
    with _posted_lock:
        _posted[key] = (fn, args)
    err = _c.Error()
    if api.post(_run_posted, key, ctypes.byref(err)):
        with _posted_lock:
            del _posted[key]
        raise _from_record(err)
