#!/usr/bin/env python3
"""A property read from Python through the desk package (ids cached per class), against the bare
ctypes call of desk_get that any Python path over the C interface costs at least. Writes its
figures as Google Benchmark JSON, so that bench/report.py reads them with the others.

Usage: capi_python_bench.py OUTPUT.json     (the libraries on LD_LIBRARY_PATH)
"""
import ctypes
import json
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import desk  # noqa: E402
from desk import _c  # noqa: E402

TREE = "{D5CA163D-6878-4BD8-A144-A5E85A414594}"


def per_call_ns(fn, n=200000, repeats=5):
    """The median over `repeats` runs of the time per call of n calls."""
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter_ns()
        fn(n)
        times.append((time.perf_counter_ns() - t0) / n)
    return sorted(times)[len(times) // 2], n


def main():
    out = sys.argv[1]
    tree = desk.CreateObject(TREE)
    api = desk._lib()

    def attribute_backstyle(n):
        t = tree
        for _ in range(n):
            t.BackStyle

    def attribute_sorted(n):
        t = tree
        for _ in range(n):
            t.Sorted

    def attribute_pathseparator(n):
        t = tree
        for _ in range(n):
            t.PathSeparator

    h = tree._h
    bid = tree._member("BackStyle").id
    v = _c.Value()
    pv = ctypes.pointer(v)
    err = ctypes.pointer(_c.Error())

    def bare_ctypes_backstyle(n):
        get = api.get
        for _ in range(n):
            get(h, bid, pv, err)

    rows = []
    for name, fn in [("BM_PythonGetBackStyle", attribute_backstyle), ("BM_PythonGetSorted", attribute_sorted),
                     ("BM_PythonGetPathSeparator", attribute_pathseparator),
                     ("BM_CtypesDeskGetBackStyle", bare_ctypes_backstyle)]:
        ns, n = per_call_ns(fn)
        rows.append({"name": name, "run_name": name, "run_type": "iteration", "iterations": n, "real_time": ns,
                     "cpu_time": ns, "time_unit": "ns"})
        print("%-28s %8.0f ns" % (name, ns))
    context = {"num_cpus": os.cpu_count(), "load_avg": list(os.getloadavg()), "library_build_type": "python"}
    with open(out, "w") as f:
        json.dump({"context": context, "benchmarks": rows}, f, indent=1)


if __name__ == "__main__":
    main()
