"""The run-time as a whole and the controls' platform: the interface version, the handle count,
persistence through property bags, the choice of platform, windows and the event loop, and the
headless platform's stand-ins for a user."""
from ctypes import byref, c_void_p

from . import _c, _loader
from ._convert import _Keep
from ._errors import ERR_TYPE_MISMATCH, _ERR, DeskError, _check
from ._host import HostObject
from ._objects import Object


def version():
    """The interface version of the loaded libraries, as (major, minor)."""
    _loader.lib()
    return (_c.VERSION >> 16, _c.VERSION & 0xFFFF)


def handle_count():
    """References held by hosts through handles, over all objects (0 when everything is given back)."""
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
    _check(_loader.lib().init_properties(control._h, _ERR))


def _with_bag(function, control, bag):
    keep = _Keep()
    try:
        _check(function(control._h, _bag_handle(bag, keep), _ERR))
    finally:
        keep.done()


def read_properties(control, bag):
    _with_bag(_loader.lib().read_properties, control, bag)


def write_properties(control, bag):
    _with_bag(_loader.lib().write_properties, control, bag)


def new_bag():
    """The run-time's own property bag (kept in memory; save_bag writes it to a file)."""
    out = c_void_p()
    _check(_loader.lib().bag_new(byref(out), _ERR))
    return Object(out.value)


def save_bag(bag, path):
    _check(_loader.lib().bag_save(bag._h, str(path).encode(), _ERR))


def load_bag(path):
    out = c_void_p()
    _check(_loader.lib().bag_load(str(path).encode(), byref(out), _ERR))
    return Object(out.value)


def use_platform(name):
    """"headless" (the default) or "qt" (windows; needs libDeskQt.so). Before creating controls."""
    _check(_loader.lib().use_platform(name.encode(), _ERR))


def show(control, title="", width=0, height=0):
    """Qt: shows the control in a window of its own."""
    _check(_loader.lib().show(control._h, title.encode(), width, height, _ERR))


def run():
    """Qt: runs the event loop until quit() or the last window closes."""
    _check(_loader.lib().run(_ERR))


def quit():
    """Qt: ends the running event loop (or the next one to start)."""
    _check(_loader.lib().quit(_ERR))


def do_events():
    """Lets the platform dispatch what is pending (for a host running a loop of its own)."""
    _check(_loader.lib().do_events(_ERR))


def headless_resize(control, width, height):
    """Headless platform: the size of the control's surface, in twips."""
    _check(_loader.lib().headless_resize(control._h, width, height, _ERR))


def headless_popup_choice(index):
    """Headless platform: the menu element that every popup shown from now on clicks (-1: none)."""
    _check(_loader.lib().headless_popup_choice(index, _ERR))


def headless_click(control, button, shift, x, y):
    """Headless platform: a click (down and up) on the control's tree at (x, y) twips."""
    _check(_loader.lib().headless_click(control._h, button, shift, x, y, _ERR))
