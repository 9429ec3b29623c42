#!/usr/bin/env bash
# Runs ombri_bench (and open_memory when it is built next to it) and prints how the writer's open
# and save compare with libpng alone, and the speed of the note passes over the pixels.
#
#   bench/ratios.sh [path/to/ombri_bench] [extra ombri_bench arguments...]
#
# Without a path, build-bench/bench/ombri_bench under the repository is used (or $OMBRI_BENCH).
# Targets: open/decode <= 1.15, save/encode <= 1.10, each pixel pass >= 1 GB/s, open peak
# memory <= 2.2x the packed DIB.
#
# When panes_bench is built next to it (or $OMBRI_PANES_BENCH names it), the reader's list pane
# follows: its first screen as thumbnails against details (target <= 1.2), and what each of 200
# large photographs cost the background reader in whole-picture decodes. That part takes a few
# minutes.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench="${OMBRI_BENCH:-$here/../build-bench/bench/ombri_bench}"
if (($# > 0)) && [[ "$1" != -* ]]; then
    bench="$1"
    shift
fi
if [[ ! -x "$bench" ]]; then
    echo "ratios.sh: no ombri_bench at $bench; build the ombri_bench target first" >&2
    exit 1
fi

json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$bench" --benchmark_format=json "$@" >"$json"

memory=""
open_memory="$(dirname "$bench")/open_memory"
if [[ -x "$open_memory" ]]; then
    memory="$("$open_memory" | sed -n 's/^peak \/ DIB *\([0-9.]*\).*/\1/p')"
fi

python3 - "$json" "$memory" <<'PY'
import json
import sys

with open(sys.argv[1]) as f:
    runs = json.load(f)["benchmarks"]
memory = sys.argv[2]

SCALE = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def pick(name):
    """Seconds per iteration and bytes per second of one benchmark: the median aggregate when
    repetitions were asked for, the single run otherwise."""
    mine = [r for r in runs
            if r.get("run_name", r["name"]) == name
            or r.get("run_name", r["name"]).startswith(name + "/")]
    if not mine:
        return None
    medians = [r for r in mine if r.get("aggregate_name") == "median"]
    chosen = medians[0] if medians else [r for r in mine if r.get("run_type") != "aggregate"][0]
    if chosen.get("error_occurred"):
        return None
    scale = SCALE[chosen["time_unit"]]
    return (chosen["real_time"] * scale, chosen.get("bytes_per_second"),
            chosen["cpu_time"] * scale)


def ratio(label, numerator, denominator, target):
    a, b = pick(numerator), pick(denominator)
    if not a or not b:
        print(f"{label:<34} missing")
        return
    value = a[0] / b[0]
    verdict = "ok" if value <= target else "MISSED"
    print(f"{label:<34} {value:6.3f}  ({a[0] * 1e3:8.1f} ms / {b[0] * 1e3:8.1f} ms)  "
          f"target <= {target:.2f}  {verdict}  [cpu time ratio {a[2] / b[2]:.3f}]")


ratio("open / libpng decode", "BM_OpenPng", "BM_LibpngDecodeOnly", 1.15)
ratio("save / libpng encode", "BM_SavePngCarrier", "BM_LibpngEncodeOnly", 1.10)
if memory:
    value = float(memory)
    verdict = "ok" if value <= 2.2 else "MISSED"
    print(f"{'open peak memory / DIB':<34} {value:6.3f}  target <= 2.20  {verdict}")
else:
    print(f"{'open peak memory / DIB':<34} not measured (open_memory not built)")

for name in ("BM_ExtractNoteLayer", "BM_MakeCarrierCopy/Alpha32", "BM_MakeCarrierCopy/Bits24",
             "BM_ClearCarrier"):
    run = pick(name)
    if not run or not run[1]:
        print(f"{name:<34} missing")
        continue
    gbps = run[1] / 1e9
    verdict = "ok" if gbps >= 1.0 else "MISSED"
    print(f"{name:<34} {gbps:6.2f} GB/s  ({run[0] * 1e3:7.2f} ms)  target >= 1.00  {verdict}")
PY

panes="${OMBRI_PANES_BENCH:-$(dirname "$bench")/panes_bench}"
echo
if [[ -x "$panes" ]]; then
    echo "reader list pane (panes_bench):"
    "$panes" --benchmark_filter='BM_List|BM_BackgroundThumbnails|BM_Photo' |
        grep -E '^  (BM_List|PNG|JPEG)|^    (one decode|processor time)'
else
    echo "reader list pane: not measured (panes_bench not built)"
fi
