#!/usr/bin/env python3
"""The tree control from Python on the Qt platform (offscreen, the control shown in a window of a
PyQt6 application) against what a PyQt6 developer writes, measured in the same run:

- keyed nodes added, found by key and removed: Nodes.Add(Key=, Text=), Nodes(key) and
  Nodes.Remove(key), with Nodes held in a variable and with tree.Nodes written out in each call,
  against a shown QTreeWidget whose QTreeWidgetItem(tree, [text]) are kept in a dict, found
  through it and removed with takeTopLevelItem(indexOfTopLevelItem(item));
- property reads: node.Text against QTreeWidgetItem.text(0), tree.Sorted against
  QTreeWidget.isSortingEnabled().

Each add/find/remove case runs in a process of its own (a fresh application), its repetitions
interleaved with the other cases'; the figure is the median total. The desk cases run on the
path the package picks (the extension when it is built) and, for comparison, on the ctypes path
(DESK_PYTHON_PURE=1). Writes Google Benchmark JSON for bench/report.py.

Usage: pyqt_python_bench.py OUTPUT.json      (the libraries on LD_LIBRARY_PATH; the extension on
       PYTHONPATH, as scripts/bench.sh sets them)
"""
import json
import os
import subprocess
import sys
import time

from python_timing import per_call_ns, row, write

HERE = os.path.dirname(os.path.abspath(__file__))
TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
SIZES = (10000, 100000)
REPEATS = 3
READS = 200000


_app = None


def application():
    """The PyQt6 application, kept for the life of the process: controls are released before it."""
    global _app
    if _app is None:
        from PyQt6.QtWidgets import QApplication
        _app = QApplication([sys.argv[0]])
    return _app


def shown_tree(desk):
    """The control in a shown window of the PyQt6 application's Qt."""
    desk.use_platform("qt")
    tree = desk.CreateObject(TREE)
    desk.init_properties(tree)
    desk.show(tree, "bench", 400, 300)
    desk.do_events()
    return tree


def desk_module():
    sys.path.insert(0, os.path.join(HERE, "..", "python"))
    import desk
    return desk


def run_desk(n, inline):
    app = application()
    desk = desk_module()
    tree = shown_tree(desk)
    keys = ["k%d" % i for i in range(n)]
    texts = ["Node %d" % i for i in range(n)]
    nodes = tree.Nodes
    t0 = time.perf_counter()
    if inline:
        for k, t in zip(keys, texts):
            tree.Nodes.Add(Key=k, Text=t)
    else:
        for k, t in zip(keys, texts):
            nodes.Add(Key=k, Text=t)
    app.processEvents()
    t1 = time.perf_counter()
    if inline:
        found = sum(1 for k in keys if tree.Nodes(k) is not None)
    else:
        found = sum(1 for k in keys if nodes(k) is not None)
    t2 = time.perf_counter()
    if inline:
        for k in keys:
            tree.Nodes.Remove(k)
    else:
        for k in keys:
            nodes.Remove(k)
    app.processEvents()
    t3 = time.perf_counter()
    assert found == n and nodes.Count == 0, (found, nodes.Count)
    return t1 - t0, t2 - t1, t3 - t2, desk._objects.PATH


def run_pyqt(n):
    from PyQt6.QtWidgets import QTreeWidget, QTreeWidgetItem
    app = application()
    w = QTreeWidget()
    w.setHeaderHidden(True)
    w.resize(400, 300)
    w.show()
    app.processEvents()
    keys = ["k%d" % i for i in range(n)]
    texts = ["Node %d" % i for i in range(n)]
    items = {}
    t0 = time.perf_counter()
    for k, t in zip(keys, texts):
        items[k] = QTreeWidgetItem(w, [t])
    app.processEvents()
    t1 = time.perf_counter()
    found = sum(1 for k in keys if items[k] is not None)
    t2 = time.perf_counter()
    # As qt_tree_bench's QTreeWidget: otherwise the view moves its current item on with each
    # removal of it (the control drops its current node with the node).
    w.selectionModel().clear()
    for k in keys:
        w.takeTopLevelItem(w.indexOfTopLevelItem(items.pop(k)))
    app.processEvents()
    t3 = time.perf_counter()
    assert found == n and w.topLevelItemCount() == 0
    return t1 - t0, t2 - t1, t3 - t2, "pyqt6"


def run_reads():
    """Per-read times of the four reads, in one process: {name: ns}."""
    from PyQt6.QtWidgets import QTreeWidget, QTreeWidgetItem
    app = application()
    desk = desk_module()
    tree = shown_tree(desk)
    tree.Nodes.Add(Key="a", Text="Alpha")
    node = tree.Nodes("a")
    w = QTreeWidget()
    w.show()
    item = QTreeWidgetItem(w, ["Alpha"])
    app.processEvents()
    assert node.Text == item.text(0) and tree.Sorted == w.isSortingEnabled()
    reads = [("BM_PyDeskNodeText", "x.Text", node), ("BM_PyQt6ItemText0", "x.text(0)", item),
             ("BM_PyDeskTreeSorted", "x.Sorted", tree), ("BM_PyQt6IsSortingEnabled", "x.isSortingEnabled()", w)]
    out = {}
    for _ in range(2):  # interleaved, so that a change of load touches both sides alike
        for name, stmt, x in reads:
            out.setdefault(name, []).append(per_call_ns(stmt, READS, x=x))
    return {name: min(v) for name, v in out.items()}, desk._objects.PATH


def child(case, n):
    if case == "probe":
        application()
        shown_tree(desk_module())
        print(json.dumps({}))
        return
    if case == "reads":
        figures, path = run_reads()
        print(json.dumps({"reads": figures, "path": path}))
        return
    if case == "pyqt":
        add, find, remove, path = run_pyqt(n)
    else:
        add, find, remove, path = run_desk(n, inline=case.endswith("inline"))
    print(json.dumps({"add": add, "find": find, "remove": remove, "path": path}))


def spawn(case, n, pure=False):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    if pure:
        env["DESK_PYTHON_PURE"] = "1"
    run = subprocess.run([sys.executable, os.path.abspath(__file__), "--child", case, str(n)], env=env,
                         capture_output=True, text=True, timeout=1800)
    if run.returncode != 0 and not run.stdout.strip():
        raise RuntimeError("%s %d failed: %s" % (case, n, run.stderr[-2000:]))
    return json.loads(run.stdout.strip().splitlines()[-1])


def spawn_probe():
    """Why this run cannot measure (no PyQt6, no Qt platform), or None."""
    try:
        spawn("probe", 0)
    except RuntimeError as e:
        return str(e).strip().splitlines()[-1]
    return None


def main():
    if sys.argv[1:2] == ["--child"]:
        child(sys.argv[2], int(sys.argv[3]))
        return
    out = sys.argv[1]
    missing = spawn_probe()
    if missing:
        # No figures rather than a failed run: report.py says they were not measured.
        print("not measured: " + missing)
        write(out, [], not_measured=missing)
        return
    # (benchmark name, case, on the ctypes path)
    cases = [("BM_PyQt6TreeWidgetDictAddFindRemove", "pyqt", False),
             ("BM_PyDeskAddFindRemove", "desk", False),
             ("BM_PyDeskInlineAddFindRemove", "desk-inline", False),
             ("BM_PyDeskCtypesAddFindRemove", "desk", True)]
    rows = []
    paths = set()
    for n in SIZES:
        runs = {name: [] for name, _, _ in cases}
        for _ in range(REPEATS):
            for name, case, pure in cases:
                r = spawn(case, n, pure)
                runs[name].append(r)
                if case != "pyqt" and not pure:
                    paths.add(r["path"])
        for name, _, _ in cases:
            median = sorted(runs[name], key=lambda r: r["add"] + r["find"] + r["remove"])[len(runs[name]) // 2]
            total = median["add"] + median["find"] + median["remove"]
            rows.append(row("%s/%d/manual_time" % (name, n), total * 1e9, add_ms=median["add"] * 1e3,
                            find_ms=median["find"] * 1e3, remove_ms=median["remove"] * 1e3,
                            items_per_second=n / total))
            print("%-45s %8.3f s  (add %.3f, find %.3f, remove %.3f)" % (
                rows[-1]["name"], total, median["add"], median["find"], median["remove"]), flush=True)
    reads = spawn("reads", 0)
    paths.add(reads["path"])
    for name, ns in reads["reads"].items():
        rows.append(row(name, ns, READS))
        print("%-45s %8.0f ns" % (name, ns))
    write(out, rows, desk_python_path=sorted(paths))


if __name__ == "__main__":
    main()
