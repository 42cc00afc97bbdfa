"""Renders the README's performance charts (PNG, into docs/) from the JSON the benchmarks write
into build/bench/: per call against PyGLM, batch operations against numpy and scipy over n, one
against two pool threads, lumeric_dask, lumeric_dask.KDTree, nearest neighbours against the peers'
trees, and the point-cloud steps against Open3D, cKDTree and numpy. A chart whose JSON is missing is
skipped.

  python3 bench/plot.py [--input build/bench] [--output docs]
"""

import argparse
import json
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402
from matplotlib.ticker import FuncFormatter, NullFormatter  # noqa: E402

REPO = Path(__file__).resolve().parents[1]
DPI = 80
OURS, PEER, THIRD = "#1f6fb4", "#c8553d", "#8a9a5b"


def per_call(inputs):
    """Each per-call section beside PyGLM: ns per call, ours and PyGLM's, for every operation."""
    sections = []
    for name in ("bench_vec3d", "bench_angle_quat", "bench_geometry"):
        for section in inputs.get(name, {}).get("per_call", []):
            rows = [(r["operation"], r["ours"], glm) for r in section["rows"]
                    if (glm := next((v for k, v in r.items() if k.lower() == "pyglm"), None))]
            if rows:
                sections.append((section["title"], rows))
    if not sections:
        return None
    heights = [len(rows) for _, rows in sections]
    fig, axes = plt.subplots(len(sections), 1, figsize=(7, 1.2 + 0.22 * sum(heights) + 0.6 * len(sections)),
                             gridspec_kw={"height_ratios": heights}, squeeze=False, layout="constrained")
    for ax, (title, rows) in zip(axes[:, 0], sections):
        y = range(len(rows))
        ax.barh([k - 0.2 for k in y], [r[1] for r in rows], 0.4, color=OURS)
        ax.barh([k + 0.2 for k in y], [r[2] for r in rows], 0.4, color=PEER)
        ax.set_yticks(list(y), [r[0] for r in rows], fontsize=8)
        ax.invert_yaxis()
        ax.set_title(title, fontsize=10)
        ax.grid(axis="x", alpha=0.3)
    fig.legend(handles=[Patch(color=OURS, label="lumeric_py"), Patch(color=PEER, label="PyGLM")], ncols=2,
               loc="outside upper center", fontsize=8)
    axes[-1, 0].set_xlabel("ns per call (shorter is faster)")
    return fig


def batch(inputs):
    """VecList / numpy (and scipy for rotate) over n, and ns per element for the main operations."""
    sizes = inputs.get("bench_vec_list", {}).get("sizes")
    if not sizes:
        return None
    ns = sorted(sizes, key=int)
    ops = [r["operation"] for r in sizes[ns[0]] if r.get("ours") and r.get("numpy")]
    table = {n: {r["operation"]: r for r in sizes[n]} for n in ns}
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 6), layout="constrained")
    xs = [int(n) for n in ns]
    for op in ops:
        left.plot(xs, [table[n][op]["ours"] / table[n][op]["numpy"] for n in ns], marker="o", ms=3, label=op)
    rotate = [table[n].get("rotate", {}) for n in ns]
    if all(r.get("scipy") for r in rotate):
        left.plot(xs, [r["ours"] / r["scipy"] for r in rotate], "k--", marker="s", ms=3, label="rotate / scipy")
    left.axhline(1.0, color="grey", lw=1)
    left.set(xscale="log", yscale="log", xlabel="n (vectors)", ylabel="time ours / numpy (below 1: faster)",
             title="VecList batch operations against numpy")
    fig.legend(*left.get_legend_handles_labels(), loc="outside lower left", ncols=4, fontsize=7,
               title="ratio ours / numpy (left)", title_fontsize=7)
    for op, color in zip(("normalize", "rotate", "dot", "minimum_distance_to(p, 1)"), ("C0", "C1", "C2", "C3")):
        if op in table[ns[0]]:
            right.plot(xs, [table[n][op]["ours"] / int(n) for n in ns], color=color, marker="o", ms=3, label=op)
            right.plot(xs, [table[n][op]["numpy"] / int(n) for n in ns], color=color, ls=":", label=f"{op}, numpy")
    right.set(xscale="log", yscale="log", xlabel="n (vectors)", ylabel="ns per vector",
              title="ns per vector (solid: VecList, dotted: numpy)")
    right.legend(fontsize=7)
    for ax in (left, right):
        ax.grid(alpha=0.3, which="both")
        ax.yaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
        ax.yaxis.set_minor_formatter(NullFormatter())
    return fig


def workers(inputs):
    """normalize and rotate with a pool of 1 and of 2 threads."""
    data = inputs.get("bench_vec_list", {}).get("workers")
    if not data:
        return None
    ops = [op for op in data if isinstance(data[op], dict)]
    fig, ax = plt.subplots(figsize=(5, 3), layout="constrained")
    for k, op in enumerate(ops):
        one, two = data[op]["1"] / 1e6, data[op]["2"] / 1e6
        ax.bar([k - 0.2, k + 0.2], [one, two], 0.4, color=[PEER, OURS])
        ax.annotate(f"{one / two:.2f}x", (k + 0.2, two), ha="center", va="bottom", fontsize=8)
    ax.set_xticks(range(len(ops)), ops)
    ax.set(ylabel="ms per call", title=f"Pool threads, n = {data.get('n', 0):,}")
    ax.legend(handles=[Patch(color=PEER, label="RAYON_NUM_THREADS=1"), Patch(color=OURS, label="RAYON_NUM_THREADS=2")],
              fontsize=8)
    return fig


def dask_chart(inputs):
    """ns per point of each setup for each operation, split into where the time goes."""
    data = inputs.get("bench_dask")
    if not data:
        return None
    rows = data["rows"]
    ops = list(dict.fromkeys(r["operation"] for r in rows))
    fig, axes = plt.subplots(1, len(ops), figsize=(4 + 3 * len(ops), 3.4), sharey=True, squeeze=False,
                             layout="constrained")
    colors = {"compute": OURS, "transfer": THIRD, "scheduling": PEER}
    for ax, op in zip(axes[0], ops):
        mine = [r for r in rows if r["operation"] == op]
        for y, row in enumerate(mine):
            left = 0.0
            for part, value in (row["parts"] or {"compute": row["total"]}).items():
                ax.barh(y, value, left=left, color=colors.get(part, "grey"))
                left += value
        ax.set_yticks(range(len(mine)), [r["setup"] for r in mine], fontsize=8)
        ax.invert_yaxis()
        ax.set_title(op, fontsize=10)
        ax.set_xlabel("ns per point")
        ax.grid(axis="x", alpha=0.3)
    labels = {"compute": "inside tasks", "transfer": "between processes", "scheduling": "scheduling and the rest"}
    fig.legend(handles=[Patch(color=colors[k], label=text) for k, text in labels.items()], ncols=3,
               loc="outside lower center", fontsize=8)
    title = f"lumeric_dask: {data['n']:,} points in {data['chunks']} chunks"
    if "ms_per_task" in data:
        title += f"; scheduling a task costs {data['ms_per_task']:.1f} ms here"
    fig.suptitle(title, fontsize=10)
    return fig


def spatial(inputs):
    """Nearest neighbours: ns per point or query against each peer, and the hard clouds' figures
    against the uniform cloud's."""
    data = inputs.get("bench_spatial")
    if not data:
        return None
    rows = data["rows"]
    contenders = list(dict.fromkeys(c for r in rows for c in r if c != "operation"))
    colors = [OURS, PEER, "#e0937f", THIRD, "#999999"]
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 3.8), layout="constrained")
    width = 0.8 / len(contenders)
    for j, contender in enumerate(contenders):
        ys = [k + (j - (len(contenders) - 1) / 2) * width for k in range(len(rows))]
        values = [r.get(contender) for r in rows]
        left.barh([y for y, v in zip(ys, values) if v], [v for v in values if v], width,
                  color=colors[j % len(colors)], label=contender)
    left.set_yticks(range(len(rows)), [r["operation"] for r in rows], fontsize=8)
    left.invert_yaxis()
    left.set(xscale="log", xlabel="ns per point (build) or per query, log scale (shorter is faster)",
             title=f"{data['n']:,} uniform points and queries")
    left.xaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
    left.grid(axis="x", alpha=0.3, which="both")
    left.legend(fontsize=7)
    hard = dict(data.get("hard", {}))
    base = hard.pop("uniform", {r["operation"]: r["ours"] for r in rows})
    ops = list(dict.fromkeys(op for figures in hard.values() for op in figures))
    for j, op in enumerate(ops):
        ys = [k + (j - (len(ops) - 1) / 2) * 0.8 / len(ops) for k in range(len(hard))]
        right.barh(ys, [figures.get(op, 0) / base[op] for figures in hard.values()], 0.8 / max(len(ops), 1),
                   label=op, color=f"C{j}")
    right.axvline(1.0, color="grey", lw=1)
    right.axvline(3.0, color=PEER, lw=1, ls="--", label="goal: at most 3")
    right.set_yticks(range(len(hard)), list(hard), fontsize=8)
    right.invert_yaxis()
    right.set(xscale="log", xlabel="time / the uniform cloud's (ours), log scale", title="Clouds that trip trees up")
    right.xaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
    right.grid(axis="x", alpha=0.3)
    right.legend(fontsize=7)
    return fig


def cloud(inputs):
    """Point-cloud steps: time ours / the peer's for each operation, on each cloud, against the goal."""
    data = inputs.get("bench_cloud")
    if not data:
        return None
    clouds = data["clouds"]
    ops = list(dict.fromkeys((r["operation"], r["peer"]) for rows in clouds.values() for r in rows))
    fig, ax = plt.subplots(figsize=(7, 1.4 + 0.45 * len(ops)), layout="constrained")
    width = 0.8 / len(clouds)
    for j, (name, rows) in enumerate(clouds.items()):
        ratio = {(r["operation"], r["peer"]): r["ours"] / r["theirs"] for r in rows}
        ys = [k + (j - (len(clouds) - 1) / 2) * width for k in range(len(ops))]
        present = [(y, ratio[op]) for y, op in zip(ys, ops) if op in ratio]
        ax.barh([y for y, _ in present], [v for _, v in present], width, color=[OURS, THIRD][j % 2], label=name)
        for y, v in present:
            ax.annotate(f"{v:.2f}", (v, y), xytext=(3, 0), textcoords="offset points", va="center", fontsize=7)
    ax.axvline(1.0, color="grey", lw=1)
    ax.axvline(0.5, color=PEER, lw=1, ls="--", label="goal: at most 0.5")
    ax.set_yticks(range(len(ops)), [f"{op} / {peer}" for op, peer in ops], fontsize=8)
    ax.invert_yaxis()
    low = min([0.1] + [r["ours"] / r["theirs"] for rows in clouds.values() for r in rows])
    high = max([2.0] + [r["ours"] / r["theirs"] for rows in clouds.values() for r in rows])
    ax.set(xscale="log", xlim=(low / 1.5, high * 1.5), xlabel="time ours / the peer's, log scale (below 1: faster)")
    ax.set_title(f"Point-cloud steps on {data['n']:,} points", fontsize=10)
    ax.set_xticks([t for t in (0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10) if low / 1.5 <= t <= high * 1.5])
    ax.xaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
    ax.xaxis.set_minor_formatter(NullFormatter())
    ax.grid(axis="x", alpha=0.3, which="both")
    ax.legend(fontsize=7, loc="lower right")
    return fig


def dask_tree(inputs):
    """lumeric_dask.KDTree on the cluster against one KDTree: seconds of the build and the queries
    per cloud, and the mean pieces each query visits."""
    data = inputs.get("bench_dask_tree")
    if not data:
        return None
    rows = data["rows"]
    steps = ["build", "query k=1", "query k=8"]
    fig, axes = plt.subplots(1, len(rows), figsize=(5 * len(rows), 3.2), sharex=True, squeeze=False,
                             layout="constrained")
    for ax, row in zip(axes[0], rows):
        ys = range(len(steps))
        ax.barh([y - 0.2 for y in ys], [row[s] for s in steps], 0.4, color=OURS, label="lumeric_dask.KDTree, 2 workers")
        ax.barh([y + 0.2 for y in ys], [row.get(f"local {s}", 0) for s in steps], 0.4, color=PEER,
                label="one KDTree in this process")
        labels = [s if s == "build" else f"{s}: {row[f'visits {s[-3:]}']:.2f} pieces/query" for s in steps]
        ax.set_yticks(list(ys), labels, fontsize=8)
        ax.invert_yaxis()
        ax.set(xlabel="seconds (shorter is faster)", title=f"{row['cloud']}: {row['pieces']} pieces")
        ax.grid(axis="x", alpha=0.3)
    axes[0][0].legend(fontsize=7)
    fig.suptitle(f"lumeric_dask.KDTree: {data['n']:,} points, 1,000,000 queries", fontsize=10)
    return fig


CHARTS = {"per_call.png": per_call, "batch.png": batch, "workers.png": workers, "dask.png": dask_chart,
          "spatial.png": spatial, "dask_tree.png": dask_tree, "cloud.png": cloud}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--input", type=Path, default=REPO / "build" / "bench")
    parser.add_argument("--output", type=Path, default=REPO / "docs")
    args = parser.parse_args(argv)
    inputs = {path.stem: json.loads(path.read_text()) for path in sorted(args.input.glob("*.json"))}
    args.output.mkdir(parents=True, exist_ok=True)
    for name, chart in CHARTS.items():
        fig = chart(inputs)
        if fig is None:
            print(f"skipped {name}: its benchmark has not written JSON into {args.input}")
            continue
        fig.savefig(args.output / name, dpi=DPI, metadata={"Software": None})
        plt.close(fig)
        print(f"wrote {args.output / name}")


if __name__ == "__main__":
    main()
