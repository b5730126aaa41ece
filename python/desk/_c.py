"""The C interface (desk/desk_c.h) as ctypes declarations, and the libraries it is found in."""
import ctypes
from ctypes import (CFUNCTYPE, POINTER, Structure, Union, c_char, c_char_p, c_double, c_float, c_int16,
                    c_int32, c_int64, c_uint16, c_uint32, c_uint64, c_void_p)

VERSION = (1 << 16) | 1  # the interface version this package was written for

EMPTY, MISSING, INTEGER, LONG, SINGLE, DOUBLE, BOOLEAN, STRING, OBJECT, BYREF, ANY = range(11)
GET, LET, SET, METHOD = 1, 2, 4, 8
ID_VALUE, ID_NEWENUM, ID_ENUM_NEXT = 0, -4, 1
ID_READPROPERTY, ID_WRITEPROPERTY = 1, 2


class String(Structure):
    _fields_ = [("data", POINTER(c_uint16)), ("length", c_int32)]


class Value(Structure):
    pass


class _U(Union):
    _fields_ = [("integer", c_int16), ("long_", c_int32), ("single", c_float), ("double_", c_double),
                ("boolean", c_int16), ("string", String), ("object", c_void_p), ("ref", POINTER(Value))]


Value._fields_ = [("kind", c_int32), ("u", _U)]


class _ViewU(Union):
    _fields_ = [("integer", c_int16), ("long_", c_int32), ("single", c_float), ("double_", c_double),
                ("boolean", c_int16), ("data", c_void_p)]


class ValueView(Structure):
    """The same bytes as a Value, read without the intermediate objects that nested ctypes fields
    make: the fast path of a property read."""
    _anonymous_ = ("u",)
    _fields_ = [("kind", c_int32), ("u", _ViewU), ("length", c_int32)]


class Error(Structure):
    _fields_ = [("number", c_int32), ("text", c_char * 1024), ("source", c_char * 128)]


class ParamInfo(Structure):
    _fields_ = [("name", c_char_p), ("kind", c_int32), ("by_ref", c_int32), ("optional", c_int32),
                ("object_type", c_char_p)]


class MemberInfo(Structure):
    _fields_ = [("name", c_char_p), ("id", c_int32), ("invoke_kind", c_int32), ("result_kind", c_int32),
                ("param_count", c_int32), ("params", POINTER(ParamInfo)), ("help", c_char_p), ("hidden", c_int32),
                ("object_type", c_char_p)]


class InterfaceInfo(Structure):
    _fields_ = [("name", c_char_p), ("iid", c_char_p), ("member_count", c_int32), ("members", POINTER(MemberInfo))]


class ClassInfo(Structure):
    _fields_ = [("name", c_char_p), ("clsid", c_char_p), ("creatable", c_int32),
                ("dispatch", POINTER(InterfaceInfo)), ("events", POINTER(InterfaceInfo))]


class TypeLibInfo(Structure):
    _fields_ = [("name", c_char_p), ("libid", c_char_p), ("class_count", c_int32), ("classes", POINTER(ClassInfo)),
                ("interface_count", c_int32), ("interfaces", POINTER(POINTER(InterfaceInfo)))]


INVOKE_FN = CFUNCTYPE(c_int32, c_void_p, c_int32, c_int32, POINTER(Value), c_int32, POINTER(Value), POINTER(Error))
DESTROY_FN = CFUNCTYPE(None, c_void_p)


class HostVtbl(Structure):
    _fields_ = [("size", c_uint32), ("invoke", INVOKE_FN), ("destroy", DESTROY_FN)]


class HostMember(Structure):
    _fields_ = [("name", c_char_p), ("id", c_int32), ("invoke_kind", c_int32)]


# The control libraries, loaded by name through the library search path.
LIBRARIES = ("VarbelTreeview", "Quorvane")

_P = POINTER
_E = _P(Error)
_V = _P(Value)
_SIGNATURES = {
    "desk_check_version": (c_int32, [c_uint32, _E]),
    "desk_addref": (c_int32, [c_void_p, _E]),
    "desk_release": (c_int32, [c_void_p]),
    "desk_handle_count": (c_int64, []),
    "desk_object_interface": (_P(InterfaceInfo), [c_void_p, _E]),
    "desk_event_interface": (_P(InterfaceInfo), [c_void_p, _E]),
    "desk_id_of_name": (c_int32, [c_void_p, c_char_p, _P(c_int32), _E]),
    "desk_invoke": (c_int32, [c_void_p, c_int32, c_int32, _V, c_int32, _V, _E]),
    "desk_get": (c_int32, [c_void_p, c_int32, _V, _E]),
    "desk_value_clear": (None, [_V]),
    "desk_value_set": (c_int32, [_V, _V, _E]),
    "desk_host_new": (c_int32, [_P(HostVtbl), c_void_p, _P(HostMember), c_int32, _P(c_void_p), _E]),
    "desk_host_find": (c_int32, [_P(HostVtbl), c_void_p, _P(c_void_p), _E]),
    "desk_advise": (c_int32, [c_void_p, c_void_p, _P(c_int32), _E]),
    "desk_unadvise": (c_int32, [c_void_p, c_int32, _E]),
    "desk_init_properties": (c_int32, [c_void_p, _E]),
    "desk_read_properties": (c_int32, [c_void_p, c_void_p, _E]),
    "desk_write_properties": (c_int32, [c_void_p, c_void_p, _E]),
    "desk_bag_new": (c_int32, [_P(c_void_p), _E]),
    "desk_bag_save": (c_int32, [c_void_p, c_char_p, _E]),
    "desk_bag_load": (c_int32, [c_char_p, _P(c_void_p), _E]),
    "desk_use_platform": (c_int32, [c_char_p, _E]),
    "desk_show": (c_int32, [c_void_p, c_char_p, c_int32, c_int32, _E]),
    "desk_run": (c_int32, [_E]),
    "desk_quit": (c_int32, [_E]),
    "desk_do_events": (c_int32, [_E]),
    "desk_set_picture_cache_bytes": (c_int32, [c_uint64, _E]),
    "desk_headless_resize": (c_int32, [c_void_p, c_float, c_float, _E]),
    "desk_headless_popup_choice": (c_int32, [c_int32, _E]),
    "desk_headless_click": (c_int32, [c_void_p, c_int32, c_int32, c_float, c_float, _E]),
}


class Api:
    """The run-time's functions, found through the first control library that loads."""

    def __init__(self):
        self.libraries = {}
        errors = []
        for name in LIBRARIES:
            try:
                self.libraries[name] = ctypes.CDLL("lib%s.so" % name)
            except OSError as e:
                errors.append(str(e))
        if not self.libraries:
            raise OSError("no control library could be loaded (is LD_LIBRARY_PATH set?): " + "; ".join(errors))
        lib = next(iter(self.libraries.values()))
        for fname, (restype, argtypes) in _SIGNATURES.items():
            f = getattr(lib, fname)
            f.restype = restype
            f.argtypes = argtypes
            setattr(self, fname[len("desk_"):], f)
        self.create = {}
        self.typelib = {}
        for name, l in self.libraries.items():
            c = getattr(l, name + "_DeskCreate")
            c.restype = c_int32
            c.argtypes = [c_char_p, _P(c_void_p), _E]
            self.create[name] = c
            t = getattr(l, name + "_DeskTypeLib")
            t.restype = _P(TypeLibInfo)
            t.argtypes = []
            self.typelib[name] = t
