"""Shared timing for the per-call benchmarks.

Each row times our statement and each peer's statement in interleaved runs (so a burst of
load on this shared machine hits all of them alike) and reports median nanoseconds per call
and the ratio ours / peer (below 1.0: we are faster).
"""

import statistics
import sys
import time
import timeit

NUMBER = 200_000  # calls per run
RUNS = 7  # runs per statement


def per_call_ns(statements, namespace, number=NUMBER, runs=RUNS, run_seconds=0.02):
    """Median ns per call of each statement (None stays None), the statements interleaved.

    number=None sizes each statement's runs to about run_seconds (at least one call), for
    statements whose cost ranges from microseconds to tenths of a second."""
    timers = [timeit.Timer(s, globals=namespace, timer=time.perf_counter_ns) if s else None for s in statements]
    numbers = []
    for timer in timers:
        if timer is None:
            numbers.append(None)
        elif number is None:
            once = timer.timeit(1)  # also the warm-up
            numbers.append(max(1, int(run_seconds * 1e9 / max(once, 1))))
        else:
            timer.timeit(number // 10)  # warm-up
            numbers.append(number)
    samples = [[] for _ in timers]
    for _ in range(runs):
        for timer, count, times in zip(timers, numbers, samples):
            if timer:
                times.append(timer.timeit(count) / count)
    return [statistics.median(times) if times else None for times in samples]


def report(title, rows, peers, number=NUMBER, runs=RUNS):
    """rows: (operation, {"ours": stmt, peer: stmt, ...}, namespace). Prints ns per call and ratios."""
    print(f"\n{title} (Python {sys.version.split()[0]}; median ns per call over {runs} runs of {number}; "
          "ratio = ours / peer)")
    header = f"{'operation':<26}{'ours':>9}" + "".join(f"{p:>12}{'ratio':>8}" for p in peers)
    print(header)
    print("-" * len(header))
    ratios = {peer: [] for peer in peers}
    for name, stmts, namespace in rows:
        ours, *theirs = per_call_ns([stmts["ours"]] + [stmts.get(p) for p in peers], namespace, number, runs)
        line = f"{name:<26}{ours:>9.1f}"
        for peer, time_ns in zip(peers, theirs):
            if time_ns is None:
                line += f"{'-':>12}{'-':>8}"
            else:
                line += f"{time_ns:>12.1f}{ours / time_ns:>8.2f}"
                ratios[peer].append(ours / time_ns)
        print(line, flush=True)
    for peer, values in ratios.items():
        if values:
            print(f"geometric mean of ours / {peer}: {statistics.geometric_mean(values):.2f}")
