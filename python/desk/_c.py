"""The C interface (desk/desk_c.h) as ctypes declarations, row by row: its constants, its
structures, and its functions in the order of the desk_api table's fields, then the exported
functions outside the table and each control library's own entry points.
python/tests/test_c_declarations.py holds these rows against the header."""
from ctypes import (CFUNCTYPE, POINTER, Structure, Union, c_char, c_char_p, c_double, c_float, c_int16,
                    c_int32, c_int64, c_size_t, c_uint16, c_uint32, c_void_p)

VERSION = (1 << 16) | 2  # the interface version this package was written for

EMPTY, MISSING, INTEGER, LONG, SINGLE, DOUBLE, BOOLEAN, STRING, OBJECT, BYREF, ANY = range(11)
GET, LET, SET, METHOD = 1, 2, 4, 8
ID_VALUE, ID_NEWENUM, ID_ENUM_NEXT = 0, -4, 1
ID_READPROPERTY, ID_WRITEPROPERTY = 1, 2
# The error numbers the header names.
E_INVALID_CALL, E_OVERFLOW, E_OUT_OF_MEMORY, E_TYPE_MISMATCH, E_OBJECT_NOT_SET = 5, 6, 7, 13, 91
E_CANT_CREATE, E_NOT_SUPPORTED, E_AUTOMATION, E_NAMED_ARGUMENT = 429, 438, 440, 448
E_WRONG_THREAD = -2147417842  # 0x8001010E: a call from another thread than the UI thread


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
POST_FN = CFUNCTYPE(None, c_void_p)  # desk_post_fn


class HostVtbl(Structure):
    _fields_ = [("size", c_uint32), ("invoke", INVOKE_FN), ("destroy", DESTROY_FN)]


class HostMember(Structure):
    _fields_ = [("name", c_char_p), ("id", c_int32), ("invoke_kind", c_int32)]


_P = POINTER
_E = _P(Error)
_V = _P(Value)

# (name without "desk_", result, arguments), in the order of desk_api's fields after `version`.
TABLE = [
    ("addref", c_int32, [c_void_p, _E]),
    ("release", c_int32, [c_void_p]),
    ("handle_count", c_int64, []),
    ("object_interface", _P(InterfaceInfo), [c_void_p, _E]),
    ("event_interface", _P(InterfaceInfo), [c_void_p, _E]),
    ("id_of_name", c_int32, [c_void_p, c_char_p, _P(c_int32), _E]),
    ("invoke", c_int32, [c_void_p, c_int32, c_int32, _V, c_int32, _V, _E]),
    ("get", c_int32, [c_void_p, c_int32, _V, _E]),
    ("value_clear", None, [_V]),
    ("value_set", c_int32, [_V, _V, _E]),
    ("string_utf8", c_int32, [c_char_p, _V, _E]),
    ("value_text", c_int32, [_V, c_char_p, c_size_t, _E]),
    ("value_long", c_int32, [_V, _P(c_int32), _E]),
    ("host_new", c_int32, [_P(HostVtbl), c_void_p, _P(HostMember), c_int32, _P(c_void_p), _E]),
    ("advise", c_int32, [c_void_p, c_void_p, _P(c_int32), _E]),
    ("unadvise", c_int32, [c_void_p, c_int32, _E]),
    ("init_properties", c_int32, [c_void_p, _E]),
    ("read_properties", c_int32, [c_void_p, c_void_p, _E]),
    ("write_properties", c_int32, [c_void_p, c_void_p, _E]),
    ("bag_new", c_int32, [_P(c_void_p), _E]),
    ("bag_save", c_int32, [c_void_p, c_char_p, _E]),
    ("bag_load", c_int32, [c_char_p, _P(c_void_p), _E]),
    ("use_platform", c_int32, [c_char_p, _E]),
    ("show", c_int32, [c_void_p, c_char_p, c_int32, c_int32, _E]),
    ("run", c_int32, [_E]),
    ("quit", c_int32, [_E]),
    ("headless_resize", c_int32, [c_void_p, c_float, c_float, _E]),
    ("headless_popup_choice", c_int32, [c_int32, _E]),
    ("headless_click", c_int32, [c_void_p, c_int32, c_int32, c_float, c_float, _E]),
    ("host_find", c_int32, [_P(HostVtbl), c_void_p, _P(c_void_p), _E]),
    ("do_events", c_int32, [_E]),
    ("widget", c_int32, [c_void_p, _P(c_void_p), _E]),
    ("post", c_int32, [POST_FN, c_void_p, _E]),
    ("ui_thread", c_int32, [_E]),
    ("set_picture_cache_bytes", c_int32, [c_size_t, _E]),
]


class ApiTable(Structure):
    """desk_api, the table desk_get_api and <Lib>_DeskApi hand out."""
    _fields_ = [("version", c_uint32)] + [(name, CFUNCTYPE(result, *args)) for name, result, args in TABLE]


# The exported functions that are not in the table.
EXPORTED = [
    ("check_version", c_int32, [c_uint32, _E]),
    ("version", c_uint32, []),
    ("get_api", _P(ApiTable), [c_uint32, _E]),
]

# Each control library's entry points, named <Lib>_<name>.
LIBRARY_ENTRIES = [
    ("DeskApi", _P(ApiTable), [c_uint32, _E]),
    ("DeskCreate", c_int32, [c_char_p, _P(c_void_p), _E]),
    ("DeskTypeLib", _P(TypeLibInfo), []),
]

# The header's function pointer types by their C names.
CALLBACKS = {"desk_post_fn": POST_FN}

# The header's structures by their C names (desk_object is opaque). ValueView is no structure of
# the header: it lays out a desk_value's bytes.
STRUCTS = {
    "desk_value": Value, "desk_error": Error, "desk_param_info": ParamInfo, "desk_member_info": MemberInfo,
    "desk_interface_info": InterfaceInfo, "desk_class_info": ClassInfo, "desk_typelib_info": TypeLibInfo,
    "desk_host_vtbl": HostVtbl, "desk_host_member": HostMember, "desk_api": ApiTable,
}
