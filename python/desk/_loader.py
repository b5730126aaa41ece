"""Finding and loading the libraries: the control libraries by name through the ordinary library
search path (LD_LIBRARY_PATH for a build tree), the run-time's functions bound with the rows of
_c, and the interface version checked once, on first use."""
import ctypes

from . import _c
from ._errors import _ERR, _error

# The control libraries, loaded by name through the library search path.
LIBRARIES = ("VarbelTreeview", "Quorvane")


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
                self.libraries[name] = ctypes.CDLL("lib%s.so" % name)
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


api = None  # the loaded Api, once lib() has run
_on_load = []


def on_load(hook):
    """Calls hook(api) when the libraries load (a module keeping functions at hand for its hot paths)."""
    _on_load.append(hook)
    return hook


def lib():
    """The loaded Api: the libraries are loaded and their version checked on the first call."""
    global api
    if api is None:
        loaded = Api()
        if loaded.check_version(_c.VERSION, _ERR):
            raise _error()
        for hook in _on_load:
            hook(loaded)
        api = loaded
    return api
