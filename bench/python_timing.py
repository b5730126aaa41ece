"""What the Python benchmark programs share: a statement timed per call as code written by hand
runs it, and their figures as Google Benchmark JSON rows, so that bench/report.py reads them with
the others."""
import json
import os
import statistics
import timeit


def per_call_ns(stmt, n=200000, repeats=5, **names):
    """The median over `repeats` runs of the time per run of `stmt`, run n times in a loop where
    `names` are local variables (as in a loop written by hand: no global look-up is timed)."""
    setup = "; ".join("%s = _%s" % (k, k) for k in names) or "pass"
    timer = timeit.Timer(stmt, setup, globals={"_" + k: v for k, v in names.items()})
    return statistics.median(timer.timeit(n) * 1e9 / n for _ in range(repeats))


def row(name, ns, iterations=1, **counters):
    """A Google Benchmark row of `ns` nanoseconds per iteration, with its counters."""
    r = {"name": name, "run_name": name, "run_type": "iteration", "iterations": iterations, "real_time": ns,
         "cpu_time": ns, "time_unit": "ns"}
    r.update(counters)
    return r


def write(path, rows, **context):
    context.update(num_cpus=os.cpu_count(), load_avg=list(os.getloadavg()), library_build_type="python")
    with open(path, "w") as f:
        json.dump({"context": context, "benchmarks": rows}, f, indent=1)
