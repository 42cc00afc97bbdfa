"""Shared timing for the per-call benchmarks.

Each row times our statement and each peer's statement in interleaved runs (so a burst of
load on this shared machine hits all of them alike) and reports median nanoseconds per call
and the ratio ours / peer (below 1.0: we are faster). Every script's figures also go to
build/bench/<script>.json (or the directory in LUMERIC_BENCH_JSON) for the charts of bench/plot.py.
"""

import json
import os
import statistics
import sys
import time
import timeit
from pathlib import Path

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


_saved = {}


def save(key, value):
    """Puts value under key in this run's JSON file, rewritten whole: a run starts it afresh."""
    default = Path(__file__).resolve().parents[1] / "build" / "bench"
    directory = Path(os.environ.get("LUMERIC_BENCH_JSON") or default)
    directory.mkdir(parents=True, exist_ok=True)
    _saved[key] = value
    (directory / f"{Path(sys.argv[0]).stem}.json").write_text(json.dumps(_saved, indent=1) + "\n")


def report(title, rows, peers, number=NUMBER, runs=RUNS):
    """rows: (operation, {"ours": stmt, peer: stmt, ...}, namespace). Prints ns per call and ratios."""
    print(f"\n{title} (Python {sys.version.split()[0]}; median ns per call over {runs} runs of {number}; "
          "ratio = ours / peer)")
    header = f"{'operation':<26}{'ours':>9}" + "".join(f"{p:>12}{'ratio':>8}" for p in peers)
    print(header)
    print("-" * len(header))
    ratios = {peer: [] for peer in peers}
    saved = []
    for name, stmts, namespace in rows:
        ours, *theirs = per_call_ns([stmts["ours"]] + [stmts.get(p) for p in peers], namespace, number, runs)
        saved.append({"operation": name, "ours": ours, **dict(zip(peers, theirs))})
        line = f"{name:<26}{ours:>9.1f}"
        for peer, time_ns in zip(peers, theirs):
            if time_ns is None:
                line += f"{'-':>12}{'-':>8}"
            else:
                line += f"{time_ns:>12.1f}{ours / time_ns:>8.2f}"
                ratios[peer].append(ours / time_ns)
        print(line, flush=True)
    save("per_call", _saved.get("per_call", []) + [{"title": title, "rows": saved}])
    for peer, values in ratios.items():
        if values:
            print(f"geometric mean of ours / {peer}: {statistics.geometric_mean(values):.2f}")


class OtherLoad:
    """The share of the processors that other processes kept busy between start and stop: on a
    shared machine a high share explains odd figures (and, above ~50%, lost parallelism)."""

    def __init__(self):
        self.start = self._sample()

    @staticmethod
    def _sample():
        try:
            with open("/proc/stat") as f:
                ticks = [int(x) for x in f.readline().split()[1:9]]
        except OSError:
            return None
        t = os.times()
        return sum(ticks), ticks[3] + ticks[4], ticks[7], t.user + t.system + t.children_user + t.children_system

    def text(self):
        end = self._sample()
        if self.start is None or end is None or end[0] == self.start[0]:
            return "load of other processes: unknown"
        hz = os.sysconf("SC_CLK_TCK")
        total = (end[0] - self.start[0]) / hz
        busy = total - (end[1] - self.start[1]) / hz
        steal = (end[2] - self.start[2]) / hz
        others = max(0.0, busy - steal - (end[3] - self.start[3])) / total
        return (f"other processes kept {others:.0%} of the processors busy meanwhile"
                f" (and the host took {steal / total:.0%})")
