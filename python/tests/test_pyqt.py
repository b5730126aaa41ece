"""The controls in a PyQt6 application's own window: the host's QApplication and its app.exec(),
desk.widget in a QSplitter, the two orders of destruction, call_soon into the host's loop, and
examples/pyqt_app.py. Each case runs in a process of its own, offscreen (an application object
lives as long as its process); skipped where PyQt6 or libDeskQt.so is missing. PySide6 is not
packaged in Debian 12: its branch of desk.widget is checked here with stand-in modules."""
import importlib.util
import os
import subprocess
import sys
import types

import pytest

import desk

HERE = os.path.dirname(os.path.abspath(__file__))
PYQT_APP = os.path.join(HERE, "..", "..", "examples", "pyqt_app.py")
OFFSCREEN = dict(os.environ, QT_QPA_PLATFORM="offscreen")
TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
needs_pyqt = pytest.mark.skipif(importlib.util.find_spec("PyQt6") is None, reason="PyQt6 is not installed")

PRELUDE = r"""
import gc, os, sys, threading
sys.path[:0] = sys.argv[1:3]
from PyQt6 import sip
from PyQt6.QtCore import Qt, QTimer
from PyQt6.QtTest import QTest
from PyQt6.QtWidgets import QApplication, QLabel, QMainWindow, QSplitter, QTreeView
app = QApplication(sys.argv[:1])
import desk
try:
    desk.use_platform("qt")
except desk.DeskError as e:
    print("no qt:", e)
    sys.exit(3)

def tree_with(*texts):
    tree = desk.CreateObject("%s")
    desk.init_properties(tree)
    for t in texts:
        tree.Nodes.Add(Key=t, Text=t)
    return tree

def window_with(tree):
    win, split = QMainWindow(), QSplitter()
    w = desk.widget(tree)
    split.addWidget(w)
    split.addWidget(QLabel("pane"))
    win.setCentralWidget(split)
    win.resize(500, 300)
    win.show()
    app.processEvents()
    return win, split, w

def row(w, *path):
    # The viewport and the centre of the row at `path` (positions from the top level down).
    view = w.findChild(QTreeView)
    index = view.rootIndex()
    for i in path:
        index = view.model().index(i, 0, index)
    return view.viewport(), view.visualRect(index).center()
""" % TREE


def run(script, *args, stderr_free_of=None):
    paths = [os.path.join(HERE, ".."), os.path.dirname(PYQT_APP)]
    done = subprocess.run([sys.executable, "-c", PRELUDE + script] + paths + list(args), capture_output=True,
                          timeout=120, env=OFFSCREEN)
    if done.returncode == 3:
        pytest.skip(done.stdout.decode().strip())
    assert done.returncode == 0, done.stderr.decode()
    if stderr_free_of:
        assert stderr_free_of not in done.stderr.decode()
    return done.stdout.decode().splitlines()


@needs_pyqt
def test_a_click_in_a_splitter_reaches_the_handlers_through_app_exec():
    lines = run(r"""
tree = tree_with("Alpha", "Beta")
win, split, w = window_with(tree)
print("widget", type(w).__name__, w.parent() is split)

class Handler:
    def MouseUp(self, Button, Shift, x, y):
        print("MouseUp", Button.value)

    def NodeClick(self, Node):
        print("NodeClick", Node.Text)

conn = desk.connect(tree, Handler())
def click():
    viewport, at = row(w, 1)
    QTest.mouseClick(viewport, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier, at)
    QTimer.singleShot(0, app.quit)
QTimer.singleShot(0, click)
app.exec()
conn.disconnect()
""")
    assert lines == ["widget QWidget True", "NodeClick Beta", "MouseUp 1"]


@needs_pyqt
def test_the_window_destroyed_before_the_control_and_after_it():
    lines = run(r"""
# The host's window first: it deletes the widget; the control works on without one.
tree = tree_with("a")
win, split, w = window_with(tree)
del win, split
gc.collect()
print("window gone:", sip.isdeleted(w), tree.Nodes.Count)
tree.Nodes.Add(Key="b", Text="b")
try:
    desk.widget(tree)
except desk.DeskError as e:
    print("no widget:", e.number)
del tree
gc.collect()
print("handles", desk.handle_count())

# The control first: its widget leaves the host's splitter, which keeps the host's pane.
tree = tree_with("a")
win, split, w = window_with(tree)
del tree
gc.collect()
print("control gone:", sip.isdeleted(w), split.count(), type(split.widget(0)).__name__, desk.handle_count())
win.resize(600, 300)
app.processEvents()
""")
    assert lines == ["window gone: True 1", "no widget: 438", "handles 0", "control gone: True 1 QLabel 0"]


@needs_pyqt
def test_the_application_destroyed_before_the_control():
    # As an interpreter ending may do it: the control goes last, and leaves its widget to the
    # ending process, quietly.
    lines = run(r"""
tree = tree_with("a", "b")
win, split, w = window_with(tree)
split.setParent(None)  # the widget in a splitter of its own, shown
split.show()
win.close()
del win
app.processEvents()
sip.delete(app)
del app
gc.collect()
print("tree", tree.Nodes.Count)
del tree, w, split
gc.collect()
print("handles", desk.handle_count())
""", stderr_free_of="QBasicTimer")
    assert lines == ["tree 2", "handles 0"]


@needs_pyqt
def test_call_soon_from_other_threads_runs_in_the_hosts_loop_and_their_calls_are_refused():
    lines = run(r"""
tree = tree_with("a")
ui = threading.get_ident()
ran, refused = [], []

def note(i):
    ran.append((i, threading.get_ident() == ui))
    if len(ran) == 6:
        app.quit()

def worker():
    try:
        tree.Nodes.Count
    except desk.DeskError as e:
        refused.append(e.number)
    for i in range(3):
        desk.call_soon(note, i)
workers = [threading.Thread(target=worker) for _ in range(2)]
QTimer.singleShot(0, lambda: [t.start() for t in workers])
QTimer.singleShot(10000, app.quit)  # a guard
app.exec()
for t in workers:
    t.join()
print("refused", refused == [desk.ERR_WRONG_THREAD] * 2)
print("ran", len(ran), all(on_ui for _, on_ui in ran), sorted(i for i, _ in ran))
""")
    assert lines == ["refused True", "ran 6 True [0, 0, 1, 1, 2, 2]"]


@needs_pyqt
def test_pyqt_app_shows_pictures_answers_its_menus_and_keeps_its_settings(tmp_path):
    lines = run(r"""
import pyqt_app
from PyQt6.QtGui import QPixmap
from PyQt6.QtWidgets import QMenu
settings = sys.argv[3]
server, url = pyqt_app.serve_pictures()

def choose(text):
    # Inside the context menu's own loop, once it is on screen.
    def pick():
        menu = QApplication.activePopupWidget()
        for action in menu.actions():
            if action.text() == text:
                QTest.mouseClick(menu, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier,
                                 menu.actionGeometry(action).center())
                return
        menu.close()
    QTimer.singleShot(50, pick)

win = pyqt_app.MainWindow(settings, url)
win.show()
app.processEvents()
tree_widget = win.splitter.widget(0)
nodes = win.tree.Nodes
print("nodes", nodes.Count, [n.Text for n in nodes][:3], "menu bar", [a.text() for a in win.menuBar().actions()])
viewport, at = row(tree_widget, 0, 3)  # leaf
QTest.mouseClick(viewport, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier, at)
app.processEvents()
shown = win.picture.pixmap().size()
print("full size", shown == QPixmap(os.path.join(pyqt_app.PICTURES, "leaf.jpg")).size(), shown.width() > 32)
choose("Remove")
viewport, at = row(tree_widget, 0, 4)  # sun
QTest.mouseClick(viewport, Qt.MouseButton.RightButton, Qt.KeyboardModifier.NoModifier, at)
app.processEvents()
print("after remove", [n.Text for n in win.tree.Nodes])
win.checkboxes.trigger()
win.resize(640, 400)
win.close()
print("saved", sorted(os.listdir(settings)))
del win, nodes
gc.collect()

again = pyqt_app.MainWindow(settings, url)
print("restored", again.tree.Checkboxes, again.checkboxes.isChecked(), again.size().width())
again.close()
del again
gc.collect()
print("handles", desk.handle_count())
server.shutdown()
""", str(tmp_path / "settings"))
    assert lines == [
        "nodes 6 ['Pictures', 'board', 'cloud'] menu bar ['&File', '&View', '&Help']",
        "full size True True",
        "after remove ['Pictures', 'board', 'cloud', 'dot', 'leaf']",
        "saved ['tree.json', 'window.ini']",
        "restored True True 640",
        "handles 0",
    ]


@needs_pyqt
def test_pyqt_app_writes_a_screenshot_on_its_own(tmp_path):
    run("")  # skips, as the cases above do, where the Qt backend was not built
    shot = tmp_path / "shot.png"
    done = subprocess.run([sys.executable, PYQT_APP, "--settings", str(tmp_path / "settings"), "--screenshot", str(shot)],
                          capture_output=True, timeout=120, env=OFFSCREEN)
    assert done.returncode == 0, done.stderr.decode()
    assert shot.stat().st_size > 1000


def test_desk_widget_wraps_the_address_with_the_binding_whose_application_exists(monkeypatch):
    """PyQt6 is wrapped through sip (in the processes above); PySide6 through shiboken6, checked
    here with stand-ins for its modules."""
    for name in ("PyQt6.QtWidgets", "PySide6.QtWidgets", "shiboken6"):
        monkeypatch.delitem(sys.modules, name, raising=False)
    tree = desk.CreateObject(TREE)
    with pytest.raises(desk.DeskError) as e:
        desk.widget(tree)
    assert e.value.number == 5 and "PyQt6 or PySide6" in e.value.text
    with pytest.raises(desk.DeskError) as e:
        desk.widget_address(tree)
    assert e.value.number == 5, "the headless platform has no widgets"

    def binding(with_application):
        widgets = types.ModuleType("QtWidgets")
        widgets.QWidget = type("QWidget", (), {})
        widgets.QApplication = type("QApplication", (), {"instance": staticmethod(lambda: with_application or None)})
        return widgets
    pyside = binding(True)
    monkeypatch.setitem(sys.modules, "PySide6", types.ModuleType("PySide6"))
    monkeypatch.setitem(sys.modules, "PySide6.QtWidgets", pyside)
    sys.modules["PySide6"].QtWidgets = pyside
    shiboken = types.ModuleType("shiboken6")
    shiboken.wrapInstance = lambda address, cls: ("shiboken6", address, cls)
    monkeypatch.setitem(sys.modules, "shiboken6", shiboken)
    monkeypatch.setitem(sys.modules, "PyQt6.QtWidgets", binding(False))  # loaded, but no application
    monkeypatch.setattr(desk._platform, "widget_address", lambda control: 0x5EED)
    assert desk.widget(tree) == ("shiboken6", 0x5EED, pyside.QWidget)
