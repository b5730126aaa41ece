"""Hosting the desk controls from Python, late-bound, over their C interface (desk/desk_c.h).

    import desk
    tree = desk.CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}")
    tree.PathSeparator = "/"                     # properties by name
    nodes = tree.Nodes
    nodes.Add(Key="a", Text="First")             # methods, positional or keyword arguments
    print(tree.Nodes("a").Text, tree.Nodes["a"].FullPath)   # the default member
    for node in tree.Nodes: ...                  # collections through their enumerator
    with desk.connect(tree, handler):            # events: handler.MouseUp(Button, Shift, x, y)
        ...

The libraries are loaded by name (libVarbelTreeview.so, libQuorvane.so) through the ordinary
library search path; set LD_LIBRARY_PATH for a build tree.

Values: None is Nothing (and an Empty result), bool a Boolean, int a Long (desk.Integer for a
16-bit Integer), float a Double (desk.Single), str a String (UTF-16; unpaired surrogates pass
unchanged), desk.Missing an omitted argument, desk.ByRef(value) a by-reference argument whose
.value holds what the callee wrote. Every failure is a desk.DeskError with number, text and
source. Objects live as long as Python holds them; an object dropped inside its own event is
freed when the call that raised the event returns. Connections hold their handler: disconnect
them (or use them in a with block) to let go of it.
"""
import ctypes
import itertools
import weakref
from ctypes import byref, c_int32, c_uint16, c_void_p

from . import _c

__all__ = ["CreateObject", "DeskError", "Object", "HostObject", "PropertyBag", "ByRef", "Missing", "Empty",
           "Integer", "Single", "connect", "Connection", "handle_count", "class_name", "use_platform", "show", "run",
           "quit", "do_events", "new_bag", "load_bag", "save_bag", "init_properties", "read_properties", "write_properties",
           "headless_resize", "headless_popup_choice", "headless_click", "version"]

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


class _Marker:
    def __init__(self, name):
        self._name = name

    def __repr__(self):
        return "desk." + self._name


Missing = _Marker("Missing")
Empty = _Marker("Empty")


class Integer(int):
    """A 16-bit Integer argument."""


class Single(float):
    """A Single (32-bit) argument."""


class ByRef:
    """A by-reference argument: after the call, .value is what the callee wrote."""

    def __init__(self, value=Empty):
        self.value = value

    def __repr__(self):
        return "desk.ByRef(%r)" % (self.value,)


_api = None
_err = _c.Error()
_ERR = ctypes.pointer(_err)
_res = _c.Value()
_RES = ctypes.pointer(_res)
_rv = _c.ValueView.from_buffer(_res)  # the same bytes, for the fast path of a property read
assert ctypes.sizeof(_c.ValueView) == ctypes.sizeof(_c.Value)
_get = _clear = None
_string_at = ctypes.string_at
_pending = []  # (text, exception) of Python failures inside callbacks, to chain onto the DeskError


def _lib():
    global _api
    if _api is None:
        api = _c.Api()
        if api.check_version(_c.VERSION, _ERR):
            raise _error()
        global _get, _clear
        _get, _clear = api.get, api.value_clear
        _api = api
    return _api


def _error(cls=DeskError):
    e = cls(_err.number, _err.text.decode("utf-8", "replace"), _err.source.decode("utf-8", "replace"))
    for text, cause in _pending:
        if text == e.text:
            e.__cause__ = cause
    _pending.clear()
    return e


def version():
    """The interface version of the loaded libraries, as (major, minor)."""
    _lib()
    return (_c.VERSION >> 16, _c.VERSION & 0xFFFF)


def handle_count():
    """References held by hosts through handles, over all objects (0 when everything is given back)."""
    return _lib().handle_count()


# ---------------------------------------------------------------------------------------------
# Values

class _Keep:
    """What must outlive one call: string buffers, by-reference targets, lent host handles."""
    __slots__ = ("bufs", "lent")

    def __init__(self):
        self.bufs = []
        self.lent = []

    def done(self):
        for h in self.lent:
            _api.release(h)
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
            raise DeskError(ERR_OVERFLOW, "Overflow", "desk")
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
                raise DeskError(ERR_OVERFLOW, "Overflow", "desk") from None
            v.kind = _c.DOUBLE
    elif isinstance(x, Single):
        v.kind = _c.SINGLE
        v.u.single = x
    elif isinstance(x, float):
        v.kind = _c.DOUBLE
        v.u.double_ = x
    elif isinstance(x, Object):
        if not x._h:
            raise DeskError(ERR_OBJECT_NOT_SET, "Object variable or With block variable not set", "desk")
        v.kind = _c.OBJECT
        v.u.object = x._h
    elif isinstance(x, HostObject):
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
        raise DeskError(ERR_TYPE_MISMATCH, "Type mismatch: a %s cannot be passed" % type(x).__name__, "desk")


def _object_from(h, owned):
    """A handle as a Python object; `owned`: the handle's reference is handed to the result."""
    key = _host_by_handle.get(h)
    if key is not None:
        py = _hosts.get(key)
        if py is not None:
            if owned:
                _api.release(h)
            return py
    if not owned:
        _api.addref(h, _ERR)
    return Object(h)


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
        _api.value_clear(byref(v))
    return r


# ---------------------------------------------------------------------------------------------
# Type information, read once per interface

class _Member:
    __slots__ = ("name", "id", "kinds", "params", "read")

    def __init__(self, name, id_):
        self.name = name
        self.id = id_
        self.kinds = 0
        self.params = {}  # invoke kind -> [(lower name, optional, by_ref)]
        self.read = False  # a property read that needs no argument


class _Type:
    __slots__ = ("name", "members", "value", "newenum")

    def __init__(self, info):
        self.name = info.name.decode()
        self.members = {}
        self.value = self.newenum = None
        for i in range(info.member_count):
            m = info.members[i]
            name = m.name.decode()
            mem = self.members.get(name.lower())
            if mem is None:
                mem = self.members[name.lower()] = _Member(name, m.id)
            mem.kinds |= m.invoke_kind
            mem.params[m.invoke_kind] = [(m.params[p].name.decode().lower(), bool(m.params[p].optional),
                                          bool(m.params[p].by_ref)) for p in range(m.param_count)]
            if m.id == _c.ID_VALUE:
                self.value = mem
            elif m.id == _c.ID_NEWENUM:
                self.newenum = mem
        for mem in self.members.values():
            # Exact-case names are found first, without lower().
            mem.read = bool(mem.kinds & _c.GET) and all(p[1] for p in mem.params.get(_c.GET, []))
        for mem in list(self.members.values()):
            self.members.setdefault(mem.name, mem)


_types = {}


def _type_of(h):
    info = _api.object_interface(h, _ERR)
    if not info:
        raise _error()
    key = ctypes.addressof(info.contents)
    t = _types.get(key)
    if t is None:
        t = _types[key] = _Type(info.contents)
    return t


def _check(rc, cls=DeskError):
    if rc:
        raise _error(cls)


# ---------------------------------------------------------------------------------------------
# Objects of the controls

class Object:
    """An object of a control library, reached late-bound by member name."""
    __slots__ = ("_h", "_t", "__weakref__")

    def __init__(self, handle):
        object.__setattr__(self, "_h", handle)
        object.__setattr__(self, "_t", None)

    def __del__(self):
        h = self._h
        if h and _api is not None:
            object.__setattr__(self, "_h", None)
            _api.release(h)

    def _type(self):
        t = self._t
        if t is None:
            if not self._h:
                raise DeskError(ERR_OBJECT_NOT_SET, "Object variable or With block variable not set", "desk")
            t = _type_of(self._h)
            object.__setattr__(self, "_t", t)
        return t

    def _member(self, name):
        t = self._t or self._type()
        m = t.members.get(name) or t.members.get(name.lower())
        if m is None:
            raise _DeskAttributeError(ERR_NOT_SUPPORTED, "Object doesn't support this property or method: " + name,
                                      t.name)
        return m

    def _invoke(self, id_, kind, args, kwargs=None, member=None):
        if kwargs:
            args = _place(member, kind, args, kwargs)
        n = len(args)
        if n == 0:
            _check(_api.invoke(self._h, id_, kind, None, 0, _RES, _ERR))
            return _take(_res)
        keep = _Keep()
        try:
            arr = (_c.Value * n)()
            for i, a in enumerate(args):
                _to_c(a, arr[i], keep)
            result = _c.Value()
            rc = _api.invoke(self._h, id_, kind, arr, n, ctypes.pointer(result), _ERR)
            # Every by-reference target now holds a value written by the library: take it back.
            for i, a in enumerate(args):
                if isinstance(a, ByRef):
                    a.value = _take(arr[i].u.ref.contents)
            _check(rc)
            return _take(result)
        finally:
            keep.done()

    def __getattr__(self, name):
        if name[:1] == "_":
            raise AttributeError(name)
        t = self._t or self._type()
        m = t.members.get(name) or self._member(name)
        if m.read:
            # The hot path of late binding: one C call, the result read in place.
            if _get(self._h, m.id, _RES, _ERR):
                raise _error()
            k = _rv.kind
            if k == 3:  # Long
                return _rv.long_
            if k == 2:  # Integer
                return _rv.integer
            if k == 6:  # Boolean
                return _rv.boolean != 0
            if k == 7:  # String
                n = _rv.length
                r = _string_at(_rv.data, 2 * n).decode("utf-16-le", "surrogatepass") if n else ""
                _clear(_RES)
                return r
            return _take(_res)
        return _Bound(self, m, _c.METHOD if m.kinds & _c.METHOD else _c.GET)

    def __setattr__(self, name, value):
        if name[:1] == "_":
            raise AttributeError("%s is not a member" % name)
        m = self._member(name)
        by_object = value is None or isinstance(value, (Object, HostObject))
        kind = _c.SET if by_object and m.kinds & _c.SET else _c.LET
        if not m.kinds & kind:
            kind = _c.SET if m.kinds & _c.SET else _c.LET
        self._invoke(m.id, kind, (value,))

    def __call__(self, *args, **kwargs):
        t = self._type()
        if t.value is None:
            raise DeskError(ERR_NOT_SUPPORTED, "Object doesn't support this property or method", t.name)
        kind = _c.GET if t.value.kinds & _c.GET else _c.METHOD
        return self._invoke(_c.ID_VALUE, kind, args, kwargs, t.value)

    def __getitem__(self, key):
        return self(*key) if isinstance(key, tuple) else self(key)

    def __iter__(self):
        t = self._type()
        if t.newenum is None:
            raise DeskError(ERR_NOT_SUPPORTED, "Object doesn't support this property or method", t.name)
        e = self._invoke(_c.ID_NEWENUM, _c.METHOD if t.newenum.kinds & _c.METHOD else _c.GET, ())
        while True:
            item = ByRef(Empty)
            if not e._invoke(_c.ID_ENUM_NEXT, _c.METHOD, (item,)):
                return
            yield item.value

    def __eq__(self, other):
        return isinstance(other, Object) and other._h == self._h and self._h is not None

    def __hash__(self):
        return hash(self._h)

    def __bool__(self):
        return True

    def __dir__(self):
        return sorted({m.name for m in self._type().members.values()})

    def __repr__(self):
        return "<desk.Object %s>" % (self._type().name if self._h else "(released)")


def _place(member, kind, args, kwargs):
    """Positional and keyword arguments in declared order; gaps are Missing."""
    params = member.params.get(kind) or member.params.get(_c.GET) or member.params.get(_c.METHOD) or []
    out = list(args)
    for name, value in kwargs.items():
        for i, p in enumerate(params):
            if p[0] == name.lower():
                break
        else:
            raise DeskError(ERR_NAMED_ARGUMENT, "Named argument not found: " + name, member.name)
        if i < len(args):
            raise DeskError(ERR_NAMED_ARGUMENT, "Argument given twice: " + name, member.name)
        while len(out) <= i:
            out.append(Missing)
        out[i] = value
    return out


class _Bound:
    """A method (or a property read with arguments) of one object, ready to call."""
    __slots__ = ("obj", "member", "kind")

    def __init__(self, obj, member, kind):
        self.obj = obj
        self.member = member
        self.kind = kind

    def __call__(self, *args, **kwargs):
        return self.obj._invoke(self.member.id, self.kind, args, kwargs, self.member)

    def __getitem__(self, key):
        return self(*key) if isinstance(key, tuple) else self(key)

    def __repr__(self):
        return "<desk method %s>" % self.member.name


# ---------------------------------------------------------------------------------------------
# Creation by class identifier

def _classes():
    out = {}
    for lib, typelib in _lib().typelib.items():
        info = typelib()
        if not info:
            continue
        for i in range(info.contents.class_count):
            c = info.contents.classes[i]
            out[c.clsid.decode().upper()] = (lib, c.name.decode(), bool(c.creatable))
    return out


def class_name(clsid):
    """The name of a class in the loaded libraries' type libraries, or None."""
    entry = _classes().get(clsid.upper())
    return entry[1] if entry else None


def CreateObject(clsid):
    """A new object by class identifier ("{...}") or by "Library.Class"."""
    api = _lib()
    if not clsid.startswith("{"):
        for k, (lib, name, _) in _classes().items():
            if "%s.%s" % (lib, name) == clsid:
                clsid = k
                break
    entry = _classes().get(clsid.upper())
    libs = [entry[0]] if entry else list(api.create)
    out = c_void_p()
    for lib in libs:
        if api.create[lib](clsid.encode(), byref(out), _ERR) == 0:
            return Object(out.value)
    raise _error()


# ---------------------------------------------------------------------------------------------
# Objects Python implements: event sinks and HostObject

_hosts = {}           # key -> Python object (or (handler, event names) for a sink)
_host_by_handle = {}  # handle -> key, while the library holds the object
_handle_of_host = {}  # key -> handle
_keys = itertools.count(1)


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
    _pending.append((data.decode("utf-8", "replace"), e))
    return number


class _TargetRef(ByRef):
    """A by-reference argument of an event: reading and writing reach the raiser's value, during the
    handler only."""

    def __init__(self, target):
        self._target = target

    @property
    def value(self):
        if self._target is None:
            raise DeskError(ERR_OBJECT_NOT_SET, "The by-reference argument is gone: its event has returned", "desk")
        return _peek(self._target.contents)

    @value.setter
    def value(self, x):
        if self._target is None:
            raise DeskError(ERR_OBJECT_NOT_SET, "The by-reference argument is gone: its event has returned", "desk")
        keep = _Keep()
        try:
            tmp = _c.Value()
            _to_c(x, tmp, keep)
            _check(_api.value_set(self._target, ctypes.pointer(tmp), _ERR))
        finally:
            keep.done()


def _args_of(args, argc):
    out = []
    for i in range(argc):
        a = args[i]
        out.append(_TargetRef(a.u.ref) if a.kind == _c.BYREF else _peek(a))
    return out


def _set_result(result, value):
    keep = _Keep()
    try:
        tmp = _c.Value()
        _to_c(value, tmp, keep)
        _check(_api.value_set(result, ctypes.pointer(tmp), _ERR))
    finally:
        keep.done()


@_c.INVOKE_FN
def _invoke_cb(key, id_, kind, args, argc, result, err):
    refs = []
    try:
        entry = _hosts.get(key)
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
        _set_result(result, value)
        return 0
    except BaseException as e:  # nothing may cross into the library
        return _fail(e, err)
    finally:
        for r in refs:
            r._target = None


@_c.DESTROY_FN
def _destroy_cb(key):
    _hosts.pop(key, None)
    h = _handle_of_host.pop(key, None)
    if h is not None:
        _host_by_handle.pop(h, None)


_vtbl = _c.HostVtbl(ctypes.sizeof(_c.HostVtbl), _invoke_cb, _destroy_cb)


def _host_new(key, members):
    arr = (_c.HostMember * max(len(members), 1))()
    names = []
    for i, (name, id_, kind) in enumerate(members):
        names.append(name.encode())
        arr[i] = _c.HostMember(names[-1], id_, kind)
    out = c_void_p()
    _check(_api.host_new(byref(_vtbl), key, arr, len(members), byref(out), _ERR))
    _handle_of_host[key] = out.value
    _host_by_handle[out.value] = key
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
        key = getattr(self, "_desk_key", None)
        if key is not None and key in _handle_of_host:
            out = c_void_p()
            _check(_api.host_find(byref(_vtbl), key, byref(out), _ERR))
            return out.value
        key = next(_keys)
        object.__setattr__(self, "_desk_key", key)
        _hosts[key] = self
        members = []
        for id_, name in type(self)._desk_names().items():
            members.append((name, id_, _c.METHOD if callable(getattr(type(self), name, None)) else _c.GET))
        try:
            return _host_new(key, members)
        except BaseException:
            _hosts.pop(key, None)
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
        control = self._control()
        key, self._key = self._key, None
        if key is None:
            return
        sink = _hosts.get(key)
        if sink is not None:
            sink.handler = None  # no more calls, even if the control keeps the sink
        if control is not None and control._h:
            _check(_api.unadvise(control._h, self.cookie, _ERR))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.disconnect()


def connect(control, handler):
    """Delivers the control's events to handler's methods named after them; by-reference arguments
    arrive as ByRef objects whose .value the handler may set. Returns the Connection."""
    api = _lib()
    info = api.event_interface(control._h, _ERR)
    if not info:
        _check(_err.number)
        raise DeskError(ERR_NOT_SUPPORTED, "The object raises no events", control._type().name)
    addr = ctypes.addressof(info.contents)
    names = _event_names.get(addr)
    if names is None:
        names = _event_names[addr] = {info.contents.members[i].id: info.contents.members[i].name.decode()
                                      for i in range(info.contents.member_count)}
    key = next(_keys)
    _hosts[key] = _Sink(handler, names)
    try:
        h = _host_new(key, [])
    except BaseException:
        _hosts.pop(key, None)
        raise
    cookie = c_int32()
    rc = api.advise(control._h, h, byref(cookie), _ERR)
    api.release(h)  # the control holds it now (or nobody does)
    _check(rc)
    return Connection(control, cookie.value, key)


# ---------------------------------------------------------------------------------------------
# Controls: persistence, platform

def _bag_handle(bag, keep):
    if isinstance(bag, Object):
        return bag._h
    if isinstance(bag, HostObject):
        h = bag._desk_lend()
        keep.lent.append(h)
        return h
    raise DeskError(ERR_TYPE_MISMATCH, "A property bag is a desk.Object or a desk.HostObject", "desk")


def init_properties(control):
    _check(_lib().init_properties(control._h, _ERR))


def read_properties(control, bag):
    keep = _Keep()
    try:
        _check(_lib().read_properties(control._h, _bag_handle(bag, keep), _ERR))
    finally:
        keep.done()


def write_properties(control, bag):
    keep = _Keep()
    try:
        _check(_lib().write_properties(control._h, _bag_handle(bag, keep), _ERR))
    finally:
        keep.done()


def new_bag():
    """The run-time's own property bag (kept in memory; save_bag writes it to a file)."""
    out = c_void_p()
    _check(_lib().bag_new(byref(out), _ERR))
    return Object(out.value)


def save_bag(bag, path):
    _check(_lib().bag_save(bag._h, str(path).encode(), _ERR))


def load_bag(path):
    out = c_void_p()
    _check(_lib().bag_load(str(path).encode(), byref(out), _ERR))
    return Object(out.value)


def use_platform(name):
    """"headless" (the default) or "qt" (windows; needs libDeskQt.so). Before creating controls."""
    _check(_lib().use_platform(name.encode(), _ERR))


def show(control, title="", width=0, height=0):
    """Qt: shows the control in a window of its own."""
    _check(_lib().show(control._h, title.encode(), width, height, _ERR))


def run():
    """Qt: runs the event loop until quit() or the last window closes."""
    _check(_lib().run(_ERR))


def quit():
    """Qt: ends the running event loop (or the next one to start)."""
    _check(_lib().quit(_ERR))


def do_events():
    """Lets the platform dispatch what is pending (for a host running a loop of its own)."""
    _check(_lib().do_events(_ERR))


def headless_resize(control, width, height):
    """Headless platform: the size of the control's surface, in twips."""
    _check(_lib().headless_resize(control._h, width, height, _ERR))


def headless_popup_choice(index):
    """Headless platform: the menu element that every popup shown from now on clicks (-1: none)."""
    _check(_lib().headless_popup_choice(index, _ERR))


def headless_click(control, button, shift, x, y):
    """Headless platform: a click (down and up) on the control's tree at (x, y) twips."""
    _check(_lib().headless_click(control._h, button, shift, x, y, _ERR))
