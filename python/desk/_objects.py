"""Objects of the controls, reached late-bound by member name: type information read once per
interface, properties and methods by name, the default member, enumeration, and creation by
class identifier.

Two paths run the hot paths (a property read, a call): the compiled extension desk._ext (built
with the libraries where Python's headers are found; _loader finds it) and the ctypes path
below, the fallback, which DESK_PYTHON_PURE=1 chooses. A host sees one class, Object, the same
on either path: the type information and what is rare (enumeration, comparison, repr) are
written once, here, and the extension reads the same type records. On the ctypes path Object.__getattr__ and
Object._invoke are the hot paths; each takes one C call, on the UI thread's records
(_thread.records, the thread check, which the extension asks too)."""
import ctypes
from ctypes import byref, c_void_p

from . import _c, _handles, _loader
from ._convert import _Keep, _take, _to_c
from ._errors import ERR_NAMED_ARGUMENT, ERR_NOT_SUPPORTED, ERR_OBJECT_NOT_SET, TEXTS, DeskError, _check, \
    _chained, _DeskAttributeError, _error
from ._host import HostObject
from ._loader import PATH, ext as _ext  # noqa: F401 (PATH: the path in use, asked for by name)
from ._thread import records as _records
from ._values import ByRef, Empty, Missing

_api = _get = _clear = None  # the run-time's functions, at hand once the libraries load
_string_at = ctypes.string_at


@_loader.on_load
def _loaded(api):
    global _api, _get, _clear
    _api, _get, _clear = api, api.get, api.value_clear


def _error_for(number, text, source):
    """A failed call of the extension as DeskError, made as for a call on the ctypes path (a
    Python failure inside a callback that caused it becomes its cause). On the UI thread."""
    return _chained(DeskError(number, text.decode("utf-8", "replace"), source.decode("utf-8", "replace")), _records())


# ---------------------------------------------------------------------------------------------
# Type information, read once per interface

class _Member:
    """A member of an interface (on the extension's path, desk._ext.Member: the same fields, read
    by its hot paths)."""
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


if _ext is not None:
    _Member = _ext.Member  # noqa: F811

_types = {}  # interface address -> _Type


def _type_at(address):
    """The type record of the interface at this address, read once."""
    t = _types.get(address)
    if t is None:
        t = _types[address] = _Type(_c.InterfaceInfo.from_address(address))
    return t


def _type_of(h, r):
    info = _api.object_interface(h, r.ERR)
    if not info:
        raise _error(r)
    return _type_at(ctypes.addressof(info.contents))


# ---------------------------------------------------------------------------------------------
# Objects of the controls

class _Shared:
    """What Object is on either path beyond its hot paths: enumeration, comparison, repr."""
    __slots__ = ()

    def __iter__(self):
        t = self._type()
        if t.newenum is None:
            raise DeskError(ERR_NOT_SUPPORTED, TEXTS[ERR_NOT_SUPPORTED], t.name)
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


class _CtypesObject(_Shared):
    """Object on the ctypes path."""
    __slots__ = ("_h", "_t", "__weakref__")

    def __init__(self, handle):
        object.__setattr__(self, "_h", handle)
        object.__setattr__(self, "_t", None)

    def __del__(self):
        # Any thread: the library gives back a handle released on another one on the UI thread.
        h = self._h
        if h and _api is not None:
            object.__setattr__(self, "_h", None)
            _api.release(h)

    def _type(self):
        t = self._t
        if t is None:
            r = _records()
            if not self._h:
                raise DeskError(ERR_OBJECT_NOT_SET, TEXTS[ERR_OBJECT_NOT_SET], "desk")
            t = _type_of(self._h, r)
            object.__setattr__(self, "_t", t)
        return t

    def _member(self, name):
        t = self._t or self._type()
        m = t.members.get(name) or t.members.get(name.lower())
        if m is None:
            raise _DeskAttributeError(ERR_NOT_SUPPORTED, TEXTS[ERR_NOT_SUPPORTED] + ": " + name,
                                      t.name)
        return m

    def _invoke(self, id_, kind, args, kwargs=None, member=None):
        r = _records()
        if kwargs:
            args = _place(member, kind, args, kwargs)
        n = len(args)
        if n == 0:
            _check(_api.invoke(self._h, id_, kind, None, 0, r.RES, r.ERR), r)
            return _take(r.res)
        keep = _Keep()
        try:
            arr = (_c.Value * n)()
            for i, a in enumerate(args):
                _to_c(a, arr[i], keep)
            result = _c.Value()
            rc = _api.invoke(self._h, id_, kind, arr, n, ctypes.pointer(result), r.ERR)
            # Every by-reference target now holds a value written by the library: take it back.
            for i, a in enumerate(args):
                if isinstance(a, ByRef):
                    a.value = _take(arr[i].u.ref.contents)
            _check(rc, r)
            return _take(result)
        finally:
            keep.done()

    def __getattr__(self, name):
        if name[:1] == "_":
            raise AttributeError(name)
        r = _records()
        t = self._t or self._type()
        m = t.members.get(name) or self._member(name)
        if m.read:
            # The hot path of late binding: one C call, the result read in place.
            if _get(self._h, m.id, r.RES, r.ERR):
                raise _error(r)
            v = r.view
            k = v.kind
            if k == 3:  # Long
                return v.long_
            if k == 2:  # Integer
                return v.integer
            if k == 6:  # Boolean
                return v.boolean != 0
            if k == 7:  # String
                n = v.length
                s = _string_at(v.data, 2 * n).decode("utf-16-le", "surrogatepass") if n else ""
                _clear(r.RES)
                return s
            return _take(r.res)
        return _Bound(self, m, _c.METHOD if m.kinds & _c.METHOD else _c.GET)

    def __setattr__(self, name, value):
        if name[:1] == "_":
            raise AttributeError("%s is not a member" % name)
        _records()
        m = self._member(name)
        by_object = value is None or isinstance(value, (Object, HostObject))
        kind = _c.SET if by_object and m.kinds & _c.SET else _c.LET
        if not m.kinds & kind:
            kind = _c.SET if m.kinds & _c.SET else _c.LET
        self._invoke(m.id, kind, (value,))

    def __call__(self, *args, **kwargs):
        t = self._type()
        if t.value is None:
            raise DeskError(ERR_NOT_SUPPORTED, TEXTS[ERR_NOT_SUPPORTED], t.name)
        kind = _c.GET if t.value.kinds & _c.GET else _c.METHOD
        return self._invoke(_c.ID_VALUE, kind, args, kwargs, t.value)

    def __getitem__(self, key):
        return self(*key) if isinstance(key, tuple) else self(key)


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


# The one class a host sees: the extension's over the shared part, or the ctypes path's.
_CtypesObject.__name__ = _CtypesObject.__qualname__ = "Object"
if _ext is None:
    Object = _CtypesObject
else:
    class Object(_Shared, _ext.Object):
        """An object of a control library, reached late-bound by member name."""
        __slots__ = ()

_handles.object_class = Object  # what _convert makes of a handle


# ---------------------------------------------------------------------------------------------
# Creation by class identifier

def _classes():
    _records()
    out = {}
    for lib, typelib in _loader.lib().typelib.items():
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
    r = _records()
    api = _loader.lib()
    if not clsid.startswith("{"):
        for k, (lib, name, _) in _classes().items():
            if "%s.%s" % (lib, name) == clsid:
                clsid = k
                break
    entry = _classes().get(clsid.upper())
    libs = [entry[0]] if entry else list(api.create)
    out = c_void_p()
    for lib in libs:
        if api.create[lib](clsid.encode(), byref(out), r.ERR) == 0:
            return Object(out.value)
    raise _error(r)


