#!/usr/bin/env python3
"""Writes bench/REPORT.md from the JSON outputs of one run of the benchmark programs.

Each figure is a ratio: a benchmark's time against its baseline's time, both measured in the
same run, paired by their arguments ("BM_A/10000" with "BM_B/10000"). A figure whose
benchmarks are not in the run says so instead of a number.

Usage: report.py RESULTS_DIR OUTPUT.md
"""
import json
import os
import platform
import re
import sys
from datetime import datetime, timezone

# (figure, program, benchmark pattern, baseline name, baseline pattern[, counter]). Patterns
# match the benchmark's name without its "/args" suffix. With a counter the ratio is of that
# counter (peak RSS, say) instead of the time. A new benchmark program gets its figure here.
FIGURES = [
    ("Qt platform: keyed nodes added, found by key, removed through dispatch (total time)", "qt_tree_bench",
     r"BM_QtControlAddFindRemove", "QTreeWidget + QHash", r"BM_QTreeWidgetQHashAddFindRemove"),
    ("Qt platform: the same, peak RSS", "qt_tree_bench",
     r"BM_QtControlAddFindRemove", "QTreeWidget + QHash", r"BM_QTreeWidgetQHashAddFindRemove", "peak_rss_MB"),
    ("Find by key: Invoke(Nodes.Item, key)", "qt_tree_bench",
     r"BM_InvokeNodesItemByKey", "QHash::value", r"BM_QHashValue"),
    ("Download throughput: GetUrlContent of a 64 MiB body", "webimagelist_bench",
     r"BM_DownloadGetUrlContent", "the curl command line", r"BM_DownloadCurlCommandLine"),
    ("Fill of cached pictures", "webimagelist_bench",
     r"BM_FillCached", "decoding the same files directly", r"BM_DecodeDirectly"),
    ("Fill of 200 cached 4000x3000 JPEG photos into a 64x48 list", "picture_fill_bench",
     r"BM_FillLargeJpegs", "decoding them in full", r"BM_DecodeLargeJpegsInFull"),
    ("Fill of 12 photos over a link of limited speed a connection (Qt, offscreen, a window kept painting)",
     "network_fill_bench", r"BM_FillOverLink",
     "curl --parallel --parallel-immediate --parallel-max 6 on the same URLs", r"BM_CurlParallel"),
    ("Fill of 200 camera photos from the cache, no smaller picture first", "photo_fill_bench",
     r"BM_FillFromCache", "djpeg decoding the same files in full", r"BM_DjpegInFull"),
    ("Fill of 200 camera photos from a local server, no smaller picture first", "photo_fill_bench",
     r"BM_FillFromServer", "djpeg decoding the same files in full", r"BM_DjpegInFull"),
    ("Fill of 200 camera photos from the cache after a 64x48 picture", "photo_fill_bench",
     r"BM_FillAfterASmallPicture", "djpeg decoding the same files in full", r"BM_DjpegInFull"),
    ("Fill of 200 small pictures over HTTPS from a local TLS server", "picture_fill_bench",
     r"BM_FillOverHttps", "the curl command line fetching the same 200 URLs in one run", r"BM_CurlCommandLineHttps"),
    ("Type-ahead, one key at 100,100 rows shown, second class (Qt, offscreen)", "tree_ex_qt_bench",
     r"BM_TypeAheadEx", "the default class, QTreeView::keyboardSearch", r"BM_TypeAheadDefaultClass"),
    ("RestoreViewState of 1,000 expanded nodes at 1,000,000 nodes", "selection_bench",
     r"BM_RestoreViewState1000", "Nodes.Item(key) + Node.Expanded = True by dispatch",
     r"BM_ExpandOneByOne1000"),
    ("PopUpMenus.Add (then Clear)", "popupmenus_bench",
     r"BM_PopUpMenusAddThenClear", "the plain keyed Collection.Add", r"BM_CollectionAddThenClear"),
    ("Typed C++ call control->GetSorted() (forwarded to the tree)", "dispatch_bench",
     r"BM_TypedGetSorted", "a plain member read", r"BM_PlainMemberRead"),
    ("Invoke(Sorted, Get) by member id", "dispatch_bench",
     r"BM_InvokeGetSorted", "the typed C++ call", r"BM_TypedGetSorted"),
    ("Invoke(Sorted, Get) by member id", "dispatch_bench",
     r"BM_InvokeGetSorted", "a plain member read", r"BM_PlainMemberRead"),
    ("Invoke(Sorted, Get) by member id", "dispatch_bench",
     r"BM_InvokeGetSorted", "Invoke of a property stored in the control", r"BM_InvokeGetBackStyle"),
    ("Invoke(BackStyle, Get) by member id (stored in the control)", "dispatch_bench",
     r"BM_InvokeGetBackStyle", "a plain member read", r"BM_PlainMemberRead"),
    ("Late binding by name (Sorted)", "dispatch_bench",
     r"BM_CallByNameGetSorted", "Invoke by member id", r"BM_InvokeGetSorted"),
    ("Persistence cycle through a file (WriteProperties, save, load, ReadProperties)", "persistence_bench",
     r"BM_CycleThroughFile", "a bare JSON parse of the file", r"BM_BareParseOfTheFile"),
    ("Persistence cycle in memory", "persistence_bench",
     r"BM_CycleInMemory", "a bare JSON parse of the file", r"BM_BareParseOfTheFile"),
    ("C interface: desk_get(BackStyle)", "capi_bench",
     r"BM_CApiGetBackStyle", "the C++ Invoke", r"BM_InvokeGetBackStyle"),
    ("C interface: desk_invoke(BackStyle, GET)", "capi_bench",
     r"BM_CApiInvokeGetBackStyle", "the C++ Invoke", r"BM_InvokeGetBackStyle"),
    ("C interface: desk_get(BackStyle), the Integer cleared anyway", "capi_bench",
     r"BM_CApiGetBackStyleAlwaysClear", "the C++ Invoke", r"BM_InvokeGetBackStyle"),
    ("C interface: desk_invoke(BackStyle, GET), the Integer cleared anyway", "capi_bench",
     r"BM_CApiInvokeGetBackStyleAlwaysClear", "the C++ Invoke", r"BM_InvokeGetBackStyle"),
    ("C interface: desk_get(Sorted), forwarded to the tree", "capi_bench",
     r"BM_CApiGetSorted", "the C++ Invoke", r"BM_InvokeGetSorted"),
    ("C interface: desk_get(PathSeparator), a string copied out", "capi_bench",
     r"BM_CApiGetPathSeparator", "the C++ Invoke", r"BM_InvokeGetPathSeparator"),
    ("Python: tree.BackStyle", "capi_python_bench",
     r"BM_PythonGetBackStyle", "the bare ctypes call of desk_get", r"BM_CtypesDeskGetBackStyle"),
    ("Qt platform, [R] roots x 1,000 children built through Nodes.Add (children by the parent's key)",
     "qt_tree_scale_bench", r"BM_ControlGrid", "QTreeView over a minimal model + QHash", r"BM_QTreeViewModelGrid",
     "build_ms"),
    ("Qt platform, every root of that grid expanded", "qt_tree_scale_bench", r"BM_ControlGrid",
     "QTreeView over a minimal model", r"BM_QTreeViewModelGrid", "expand_all_ms"),
    ("Qt platform, every root of that grid collapsed", "qt_tree_scale_bench", r"BM_ControlGrid",
     "QTreeView over a minimal model", r"BM_QTreeViewModelGrid", "collapse_all_ms"),
    ("Qt platform, that grid cleared", "qt_tree_scale_bench", r"BM_ControlGrid",
     "QTreeView over a minimal model", r"BM_QTreeViewModelGrid", "clear_ms"),
    ("Qt platform, one root of [N] children built", "qt_tree_scale_bench", r"BM_ControlWide",
     "QTreeView over a minimal model + QHash", r"BM_QTreeViewModelWide", "build_ms"),
    ("Qt platform, the first of N children removed", "qt_tree_scale_bench", r"BM_ControlWide",
     "QTreeView over a minimal model", r"BM_QTreeViewModelWide", "remove_first_ms"),
    ("RestoreViewState against expanding one by one, taking turns (wall)", "selection_bench",
     r"BM_RestoreAgainstOneByOne1000", "ratio", 1.0, "x"),
    ("RestoreViewState against expanding one by one, taking turns (thread CPU)", "selection_bench",
     r"BM_RestoreAgainstOneByOne1000", "ratio_cpu", 1.0, "x"),
    ("Longest unpainted gap, children added 200 ms after Expand at 1,000,000 rows (Qt, offscreen)",
     "tree_ex_qt_bench", r"BM_ChildrenOnDemandUnpainted", "longest_unpainted_ms", 50, "ms"),
    ("Slowest key of the second class's type-ahead at 100,100 rows (Qt, offscreen)", "tree_ex_qt_bench",
     r"BM_TypeAheadEx", "max_ms", 5, "ms"),
    ("Qt platform, the root of N children expanded", "qt_tree_scale_bench", r"BM_ControlWide",
     "QTreeView over a minimal model", r"BM_QTreeViewModelWide", "expand_ms"),
    ("Qt platform, the first of N children removed while they are shown", "qt_tree_scale_bench", r"BM_ControlWide",
     "QTreeView over a minimal model", r"BM_QTreeViewModelWide", "remove_first_shown_ms"),
    ("Python on the ctypes path (DESK_PYTHON_PURE=1), Qt platform: keyed nodes added, found, removed",
     "pyqt_python_bench", r"BM_PyDeskCtypesAddFindRemove", "PyQt6: QTreeWidget + dict",
     r"BM_PyQt6TreeWidgetDictAddFindRemove"),
]

# (goal, program, benchmark pattern, baseline name, baseline pattern, at most this ratio[,
# counter]): figures bound by their ratio to a baseline from the same run (of a counter's values
# when one is named).
RATIO_GOALS = [
    ("Qt platform: [N] keyed roots added, found by key, removed (total time; the goal is at 1,000,000)", "qt_tree_bench",
     r"BM_QtControlAddFindRemove", "QTreeWidget + QHash", r"BM_QTreeWidgetQHashAddFindRemove", 0.7),
    ("Qt platform: the same, peak RSS (the goal is at 1,000,000)", "qt_tree_bench",
     r"BM_QtControlAddFindRemove", "QTreeWidget + QHash", r"BM_QTreeWidgetQHashAddFindRemove", 0.6, "peak_rss_MB"),
    ("Qt platform, [R] roots x 1,000 children built through Nodes.Add (the goals are at R = 1,000)", "qt_tree_scale_bench",
     r"BM_ControlGrid", "QTreeWidget + QHash", r"BM_QTreeWidgetGrid", 0.8, "build_ms"),
    ("Qt platform, every root expanded", "qt_tree_scale_bench",
     r"BM_ControlGrid", "QTreeWidget", r"BM_QTreeWidgetGrid", 0.7, "expand_all_ms"),
    ("Qt platform, every root collapsed", "qt_tree_scale_bench",
     r"BM_ControlGrid", "QTreeWidget", r"BM_QTreeWidgetGrid", 0.1, "collapse_all_ms"),
    ("Qt platform, everything cleared", "qt_tree_scale_bench",
     r"BM_ControlGrid", "QTreeWidget", r"BM_QTreeWidgetGrid", 0.5, "clear_ms"),
    ("Qt platform, one root of [N] children built (the goal is at N = 1,000,000)", "qt_tree_scale_bench",
     r"BM_ControlWide", "QTreeWidget + QHash", r"BM_QTreeWidgetWide", 0.8, "build_ms"),
    ("Qt platform, the first of N children removed while they are shown", "qt_tree_scale_bench",
     r"BM_ControlWide", "QTreeWidget", r"BM_QTreeWidgetWide", 1.0, "remove_first_shown_ms"),
    ("Filter keystroke at a million nodes, 95th percentile (args: shape, matches per thousand)", "filter_bench",
     r"BM_ControlFilter", "QSortFilterProxyModel, recursive, over a QStandardItemModel", r"BM_ProxyFilter", 0.5,
     "keystroke_p95_ms"),
    ("Filter cleared at a million nodes, 95th percentile", "filter_bench",
     r"BM_ControlFilter", "QSortFilterProxyModel, recursive, over a QStandardItemModel", r"BM_ProxyFilter", 1.0,
     "clear_p95_ms"),
    ("Python, Qt platform: keyed nodes added, found by key, removed (Nodes held)", "pyqt_python_bench",
     r"BM_PyDeskAddFindRemove", "PyQt6: QTreeWidget + dict", r"BM_PyQt6TreeWidgetDictAddFindRemove", 1.5),
    ("Python, Qt platform: the same with tree.Nodes written in each call", "pyqt_python_bench",
     r"BM_PyDeskInlineAddFindRemove", "PyQt6: QTreeWidget + dict", r"BM_PyQt6TreeWidgetDictAddFindRemove", 1.5),
    ("Python: node.Text", "pyqt_python_bench",
     r"BM_PyDeskNodeText", "PyQt6: QTreeWidgetItem.text(0)", r"BM_PyQt6ItemText0", 2),
    ("Python: tree.Sorted", "pyqt_python_bench",
     r"BM_PyDeskTreeSorted", "PyQt6: QTreeWidget.isSortingEnabled()", r"BM_PyQt6IsSortingEnabled", 2),
]

# (goal, program, benchmark pattern, at most this many ns): figures with an absolute bound.
GOALS = [
    ("Invoke of a forwarded property (Sorted, Get)", "dispatch_bench", r"BM_InvokeGetSorted", 30),
    ("HitTest of the last row, headless tree", "tree_bench", r"BM_HitTestLastRow", 1000),
    ("Expand a node of 100,000 children among 1,000,000 nodes (Qt, offscreen)", "qt_tree_bench",
     r"BM_ExpandNodeOf100kChildren", 100e6),
    ("Scroll to the end of 1,000,000 rows (Qt, offscreen)", "qt_tree_bench", r"BM_ScrollToEnd", 100e6),
    ("Type-ahead, one key at 100,100 rows shown, second class (Qt, offscreen)", "tree_ex_qt_bench",
     r"BM_TypeAheadEx", 5e6),
    ("Python: tree.BackStyle (ids cached per class)", "capi_python_bench", r"BM_PythonGetBackStyle", 5000),
    ("Python: tree.Sorted (ids cached per class)", "capi_python_bench", r"BM_PythonGetSorted", 5000),
    ("Python: tree.PathSeparator (ids cached per class)", "capi_python_bench", r"BM_PythonGetPathSeparator", 5000),
]

# (goal, program, benchmark pattern, counter, at most, unit): goals on a counter a benchmark
# reports (a paired ratio, a gap, a share of a memory budget), one line per matching row.
COUNTER_GOALS = [
    ("Qt platform, the first of N children removed", "qt_tree_scale_bench", r"BM_ControlWide",
     "remove_first_ms", 1, "ms"),
    ("Qt platform, the first of N children removed while they are shown", "qt_tree_scale_bench", r"BM_ControlWide",
     "remove_first_shown_ms", 1, "ms"),
    ("Qt platform, the root of N children expanded", "qt_tree_scale_bench", r"BM_ControlWide", "expand_ms", 100, "ms"),
    ("Filter keystroke at a million nodes, 95th percentile (Qt, offscreen, view shown)", "filter_bench",
     r"BM_ControlFilter", "keystroke_p95_ms", 50, "ms"),
    ("Longest unpainted gap during a Fill of 12 photos over a limited link", "network_fill_bench",
     r"BM_FillOverLink", "longest_unpainted_ms", 50, "ms"),
    ("That Fill's time against curl --parallel-max 6, median of paired rounds", "network_fill_bench",
     r"BM_FillOverLink", "paired_ratio_to_curl", 1.3, "x"),
    ("Fill of 200 camera photos against djpeg in full, median of paired rounds", "photo_fill_bench",
     r"BM_Fill\w*", "paired_ratio_to_djpeg", 0.35, "x"),
    ("Peak RSS of that Fill against 1.5x the photos' bytes + 100 MB", "photo_fill_bench",
     r"BM_Fill\w*", "peak_share_of_budget", 1.0, "x"),
]

# (goal, program, benchmark pattern, counters, smaller argument, larger argument, at most): how a
# counter grows between two sizes of the same benchmark.
SCALE_GOALS = [
    ("Qt platform, 1,000-children grid, 1,000 roots against 100", "qt_tree_scale_bench", r"BM_ControlGrid",
     ("build_ms", "expand_all_ms", "collapse_all_ms", "clear_ms"), "100", "1000", 12),
    ("Qt platform, one root of 1,000,000 children against 100,000", "qt_tree_scale_bench", r"BM_ControlWide",
     ("build_ms", "remove_first_ms", "expand_ms", "remove_first_shown_ms"), "100000", "1000000", 12),
    ("Qt platform, keyed roots, 1,000,000 against 100,000", "qt_tree_bench", r"BM_QtControlAddFindRemove",
     ("add_ms", "find_ms", "remove_ms"), "100000", "1000000", 12),
]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(results_dir):
    """{program: [benchmark rows]} and the context of the first file."""
    runs, context = {}, None
    for name in sorted(os.listdir(results_dir)):
        if not name.endswith(".json"):
            continue
        with open(os.path.join(results_dir, name)) as f:
            data = json.load(f)
        context = context or data.get("context")
        rows = [b for b in data.get("benchmarks", []) if b.get("run_type", "iteration") == "iteration"
                and not b.get("error_occurred")]
        runs[name[:-5]] = rows
    return runs, context


def split(name):
    """The benchmark's name and its arguments, without the run settings that Google Benchmark
    appends ("iterations:7", "manual_time"), so that a figure and its baseline pair up."""
    base, *rest = name.split("/")
    args = [a for a in rest if ":" not in a and a not in ("manual_time", "real_time", "process_time")]
    return base, "/".join(args)


def time_ns(row):
    return row["real_time"] * UNIT_NS.get(row.get("time_unit", "ns"), 1.0)


def fmt_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def paired(runs, program, pat, base_pat):
    """[(args, row, baseline row)] of a program's run, or the reason there are none."""
    rows = runs.get(program)
    if rows is None:
        return f"not measured: {program} is not built in this run"
    measured = {split(r["name"])[1]: r for r in rows if re.fullmatch(pat, split(r["name"])[0])}
    baseline = {split(r["name"])[1]: r for r in rows if re.fullmatch(base_pat, split(r["name"])[0])}
    pairs = [(a, measured[a], baseline[a]) for a in measured if a in baseline]
    return pairs or f"not measured: no matching benchmarks in {program}"


def versus(m, b):
    return f"`{m['name']}` {fmt_time(time_ns(m))} vs `{b['name']}` {fmt_time(time_ns(b))}"


def figure_rows(runs):
    out = []
    for title, program, pat, base_name, base_pat, *counter in FIGURES:
        pairs = paired(runs, program, pat, base_pat)
        if isinstance(pairs, str):
            out.append((title, base_name, None, pairs))
            continue
        for args, m, b in pairs:
            label = f"{title} [{args}]" if args else title
            if counter:
                c = counter[0]
                if c not in m or c not in b:
                    out.append((label, base_name, None, f"not measured: no counter {c}"))
                    continue
                out.append((label, base_name, m[c] / b[c],
                            f"`{m['name']}` {m[c]:.4g} {c} vs `{b['name']}` {b[c]:.4g} {c}"))
                continue
            out.append((label, base_name, time_ns(m) / time_ns(b), versus(m, b)))
    return out


def ratio_goal_rows(runs):
    out = []
    for title, program, pat, base_name, base_pat, bound, *counter in RATIO_GOALS:
        pairs = paired(runs, program, pat, base_pat)
        if isinstance(pairs, str):
            out.append((title, base_name, f"{bound:g}", "—", pairs))
            continue
        for args, m, b in pairs:
            label = f"{title} [{args}]" if args else title
            if counter:
                c = counter[0]
                if c not in m or c not in b:
                    out.append((label, base_name, f"{bound:g}", "—", f"not measured: no counter {c}"))
                    continue
                ratio = m[c] / b[c]
                detail = f"`{m['name']}` {m[c]:.4g} {c} vs `{b['name']}` {b[c]:.4g} {c}"
            else:
                ratio, detail = time_ns(m) / time_ns(b), versus(m, b)
            out.append((label, base_name, f"{bound:g}", f"{ratio:.2f}", ("yes" if ratio <= bound else "no") + "; " + detail))
    return out


def scale_goal_rows(runs):
    out = []
    for title, program, pat, names, small, large, bound in SCALE_GOALS:
        rows = {split(r["name"])[1]: r for r in runs.get(program, []) if re.fullmatch(pat, split(r["name"])[0])}
        for c in names:
            label = f"{title}: {c}"
            if small not in rows or large not in rows or c not in rows[small] or c not in rows[large]:
                out.append((label, f"{bound:g}", "—", "not measured"))
                continue
            ratio = rows[large][c] / max(rows[small][c], 1e-9)
            out.append((label, f"{bound:g}", f"{ratio:.2f}",
                        ("yes" if ratio <= bound else "no") + f"; {rows[large][c]:.4g} ms vs {rows[small][c]:.4g} ms"))
    return out


def goal_rows(runs):
    out = []
    for title, program, pat, bound in GOALS:
        rows = [r for r in runs.get(program, []) if re.fullmatch(pat, split(r["name"])[0])]
        if not rows:
            out.append((title, fmt_time(bound), "—", "not measured"))
        for r in rows:
            t = time_ns(r)
            out.append((f"{title} `{r['name']}`", fmt_time(bound), fmt_time(t), "yes" if t <= bound else "no"))
    return out


def counter_goal_rows(runs):
    out = []
    for title, program, pat, counter, bound, unit in COUNTER_GOALS:
        rows = [r for r in runs.get(program, []) if re.fullmatch(pat, split(r["name"])[0]) and counter in r]
        if not rows:
            out.append((title, f"{bound:g} {unit}", "—", "not measured"))
        for r in rows:
            v = r[counter]
            label = f" ({r['label']})" if r.get("label") else ""
            out.append((f"{title} `{r['name']}`{label}", f"{bound:g} {unit}", f"{v:.3g} {unit}",
                        "yes" if v <= bound else "no"))
    return out


def counters(row):
    skip = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
            "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit",
            "items_per_second", "bytes_per_second", "label", "error_occurred", "error_message"}
    return ", ".join(f"{k} {v:.4g}" for k, v in row.items() if k not in skip and isinstance(v, (int, float)))


def main():
    results_dir, output = sys.argv[1], sys.argv[2]
    runs, context = load(results_dir)
    context = context or {}
    lines = [
        "# Benchmark report",
        "",
        "Written by `scripts/bench.sh` from one run of every benchmark program (RelWithDebInfo build, -O2). Each figure",
        "is the time of an operation divided by the time of its baseline, measured in the same run: 1.0 is",
        "as fast as the baseline, 2.0 twice as slow.",
        "",
        f"- when: {datetime.now(timezone.utc).strftime('%Y-%m-%d %H:%M UTC')}",
        f"- machine: {context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz, "
        f"{platform.system()} {platform.release()}; load average at start {context.get('load_avg', '?')}",
        f"- programs: {', '.join(sorted(runs)) or 'none'}",
        "",
        "| figure | baseline | ratio | measured |",
        "|---|---|---:|---|",
    ]
    for label, base_name, ratio, detail in figure_rows(runs):
        r = f"{ratio:.2f}" if ratio is not None else "—"
        lines.append(f"| {label} | {base_name} | {r} | {detail} |")
    lines += ["", "## Goals against a baseline", "", "| goal | baseline | at most | ratio | met |",
              "|---|---|---:|---:|---|"]
    for row in ratio_goal_rows(runs):
        lines.append("| " + " | ".join(row) + " |")
    lines += ["", "## Growth goals: the larger size's figure over the smaller's", "",
              "| goal | at most | ratio | met |", "|---|---:|---:|---|"]
    for row in scale_goal_rows(runs):
        lines.append("| " + " | ".join(row) + " |")
    lines += ["", "## Absolute goals", "", "| goal | at most | measured | met |", "|---|---:|---:|---|"]
    for title, bound, measured, met in goal_rows(runs) + counter_goal_rows(runs):
        lines.append(f"| {title} | {bound} | {measured} | {met} |")
    lines += ["", "## Every measurement", "",
              "| program | benchmark | time per iteration | items/s | counters |", "|---|---|---:|---:|---|"]
    for program in sorted(runs):
        for r in runs[program]:
            ips = r.get("items_per_second")
            lines.append(f"| {program} | `{r['name']}` | {fmt_time(time_ns(r))} | "
                         f"{f'{ips:.3g}' if ips else ''} | {counters(r)} |")
    with open(output, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
