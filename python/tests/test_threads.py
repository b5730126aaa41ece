"""The UI thread: every call from another thread is refused before it touches anything, the UI
thread's values stay right while others try, objects dropped elsewhere are given back on the UI
thread, and call_soon hands work to it."""
import ctypes
import gc
import threading

import pytest

import desk
from desk import _c

TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
WRONG_THREAD_TEXT = "The object was called from a thread other than the one that created it"


def on_worker(fn):
    """fn() on a thread of its own: what it returned, or the exception it raised."""
    out = {}

    def run():
        try:
            out["value"] = fn()
        except BaseException as e:  # noqa: B902 - handed back to the test
            out["error"] = e
    t = threading.Thread(target=run)
    t.start()
    t.join()
    return out.get("error", out.get("value"))


def make_tree():
    tree = desk.CreateObject(TREE)
    desk.init_properties(tree)
    desk.headless_resize(tree, 4800, 3600)
    tree.Nodes.Add(Key="a", Text="Alpha")
    return tree


class Recorder:
    def __init__(self):
        self.seen = []

    def MouseUp(self, Button, Shift, x, y):
        self.seen.append(Button.value)


def test_every_call_from_another_thread_is_refused_and_does_nothing():
    tree = make_tree()
    node = tree.Nodes("a")
    bag = desk.new_bag()
    recorder = Recorder()
    conn = desk.connect(tree, recorder)
    handles = desk.handle_count()
    calls = {
        "CreateObject": lambda: desk.CreateObject(TREE),
        "a property read": lambda: tree.PathSeparator,
        "a property read on a node": lambda: node.Text,
        "a property write": lambda: setattr(tree, "PathSeparator", "-"),
        "a method": lambda: tree.Nodes.Add(Key="b", Text="Beta"),
        "the default member": lambda: tree.Nodes("a"),
        "an enumeration": lambda: list(tree.Nodes),
        "connect": lambda: desk.connect(tree, Recorder()),
        "disconnect": conn.disconnect,
        "init_properties": lambda: desk.init_properties(tree),
        "write_properties": lambda: desk.write_properties(tree, bag),
        "read_properties of a Python bag": lambda: desk.read_properties(tree, desk.PropertyBag()),
        "new_bag": desk.new_bag,
        "use_platform": lambda: desk.use_platform("headless"),
        "do_events": desk.do_events,
        "headless_click": lambda: desk.headless_click(tree, 1, 0, 600, 10),
        "widget": lambda: desk.widget_address(tree),
        "class_name": lambda: desk.class_name(TREE),
    }
    for name, call in calls.items():
        e = on_worker(call)
        assert isinstance(e, desk.DeskError), name
        assert (e.number, e.text, e.source) == (desk.ERR_WRONG_THREAD, WRONG_THREAD_TEXT, "desk"), name
    assert desk.handle_count() == handles
    assert tree.PathSeparator == "\\"
    assert [n.Text for n in tree.Nodes] == ["Alpha"]
    desk.headless_click(tree, 1, 0, 600, 10)
    assert recorder.seen == [1], "connected still, and clicked only once"
    conn.disconnect()


def test_readers_on_other_threads_never_disturb_the_ui_threads_values():
    tree = make_tree()
    tree.PathSeparator = "/"
    for k in range(5):
        tree.Nodes.Add("a", 4, "k%d" % k, "Node %d" % k)
    stop = threading.Event()
    answers = []  # what the readers got: only refusals

    def reader():
        while not stop.is_set():
            for read in (lambda: tree.PathSeparator, lambda: tree.Nodes.Count, lambda: tree.Nodes):
                try:
                    answers.append(read())
                except desk.DeskError as e:
                    answers.append(e.number)
    readers = [threading.Thread(target=reader) for _ in range(3)]
    for t in readers:
        t.start()
    try:
        for _ in range(300):
            assert tree.PathSeparator == "/"
            nodes = tree.Nodes
            assert isinstance(nodes, desk.Object) and nodes.Count == 6
            assert [n.FullPath for n in nodes][1:3] == ["Alpha/Node 0", "Alpha/Node 1"]
    finally:
        stop.set()
        for t in readers:
            t.join()
    assert answers and set(answers) == {desk.ERR_WRONG_THREAD}


def test_an_object_dropped_on_another_thread_is_given_back_on_the_ui_thread():
    tree = make_tree()
    box = [tree.Nodes("a")]
    del tree
    gc.collect()
    assert desk.handle_count() == 1
    on_worker(box.clear)  # the node's last reference goes on the worker
    assert desk.handle_count() == 1, "not before the UI thread gets to it"
    desk.do_events()
    assert desk.handle_count() == 0


def test_call_soon_runs_on_the_ui_thread_in_the_order_asked(capsys):
    ran = []
    ui = threading.get_ident()

    def note(worker, i):
        ran.append((worker, i, threading.get_ident() == ui))

    def fail():
        raise ValueError("posted trouble")

    def ask(worker):
        for i in range(20):
            desk.call_soon(note, worker, i)
        desk.call_soon(fail)
    workers = [threading.Thread(target=ask, args=(w,)) for w in range(3)]
    for t in workers:
        t.start()
    for t in workers:
        t.join()
    assert ran == []
    desk.do_events()
    assert len(ran) == 60 and all(on_ui for _, _, on_ui in ran)
    for w in range(3):
        assert [i for worker, i, _ in ran if worker == w] == list(range(20))
    assert capsys.readouterr().err.count("ValueError: posted trouble") == 3, "a failing call is reported, the rest run"
    # A call from the UI thread itself waits for the next do_events too.
    desk.call_soon(note, "ui", 0)
    assert len(ran) == 60
    desk.do_events()
    assert ran[-1] == ("ui", 0, True)


@pytest.mark.parametrize("cookie", ["given back", "never issued"])
def test_unadvise_of_a_cookie_no_sink_has_is_refused(cookie):
    tree = make_tree()
    conn = desk.connect(tree, Recorder())
    conn.disconnect()
    api = desk._lib()
    err = _c.Error()
    number = conn.cookie if cookie == "given back" else conn.cookie + 50
    assert api.unadvise(tree._h, number, ctypes.byref(err)) == 5
    assert err.text == b"Invalid procedure call or argument"
