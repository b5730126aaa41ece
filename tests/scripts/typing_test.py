"""The desk package's stubs against the package and the examples, through mypy --strict:

- every public name of the package is declared in its stub, each function with its arguments;
- the examples and the stubs check with no error;
- an example-like host that misspells a member, writes a value of the wrong type or calls a
  method with a wrong argument is reported at each of those lines, and nowhere else.

    python3 typing_test.py SOURCE_DIR CACHE_DIR [PYRIGHT]

The same checks run with pyright (strict) too where PYRIGHT names it. Exits 77 (skipped) where mypy
is not installed for this Python.
"""
import ast
import inspect
import json
import os
import re
import subprocess
import sys
import tempfile

try:
    from mypy import api
except ImportError:
    print("mypy is not installed for %s: skipped" % sys.executable)
    sys.exit(77)

SOURCE, CACHE = os.path.abspath(sys.argv[1]), sys.argv[2]
PYRIGHT = sys.argv[3] if len(sys.argv) > 3 and os.path.exists(sys.argv[3]) else None  # optional
PYTHON = os.path.join(SOURCE, "python")
EXAMPLES = [os.path.join(SOURCE, "examples", f) for f in sorted(os.listdir(os.path.join(SOURCE, "examples")))
            if f.endswith(".py")]
STUBS = [os.path.join(PYTHON, "desk", f) for f in ("__init__.pyi", "typelib.pyi", "treeview_widget.pyi")]

# Each line that must be reported ends with "# error: <what mypy says>"; no other line may be.
FAULTY_HOST = '''\
from typing import Final
import desk
from desk.treeview_widget import VarbelTreeviewWidget

TREE: Final = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
IMAGE_LIST: Final = "{54DB11E5-373F-4255-8B48-D0C961FAE634}"

tree = desk.CreateObject(TREE)
tree.PathSeparator = "/"
tree.PathSeperator = "/"  # error: has no attribute "PathSeperator"
tree.Indentation = "wide"  # error: Incompatible types in assignment
tree.Sorted = True
tree.Nodes.Add(Key="a", Text="A")
tree.PopUpMenus.Add("open", "Open")
tree.PopUpMenus.Ad("open", "Open")  # error: has no attribute "Ad"
count: int = tree.PopUpMenus.Count
tree.TextWidth(42)  # error: incompatible type "int"; expected "str"
images = desk.CreateObject(IMAGE_LIST)
images.Fill()
ready: str = images.IsReady()  # error: Incompatible types in assignment
by_name = desk.CreateObject("VarbelTreeview.VarbelTreeviewControl")
by_name.Refresh()
by_name.Refresh(1)  # error: Too many arguments


def form(widget: VarbelTreeviewWidget) -> None:
    widget.setPathSeparator("/")
    widget.setIndentation("wide")  # error: incompatible type "str"; expected "float"
    widget.control().Sorted = True
    widget.control().Sortd = True  # error: has no attribute "Sortd"
'''


def mypy(*paths):
    out, err, status = api.run(["--strict", "--cache-dir", CACHE, "--no-error-summary", "--show-error-codes",
                                *paths])
    return status, [line for line in (out + err).splitlines() if ": error:" in line]


def pyright(tmp, *paths):
    """pyright's errors (strict) as (file name, line, text)."""
    config = os.path.join(tmp, "pyrightconfig.json")
    with open(config, "w") as f:
        # desk.typelib has no module behind it on purpose: annotations only.
        json.dump({"extraPaths": [PYTHON], "typeCheckingMode": "strict", "reportMissingModuleSource": False}, f)
    run = subprocess.run([PYRIGHT, "-p", config, "--pythonpath", sys.executable, "--outputjson", *paths],
                         capture_output=True, text=True, timeout=240)
    try:
        report = json.loads(run.stdout)
    except ValueError:
        return [("pyright", 0, "no report: %s %s" % (run.stdout[-500:], run.stderr[-500:]))]
    return [(os.path.basename(d["file"]), d["range"]["start"]["line"] + 1, d["message"].splitlines()[0])
            for d in report["generalDiagnostics"] if d["severity"] == "error"]


def stub_names(path):
    """The names a stub module defines or re-exports at its top level."""
    names = set()
    for node in ast.parse(open(path).read()).body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
        elif isinstance(node, ast.ImportFrom):
            names.update(a.asname for a in node.names if a.asname == a.name)
    return names


def main():
    os.environ["MYPYPATH"] = PYTHON
    failures = []

    # The stub is what a type checker sees of the package: every public name of the package's own
    # (its __all__, and the ERR_ constants) is in it, so that a name added to the package and not
    # to the stub fails here rather than in a user's type check.
    sys.path.insert(0, PYTHON)
    import desk
    public = set(desk.__all__) | {n for n in dir(desk) if n.startswith("ERR_")}
    missing = sorted(public - stub_names(STUBS[0]))
    if missing:
        failures.append("desk exports names its stub does not declare: %s" % ", ".join(missing))
    # ... and each of its functions takes the arguments the stub says, by the same names.
    for node in ast.parse(open(STUBS[0]).read()).body:
        function = getattr(desk, node.name, None) if isinstance(node, ast.FunctionDef) else None
        if function is None or not inspect.isfunction(function):
            continue
        stub_args = [a.arg for a in node.args.args] + (["*" + node.args.vararg.arg] if node.args.vararg else [])
        real = inspect.signature(function).parameters.values()
        real_args = [("*" if p.kind == p.VAR_POSITIONAL else "") + p.name for p in real]
        if stub_args != real_args:
            failures.append("desk.%s takes (%s), its stub says (%s)" % (node.name, ", ".join(real_args),
                                                                          ", ".join(stub_args)))

    status, errors = mypy(*EXAMPLES, *STUBS)
    if status != 0 or errors:
        failures.append("the examples and stubs are not clean under mypy --strict:\n  " + "\n  ".join(errors))

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "faulty_host.py")
        with open(path, "w") as f:
            f.write(FAULTY_HOST)
        _, errors = mypy(path)
    expected = {n: line.split("# error: ")[1] for n, line in enumerate(FAULTY_HOST.splitlines(), 1)
                if "# error: " in line}
    reported = {}
    for line in errors:
        m = re.match(r".*faulty_host\.py:(\d+): error: (.*)", line)
        if m:
            reported.setdefault(int(m.group(1)), []).append(m.group(2))
    for n, what in expected.items():
        if not any(what in text for text in reported.get(n, [])):
            failures.append("line %d of the faulty host is not reported as %r (mypy: %s)" % (n, what, reported.get(n)))
    for n in sorted(set(reported) - set(expected)):
        failures.append("line %d of the faulty host is reported, wrongly: %s" % (n, reported[n]))

    # The same with pyright, where it is installed (a test-only tool from the npm registry): the
    # examples and stubs clean, and an error on each faulty line of the host and on no other.
    checked = "mypy"
    if PYRIGHT:
        checked += " and pyright"
        with tempfile.TemporaryDirectory() as tmp:
            errors = pyright(tmp, *EXAMPLES, *STUBS)
            if errors:
                failures.append("the examples and stubs are not clean under pyright:\n  " +
                                "\n  ".join("%s:%d: %s" % e for e in errors))
            path = os.path.join(tmp, "faulty_host.py")
            with open(path, "w") as f:
                f.write(FAULTY_HOST)
            lines = {line for name, line, _ in pyright(tmp, path) if name == "faulty_host.py"}
        if lines != set(expected):
            failures.append("pyright reports the faulty host's lines %s, not %s" % (sorted(lines), sorted(expected)))

    for f in failures:
        print("FAIL:", f)
    print("%d examples and %d stubs checked by %s; %d faults in the faulty host, %d reported by mypy" %
          (len(EXAMPLES), len(STUBS), checked, len(expected), sum(n in reported for n in expected)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
