#!/usr/bin/env bash
# Runs png_save_bench and prints, for each picture, the writer's PNG save against libpng's
# default encoding of the same pixels: time, file size and peak memory.
#
#   bench/png_ratios.sh [path/to/png_save_bench] [extra benchmark arguments...]
#
# Without a path, build/bench/png_save_bench under the repository is used (or $OMBRI_PNG_BENCH).
# Targets: time <= 0.25x; size <= 1.00x on the screenshots, <= 1.02x on the photographs.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench="${OMBRI_PNG_BENCH:-$here/../build/bench/png_save_bench}"
if (($# > 0)) && [[ "$1" != -* ]]; then
    bench="$1"
    shift
fi
if [[ ! -x "$bench" ]]; then
    echo "png_ratios.sh: no png_save_bench at $bench; build the png_save_bench target first" >&2
    exit 1
fi

json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$bench" --benchmark_format=json "$@" >"$json"

python3 - "$json" <<'PY'
import json
import sys

with open(sys.argv[1]) as f:
    runs = [r for r in json.load(f)["benchmarks"] if r.get("run_type") != "aggregate"]

SCALE = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
by = {}
for r in runs:
    if r.get("error_occurred"):
        continue
    kind = r["name"].split("/")[0]
    by[(kind, r["label"])] = r

print(f"{'picture':<14} {'time':>7} {'size':>7}  {'ours ms':>8} {'libpng ms':>9}  "
      f"{'ours MiB':>8} {'libpng MiB':>10}  verdict")
for label in ("photo", "photo_notes", "screen", "screen_notes"):
    ours, theirs = by.get(("BM_WritePngFile", label)), by.get(("BM_LibpngDefault", label))
    if not ours or not theirs:
        print(f"{label:<14} missing")
        continue
    t_ours = ours["real_time"] * SCALE[ours["time_unit"]]
    t_theirs = theirs["real_time"] * SCALE[theirs["time_unit"]]
    time_ratio = t_ours / t_theirs
    size_ratio = ours["file_bytes"] / theirs["file_bytes"]
    size_bound = 1.02 if label.startswith("photo") else 1.00
    ok = time_ratio <= 0.25 and size_ratio <= size_bound
    print(f"{label:<14} {time_ratio:7.3f} {size_ratio:7.4f}  {t_ours * 1e3:8.0f} "
          f"{t_theirs * 1e3:9.0f}  {ours['peak_MiB']:8.1f} {theirs['peak_MiB']:10.1f}  "
          f"{'ok' if ok else 'MISSED'} (time <= 0.25, size <= {size_bound:.2f})")
PY
