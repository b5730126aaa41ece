"""VarbelTreeviewWidget for PyQt6: the tree control as a QWidget whose properties are the control's
saved settings, the Python side of the Qt Designer widget of the same name.

A form made in Qt Designer names the widget with the custom-widget entry

    <customwidget>
     <class>VarbelTreeviewWidget</class>
     <extends>QWidget</extends>
     <header>desk/treeview_widget.h</header>
    </customwidget>

which uic compiles for C++, and which PyQt6.uic.loadUi reads as this module (desk.treeview_widget):

    app = QApplication(sys.argv)
    form = PyQt6.uic.loadUi("form.ui")   # the settings in the form reach the control
    tree = form.treeview.control()       # the control, late-bound: tree.Nodes.Add(...)

The properties are generated from the type library (desk/_treeview_settings.py); each has a
setX method, as uic calls it, and a Qt property, as QObject.setProperty reaches it. A setting the
control refuses raises desk.DeskError.
"""
from typing import Any, Callable, Optional

from PyQt6.QtCore import pyqtProperty
from PyQt6.QtWidgets import QVBoxLayout, QWidget

import desk

from ._treeview_settings import SETTINGS

CLASS_ID = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
_ERR_PLATFORM_CHOSEN = 5  # use_platform once objects exist


class _Base(QWidget):
    def __init__(self, parent: Optional[QWidget] = None) -> None:
        super().__init__(parent)
        # The controls need the Qt platform before the first of them is made. Where the host has
        # chosen a platform and made objects already, that choice stands: desk.widget below fails
        # clearly if it is not Qt.
        try:
            desk.use_platform("qt")
        except desk.DeskError as e:
            if e.number != _ERR_PLATFORM_CHOSEN:
                raise
        self._control = desk.CreateObject(CLASS_ID)
        desk.init_properties(self._control)
        layout = QVBoxLayout(self)
        layout.setContentsMargins(0, 0, 0, 0)
        layout.addWidget(desk.widget(self._control))

    def control(self) -> Any:
        """The tree control (desk.typelib.VarbelTreeviewControl), for every member."""
        return self._control


def _accessors(name: str, kind: type) -> "tuple[Callable[[Any], Any], Callable[[Any, Any], None]]":
    def get(self: _Base) -> Any:
        return kind(getattr(self._control, name))

    def put(self: _Base, value: Any) -> None:
        setattr(self._control, name, value)
    return get, put


def _members() -> "dict[str, Any]":
    members: "dict[str, Any]" = {"__doc__": "The tree control in a QWidget; its saved settings are its properties."}
    for name, _id, kind in SETTINGS:
        get, put = _accessors(name, kind)
        members["set" + name[0].upper() + name[1:]] = put
        members[name] = pyqtProperty(kind, fget=get, fset=put)
    return members


VarbelTreeviewWidget = type("VarbelTreeviewWidget", (_Base,), _members())
