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
from desk import _c, _errors, _loader, _objects, _thread

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


# Every kind of value, each way through a Variant member (a node's Tag): the kinds a Python type
# becomes, what comes back, and each storage of str (one, two and four bytes a code point; short,
# and too long for a call's own buffer).
@pytest.mark.parametrize("value, back", [
    (None, None), (True, True), (False, False), (0, 0), (-2 ** 31, -2 ** 31), (2 ** 31 - 1, 2 ** 31 - 1),
    (2 ** 31, 2.0 ** 31), (-2 ** 31 - 1, -2.0 ** 31 - 1),  # past 32 bits: a Double
    (desk.Integer(-32768), -32768), (desk.Single(1.5), 1.5), (2.25, 2.25), (float("-inf"), float("-inf")),
    ("", ""), ("plain", "plain"), ("caf\xe9", "caf\xe9"), ("\u03a9\u2026", "\u03a9\u2026"),
    ("\U0001F600 a\ud800", "\U0001F600 a\ud800"), ("\udfff\ud800", "\udfff\ud800"),
    ("x" * 70000, "x" * 70000), ("\u03a9" * 70000, "\u03a9" * 70000), ("\U0001F600" * 40000, "\U0001F600" * 40000),
    (desk.Empty, None), (desk.Missing, desk.Missing), (desk.ByRef("inside"), "inside"),
])
def test_a_value_of_each_kind_comes_back_as_it_went(value, back):
    tree = desk.CreateObject(TREE)
    node = tree.Nodes.Add(Key="a", Text="A")
    node.Tag = value
    got = node.Tag
    assert got == back and type(got) is type(back)


def test_objects_come_back_as_the_same_objects():
    class Mine(desk.HostObject):
        def Name(self):
            return "mine"

    tree = desk.CreateObject(TREE)
    node, other, mine = tree.Nodes.Add(Key="a"), tree.Nodes.Add(Key="b"), Mine()
    node.Tag = other
    assert node.Tag == other and node.Tag.Key == "b"
    node.Tag = mine
    assert node.Tag is mine
    node.Tag = None
    assert node.Tag is None


@pytest.mark.parametrize("call, number, text, source", [
    (lambda t: t.Nodes.Add(desk.Integer(40000)), 6, "Overflow", "desk"),
    (lambda t: t.Nodes.Add(10 ** 400), 6, "Overflow", "desk"),
    (lambda t: t.Nodes.Add([1]), 13, "Type mismatch: a list cannot be passed", "desk"),
    (lambda t: t.Nodes.Add(desk.ByRef({})), 13, "Type mismatch: a dict cannot be passed", "desk"),
    (lambda t: t.Nodes.Add(NoSuch=1), 448, "Named argument not found: NoSuch", "Add"),
    (lambda t: t.Nodes.Add("a", relative="b"), 448, "Argument given twice: relative", "Add"),
    (lambda t: desk.Object(None).Text, 91, "Object variable or With block variable not set", "desk"),
    (lambda t: t.Nodes.Add(desk.Object(None)), 91, "Object variable or With block variable not set", "desk"),
    (lambda t: t.NoSuch, 438, "Object doesn't support this property or method: NoSuch", "_VarbelTreeviewControl"),
    (lambda t: t(), 438, "Object doesn't support this property or method", "_VarbelTreeviewControl"),
    (lambda t: t.Nodes("missing"), 35601, "Element not found", "INodes"),
])
def test_each_failure_has_the_number_text_and_source_of_the_ctypes_path(call, number, text, source):
    tree = desk.CreateObject(TREE)
    with pytest.raises(desk.DeskError) as e:
        call(tree)
    assert (e.value.number, e.value.text, e.value.source) == (number, text, source)


def test_the_texts_the_package_raises_itself_are_the_run_times_for_the_same_numbers():
    # The run-time's own answers: an unknown name, a null handle, a value of the wrong kind and
    # one out of range.
    tree = desk.CreateObject(TREE)
    api, r = _loader.lib(), _thread.records()
    answers = {}
    for number, call in ((438, lambda: api.id_of_name(tree._h, b"NoSuch", ctypes.byref(ctypes.c_int32()), r.ERR)),
                         (91, lambda: api.addref(None, r.ERR))):
        assert call() == number
        answers[number] = r.err.text.decode()
    for value in ("abc", 1e300):
        with pytest.raises(desk.DeskError) as e:
            tree.Indentation = value
        answers[e.value.number] = e.value.text
    assert answers == _errors.TEXTS


@pytest.mark.parametrize("add, full_path", [
    (lambda n: n.Add(Key="k", Text="T"), "T"),
    (lambda n: n.Add(text="T", KEY="k"), "T"),  # any letter case, any order
    (lambda n: n.Add("root", 4, Key="k", Text="T"), "Root/T"),  # positional, then keywords
    (lambda n: n.Add(Relative="root", Relationship=4, Key="k", Text="T"), "Root/T"),
    (lambda n: n.Add("root", Relationship=4, text="T", key="k"), "Root/T"),  # a gap after the positional one
])
def test_keywords_land_in_the_declared_places_whatever_their_spelling(add, full_path):
    tree = desk.CreateObject(TREE)
    tree.PathSeparator = "/"
    nodes = tree.Nodes
    nodes.Add(Key="root", Text="Root")
    for _ in range(2):  # the second call finds each spelling's place already known
        add(nodes)
        assert (nodes(Index="k").FullPath, nodes.Item(index="k").Text) == (full_path, "T")
        nodes.Remove("k")


def test_a_handler_run_inside_a_call_may_call_back_and_its_failure_is_the_calls_cause():
    tree = desk.CreateObject(TREE)
    tree.PopUpMenus.Add("open", "Open")
    seen = []

    class Events:
        def onMenuClick(self, MenuName):
            seen.append((MenuName.value, tree.PopUpMenus.Count, tree.Nodes.Count))  # calls inside the call
            raise ValueError("handler trouble")

    desk.headless_popup_choice(1)
    with desk.connect(tree, Events()):
        with pytest.raises(desk.DeskError) as e:
            tree.ShowPopupMenu()
    assert seen == [("open", 1, 0)]
    assert e.value.number == desk.ERR_AUTOMATION and isinstance(e.value.__cause__, ValueError)


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
        _objects._ext.set_thread_check(desk._thread.records)
    assert seen == ["wrong thread"] * 6
    assert asked.count(main) == 1 and len(asked) == 7  # once on the UI thread, then at each refusal
