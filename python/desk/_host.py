"""Objects Python implements: HostObject (any object handed to a control), PropertyBag, and
event sinks connected to a control (connect, Connection). The library calls them back through
one function table; Python failures go back as error records, chained onto the DeskError that
the call raising them ends with. The library calls back on the UI thread only."""
import ctypes
import weakref
from ctypes import byref, c_int32, c_void_p

from . import _c, _handles, _loader
from ._convert import _Keep, _peek, _to_c
from ._errors import ERR_AUTOMATION, ERR_NOT_SUPPORTED, ERR_OBJECT_NOT_SET, DeskError, _check
from ._thread import call, records
from ._values import ByRef


def _fail(e, err):
    """A Python exception inside a callback, as the error record the library raises."""
    if isinstance(e, DeskError):
        number, text = e.number or ERR_AUTOMATION, e.text
    else:
        number, text = ERR_AUTOMATION, "Automation error: %s: %s" % (type(e).__name__, e)
    data = text.encode("utf-8")[:1023]
    while data and (data[-1] & 0xC0) == 0x80:  # never cut inside a character
        data = data[:-1]
    err.contents.number = number
    err.contents.text = data
    err.contents.source = b"Python"
    records().pending.append((data.decode("utf-8", "replace"), e))
    return number


class _TargetRef(ByRef):
    """A by-reference argument of an event: reading and writing reach the raiser's value, during the
    handler only."""

    def __init__(self, target):
        self._target = target

    @property
    def value(self):
        records()
        if self._target is None:
            raise DeskError(ERR_OBJECT_NOT_SET, "The by-reference argument is gone: its event has returned", "desk")
        return _peek(self._target.contents)

    @value.setter
    def value(self, x):
        records()
        if self._target is None:
            raise DeskError(ERR_OBJECT_NOT_SET, "The by-reference argument is gone: its event has returned", "desk")
        _set_value(self._target, x)


def _args_of(args, argc):
    out = []
    for i in range(argc):
        a = args[i]
        out.append(_TargetRef(a.u.ref) if a.kind == _c.BYREF else _peek(a))
    return out


def _set_value(target, value):
    """Writes `value` into the library's storage (a callback's result or by-reference argument)."""
    keep = _Keep()
    try:
        tmp = _c.Value()
        _to_c(value, tmp, keep)
        call(_loader.api.value_set, target, ctypes.pointer(tmp))
    finally:
        keep.done()


@_c.INVOKE_FN
def _invoke_cb(key, id_, kind, args, argc, result, err):
    refs = []
    try:
        entry = _handles.hosts.get(key)
        if entry is None:
            return ERR_OBJECT_NOT_SET
        if isinstance(entry, _Sink):
            name = entry.names.get(id_)
            handler = entry.handler and getattr(entry.handler, name, None) if name else None
            if handler is None:
                return 0
            pyargs = _args_of(args, argc)
            refs = [a for a in pyargs if isinstance(a, _TargetRef)]
            handler(*pyargs)
            return 0
        name = type(entry)._desk_names().get(id_)
        if name is None:
            return ERR_NOT_SUPPORTED
        pyargs = _args_of(args, argc)
        refs = [a for a in pyargs if isinstance(a, _TargetRef)]
        if kind in (_c.LET, _c.SET):
            setattr(entry, name, pyargs[-1].value if isinstance(pyargs[-1], _TargetRef) else pyargs[-1])
            return 0
        attr = getattr(entry, name)
        value = attr(*pyargs) if callable(attr) else attr
        _set_value(result, value)
        return 0
    except BaseException as e:  # nothing may cross into the library
        return _fail(e, err)
    finally:
        for r in refs:
            r._target = None


@_c.DESTROY_FN
def _destroy_cb(key):
    _handles.hosts.pop(key, None)
    h = _handles.handle_of_host.pop(key, None)
    if h is not None:
        _handles.host_by_handle.pop(h, None)


_vtbl = _c.HostVtbl(ctypes.sizeof(_c.HostVtbl), _invoke_cb, _destroy_cb)


def _host_new(key, members):
    arr = (_c.HostMember * max(len(members), 1))()
    names = []
    for i, (name, id_, kind) in enumerate(members):
        names.append(name.encode())
        arr[i] = _c.HostMember(names[-1], id_, kind)
    out = c_void_p()
    call(_loader.api.host_new, byref(_vtbl), key, arr, len(members), byref(out))
    _handles.handle_of_host[key] = out.value
    _handles.host_by_handle[out.value] = key
    return out.value


class HostObject:
    """Base class of Python objects handed to the controls (a property bag, an object a member
    accepts). Public methods and attributes become its members; `_desk_ids_` may fix the id of a
    name (1 upward in name order otherwise, above any fixed ids)."""
    _desk_ids_ = {}

    @classmethod
    def _desk_names(cls):
        names = cls.__dict__.get("_desk_names_cache")
        if names is None:
            public = sorted(n for n in dir(cls) if not n.startswith("_"))
            ids = dict(cls._desk_ids_)
            nxt = max(list(ids.values()) + [0]) + 1
            for n in public:
                if n not in ids:
                    ids[n] = nxt
                    nxt += 1
            names = {i: n for n, i in ids.items()}
            cls._desk_names_cache = names
        return names

    def _desk_lend(self):
        """A handle for one call (the caller releases it). While the library holds this object, the
        same handle stands for it, so that a member that keeps it gives back this very object."""
        records()
        key = getattr(self, "_desk_key", None)
        if key is not None and key in _handles.handle_of_host:
            out = c_void_p()
            call(_loader.api.host_find, byref(_vtbl), key, byref(out))
            return out.value
        key = next(_handles.keys)
        object.__setattr__(self, "_desk_key", key)
        _handles.hosts[key] = self
        members = []
        for id_, name in type(self)._desk_names().items():
            members.append((name, id_, _c.METHOD if callable(getattr(type(self), name, None)) else _c.GET))
        try:
            return _host_new(key, members)
        except BaseException:
            _handles.hosts.pop(key, None)
            raise


class PropertyBag(HostObject):
    """A property bag kept in a Python dict (names without regard to letter case), for
    read_properties and write_properties."""
    _desk_ids_ = {"ReadProperty": _c.ID_READPROPERTY, "WriteProperty": _c.ID_WRITEPROPERTY}

    def __init__(self, values=None):
        self.values = dict(values or {})

    def ReadProperty(self, name, default=None):
        for k, v in self.values.items():
            if k.lower() == name.lower():
                return v
        return default

    def WriteProperty(self, name, value, default=None):
        for k in [k for k in self.values if k.lower() == name.lower()]:
            del self.values[k]
        self.values[name] = value


class _Sink:
    __slots__ = ("handler", "names")

    def __init__(self, handler, names):
        self.handler = handler
        self.names = names


_event_names = {}


class Connection:
    """A handler connected to a control's events; disconnect() (or the end of a with block) ends it."""

    def __init__(self, control, cookie, key):
        self._control = weakref.ref(control)
        self.cookie = cookie
        self._key = key

    def disconnect(self):
        records()
        control = self._control()
        key, self._key = self._key, None
        if key is None:
            return
        sink = _handles.hosts.get(key)
        if sink is not None:
            sink.handler = None  # no more calls, even if the control keeps the sink
        if control is not None and control._h:
            call(_loader.api.unadvise, control._h, self.cookie)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.disconnect()


def connect(control, handler):
    """Delivers the control's events to handler's methods named after them; by-reference arguments
    arrive as ByRef objects whose .value the handler may set. Returns the Connection."""
    r = records()
    api = _loader.lib()
    info = api.event_interface(control._h, r.ERR)
    if not info:
        _check(r.err.number, r)
        raise DeskError(ERR_NOT_SUPPORTED, "The object raises no events", control._type().name)
    addr = ctypes.addressof(info.contents)
    names = _event_names.get(addr)
    if names is None:
        names = _event_names[addr] = {info.contents.members[i].id: info.contents.members[i].name.decode()
                                      for i in range(info.contents.member_count)}
    key = next(_handles.keys)
    _handles.hosts[key] = _Sink(handler, names)
    try:
        h = _host_new(key, [])
    except BaseException:
        _handles.hosts.pop(key, None)
        raise
    cookie = c_int32()
    rc = api.advise(control._h, h, byref(cookie), r.ERR)
    api.release(h)  # the control holds it now (or nobody does)
    _check(rc, r)
    return Connection(control, cookie.value, key)


# What _convert lends to the library as a handle for a call.
_handles.host_class = HostObject
