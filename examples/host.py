"""The Python host: does what examples/host.c does, through the desk package, and prints the same
lines.

    python3 examples/host.py BASE_URL      (BASE_URL serves red.png, green.png and blue.png)
"""
from __future__ import annotations

import os
import sys
import tempfile
from typing import TYPE_CHECKING, Any, Final

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import desk  # noqa: E402

if TYPE_CHECKING:
    from desk.typelib import VarbelTreeviewControl

TREE: Final = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
IMAGE_LIST: Final = "{54DB11E5-373F-4255-8B48-D0C961FAE634}"
PICTURES = ("red", "green", "blue")


class TreeEvents:
    """Answers a right-click with the context menu, and reports the item chosen."""

    def __init__(self, tree: VarbelTreeviewControl) -> None:
        self.tree = tree

    def MouseUp(self, Button: desk.ByRef, Shift: desk.ByRef, x: desk.ByRef, y: desk.ByRef) -> None:
        if Button.value != 2:
            return
        node = self.tree.DoHitTest(int(x.value), int(y.value))
        print("Right-click over node: %s" % node.FullPath if node else "Right-click over no node")
        self.tree.ShowPopupMenu()

    def onMenuClick(self, MenuName: desk.ByRef) -> None:
        print("Menu item chosen: %s" % MenuName.value)


def print_nodes(node: Any, depth: int) -> None:
    while node:
        line = "%s- %s" % ("  " * depth, node.Text)
        if depth > 0:
            line += " [picture %s]" % node.Image
        print(line)
        if node.Children > 0:
            print_nodes(node.Child, depth + 1)
        node = node.Next


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: host.py BASE_URL", file=sys.stderr)
        return 2
    base = sys.argv[1] if sys.argv[1].endswith("/") else sys.argv[1] + "/"
    print("Interface version %d.%d" % desk.version())

    images = desk.CreateObject(IMAGE_LIST)
    print("Created %s, interface %s" % (desk.class_name(IMAGE_LIST), images._type().name))
    for name in PICTURES:
        images.ListImages.Add(name, base + name + ".png")
    print("Queued %d pictures: red, green, blue" % images.ListImages.Count)
    images.Fill()
    image_list = images.ImageListControl
    print("Filled the web image list: ready %s, %d pictures" % ("yes" if images.IsReady() else "no",
                                                               image_list.ListImages.Count))

    tree = desk.CreateObject(TREE)
    desk.init_properties(tree)
    print("Created %s, interface %s" % (desk.class_name(TREE), tree._type().name))
    tree.ImageList = image_list
    print("Handed the image list to the tree")
    tree.PathSeparator = "/"
    tree.Checkboxes = True

    nodes = tree.Nodes
    nodes.Add(Key="pictures", Text="Pictures")
    for name in PICTURES:
        nodes.Add("pictures", 4, "n-" + name, name, name)  # 4: a child
    tree.Nodes("pictures").Expanded = True
    print("Built the tree: %d nodes" % nodes.Count)
    print_nodes(tree.Nodes["pictures"], 0)

    menus = tree.PopUpMenus
    menus.Add("open", "Open")
    menus.Add("rename", "Rename\u2026")
    menus.Add("delete", "Delete")
    print("Declared the context menu: %d items" % menus.Count)

    with desk.connect(tree, TreeEvents(tree)):
        print("Connected to the tree's events")
        # The user right-clicks on the third row (the second picture); the headless platform
        # picks the menu's second item.
        desk.headless_resize(tree, 4800, 3600)
        desk.headless_popup_choice(2)
        desk.headless_click(tree, 2, 0, 600, 240 * 2 + 10)
    print("Disconnected from the tree's events")

    # The image list is a run-time object that cannot be saved: detach it first.
    tree.ImageList = None
    fd, path = tempfile.mkstemp(prefix="host_py-")
    os.close(fd)
    try:
        bag = desk.new_bag()
        desk.write_properties(tree, bag)
        desk.save_bag(bag, path)
        print("Saved the tree's settings")
        tree2 = desk.CreateObject(TREE)
        desk.read_properties(tree2, desk.load_bag(path))
    finally:
        os.unlink(path)
    print('Read them into a new tree: PathSeparator "%s", Checkboxes %s' % (tree2.PathSeparator,
                                                                          "on" if tree2.Checkboxes else "off"))
    del bag, tree2, tree, nodes, menus, image_list, images
    print("Released everything: %d handles left" % desk.handle_count())
    return 0


if __name__ == "__main__":
    sys.exit(main())
