#!/usr/bin/env bash
# Our operations side by side with their references, measured in one run on the
# same data, printed as one table:  what | ours | reference | ratio | target
# (ratio = our time / the reference's; the target is the largest acceptable ratio,
# "-" where the row is shown for information).
#
#   bench/compare.sh [--build DIR] [--large] [--all] [--show-noisy]
#
# DIR is a build configured with -DVEXA_BUILD_BENCH=ON (default: build-bench); the
# benchmarks are built there first. --large adds the 1024^3 files (2 GiB in $TMPDIR).
# --all then runs the mesh and 3D view comparisons (compare_mesh.sh,
# compare_render.sh; they need python3-vtk9).
#
# Times are CPU times of the process (kernel work such as page faults included), so
# that waiting for a core is not counted. Only ratios mean anything on a shared
# machine, and only when it is quiet: the load average is recorded before and after,
# and when it exceeds the number of cores the run is reported as noisy and no ratio
# is printed (--show-noisy prints them anyway, under that warning).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build="$here/../build-bench"
large=0
all=0
show_noisy=0
while [ $# -gt 0 ]; do
    case "$1" in
    --build) build="$2"; shift 2 ;;
    --large) large=1; shift ;;
    --all) all=1; shift ;;
    --show-noisy) show_noisy=1; shift ;;
    -h | --help) sed -n '2,17p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

build=$(cd "$build" && pwd)
cmake --build "$build" --target vexafile_bench vexamem_bench data_bench views_bench >/dev/null
bin="$build/bin"
[ -x "$bin/vexafile_bench" ] || bin="$build/bench"

work=$(mktemp -d "${TMPDIR:-/tmp}/vexa_compare_XXXXXX")
trap 'rm -rf "$work"' EXIT
rows="$work/rows.tsv"
: >"$rows"
cores=$(nproc)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

run() { # name, then the command; its own output goes to a log kept on failure
    echo "running $1 ..." >&2
    if ! "${@:2}" >"$work/$1.log" 2>&1; then
        echo "$1 failed; its output:" >&2
        tail -20 "$work/$1.log" >&2
        exit 1
    fi
}

small=1
[ "$large" = 1 ] && small=
run vexafile env VEXA_COMPARE_ROWS="$rows" ${small:+VEXAFILE_BENCH_SMALL=1} \
    "$bin/vexafile_bench" --benchmark_min_time=0.2
run vexamem env VEXA_COMPARE_ROWS="$rows" "$bin/vexamem_bench" --benchmark_filter='^convert'
run data "$bin/data_bench" --benchmark_format=json --benchmark_out="$work/data.json" \
    --benchmark_out_format=json --benchmark_filter='readSections/0/|readRightStepping|reference'
run views "$bin/views_bench" --benchmark_out="$work/views.json" --benchmark_out_format=json \
    --benchmark_filter='1024|Section'

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$rows" "$work/data.json" "$work/views.json" "$cores" "$load_before" "$load_after" \
    "$show_noisy" <<'PY'
import json, sys

rows_path, data_path, views_path, cores, before, after, show_noisy = sys.argv[1:8]
cores = int(cores)
rows = []
for line in open(rows_path):
    what, ours, ref_name, ref, target = line.rstrip("\n").split("\t")
    rows.append((what, float(ours), ref_name, float(ref), target))

def times(path):
    out = {}
    try:
        runs = json.load(open(path))["benchmarks"]
    except (OSError, ValueError, KeyError):
        return out
    for b in runs:
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        out[b["name"].replace("/process_time", "")] = b["cpu_time"] * scale
    return out

d = times(data_path)
planes = ["FRONT", "RIGHT", "TOP"]
for p in range(3):
    ours = d.get(f"readSections/0/{p}/1")
    ref = d.get("referenceGather" if p == 1 else "referenceFrontCopy")
    if ours and ref:
        target = "1.50" if p == 1 else "-"
        rows.append((f"memory block 512^3 {planes[p]} U8", ours, "bare loop" if p == 1 else "memcpy", ref, target))
if d.get("readRightStepping") and d.get("referenceGather"):
    rows.append(("memory block 512^3 RIGHT U8, x+1", d["readRightStepping"], "bare loop", d["referenceGather"], "-"))

v = times(views_path)
if v.get("buildBuffer/F32_1024_zoom1") and v.get("copySamples/F32_1024_memcpy"):
    for t in ["U8", "S16", "F32", "F64"]:
        ours = v.get(f"buildBuffer/{t}_1024_zoom1")
        if ours:
            rows.append((f"display buffer 1024^2 {t}", ours, "memcpy F32", v["copySamples/F32_1024_memcpy"], "-"))
# A section change (read, display buffer) against the 1/60 s that smooth browsing needs.
for p in range(3):
    for src in ["memory", "file"]:
        ours = v.get(f"{src}Section/plane:{p}")
        if ours:
            rows.append((f"{src} block 512^3 {planes[p]} change", ours, "1/60 s", 1000.0 / 60.0, "1.00"))

loads = [float(x) for x in before.split() + after.split()]
noisy = max(loads[0], loads[3]) > cores
width = max(len(r[0]) for r in rows) if rows else 10
print(f"load average before: {before}; after: {after}; cores: {cores}")
print(f"{'what':<{width}} | {'ours (ms)':>10} | {'reference (ms)':>26} | {'ratio':>6} | target")
print("-" * (width + 62))
missed = 0
for what, ours, ref_name, ref, target in rows:
    ref_text = f"{ref:.3f} {ref_name}"
    if noisy and show_noisy != "1":
        ratio = "-"
    else:
        r = ours / ref
        ratio = f"{r:.2f}"
        if target != "-" and r > float(target):
            ratio += "!"
            missed += 1
    print(f"{what:<{width}} | {ours:>10.3f} | {ref_text:>26} | {ratio:>6} | {target}")
if noisy:
    shown = "shown but unreliable" if show_noisy == "1" else "not printed"
    print(f"\nNOISY RUN: load average above {cores} cores; ratios {shown}. Run again on a quiet machine.")
if not noisy or show_noisy == "1":
    print(f"\n{missed} row(s) above target (marked !).")
PY

if [ "$all" = 1 ]; then
    "$here/compare_mesh.sh" "$build"
    "$here/compare_render.sh" "$build"
fi
