"""A Python host of the installed package: found in the prefix's Python folder, with the
libraries it loads found beside it in the prefix (no LD_LIBRARY_PATH), also the Qt backend when
the build has one. Prints what it found; exits non-zero when something is not so."""
import os
import sys

import desk

prefix = os.path.realpath(sys.argv[1])
with_qt = sys.argv[2] == "ON"
with_ext = sys.argv[3] == "ON"


def loaded_from_prefix(name):
    """Whether the library `name` is mapped into this process, and from the prefix."""
    with open("/proc/self/maps") as maps:
        paths = {line.split()[-1] for line in maps if name in line}
    return bool(paths) and all(os.path.realpath(p).startswith(prefix + os.sep) for p in paths)


assert os.path.realpath(desk.__file__).startswith(prefix + os.sep), desk.__file__
assert "LD_LIBRARY_PATH" not in os.environ
assert desk._objects.PATH == ("extension" if with_ext else "ctypes"), desk._objects.PATH
tree = desk.CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}")
tree.PathSeparator = "/"
tree.Nodes.Add(Key="a", Text="Installed")
print("python consumer: %s, %d node, separator %s, the %s path" % (
    desk.class_name("{D5CA163D-6878-4BD8-A144-A5E85A414594}"), tree.Nodes.Count, tree.PathSeparator, desk._objects.PATH))
for lib in ["libVarbelTreeview.so", "libDeskRuntime.so"]:
    assert loaded_from_prefix(lib), lib
if with_qt:
    del tree
    desk.use_platform("qt")  # libDeskQt, loaded on demand by the run-time, from the prefix too
    assert loaded_from_prefix("libDeskQt.so"), "libDeskQt.so"
    tree = desk.CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}")
    print("python consumer: the Qt platform, widget at %#x" % desk.widget_address(tree))
print("python consumer: the libraries came from the prefix")
