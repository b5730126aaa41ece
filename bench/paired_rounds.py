#!/usr/bin/python3
"""Paired, interleaved rounds of the Qt tree programs' child runs, for a machine shared with
other work: each round runs the control and its baselines back to back (in a rotating order),
so that a burst of load falls on both sides of a ratio; the medians over the rounds are
printed with the ratio of each round's pair, and the control's growth from the smaller size to
the larger (the ratio of its medians).

    paired_rounds.py BUILD_DIR [--rounds N] [--only grid|wide|wide-drawn|wide-viewed|actions|keyed|keyed-shuffled] [--window WxH]

The child runs are those the benchmarks make (--child=IMPL:SHAPE:N for qt_tree_scale_bench,
--child=IMPL:N for qt_tree_bench); each prints its phase times and its peak RSS in KiB.
"""
import argparse
import os
import statistics
import subprocess

# (case, program, [(impl, job)], phase names, size)
CASES = [
    ("grid", "qt_tree_scale_bench", "{impl}:grid:{n}", ["control", "treewidget"],
     ["build_ms", "expand_all_ms", "collapse_all_ms", "clear_ms"], [100, 1000]),
    ("wide", "qt_tree_scale_bench", "{impl}:wide:{n}", ["control", "treewidget"],
     ["build_ms", "remove_first_ms", "expand_ms", "remove_first_shown_ms", "remove_middle_shown_ms",
      "remove_last_shown_ms"], [100000, 1000000]),
    # The same with the parent drawn on screen before its children come.
    ("wide-drawn", "qt_tree_scale_bench", "{impl}:wide-drawn:{n}", ["control", "treewidget"],
     ["build_ms", "remove_first_ms", "expand_ms", "remove_first_shown_ms", "remove_middle_shown_ms",
      "remove_last_shown_ms"], [100000, 1000000]),
    # The same, drawn in a second view over the model as well: every child is announced to it.
    ("wide-viewed", "qt_tree_scale_bench", "{impl}:wide-viewed:{n}", ["control", "treewidget"],
     ["build_ms", "remove_first_ms", "expand_ms", "remove_first_shown_ms", "remove_middle_shown_ms",
      "remove_last_shown_ms"], [100000, 1000000]),
    ("actions", "qt_tree_scale_bench", "{impl}:actions:{n}", ["control", "treewidget"],
     ["click_ms", "down_ms", "end_ms", "home_ms", "page_down_ms", "select_middle_ms", "rename_ms",
      "collapse_ms", "remove_parent_ms"], [100000, 1000000]),
    # "floor": the least any keyed store does (a bare hash table of heap objects the size of the
    # control's nodes, no GUI): its growth is what the machine's caches charge for the pattern.
    ("keyed", "qt_tree_bench", "{impl}:{n}", ["control", "treewidget", "floor"],
     ["add_ms", "find_ms", "remove_ms", "slowest_remove_ms"], [100000, 1000000]),
    # Found and removed in a shuffled order: each look-up lands where the caches have not been.
    ("keyed-shuffled", "qt_tree_bench", "{impl}:{n}:shuffled", ["control", "treewidget", "floor"],
     ["add_ms", "find_ms", "remove_ms", "slowest_remove_ms"], [100000, 1000000]),
]


def run(path, job):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([path, "--child=" + job], env=env, capture_output=True, text=True, check=True).stdout
    return [float(x) for x in out.split()]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--only", choices=[c[0] for c in CASES])
    ap.add_argument("--window", help="the windows' size, WxH (400x300 by default)")
    args = ap.parse_args()
    if args.window:
        os.environ["DESK_BENCH_WINDOW"] = args.window
    print("load average at start:", " ".join(f"{x:.2f}" for x in os.getloadavg()))
    for case, program, job, impls, phases, sizes in CASES:
        if args.only and case != args.only:
            continue
        path = os.path.join(args.build, "bench", program)
        medians = {}  # size -> impl -> the median of each phase
        # Each round runs both sizes, so that the machine's drift over the run falls on both
        # sides of the growth as well as of the ratios.
        runs = {n: {i: [] for i in impls} for n in sizes}
        for r in range(args.rounds):
            order = impls[r % len(impls):] + impls[:r % len(impls)]
            for n in sizes:
                for impl in order:
                    runs[n][impl].append(run(path, job.format(impl=impl, n=n)))
        for n in sizes:
            got = runs[n]
            names = phases + (["total_ms"] if case.startswith("keyed") else []) + ["peak_rss_MB"]
            rows = {}
            for impl in impls:
                rounds = []
                for v in got[impl]:
                    # The total is of the phases, not of the slowest single step among them.
                    steps = [x for name, x in zip(phases, v) if not name.startswith("slowest")]
                    t = v[:len(phases)] + ([sum(steps)] if case.startswith("keyed") else []) + [v[-1] / 1024]
                    rounds.append(t)
                rows[impl] = rounds
            print(f"\n{case} {n} ({args.rounds} rounds, medians; ratio = median of the rounds' control/baseline)")
            base = impls[1]
            for k, name in enumerate(names):
                meds = {i: statistics.median(r[k] for r in rows[i]) for i in impls}
                for i in impls:
                    medians.setdefault(n, {}).setdefault(i, {})[name] = meds[i]
                ratios = [a[k] / b[k] for a, b in zip(rows["control"], rows[base]) if b[k] > 0]
                ratio = statistics.median(ratios) if ratios else float("nan")
                spread = f"{min(ratios):.2f}-{max(ratios):.2f}" if ratios else ""
                others = "".join(f"  {i} {meds[i]:10.3f}" for i in impls[2:])
                print(f"  {name:24s} control {meds['control']:10.3f}  {base} {meds[base]:10.3f}  "
                      f"ratio {ratio:.3f} ({spread}){others}")
        small, large = sizes
        print(f"\n{case}: growth, median at {large} over median at {small} (the baselines' beside it)")
        for name in names[:-1]:
            grow = [medians[large][i][name] / medians[small][i][name] if medians[small][i][name] > 0 else float("nan")
                    for i in impls]
            print(f"  {name:24s} " + "  ".join(f"{i} {g:.2f}" for i, g in zip(impls, grow)))
    print("\nload average at end:", " ".join(f"{x:.2f}" for x in os.getloadavg()))


if __name__ == "__main__":
    main()
