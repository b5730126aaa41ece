#!/usr/bin/env python3
"""A property read from Python through the desk package (ids cached per class), against the bare
ctypes call of desk_get that any Python path over the C interface costs at least. Writes its
figures as Google Benchmark JSON, so that bench/report.py reads them with the others.

Usage: capi_python_bench.py OUTPUT.json     (the libraries on LD_LIBRARY_PATH)
"""
import ctypes
import os
import sys

from python_timing import per_call_ns, row, write

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import desk  # noqa: E402
from desk import _c  # noqa: E402

TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"
READS = 200000


def main():
    out = sys.argv[1]
    tree = desk.CreateObject(TREE)
    api = desk._lib()
    v = _c.Value()
    bare = dict(get=api.get, h=tree._h, bid=tree._member("BackStyle").id, pv=ctypes.pointer(v),
                err=ctypes.pointer(_c.Error()))
    rows = []
    for name, stmt, names in [("BM_PythonGetBackStyle", "t.BackStyle", dict(t=tree)),
                              ("BM_PythonGetSorted", "t.Sorted", dict(t=tree)),
                              ("BM_PythonGetPathSeparator", "t.PathSeparator", dict(t=tree)),
                              ("BM_CtypesDeskGetBackStyle", "get(h, bid, pv, err)", bare)]:
        ns = per_call_ns(stmt, READS, **names)
        rows.append(row(name, ns, READS))
        print("%-28s %8.0f ns" % (name, ns))
    write(out, rows)


if __name__ == "__main__":
    main()
