"""Shared timing for the per-call benchmarks: median nanoseconds per call over several runs."""

import statistics
import sys
import timeit


def ns_per_call(stmt: str, namespace: dict, number: int = 200_000, repeat: int = 7) -> float:
    timer = timeit.Timer(stmt, globals=namespace)
    runs = timer.repeat(repeat=repeat, number=number)
    return statistics.median(runs) / number * 1e9


def report(title: str, rows, peers):
    """rows: (operation, {"ours": stmt, peer: stmt, ...}, namespace). Prints ns per call and ratios."""
    print(f"\n{title} (Python {sys.version.split()[0]}; median ns per call; ratio = ours / peer)")
    header = f"{'operation':<22}{'ours':>9}" + "".join(f"{p:>12}{'ratio':>8}" for p in peers)
    print(header)
    print("-" * len(header))
    for name, stmts, namespace in rows:
        ours = ns_per_call(stmts["ours"], namespace)
        line = f"{name:<22}{ours:>9.1f}"
        for peer in peers:
            if peer in stmts:
                theirs = ns_per_call(stmts[peer], namespace)
                line += f"{theirs:>12.1f}{ours / theirs:>8.2f}"
            else:
                line += f"{'-':>12}{'-':>8}"
        print(line, flush=True)
