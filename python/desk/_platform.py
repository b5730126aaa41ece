"""The run-time as a whole and the controls' platform: the interface version, the handle count,
persistence through property bags, the choice of platform, windows and the event loop, a
control's widget in the host's own Qt binding, and the headless platform's stand-ins for a user."""
import sys
from ctypes import byref, c_void_p

from . import _loader
from ._convert import _Keep
from ._errors import ERR_INVALID_CALL, ERR_TYPE_MISMATCH, DeskError
from ._host import HostObject
from ._objects import Object
from ._thread import call

ERR_NO_BINDING = ERR_INVALID_CALL  # no Qt binding loaded to wrap a widget in


def version():
    """The interface version of the loaded libraries, as (major, minor)."""
    v = _loader.lib().version()
    return (v >> 16, v & 0xFFFF)


def handle_count():
    """References held by hosts through handles, over all objects (0 when everything is given back).
    Any thread."""
    return _loader.lib().handle_count()


def _bag_handle(bag, keep):
    if isinstance(bag, Object):
        return bag._h
    if isinstance(bag, HostObject):
        h = bag._desk_lend()
        keep.lent.append(h)
        return h
    raise DeskError(ERR_TYPE_MISMATCH, "A property bag is a desk.Object or a desk.HostObject", "desk")


def init_properties(control):
    call(_loader.lib().init_properties, control._h)


def _with_bag(function, control, bag):
    keep = _Keep()
    try:
        call(function, control._h, _bag_handle(bag, keep))
    finally:
        keep.done()


def read_properties(control, bag):
    _with_bag(_loader.lib().read_properties, control, bag)


def write_properties(control, bag):
    _with_bag(_loader.lib().write_properties, control, bag)


def new_bag():
    """The run-time's own property bag (kept in memory; save_bag writes it to a file)."""
    out = c_void_p()
    call(_loader.lib().bag_new, byref(out))
    return Object(out.value)


def save_bag(bag, path):
    call(_loader.lib().bag_save, bag._h, str(path).encode())


def load_bag(path):
    out = c_void_p()
    call(_loader.lib().bag_load, str(path).encode(), byref(out))
    return Object(out.value)


def use_platform(name):
    """"headless" (the default) or "qt" (windows; needs libDeskQt.so). Before creating controls.
    A Qt host makes its QApplication first: the controls then live in it."""
    call(_loader.lib().use_platform, name.encode())


def show(control, title="", width=0, height=0):
    """Qt: shows the control in a window of its own."""
    call(_loader.lib().show, control._h, title.encode(), width, height)


def run():
    """Qt: runs the event loop until quit() or the last window closes."""
    call(_loader.lib().run)


def quit():
    """Qt: ends the running event loop (or the next one to start)."""
    call(_loader.lib().quit)


def do_events():
    """Lets the platform dispatch what is pending (for a host running a loop of its own), and runs
    what call_soon queued."""
    call(_loader.lib().do_events)


def widget_address(control):
    """Qt: the address of the control's QWidget, for a binding this package does not know."""
    out = c_void_p()
    call(_loader.lib().widget, control._h, byref(out))
    return out.value


def _wrap_pyqt6(address):
    from PyQt6 import sip
    from PyQt6.QtWidgets import QWidget
    return sip.wrapinstance(address, QWidget)


def _wrap_pyside6(address):
    import shiboken6
    from PySide6.QtWidgets import QWidget
    return shiboken6.wrapInstance(address, QWidget)


# The Qt bindings a host may have loaded: its QtWidgets module, and how it wraps an address.
BINDINGS = [("PyQt6.QtWidgets", _wrap_pyqt6), ("PySide6.QtWidgets", _wrap_pyside6)]


def widget(control):
    """Qt: the control's widget as a QWidget of the host's Qt binding (PyQt6 or PySide6, the one
    it loaded; with both, the one whose QApplication exists), to put in the host's own window.
    The control owns it: releasing the control deletes it (and takes it out of its layout); a
    window destroyed first deletes it with the window."""
    loaded = [(sys.modules[name], wrap) for name, wrap in BINDINGS if name in sys.modules]
    if not loaded:
        raise DeskError(ERR_NO_BINDING, "desk.widget needs the host's Qt binding: import PyQt6 or PySide6 first",
                        "desk")
    chosen = next((wrap for module, wrap in loaded if module.QApplication.instance() is not None), loaded[0][1])
    return chosen(widget_address(control))


def headless_resize(control, width, height):
    """Headless platform: the size of the control's surface, in twips."""
    call(_loader.lib().headless_resize, control._h, width, height)


def headless_popup_choice(index):
    """Headless platform: the menu element that every popup shown from now on clicks (-1: none)."""
    call(_loader.lib().headless_popup_choice, index)


def headless_click(control, button, shift, x, y):
    """Headless platform: a click (down and up) on the control's tree at (x, y) twips."""
    call(_loader.lib().headless_click, control._h, button, shift, x, y)
