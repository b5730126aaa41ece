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

An installed package (cmake --install) loads the libraries installed with it; in a source tree
they are loaded by name (libVarbelTreeview.so, libQuorvane.so) through the ordinary library
search path: set LD_LIBRARY_PATH for a build tree.

In a Qt application (PyQt6 or PySide6): make the QApplication, desk.use_platform("qt"), create
the controls, and put desk.widget(control) in a window of your own; app.exec() delivers the
controls' events to Python.

Threads: the controls and this package belong to the UI thread, the first thread that calls in.
A call from any other raises DeskError with ERR_WRONG_THREAD and does nothing; call_soon(fn,
*args) hands work to the UI thread from any thread.

Values: None is Nothing (and an Empty result), bool a Boolean, int a Long (desk.Integer for a
16-bit Integer), float a Double (desk.Single), str a String (UTF-16; unpaired surrogates pass
unchanged), desk.Missing an omitted argument, desk.ByRef(value) a by-reference argument whose
.value holds what the callee wrote. Every failure is a desk.DeskError with number, text and
source. Objects live as long as Python holds them; an object dropped inside its own event is
freed when the call that raised the event returns. Connections hold their handler: disconnect
them (or use them in a with block) to let go of it.
"""
# The layers, each importing only those before it: _c declares desk_c.h row by row; _values and
# _errors (value types, errors); _loader finds and loads the libraries and the compiled
# extension; the rest is the idiomatic layer: _thread (the UI thread: the thread check with each
# call's records, and call_soon), _handles (the handle tables), _convert (values each way), _host
# (host objects, property bags, event connections), _objects (objects and late binding, the hot
# paths) and _platform (the run-time, platforms and windows).
from types import FunctionType as _FunctionType

from . import _c, _loader
from ._errors import (ERR_AUTOMATION, ERR_CANT_CREATE, ERR_NAMED_ARGUMENT, ERR_NOT_SUPPORTED, ERR_OBJECT_NOT_SET,
                      ERR_OVERFLOW, ERR_TYPE_MISMATCH, ERR_WRONG_THREAD, DeskError)
from ._thread import call_soon
from ._values import ByRef, Empty, Integer, Missing, Single
from ._objects import CreateObject, Object, class_name
from ._host import Connection, HostObject, PropertyBag, connect
from ._platform import (do_events, handle_count, headless_click, headless_popup_choice, headless_resize,
                        init_properties, load_bag, new_bag, quit, read_properties, run, save_bag, show, use_platform,
                        version, widget, widget_address, write_properties)

__all__ = ["CreateObject", "DeskError", "Object", "HostObject", "PropertyBag", "ByRef", "Missing", "Empty",
           "Integer", "Single", "connect", "Connection", "handle_count", "class_name", "use_platform", "show", "run",
           "quit", "do_events", "new_bag", "load_bag", "save_bag", "init_properties", "read_properties", "write_properties",
           "headless_resize", "headless_popup_choice", "headless_click", "version", "widget", "widget_address",
           "call_soon"]

# The libraries, loaded on first use (the benchmarks reach them through this).
_lib = _loader.lib

# Public names are desk's own, wherever they are defined: desk.DeskError in a traceback.
for _public in map(globals().get, __all__):
    if isinstance(_public, (type, _FunctionType)):
        _public.__module__ = __name__
del _public
