"""What the compiled path adds, held to the same answers on both paths (ctest runs this suite once
on each): the path in use is the one asked for, late binding stays per class, by-reference
arguments make the round trip, and calls keep no reference nor handle they should not."""
import ctypes
import gc
import os
import sys
import threading

import pytest

import desk
from desk import _c, _loader, _objects

TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
IMAGE_LIST = "{54DB11E5-373F-4255-8B48-D0C961FAE634}"


def test_the_path_in_use_is_the_one_asked_for():
    # ctest says which path each run must take: the extension where it was built, ctypes when
    # DESK_PYTHON_PURE=1 asks for it.
    wanted = "ctypes" if os.environ.get("DESK_PYTHON_PURE") == "1" else os.environ.get("DESK_PYTHON_EXPECT_PATH")
    if wanted is None:
        pytest.skip("run outside ctest: no path asked for")
    assert _objects.PATH == wanted
    tree = desk.CreateObject(TREE)
    nodes = tree.Nodes
    if wanted == "extension":
        assert isinstance(tree, _objects._ext.Object)
        assert type(nodes.Add) is _objects._ext.Bound
    else:
        assert _objects._ext is None
        assert type(nodes.Add) is _objects._Bound


def test_one_name_with_a_different_id_in_two_classes_reaches_each_classs_own_member():
    # "Name" is a member of a popup menu and of a web image, under different ids: a cache by name
    # alone would send one class's id to the other.
    tree = desk.CreateObject(TREE)
    tree.PopUpMenus.Add("open", "Open")
    images = desk.CreateObject(IMAGE_LIST)
    images.ListImages.Add("red", "http://127.0.0.1:9/red.png")
    menu, image = tree.PopUpMenus("open"), images.ListImages("red")
    api = _loader.lib()
    ids = {}
    for obj in (menu, image):
        out = ctypes.c_int32()
        assert api.id_of_name(obj._h, b"name", ctypes.byref(out), None) == 0  # the C interface's own lookup
        ids[obj._type().name] = out.value
        assert obj._member("Name").id == out.value
    assert len(set(ids.values())) == 2, ids
    for _ in range(3):  # interleaved, each read after the other class's
        assert (menu.Name, image.Name, menu.name, image.NAME) == ("open", "red", "open", "red")
    menu.Name = "opened"
    assert (menu.Name, image.Name) == ("opened", "red")


@pytest.mark.parametrize("value, after, name", [
    ("open", "open", "open"),
    ("\U0001F600 a\ud800b", "\U0001F600 a\ud800b", "\U0001F600 a\ud800b"),  # a pair and a lone surrogate
    (desk.Integer(7), 7, "7"),  # the target keeps its kind; the member reads it as a String
    (desk.Empty, None, ""),     # Empty stays Empty (None); the member makes "" of it
])
def test_a_by_reference_argument_comes_back_as_the_callee_left_it(value, after, name):
    tree = desk.CreateObject(TREE)
    target = desk.ByRef(value)
    tree.PopUpMenus.Add(target, desk.ByRef("Caption"))
    assert target.value == after and type(target.value) is type(after)
    assert [m.Name for m in tree.PopUpMenus] == [name]


def test_a_by_reference_target_the_callee_fills_with_an_object_owns_its_handle():
    tree = desk.CreateObject(TREE)
    tree.Nodes.Add(Key="a", Text="Alpha")
    nodes = tree.Nodes
    enumerator = nodes._invoke(_c.ID_NEWENUM, _c.METHOD, ())
    item = desk.ByRef(desk.Empty)
    assert enumerator._invoke(_c.ID_ENUM_NEXT, _c.METHOD, (item,)) is True
    assert item.value.Key == "a"
    assert desk.handle_count() == 4  # tree, nodes, enumerator, the node written into the target
    after = desk.ByRef(desk.Empty)
    assert enumerator._invoke(_c.ID_ENUM_NEXT, _c.METHOD, (after,)) is False
    assert after.value is None
    del enumerator, nodes, item  # the node's handle goes with the value that held it
    gc.collect()
    assert desk.handle_count() == 1


class Bag(desk.PropertyBag):
    pass


def test_calls_keep_no_reference_and_no_handle_they_should_not():
    tree = desk.CreateObject(TREE)
    nodes = tree.Nodes
    text, key, bag, target = "Some text \u2026", "k", Bag(), desk.ByRef("x")
    watched = [tree, nodes, text, key, bag, target, desk.Missing, desk.ByRef, type(tree)]

    def calls(times):
        for _ in range(times):
            nodes.Add(Key=key, Text=text)
            assert nodes(key).Text == text and nodes[key].Key == key
            tree.PathSeparator = text
            tree.PopUpMenus.Add(target, "Caption")
            tree.PopUpMenus.Remove("x")
            desk.write_properties(tree, bag)
            with pytest.raises(desk.DeskError):
                nodes.Add(Key=key, Text=text)  # the key is taken: a failure keeps nothing either
            with pytest.raises(desk.DeskError):
                nodes.Add(NoSuchArgument=text)
            nodes.Remove(key)

    calls(1)  # fills every cache
    gc.collect()
    before = [sys.getrefcount(x) for x in watched]
    handles = desk.handle_count()  # tree, nodes and the font the bag keeps
    calls(300)
    gc.collect()
    assert [sys.getrefcount(x) for x in watched] == before
    assert desk.handle_count() == handles == 3


@pytest.mark.skipif(_objects._ext is None, reason="the extension's own thread check")
def test_the_extension_asks_the_thread_rule_before_it_touches_anything_off_the_ui_thread():
    main, asked = threading.get_ident(), []

    def rule():
        asked.append(threading.get_ident())
        if threading.get_ident() != main:
            raise desk.DeskError(-1, "wrong thread", "test")

    tree = desk.CreateObject(TREE)
    nodes = tree.Nodes
    seen = []

    def worker():
        for call in (lambda: tree.Sorted, lambda: setattr(tree, "Sorted", True), lambda: nodes("k"),
                     lambda: nodes["k"], lambda: nodes.Add, lambda: tree._type()):
            try:
                call()
                seen.append("ran")
            except desk.DeskError as e:
                seen.append(e.text)

    _objects._ext.set_thread_check(rule)
    try:
        assert tree.Sorted is False and tree.Sorted is False
        thread = threading.Thread(target=worker)
        thread.start()
        thread.join()
        assert tree.Sorted is False  # never written from the worker
    finally:
        _objects._ext.set_thread_check(_objects._thread_rule)
    assert seen == ["wrong thread"] * 6
    assert asked.count(main) == 1 and len(asked) == 7  # once on the UI thread, then at each refusal
