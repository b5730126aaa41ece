"""desk/_c.py against desk/desk_c.h, so that a row drifting from the header fails here rather than
in a host: every function of the table and of the exported list with its result and arguments,
the table's order, the constants, and every structure's size and field offsets as a C compiler
lays them out; the error numbers both paths raise, by the header's names; and the layers of the
package above the declarations, each importing only the ones below it."""
import ctypes
import importlib
import os
import re
import shutil
import subprocess
import sys

import pytest

from desk import _c, _loader

HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "platform", "include", "desk",
                      "desk_c.h")
# The typedefs of each control library's entry points.
LIBRARY_TYPEDEFS = {"DeskApi": "desk_get_api_fn", "DeskCreate": "desk_create_fn", "DeskTypeLib": "desk_typelib_fn"}
SCALARS = {"int16_t": ctypes.c_int16, "uint16_t": ctypes.c_uint16, "int32_t": ctypes.c_int32,
           "uint32_t": ctypes.c_uint32, "int64_t": ctypes.c_int64, "size_t": ctypes.c_size_t,
           "float": ctypes.c_float, "double": ctypes.c_double}
# ValueView's fields where the header names them otherwise.
VIEW_PATHS = {"u.data": "u.string.data", "length": "u.string.length"}


def header():
    with open(HEADER) as f:
        return re.sub(r"/\*.*?\*/|//[^\n]*", " ", f.read(), flags=re.S)


def split_args(text):
    """A parameter list as its parameters' types, their names dropped."""
    text = text.strip()
    if text in ("", "void"):
        return []
    out = []
    for p in text.split(","):
        tokens = re.findall(r"\w+|\*", p)
        if len(tokens) > 1 and tokens[-1] != "*" and any(t not in ("const", "struct") for t in tokens[:-1]):
            tokens = tokens[:-1]  # the parameter's name
        out.append(" ".join(tokens))
    return out


def ctype(c):
    """The ctypes type that stands for a C type."""
    tokens = [t for t in re.findall(r"\w+|\*", c) if t not in ("const", "struct")]
    base, stars = tokens[0], tokens.count("*")
    if base == "desk_object":  # opaque: a handle is a void*
        base = "void"
    if base == "void":
        return [None, ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p)][stars]
    if base == "char" and stars == 1:
        return ctypes.c_char_p
    t = SCALARS.get(base) or _c.CALLBACKS.get(base) or _c.STRUCTS[base]
    for _ in range(stars):
        t = ctypes.POINTER(t)
    return t


def c_functions():
    """(exported functions, the table's function fields in order, the host vtbl's, the library
    typedefs), each as {name: (result, [argument types])}."""
    h = header()
    exported = {m[2]: (m[1], split_args(m[3]))
                for m in re.finditer(r"DESK_C_API\s+([^;(]*?)\s*\b(desk_\w+)\s*\(([^)]*)\)\s*;", h)}

    def pointers(struct):
        body = re.search(r"typedef struct %s \{(.*?)\} %s;" % (struct, struct), h, re.S)[1]
        return {m[2]: (m[1].strip(), split_args(m[3]))
                for m in re.finditer(r"([^;{}]*?)\(\s*\*\s*(\w+)\s*\)\s*\(([^;]*)\)\s*;", body)}

    typedefs = {m[2]: (m[1].strip(), split_args(m[3]))
                for m in re.finditer(r"typedef\s+([^;()]*?)\(\s*\*\s*(\w+)\s*\)\s*\(([^)]*)\)\s*;", h)}
    return exported, pointers("desk_api"), pointers("desk_host_vtbl"), typedefs


def as_ctypes(result, args):
    return ctype(result), [ctype(a) for a in args]


def test_every_function_of_the_header_is_a_row_with_its_result_and_arguments():
    exported, table, vtbl, typedefs = c_functions()
    rows = {"desk_" + name: (result, args) for name, result, args in _c.TABLE + _c.EXPORTED}
    assert sorted(rows) == sorted(exported)
    for name, (result, args) in exported.items():
        assert rows[name] == as_ctypes(result, args), name
    assert [name for name, _, _ in _c.TABLE] == list(table)  # the table's order: hosts index it
    for name, result, args in _c.TABLE:
        assert (result, args) == as_ctypes(*table[name]), name
    for name, fn in [("invoke", _c.INVOKE_FN), ("destroy", _c.DESTROY_FN)]:
        assert (fn._restype_, list(fn._argtypes_)) == as_ctypes(*vtbl[name]), name
    assert sorted(list(LIBRARY_TYPEDEFS.values()) + list(_c.CALLBACKS)) == sorted(typedefs)
    for name, result, args in _c.LIBRARY_ENTRIES:
        assert (result, args) == as_ctypes(*typedefs[LIBRARY_TYPEDEFS[name]]), name
    for name, fn in _c.CALLBACKS.items():
        assert (fn._restype_, list(fn._argtypes_)) == as_ctypes(*typedefs[name]), name


def test_the_table_holds_each_function_under_its_own_name():
    api = _loader.lib()
    err = _c.Error()
    table = api.get_api(_c.VERSION, ctypes.byref(err))
    assert table and table.contents.version == _c.VERSION
    for name, _, _ in _c.TABLE:
        in_table = ctypes.cast(getattr(table.contents, name), ctypes.c_void_p).value
        assert in_table == ctypes.cast(getattr(api, name), ctypes.c_void_p).value, name
    entries = {name: (result, args) for name, result, args in _c.LIBRARY_ENTRIES}
    for lib_name, lib in api.libraries.items():  # each library hands out the same table
        f = getattr(lib, lib_name + "_DeskApi")
        f.restype, f.argtypes = entries["DeskApi"]
        assert ctypes.addressof(f(_c.VERSION, ctypes.byref(err)).contents) == ctypes.addressof(table.contents), lib_name


def test_every_structure_of_the_header_is_declared():
    declared = set(re.findall(r"typedef struct (\w+) \{", header()))
    assert declared == set(_c.STRUCTS)


def fields(cls, prefix=""):
    """(path, offset, size) of every field, nested structures and unions flattened."""
    for name, t in cls._fields_:
        offset = getattr(cls, name).offset
        if issubclass(t, (ctypes.Structure, ctypes.Union)):
            yield from ((prefix + name + "." + p, offset + o, s) for p, o, s in fields(t))
        else:
            yield prefix + name, offset, ctypes.sizeof(t)


def constants():
    """The package's constants by the header's names."""
    names = [n for n in vars(_c) if n.isupper() and isinstance(getattr(_c, n), int)]
    return {("DESK_C_" if n == "VERSION" else "DESK_") + n: getattr(_c, n) for n in names}


@pytest.fixture(scope="module")
def c_layout(tmp_path_factory):
    """What a C compiler says: each structure's size and each field's offset and size, and the
    constants' values."""
    cc = shutil.which(os.environ.get("CC", "cc"))
    if not cc:
        pytest.skip("no C compiler")
    lines = []
    for struct, cls in list(_c.STRUCTS.items()) + [("desk_value", _c.ValueView)]:
        lines.append('printf("%s %%zu\\n", sizeof(%s));' % (cls.__name__, struct))
        for path, _, _ in fields(cls):
            member = VIEW_PATHS.get(path, path) if cls is _c.ValueView else path
            lines.append('printf("%s.%s %%zu %%zu\\n", offsetof(%s, %s), sizeof(((%s*)0)->%s));'
                         % (cls.__name__, path, struct, member, struct, member))
    for name in constants():
        lines.append('printf("%s %%lld\\n", (long long)(%s));' % (name, name))
    d = tmp_path_factory.mktemp("c_layout")
    src = d / "layout.c"
    src.write_text("#include <stddef.h>\n#include <stdio.h>\n#include \"desk/desk_c.h\"\nint main(void) {\n%s\n"
                   "return 0;\n}\n" % "\n".join(lines))
    include = os.path.join(os.path.dirname(HEADER), "..")
    subprocess.run([cc, "-std=c99", "-I", include, "-o", str(d / "layout"), str(src)], check=True)
    out = subprocess.run([str(d / "layout")], check=True, capture_output=True, text=True).stdout
    return {line.split()[0]: [int(x) for x in line.split()[1:]] for line in out.splitlines()}


@pytest.mark.parametrize("cls", list(_c.STRUCTS.values()) + [_c.ValueView], ids=lambda c: c.__name__)
def test_structures_have_the_c_size_and_offsets(c_layout, cls):
    assert ctypes.sizeof(cls) == c_layout[cls.__name__][0]
    for path, offset, size in fields(cls):
        assert [offset, size] == c_layout[cls.__name__ + "." + path], path


def test_constants_have_the_c_values(c_layout):
    assert {name: c_layout[name][0] for name in constants()} == constants()
    enumerators = re.findall(r"\b(DESK_[A-Z_]+)\s*=", header())
    assert set(enumerators) <= set(constants())
    error_numbers = re.findall(r"#define\s+(DESK_E_\w+)", header())
    assert error_numbers and set(error_numbers) <= set(constants())


EXTENSION = os.path.join(os.path.dirname(HEADER), "..", "..", "..", "python", "src")


def test_both_paths_raise_error_numbers_by_the_headers_names():
    # The ctypes path: every ERR_ constant of the package is the _c row of the same name.
    errors = {}
    for module in ("_errors", "_platform"):
        m = importlib.import_module("desk." + module)
        errors.update({name: getattr(m, name) for name in vars(m) if name.startswith("ERR_")})
    aliases = {"ERR_NO_BINDING": "E_INVALID_CALL"}
    assert len(errors) > 5
    for name, number in errors.items():
        assert number == getattr(_c, aliases.get(name, "E" + name[len("ERR"):])), name
    # The extension: each number it raises itself is written by its header name.
    raised = []
    for source in sorted(os.listdir(EXTENSION)):
        with open(os.path.join(EXTENSION, source)) as f:
            text = f.read()
        raised += re.findall(r"\bext_raise_(?:text|error)\(\s*([^,]+),", text)
        raised += re.findall(r"\bext_raise\(\s*[^,]+,\s*([^,]+),", text)
    assert raised and all(re.fullmatch(r"DESK_E_\w+|(int )?number", n.strip()) for n in raised), raised


# The package's modules from the bottom up: each may import only those before it.
# treeview_widget, the PyQt6 widget for forms, stands on the whole package.
LAYERS = ["_c", "_treeview_settings", "_values", "_errors", "_loader", "_thread", "_handles", "_convert", "_host",
          "_objects", "_platform", "treeview_widget"]
PACKAGE = os.path.dirname(os.path.abspath(_c.__file__))
IMPORT_ALONE = """
import importlib, sys, types
package = types.ModuleType("desk")  # the package without its __init__, which imports every layer
package.__path__ = [sys.argv[1]]
sys.modules["desk"] = package
importlib.import_module("desk." + sys.argv[2])
print(" ".join(sorted(name[len("desk."):] for name in sys.modules if name.startswith("desk."))))
"""


def test_each_module_imports_alone_in_a_fresh_interpreter_and_only_the_layers_below_it():
    modules = sorted(f[:-3] for f in os.listdir(PACKAGE) if f.endswith(".py") and f not in ("__init__.py",
                                                                                            "_installed.py"))
    assert sorted(LAYERS) == modules  # a new module takes its place in the layers
    for i, name in enumerate(LAYERS):
        run = subprocess.run([sys.executable, "-c", IMPORT_ALONE, PACKAGE, name], capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        imported = set(run.stdout.split())
        assert name in imported and imported - {"_ext", "_installed"} <= set(LAYERS[:i + 1]), name
    run = subprocess.run([sys.executable, "-c", "import desk"], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
