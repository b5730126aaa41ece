"""The desk package as a Python host uses it: late binding by name, events, host objects, errors
and lifetimes."""
import gc
import os
import subprocess
import sys

import pytest

import desk

TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
IMAGE_LIST = "{54DB11E5-373F-4255-8B48-D0C961FAE634}"
HERE = os.path.dirname(os.path.abspath(__file__))


def make_tree():
    tree = desk.CreateObject(TREE)
    desk.init_properties(tree)
    desk.headless_resize(tree, 4800, 3600)
    return tree


def test_properties_methods_and_the_default_member():
    tree = make_tree()
    tree.PathSeparator = "/"
    assert tree.PathSeparator == "/"
    tree.checkboxes = True  # names without regard to letter case
    assert tree.Checkboxes is True
    nodes = tree.Nodes
    nodes.Add(Key="root", Text="Root")  # keywords; Relative and Relationship omitted
    nodes.Add("root", 4, "a", "Alpha")
    nodes.Add("root", 4, Text="Beta", Key="b")
    assert nodes.Count == 3
    assert tree.Nodes("a").Text == "Alpha"
    assert tree.Nodes["b"].FullPath == "Root/Beta"
    assert nodes.Item(1).Text == "Root"  # a parameterised read
    assert [n.Text for n in tree.Nodes] == ["Root", "Alpha", "Beta"]
    assert tree.Nodes("a") == tree.Nodes["a"]  # the same object
    menus = tree.PopUpMenus
    menus.Add("x", "Ex")
    assert menus.Count == 1


def test_strings_keep_every_utf16_code_unit():
    tree = make_tree()
    for text in ["plain", "", "Rename\u2026", "\U0001F600", "a\ud800b", "\udfff"]:
        tree.PathSeparator = text
        assert tree.PathSeparator == text


@pytest.mark.parametrize("call, number", [
    (lambda t: desk.CreateObject("{00000000-0000-0000-0000-000000000000}"), 429),
    (lambda t: t.NoSuchMember, 438),
    (lambda t: setattr(t, "NoSuchMember", 1), 438),
    (lambda t: t.Nodes.Add(1, 2, 3, 4, 5, 6, 7), 450),
    (lambda t: setattr(t, "Checkboxes", "maybe"), 13),
    (lambda t: setattr(t, "PathSeparator", [1, 2]), 13),
    (lambda t: t.Nodes.Add(NoSuchArgument=1), 448),
    (lambda t: t.Nodes.Add(desk.Integer(40000)), 6),
    (lambda t: t.Nodes("missing"), 35601),
])
def test_failures_raise_desk_error_with_number_text_and_source(call, number):
    tree = make_tree()
    with pytest.raises(desk.DeskError) as e:
        call(tree)
    assert e.value.number == number
    assert e.value.text
    assert str(number) in str(e.value)


def test_unknown_members_are_attribute_errors_too():
    tree = make_tree()
    assert not hasattr(tree, "NoSuchMember")
    assert getattr(tree, "NoSuchMember", 42) == 42
    with pytest.raises(desk.DeskError) as e:
        tree.NoSuchMember
    assert e.value.source == "_VarbelTreeviewControl"


class Recorder:
    def __init__(self):
        self.seen = []

    def MouseDown(self, Button, Shift, x, y):
        self.seen.append(("MouseDown", Button.value, Shift.value, x.value, y.value))

    def MouseUp(self, Button, Shift, x, y):
        self.seen.append(("MouseUp", Button.value, Shift.value, x.value, y.value))


def test_events_reach_methods_named_after_them_until_disconnected():
    tree = make_tree()
    r = Recorder()
    with desk.connect(tree, r):
        desk.headless_click(tree, 1, 0, 600, 10)
    assert r.seen == [("MouseDown", 1, 0, 600.0, 10.0), ("MouseUp", 1, 0, 600.0, 10.0)]
    desk.headless_click(tree, 1, 0, 600, 10)
    assert len(r.seen) == 2


def test_a_handlers_write_to_a_by_reference_argument_reaches_the_raiser():
    # Sinks share the raiser's storage: the second sink sees what the first wrote.
    class Writer:
        def MouseUp(self, Button, Shift, x, y):
            Button.value = 1
            x.value = 7.5

    tree = make_tree()
    r = Recorder()
    with desk.connect(tree, Writer()), desk.connect(tree, r):
        desk.headless_click(tree, 2, 0, 600, 10)
    assert r.seen[-1] == ("MouseUp", 1, 0, 7.5, 10.0)


def test_a_by_reference_argument_is_gone_after_its_event():
    kept = []

    class Keeper:
        def MouseUp(self, Button, Shift, x, y):
            kept.append(Button)

    tree = make_tree()
    with desk.connect(tree, Keeper()):
        desk.headless_click(tree, 1, 0, 0, 0)
    with pytest.raises(desk.DeskError) as e:
        kept[0].value
    assert e.value.number == 91


def test_a_handler_that_raises_fails_the_call_that_raised_the_event():
    class Failing:
        def MouseDown(self, *args):
            raise ValueError("handler trouble")

    tree = make_tree()
    with desk.connect(tree, Failing()):
        with pytest.raises(desk.DeskError) as e:
            desk.headless_click(tree, 1, 0, 0, 0)
    assert e.value.number == desk.ERR_AUTOMATION
    assert "ValueError: handler trouble" in e.value.text
    assert isinstance(e.value.__cause__, ValueError)
    # A DeskError raised by a handler keeps its number.

    class Refusing:
        def MouseDown(self, *args):
            raise desk.DeskError(380, "Invalid property value")

    with desk.connect(tree, Refusing()):
        with pytest.raises(desk.DeskError) as e:
            desk.headless_click(tree, 1, 0, 0, 0)
    assert e.value.number == 380


def test_a_control_dropped_inside_its_own_event_lives_until_the_event_is_over():
    class Owner:
        def __init__(self):
            self.tree = make_tree()
            self.after = None

        def MouseDown(self, *args):
            del self.tree  # the last Python reference, inside the tree's own event

        def MouseUp(self, Button, *args):
            self.after = Button.value  # the rest of the click still runs

    owner = Owner()
    desk.connect(owner.tree, owner)
    desk.headless_click(owner.tree, 1, 0, 0, 0)
    assert owner.after == 1
    del owner
    gc.collect()
    assert desk.handle_count() == 0


def test_python_property_bag_keeps_and_restores_settings():
    tree = make_tree()
    tree.PathSeparator = "-"
    tree.Checkboxes = True
    bag = desk.PropertyBag()
    desk.write_properties(tree, bag)
    assert bag.values["PathSeparator"] == "-"
    second = desk.CreateObject(TREE)
    desk.read_properties(second, bag)
    assert second.PathSeparator == "-"
    assert second.Checkboxes is True


def test_a_failing_python_bag_fails_the_read_with_its_exception_as_cause():
    class Broken(desk.PropertyBag):
        def ReadProperty(self, name, default=None):
            raise OSError("disk gone")

    tree = desk.CreateObject(TREE)
    with pytest.raises(desk.DeskError) as e:
        desk.read_properties(tree, Broken())
    assert isinstance(e.value.__cause__, OSError)


def test_settings_survive_a_file(tmp_path):
    tree = make_tree()
    tree.PathSeparator = "|"
    bag = desk.new_bag()
    desk.write_properties(tree, bag)
    desk.save_bag(bag, tmp_path / "settings.json")
    second = desk.CreateObject(TREE)
    desk.read_properties(second, desk.load_bag(tmp_path / "settings.json"))
    assert second.PathSeparator == "|"
    with pytest.raises(desk.DeskError) as e:
        desk.load_bag(tmp_path / "missing.json")
    assert e.value.number == 53


def test_a_member_keeps_a_python_object_and_gives_the_same_object_back():
    class Active(desk.HostObject):
        def Name(self):
            return "mine"

    tree = make_tree()
    mine = Active()
    tree.ActiveControl = mine
    assert tree.ActiveControl is mine
    second = make_tree()
    second.ActiveControl = mine  # handed in again while the first tree holds it
    assert second.ActiveControl is tree.ActiveControl
    assert desk.handle_count() == 2
    tree.ActiveControl = None
    assert tree.ActiveControl is None


def test_object_lifetimes_follow_python_references():
    tree = make_tree()
    nodes = tree.Nodes
    nodes.Add(Key="k", Text="K")
    node = tree.Nodes("k")
    assert desk.handle_count() == 3
    del tree
    assert node.Text == "K"  # a node keeps working while Python holds it
    del nodes, node
    gc.collect()
    assert desk.handle_count() == 0


def test_the_web_image_list_by_class_name():
    images = desk.CreateObject("Quorvane.ucMain")
    images.ListImages.Add("red", "http://127.0.0.1:9/red.png")
    assert images.ListImages.Count == 1
    assert desk.class_name(IMAGE_LIST) == "ucMain"


def test_host_py_prints_what_the_expected_transcript_says():
    from picture_server import PictureServer
    expected = open(os.path.join(HERE, "..", "..", "tests", "capi", "host_expected.txt"), encoding="utf-8").read()
    host = os.path.join(HERE, "..", "..", "examples", "host.py")
    with PictureServer() as server:
        run = subprocess.run([sys.executable, host, server.url], capture_output=True, timeout=120)
    assert run.stderr.decode() == ""
    assert run.stdout.decode("utf-8") == expected


def test_every_kind_of_collection_is_iterable_through_its_enumerator():
    tree = make_tree()
    menus = tree.PopUpMenus
    menus.Add("open", "Open")
    menus.Add("close", "Close")
    images = desk.CreateObject(IMAGE_LIST)
    images.ListImages.Add("red", "http://127.0.0.1:9/red.png")
    images.ListImages.Add("blue", "http://127.0.0.1:9/blue.png")
    tree.Nodes.Add(Key="n1", Text="One")
    cases = [
        (tree.PopUpMenus, "Caption", ["Open", "Close"]),     # the control's menus
        (images.ListImages, "Key", ["red", "blue"]),          # the web image list's entries
        (tree.Nodes, "Text", ["One"]),                        # the tree's nodes: NewEnum a method
    ]
    for collection, member, expected in cases:
        assert [getattr(item, member) for item in collection] == expected
    with pytest.raises(desk.DeskError) as e:
        iter(tree).__next__()  # the control is not a collection
    assert e.value.number == 438


def test_a_fill_waits_for_a_server_that_runs_in_a_thread_of_this_process():
    # A method that waits (here for downloads) lets other Python threads run, on either path.
    from picture_server import PictureServer
    with PictureServer() as server:
        images = desk.CreateObject(IMAGE_LIST)
        for name in ("red", "green", "blue"):
            images.ListImages.Add(name, server.url + name + ".png?in-process")
        images.ForceDownload = True
        images.Fill()
        assert images.IsReady
        assert images.ImageListControl.ListImages.Count == 3
        assert server.requests == 3
