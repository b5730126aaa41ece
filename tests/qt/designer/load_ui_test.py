"""A Designer form with the tree control, loaded by PyQt6.uic.loadUi: the custom-widget entry's
header desk/treeview_widget.h names the Python module desk.treeview_widget, and the three
settings in the form reach the control.

    QT_QPA_PLATFORM=offscreen python3 load_ui_test.py tree_form.ui

Exits 77 (skipped) without PyQt6 or its uic (Debian's python3-pyqt6, pyqt6-dev-tools).
"""
import sys

try:
    from PyQt6 import uic
    from PyQt6.QtWidgets import QApplication
except ImportError as e:
    print("PyQt6's uic is not installed (%s): skipped" % e)
    sys.exit(77)

import desk
from desk.treeview_widget import VarbelTreeviewWidget


def main():
    app = QApplication(sys.argv)
    # A host that chose the Qt platform and made a control before it loads the form.
    desk.use_platform("qt")
    earlier = desk.CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}")
    form = uic.loadUi(sys.argv[1])
    failures = []

    def check(what, actual, expected):
        if actual != expected:
            failures.append("%s: %r, expected %r" % (what, actual, expected))

    check("the form's widget is the package's", type(form.treeview), VarbelTreeviewWidget)
    tree = form.treeview.control()
    check("PathSeparator", tree.PathSeparator, "/")
    check("Indentation", tree.Indentation, 300.0)
    check("Checkboxes", tree.Checkboxes, True)
    check("Style, left at its default", tree.Style, 7)
    # The same settings as Qt properties, as a form's stdset="0" entry or a host's setProperty
    # reaches them.
    check("setProperty", form.treeview.setProperty("LabelEdit", 1), True)
    check("LabelEdit through the property", tree.LabelEdit, 1)
    check("property", form.treeview.property("PathSeparator"), "/")
    tree.Nodes.Add(Key="root", Text="Root")
    check("a node added through the control", tree.Nodes("root").Text, "Root")
    try:
        form.treeview.setStyle(99)
        failures.append("Style 99 was accepted")
    except desk.DeskError as e:
        check("Style 99 refused", e.number, 380)
    del tree, form, earlier
    app.processEvents()
    for f in failures:
        print("FAIL:", f)
    print("%s: PyQt6.uic.loadUi built the form and its settings reached the control" %
          ("failed" if failures else "ok"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
