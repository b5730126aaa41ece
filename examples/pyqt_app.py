"""A PyQt6 application with the tree control in a window of its own: the tree in a splitter beside a
pane that shows the selected node's picture at full size, a menu bar, the control's context menu
on a right-click, pictures from a web image list filled from a local server, and the settings
(the tree's, the window's) saved on close and restored at start.

    python3 examples/pyqt_app.py [--settings DIR] [--url BASE_URL]

Without --url it serves examples/pictures on a port of 127.0.0.1 for the web image list to
download. Without a display, run it with QT_QPA_PLATFORM=offscreen (and --screenshot FILE to
see it: it then writes the window to FILE and exits).
"""
from __future__ import annotations

import argparse
import functools
import gc
import http.server
import os
import sys
import threading
from typing import TYPE_CHECKING, Any, Callable, Final

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "python"))  # the source tree's package; an installed one is found as is

from PyQt6.QtCore import QSettings, QStandardPaths, Qt, QTimer  # noqa: E402
from PyQt6.QtGui import QAction, QCloseEvent, QPixmap  # noqa: E402
from PyQt6.QtWidgets import (QApplication, QLabel, QMainWindow, QMenu, QMessageBox, QScrollArea,  # noqa: E402
                             QSplitter)

import desk  # noqa: E402

if TYPE_CHECKING:
    from desk.typelib import VarbelTreeviewControl, ucMain

TREE: Final = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
IMAGE_LIST: Final = "{54DB11E5-373F-4255-8B48-D0C961FAE634}"
PICTURES = os.path.join(HERE, "pictures")
RIGHT_BUTTON = 2
CHILD = 4  # Nodes.Add's relationship: a child of the relative


class _Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format: str, *args: Any) -> None:
        pass


def serve_pictures(folder: str = PICTURES) -> tuple[http.server.ThreadingHTTPServer, str]:
    """Serves the pictures in `folder` on 127.0.0.1, from a thread of this process (the package lets
    the interpreter go while a call such as Fill runs): (server, base URL); server.shutdown() ends
    it."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(_Quiet, directory=folder))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d/" % server.server_address[1]


class TreeEvents:
    """The tree control's events, as methods named after them."""

    def __init__(self, window: MainWindow) -> None:
        self.window = window
        self.menu_node: Any = None  # the node under the last right-click

    def NodeClick(self, Node: Any) -> None:
        self.window.show_picture(Node)

    def MouseUp(self, Button: desk.ByRef, Shift: desk.ByRef, x: desk.ByRef, y: desk.ByRef) -> None:
        if Button.value != RIGHT_BUTTON:
            return
        tree = self.window.tree
        self.menu_node = tree.DoHitTest(int(x.value), int(y.value))
        if self.menu_node is not None:
            tree.ShowPopupMenu()  # modal: onMenuClick arrives before it returns

    def onMenuClick(self, MenuName: desk.ByRef) -> None:
        node, self.menu_node = self.menu_node, None
        if node is not None:
            self.window.menu_chosen(MenuName.value, node)


class MainWindow(QMainWindow):
    def __init__(self, settings_dir: str, base_url: str) -> None:
        super().__init__()
        self.setWindowTitle("Pictures")
        os.makedirs(settings_dir, exist_ok=True)
        self.tree_settings = os.path.join(settings_dir, "tree.json")
        self.window_settings = QSettings(os.path.join(settings_dir, "window.ini"), QSettings.Format.IniFormat)

        self.tree: VarbelTreeviewControl = desk.CreateObject(TREE)
        self.restore_tree()
        self.images: ucMain = desk.CreateObject(IMAGE_LIST)
        self.full_size: dict[str, QPixmap] = {}  # picture name -> the picture as downloaded, at its own size
        # Downloaded afresh: the cache in the temporary folder is shared with every other program
        # using the control, and a file of the same name from elsewhere would be shown instead.
        self.fill(base_url, force=True)

        self.picture = QLabel()
        self.picture.setAlignment(Qt.AlignmentFlag.AlignCenter)
        pane = QScrollArea()
        pane.setWidget(self.picture)
        pane.setWidgetResizable(True)
        self.splitter = QSplitter()
        self.splitter.addWidget(desk.widget(self.tree))
        self.splitter.addWidget(pane)
        self.setCentralWidget(self.splitter)
        self.make_menus()
        self.events = TreeEvents(self)
        self.connection = desk.connect(self.tree, self.events)
        self.resize(720, 420)
        self.splitter.setSizes([260, 460])
        self.restore_window()
        if self.full_size:  # the first picture, selected and shown
            first = self.tree.Nodes(min(self.full_size))
            first.Selected = True
            self.show_picture(first)

    # -- the pictures and the tree's nodes

    def fill(self, base_url: str, force: bool) -> None:
        """Downloads the pictures into the web image list (from its cache unless forced) and shows
        them in the tree."""
        files = {os.path.splitext(f)[0]: f for f in os.listdir(PICTURES)}
        names = sorted(files)
        entries = self.images.ListImages
        entries.Clear()
        for name in names:
            entries.Add(name, base_url + files[name])
        self.images.ForceDownload = force
        self.images.Fill()
        # The files the list downloaded into, read now: the image list keeps its pictures at its own size.
        self.full_size = {name: QPixmap(entries(name).TempFilePath) for name in names}
        self.tree.ImageList = self.images.ImageListControl
        nodes = self.tree.Nodes
        nodes.Clear()
        nodes.Add(Key="pictures", Text="Pictures")
        for name in names:
            nodes.Add("pictures", CHILD, name, name, name)
        nodes("pictures").Expanded = True
        self.base_url = base_url
        self.statusBar().showMessage("%d pictures from %s" % (len(names), base_url))

    def show_picture(self, node: Any) -> None:
        pixmap = self.full_size.get(node.Key)
        if pixmap is None:  # the root: no picture of its own
            self.picture.setText(node.Text)
            return
        self.picture.setPixmap(pixmap)
        self.statusBar().showMessage("%s: %d x %d" % (node.Text, pixmap.width(), pixmap.height()))

    # -- menus

    def make_menus(self) -> None:
        menus = self.tree.PopUpMenus
        menus.Add("show", "Show picture")
        menus.Add("expand", "Expand")
        menus.Add("remove", "Remove")
        file_menu = self.menuBar().addMenu("&File")
        self.add_action(file_menu, "&Fill again from the cache", lambda: self.fill(self.base_url, force=False))
        file_menu.addSeparator()
        self.add_action(file_menu, "&Quit", self.close, "Ctrl+Q")
        view = self.menuBar().addMenu("&View")
        self.checkboxes = self.add_action(view, "&Check boxes", self.toggle_checkboxes)
        self.checkboxes.setCheckable(True)
        self.checkboxes.setChecked(self.tree.Checkboxes)
        self.add_action(view, "&Expand all", self.expand_all)
        help_menu = self.menuBar().addMenu("&Help")
        self.add_action(help_menu, "&About", lambda: QMessageBox.about(
            self, "About", "The tree control and the web image list in a PyQt6 window."))

    def add_action(self, menu: QMenu, text: str, slot: Callable[[], object], shortcut: str | None = None) -> QAction:
        action = QAction(text, self)
        if shortcut:
            action.setShortcut(shortcut)

        def triggered(checked: bool = False) -> None:
            slot()
        action.triggered.connect(triggered)
        menu.addAction(action)
        return action

    def toggle_checkboxes(self) -> None:
        self.tree.Checkboxes = self.checkboxes.isChecked()

    def expand_all(self) -> None:
        for node in self.tree.Nodes:
            node.Expanded = True

    def menu_chosen(self, name: str, node: Any) -> None:
        """The context menu's item `name`, chosen over `node`."""
        if name == "show":
            self.show_picture(node)
        elif name == "expand":
            node.Expanded = True
        elif name == "remove":
            self.tree.Nodes.Remove(node.Key)
            self.statusBar().showMessage("Removed %s" % node.Text)

    # -- settings

    def restore_tree(self) -> None:
        """The tree's saved settings, or its defaults when there are none or they cannot be read."""
        if os.path.exists(self.tree_settings):
            try:
                bag = desk.load_bag(self.tree_settings)
            except desk.DeskError as e:
                print("The settings in %s could not be read (%s): defaults used" % (self.tree_settings, e))
            else:
                desk.read_properties(self.tree, bag)
                return
        desk.init_properties(self.tree)

    def restore_window(self) -> None:
        geometry = self.window_settings.value("geometry")
        if geometry is not None:
            self.restoreGeometry(geometry)
        sizes = self.window_settings.value("splitter")
        if sizes is not None:
            self.splitter.restoreState(sizes)

    def closeEvent(self, event: QCloseEvent) -> None:  # pyright: ignore[reportIncompatibleMethodOverride]
        self.tree.ImageList = None  # a run-time object, not a setting: it cannot be saved
        bag = desk.new_bag()
        desk.write_properties(self.tree, bag)
        desk.save_bag(bag, self.tree_settings)
        self.window_settings.setValue("geometry", self.saveGeometry())
        self.window_settings.setValue("splitter", self.splitter.saveState())
        self.window_settings.sync()
        self.connection.disconnect()
        super().closeEvent(event)


def main() -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").split("\n\n")[0])
    config = QStandardPaths.writableLocation(QStandardPaths.StandardLocation.GenericConfigLocation)
    parser.add_argument("--settings", default=os.path.join(config or HERE, "desk-pyqt-app"),
                        help="the folder the settings are kept in")
    parser.add_argument("--url", help="where the pictures are downloaded from (default: served here)")
    parser.add_argument("--screenshot", help="write the window to this PNG file and exit")
    args = parser.parse_args()

    app = QApplication(sys.argv)  # first: the controls live in this application
    desk.use_platform("qt")
    server = None
    url = args.url
    if not url:
        server, url = serve_pictures()
    window = MainWindow(args.settings, url if url.endswith("/") else url + "/")
    window.show()
    if args.screenshot:
        def shoot() -> None:
            window.grab().save(args.screenshot)
            print("Wrote %s" % args.screenshot)
            window.close()
        QTimer.singleShot(200, shoot)
    status = app.exec()
    del window  # the window and the controls go before the application does
    gc.collect()
    if server:
        server.shutdown()
    return status


if __name__ == "__main__":
    sys.exit(main())
