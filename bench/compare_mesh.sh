#!/usr/bin/env bash
# Our iso-surface, welding, smoothing and simplification times against the peer's on
# the same 256^3 volumes and mesh, printed as "what | ours | reference | ratio | target"
# (wall-clock medians), followed by the processor times of both sides and their ratio:
# on a loaded machine those say more about one thread's work than the wall clock.
# usage: bench/compare_mesh.sh [build dir] [rounds] [runs per round]
# Needs python3-vtk9 for the peer (Debian's /usr/bin/python3). Each round runs both
# sides once; the table shows the medians over rounds. The machine may be shared: the
# load average is printed before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
rounds=${2:-3}
runs=${3:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), cores: $(nproc)"
for r in $(seq "$rounds"); do
  "$build/bin/mesh_bench" "$runs" > "$out/ours.$r"
  /usr/bin/python3 bench/vtk_mesh.py "$runs" > "$out/peer.$r"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 - "$out" "$rounds" <<'PY'
import statistics
import sys

folder, rounds = sys.argv[1], int(sys.argv[2])


def medians(prefix):
    wall, cpu = {}, {}
    for r in range(1, rounds + 1):
        for line in open(f"{folder}/{prefix}.{r}"):
            parts = line.split()
            if len(parts) >= 2:
                wall.setdefault(parts[0], []).append(float(parts[1]))
                for p in parts[2:]:
                    if p.startswith("cpu="):
                        cpu.setdefault(parts[0], []).append(float(p[4:]))
    return ({k: statistics.median(v) for k, v in wall.items()},
            {k: statistics.median(v) for k, v in cpu.items()})


(ours, ours_cpu), (peer, peer_cpu) = medians("ours"), medians("peer")
peer_cpu = {**ours_cpu, **peer_cpu}
rows = [
    ("MC15 + weld, sphere F32, 1 thread", "mc15_sphere_1t", "fe_sphere_1t", 1.0),
    ("MC15 + weld, sphere F32, 2 threads", "mc15_sphere_2t", "fe_sphere_1t", 0.6),
    ("MC15 + weld, noise U8, 1 thread", "mc15_noise_1t", "fe_noise_1t", 1.0),
    ("MC15 + weld, noise U8, 2 threads", "mc15_noise_2t", "fe_noise_1t", 0.6),
    ("MC15 sphere vs classic MC", "mc15_sphere_1t", "mc_sphere", None),
    ("MC15 noise vs classic MC", "mc15_noise_1t", "mc_noise", None),
    ("Cuberille, noise, 1 thread", "cuberille_noise_1t", "fe_noise_1t", None),
    ("MC33, noise, 1 thread", "mc33_noise_1t", "fe_noise_1t", None),
    ("Simplified MC, noise, 1 thread", "smc_noise_1t", "fe_noise_1t", None),
    ("Simplified MC (Emulation), noise", "smc_emulation_noise_1t", "fe_noise_1t", None),
    ("Simplified MC (Lookup-table), noise", "smc_table_noise_1t", "fe_noise_1t", None),
    ("Weld of the 4.3 M-triangle soup", "weld_soup", "plain_remap_soup", 1.0),
    ("20 smoothing passes, noise", "smooth_20_noise", "windowed_sinc_20_noise", 1.0),
]
print(f"{'what':40} | {'ours ms':>9} | {'reference ms':>12} | {'ratio':>6} | {'target':8} |"
      f" {'ours cpu':>9} | {'ref cpu':>9} | cpu ratio")
for label, a, b, target in rows:
    reference = peer.get(b, ours.get(b))
    if a not in ours or reference is None:
        print(f"{label:40} | missing")
        continue
    ratio = ours[a] / reference
    goal = f"<= {target}" if target else "-"
    line = f"{label:40} | {ours[a]:9.1f} | {reference:12.1f} | {ratio:6.2f} | {goal:8}"
    if a in ours_cpu and b in peer_cpu:
        line += f" | {ours_cpu[a]:9.1f} | {peer_cpu[b]:9.1f} | {ours_cpu[a] / peer_cpu[b]:.2f}"
    print(line)
if "simplify_noise" in ours:
    s = ours["simplify_noise"]
    line = f"{'Simplification, noise, defaults':40} | {s:9.1f} | {'-':>12} | {'-':>6} | < 2000 ms"
    if "simplify_noise" in ours_cpu:
        line += f" | {ours_cpu['simplify_noise']:9.1f} | {'-':>9} | -"
    print(line)
PY
