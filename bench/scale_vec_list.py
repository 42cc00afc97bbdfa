"""VecList at scale: the memory each operation needs on a list of 50,000,000 vectors (1.2 GB).

    tools/py314 scale                 # 50,000,000 vectors; about a minute and 6 GB of memory
    tools/py314 scale 5000000         # another length

For each operation the peak resident memory while it runs (the kernel's high-water mark, reset
before each step) is compared with what the operation must hold at its peak: its result, and the
result array that a list of Python objects is made from. Python objects are counted at their
allocated sizes (a float 24 bytes, a list slot 8, an inner list of three floats 88 + 3 * 24). An
overhead near zero means no hidden copies. The text and nested-list conversions make one Python
object or string per element, so they run on a tenth of the list.
"""

import gc
import os
import sys
import time

from lumeric_py import Quat, Vec3d, VecList

MB = 1 << 20
FLOAT, SLOT, VEC3D, INNER_LIST = 24, 8, 48, 88 + 3 * 24


def status(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def measure(name, step, needs, rows):
    """Runs step(), keeping its result alive until the peak has been read."""
    gc.collect()
    reset_peak()
    before = status("VmRSS")
    start = time.perf_counter()
    result = step()
    seconds = time.perf_counter() - start
    peak = status("VmHWM") - before
    rows.append((name, seconds, peak / MB, needs / MB, (peak - needs) / MB))
    del result


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 50_000_000
    tenth = n // 10
    array = 24 * n  # the element array of a list of n vectors
    p, q = Vec3d(0.5, -1.25, 2.0), Quat(0.5, 0.5, 0.5, 0.5)
    rows = []

    references = [Vec3d(1.0, 2.0, 3.0)] * n
    measure("VecList(list of n Vec3d)", lambda: VecList(references), array, rows)
    lst = VecList(references)
    del references
    gc.collect()
    base = status("VmRSS")

    for name, step in [
        ("lst * 2.0", lambda: lst * 2.0),
        ("lst / 3.0", lambda: lst / 3.0),
        ("lst + p", lambda: lst + p),
        ("lst - p", lambda: lst - p),
        ("lst.cross(p)", lambda: lst.cross(p)),
        ("lst.normalize()", lambda: lst.normalize()),
        ("lst.collapse(1)", lambda: lst.collapse(1)),
    ]:
        measure(name, step, array, rows)
    for name, step in [
        ("lst.dot(p)", lambda: lst.dot(p)),
        ("lst.magnitude()", lambda: lst.magnitude()),
        ("lst.distance_to(p)", lambda: lst.distance_to(p)),
        ("lst.distance_squared(p)", lambda: lst.distance_squared(p)),
    ]:
        measure(name, step, n * (8 + SLOT + FLOAT), rows)  # result array, list slots, floats
    measure("lst.is_unit()", lambda: lst.is_unit(), n * (1 + SLOT), rows)  # bools are shared objects
    measure("lst.minimum_distance_to(p, 1000)", lambda: lst.minimum_distance_to(p, 1000), 0, rows)
    measure("lst.rotate(q)  (in place)", lambda: lst.rotate(q), array, rows)  # new array, then the swap
    measure("iter(lst)  (snapshot)", lambda: iter(lst), array, rows)
    measure("len(lst), lst[n - 1]", lambda: (len(lst), lst[n - 1]), 0, rows)

    small = VecList([Vec3d(1.0, 2.0, 3.0)] * tenth)
    measure("n/10: lst.to_array()", lambda: small.to_array(), tenth * (24 + SLOT + INNER_LIST), rows)
    measure("n/10: lst.list", lambda: small.list, tenth * (SLOT + VEC3D), rows)
    measure("n/10: repr(lst)", lambda: repr(small), tenth * 2 * 16, rows)  # text pieces, then the str
    del small
    gc.collect()

    print(f"VecList of {n:,} vectors: element array {array / MB:,.0f} MiB; resident {base / MB:,.0f} MiB "
          f"with the list in place; RAYON_NUM_THREADS={os.environ.get('RAYON_NUM_THREADS', 'unset')}")
    print(f"{'operation':36s} {'seconds':>8s} {'peak MiB':>10s} {'needed MiB':>11s} {'overhead':>9s}")
    for name, seconds, peak, needs, over in rows:
        print(f"{name:36s} {seconds:8.2f} {peak:10,.0f} {needs:11,.0f} {over:9,.0f}")


if __name__ == "__main__":
    main()
