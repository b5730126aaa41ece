"""Finding and loading the libraries, the run-time's functions bound with the rows of _c, and
the interface version checked once, on first use (from any thread); and finding the compiled
extension desk._ext, which is handed the C interface's table when the libraries load.

An installed package (cmake --install) loads the libraries from the prefix it was installed
with, relative to itself (its _installed module says where); in a source tree the libraries are
loaded by name through the ordinary library search path (LD_LIBRARY_PATH for a build tree)."""
import ctypes
import importlib.machinery
import importlib.util
import os
import sys
import threading

from . import _c
from ._errors import _from_record

# The control libraries.
LIBRARIES = ("VarbelTreeview", "Quorvane")


def _path(name):
    """Where the library `name` is loaded from: beside an installed package's prefix, or by name."""
    try:
        from . import _installed
    except ImportError:
        return "lib%s.so" % name
    here = os.path.dirname(os.path.abspath(__file__))
    return os.path.normpath(os.path.join(here, _installed.LIBRARY_DIR, "lib%s.so.%d" % (name, _installed.SOVERSION)))


def _bind(lib, symbol, result, args):
    f = getattr(lib, symbol)
    f.restype = result
    f.argtypes = args
    return f


class Api:
    """The run-time's functions (desk_get as .get, ...), found through the first control library
    that loads, and each library's own entry points by library name (.create, .typelib)."""

    def __init__(self):
        self.libraries = {}
        errors = []
        for name in LIBRARIES:
            try:
                self.libraries[name] = ctypes.CDLL(_path(name))
            except OSError as e:
                errors.append(str(e))
        if not self.libraries:
            raise OSError("no control library could be loaded (is LD_LIBRARY_PATH set?): " + "; ".join(errors))
        lib = next(iter(self.libraries.values()))
        for name, result, args in _c.TABLE + _c.EXPORTED:
            setattr(self, name, _bind(lib, "desk_" + name, result, args))
        entries = {name: (result, args) for name, result, args in _c.LIBRARY_ENTRIES}
        self.create = {}
        self.typelib = {}
        for name, l in self.libraries.items():
            self.create[name] = _bind(l, name + "_DeskCreate", *entries["DeskCreate"])
            self.typelib[name] = _bind(l, name + "_DeskTypeLib", *entries["DeskTypeLib"])


def _find_extension():
    """desk._ext: beside this package (installed), else in a desk folder further on sys.path (a
    build tree's); None when it is not built or DESK_PYTHON_PURE=1 asks for the ctypes path."""
    if os.environ.get("DESK_PYTHON_PURE") == "1":
        return None
    name = __package__ + "._ext"
    found = importlib.util.find_spec(name)
    for folder in [] if found else sys.path:
        for suffix in importlib.machinery.EXTENSION_SUFFIXES:
            path = os.path.join(folder or os.curdir, __package__, "_ext" + suffix)
            if os.path.isfile(path):
                found = importlib.util.spec_from_file_location(name, path)
                break
        if found:
            break
    if found is None:
        return None
    module = importlib.util.module_from_spec(found)
    sys.modules[name] = module
    found.loader.exec_module(module)
    return module


ext = _find_extension()
PATH = "ctypes" if ext is None else "extension"  # the path in use

api = None  # the loaded Api, once lib() has run
_on_load = []
_loading = threading.Lock()


def on_load(hook):
    """Calls hook(api) when the libraries load (a module keeping functions at hand for its hot paths)."""
    _on_load.append(hook)
    return hook


def lib():
    """The loaded Api: the libraries are loaded and their version checked on the first call."""
    global api
    if api is None:
        with _loading:
            if api is None:
                loaded = Api()
                err = _c.Error()
                if loaded.check_version(_c.VERSION, ctypes.byref(err)):
                    raise _from_record(err)
                if ext is not None:
                    # The extension takes the rest of what it needs from the package by name.
                    table = loaded.get_api(_c.VERSION, ctypes.byref(err))
                    if not table:
                        raise _from_record(err)
                    ext.setup(ctypes.addressof(table.contents))
                for hook in _on_load:
                    hook(loaded)
                api = loaded
    return api
