#!/usr/bin/env bash
# Runs formats_bench and prints how the document's JPEG and TIFF opens compare with the libraries
# alone, and the speed of each decoder and writer, each with PASS or MISS against its target.
#
#   bench/formats_ratios.sh [path/to/formats_bench] [extra formats_bench arguments...]
#
# Without a path, $OMBRI_FORMATS_BENCH is used, else formats_bench in build-bench2/bench or
# build-bench/bench under the repository. Targets: JPEG open / libjpeg-turbo decode <= 1.10, TIFF
# open / libtiff RGBA read <= 1.20, every decoder and writer >= 300 MB/s of decoded pixels
# (1 MB = 10^6 bytes), all in wall-clock time, on the median of three repetitions unless
# --benchmark_repetitions is given. The CPU-time figures printed beside them show how much of the
# wall-clock time a busy machine took away.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bench="${OMBRI_FORMATS_BENCH:-}"
if (($# > 0)) && [[ "$1" != -* ]]; then
    bench="$1"
    shift
fi
if [[ -z "$bench" ]]; then
    for candidate in "$here/../build-bench2/bench/formats_bench" \
        "$here/../build-bench/bench/formats_bench"; do
        if [[ -x "$candidate" ]]; then
            bench="$candidate"
            break
        fi
    done
fi
if [[ -z "$bench" || ! -x "$bench" ]]; then
    echo "formats_ratios.sh: no formats_bench found; build the formats_bench target first" >&2
    exit 1
fi

# Three repetitions by default, judged on their median: the machine is shared and a single run of
# a few iterations swings with whatever else runs.
repetitions=(--benchmark_repetitions=3)
for argument in "$@"; do
    if [[ "$argument" == --benchmark_repetitions=* ]]; then
        repetitions=()
    fi
done

json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$bench" --benchmark_format=json "${repetitions[@]}" "$@" >"$json"

python3 - "$json" <<'PY'
import json
import sys

with open(sys.argv[1]) as f:
    report = json.load(f)
runs = report["benchmarks"]

SCALE = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def pick(name):
    """Wall-clock seconds, CPU seconds and bytes per iteration of one benchmark: the median
    aggregate when repetitions were asked for, the single run otherwise."""
    mine = [r for r in runs
            if r.get("run_name", r["name"]) == name
            or r.get("run_name", r["name"]).startswith(name + "/")]
    if not mine:
        return None
    medians = [r for r in mine if r.get("aggregate_name") == "median"]
    plain = [r for r in mine if r.get("run_type") != "aggregate"]
    chosen = medians[0] if medians else (plain[0] if plain else None)
    if not chosen or chosen.get("error_occurred"):
        return None
    scale = SCALE[chosen["time_unit"]]
    real = chosen["real_time"] * scale
    cpu = chosen["cpu_time"] * scale
    rate = chosen.get("bytes_per_second")
    return real, cpu, (rate * real if rate else None)


results = []


def ratio(label, numerator, denominator, target):
    a, b = pick(numerator), pick(denominator)
    if not a or not b:
        print(f"{label:<30} missing")
        results.append(False)
        return
    value = a[0] / b[0]
    passed = value <= target
    results.append(passed)
    print(f"{label:<30} {value:6.3f}  ({a[0] * 1e3:7.1f} ms / {b[0] * 1e3:7.1f} ms)  "
          f"target <= {target:.2f}  {'PASS' if passed else 'MISS'}  "
          f"[cpu {a[1] / b[1]:.3f}]")


def speed(name, target_mbps):
    run = pick(name)
    if not run or not run[2]:
        print(f"{name:<30} missing")
        results.append(False)
        return
    real, cpu, size = run
    mbps = size / real / 1e6
    passed = mbps >= target_mbps
    results.append(passed)
    print(f"{name:<30} {mbps:7.1f} MB/s  ({real * 1e3:7.1f} ms)  target >= {target_mbps:.0f}  "
          f"{'PASS' if passed else 'MISS'}  [cpu {size / cpu / 1e6:7.1f} MB/s]")


def reference(name):
    run = pick(name)
    if run and run[2]:
        real, cpu, size = run
        print(f"{name:<30} {size / real / 1e6:7.1f} MB/s  ({real * 1e3:7.1f} ms)  reference  "
              f"[cpu {size / cpu / 1e6:7.1f} MB/s]")


context = report.get("context", {})
load = context.get("load_avg")
if load:
    print("load average at start: " + ", ".join(f"{x:.2f}" for x in load))
ratio("open JPEG / libjpeg decode", "BM_OpenJpeg", "BM_LibjpegDecodeOnly", 1.10)
ratio("open TIFF / libtiff RGBA read", "BM_OpenTiff", "BM_LibtiffRgbaReadOnly", 1.20)
for kind in ("Gif", "Sgi", "Dpx", "Pcx"):
    for source in ("Bytes", "File"):
        speed(f"BM_Decode{kind}/{source}", 300)
speed("BM_WriteSgiRle", 300)
speed("BM_WriteDpx", 300)
reference("BM_WriteFloor/Sgi")
reference("BM_WriteFloor/Dpx")
print(f"{sum(results)} of {len(results)} targets met")
PY
