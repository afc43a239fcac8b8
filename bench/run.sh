#!/usr/bin/env bash
# Measures the checker and prints the tables of the README's benchmark section.
#   bench/run.sh [ROUNDS]      (default 10)
# a. Start-up, on the reference manifest: the checker, linked each way, against
#    a statically linked no-op program and against jq -e testing the same rules.
#    Each round times every command in turn (hyperfine), so drift on the
#    machine touches them alike; the medians are over all rounds.
# b. Size: generated manifests of 1, 10 and 100 MB (many extra application
#    entries), the checker's wall time and peak RSS against an in-process parse
#    of the same bytes with the library, the floor of what the checker must do.
# Needs hyperfine, jq and GNU time (Debian packages hyperfine, jq, time).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-10}
build=build/bench

cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
manifest=$(sed -n 's/^MANIFEST_PATH:[A-Z]*=//p' "$build/CMakeCache.txt")
results=$build/results
rm -rf "$results"
mkdir -p "$results" "$(dirname "$manifest")"

# ---- a. Start-up ----

cp manifest_check/app.vrmanifest "$manifest"
rules='.source == "builtin" and (.applications | type == "array" and length > 0)
  and (.applications[0] | .app_key == "corvantis.velkor" and .launch_type == "binary"
  and .binary_path_windows == "velkor.exe" and .is_dashboard_overlay == true
  and (.arguments | type == "string") and .arguments == "--minimized")'
for round in $(seq "$rounds"); do
  hyperfine --shell=none --warmup 5 --runs 40 --style none --export-json "$results/start-$round.json" \
    -n "no-op (static)" "$build/bench/bench_noop" \
    -n "checker, shared runtime" "$build/bench/manifest_check_shared" \
    -n "checker, static C++ runtime" "$build/bench/manifest_check_static-runtime" \
    -n "checker, static" "$build/bench/manifest_check_static" \
    -n "jq -e" "jq -e '$rules' $manifest" >/dev/null
done

# ---- b. Size ----

for size in 1 10 100; do
  python3 - "$results/manifest-$size.json" "$size" <<'PY'
import sys
path, size = sys.argv[1], int(sys.argv[2]) << 20
head = (b'{"source":"builtin","applications":[{"app_key":"corvantis.velkor","launch_type":"binary",'
        b'"binary_path_windows":"velkor.exe","is_dashboard_overlay":true,"arguments":"--minimized"}')
entries, n = [head], len(head)
while n < size - 2:
    entry = (b',{"app_key":"corvantis.extra%07d","launch_type":"binary","binary_path_windows":'
             b'"extra%07d.exe","is_dashboard_overlay":false,"arguments":"--minimized --id %d",'
             b'"weight":%d.5,"tags":["a","b",null]}' % (len(entries), len(entries), len(entries),
                                                        len(entries)))
    entries.append(entry)
    n += len(entry)
entries.append(b"]}")
with open(path, "wb") as f:
    f.write(b"".join(entries))
PY
  cp "$results/manifest-$size.json" "$manifest"
  runs=$((size == 100 ? 5 : 10))
  hyperfine --shell=none --warmup 1 --runs "$runs" --style none \
    --export-json "$results/size-$size.json" "$build/manifest_check/manifest_check" >/dev/null
  /usr/bin/time -f "%M" -o "$results/rss-$size.txt" "$build/manifest_check/manifest_check" >/dev/null
  for run in $(seq "$runs"); do
    "$build/bench/bench_parse" "$results/manifest-$size.json" >>"$results/floor-$size.txt"
  done
done

python3 - "$results" "$rounds" <<'PY'
import json, os, statistics, sys
results, rounds = sys.argv[1], int(sys.argv[2])
times = {}
for r in range(1, rounds + 1):
    with open(os.path.join(results, f"start-{r}.json")) as f:
        for entry in json.load(f)["results"]:
            times.setdefault(entry["command"], []).extend(entry["times"])
medians = {name: statistics.median(t) for name, t in times.items()}
floor = medians["no-op (static)"]
print(f"a. Reference manifest: medians of {rounds} interleaved rounds, "
      f"{len(times[next(iter(times))])} runs each\n")
print("| Command | Median | vs no-op |\n|---|---:|---:|")
for name, median in medians.items():
    print(f"| {name} | {median * 1000:.2f} ms | {median / floor:.2f} |")
print("\nb. Generated manifests: the checker's wall time (median) against the library's "
      "in-process parse of the same bytes in a fresh process (median)\n")
print("| Size | Checker | Parse floor | Checker / floor | Checker per MB | Peak RSS | RSS / size "
      "| Floor's peak RSS |")
print("|---:|---:|---:|---:|---:|---:|---:|---:|")
for size in (1, 10, 100):
    with open(os.path.join(results, f"size-{size}.json")) as f:
        checker = json.load(f)["results"][0]["median"]
    with open(os.path.join(results, f"floor-{size}.txt")) as f:
        floors = [line.split() for line in f]
    parse = statistics.median(float(seconds) for seconds, _ in floors)
    floor_rss_mb = max(int(kib) for _, kib in floors) / 1024
    with open(os.path.join(results, f"rss-{size}.txt")) as f:
        rss_mb = int(f.read().split()[-1]) / 1024
    mb = os.path.getsize(os.path.join(results, f"manifest-{size}.json")) / (1 << 20)
    print(f"| {size} MB | {checker * 1000:.1f} ms | {parse * 1000:.1f} ms | {checker / parse:.2f} "
          f"| {checker * 1000 / mb:.2f} ms | {rss_mb:.0f} MB | {rss_mb / mb:.1f} | {floor_rss_mb:.0f} MB |")
PY
