#!/usr/bin/env bash
# Fuzzes the checker with AFL++ for a given time and fails on any crash or hang.
#   fuzz/run.sh [SECONDS]        (default 120)
# The checker reads one fixed path, so the fuzz build's MANIFEST_PATH is the
# file that afl-fuzz writes each input to (-f). The build keeps its assertions
# and the C++ library's (_GLIBCXX_ASSERTIONS), so a broken invariant counts as
# a crash; the sanitizers run on the case suite instead (preset asan), as they
# would slow the fuzzer fourfold. The seeds are the manifests of the test cases.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
build=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
input=$(sed -n 's/^MANIFEST_PATH:[A-Z]*=//p' "$build/CMakeCache.txt")
seeds=$build/seeds
findings=$build/findings
rm -rf "$seeds" "$findings"
mkdir -p "$(dirname "$input")"
python3 tests/run_cases.py --cases tests/cases.test --seeds "$seeds"

# No UI on a terminal-less run; the machine's CPU settings and crash handling
# are not this script's to change. A hang is a run longer than 5 s: the
# slowest legitimate input, a megabyte of nested arrays, takes 1.5 s here.
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
afl-fuzz -i "$seeds" -o "$findings" -f "$input" -x fuzz/manifest.dict -t 5000 -m none \
  -V "$seconds" -- "$build/manifest_check/manifest_check" >"$build/afl.log" 2>&1 || {
  tail -n 30 "$build/afl.log"
  echo "afl-fuzz failed; its log is $build/afl.log" >&2
  exit 1
}

stats=$findings/default/fuzzer_stats
stat() { sed -n "s/^$1 *: //p" "$stats"; }
crashes=$(stat saved_crashes)
hangs=$(stat saved_hangs)
echo "fuzzing: $(stat run_time) s, $(stat execs_done) executions ($(stat execs_per_sec)/s)," \
  "$(stat corpus_count) paths, $crashes crashes, $hangs hangs"
if [ "$crashes" != 0 ] || [ "$hangs" != 0 ]; then
  ls "$findings"/default/crashes "$findings"/default/hangs
  echo "fuzzing found crashes or hangs: inputs in $findings/default" >&2
  exit 1
fi

# Every input the campaign kept must also give a well-formed verdict: the two
# PASS lines and status 0, or one FAIL line alone and status 1.
python3 - "$findings/default/queue" "$input" "$build/manifest_check/manifest_check" <<'PY'
import os, re, shutil, subprocess, sys
queue, path, checker = sys.argv[1:]
passed = b"PASS: arguments field locked to string form per A2\nPASS: app.vrmanifest schema valid\n"
failed = re.compile(rb"FAIL: [^\n]*\n\Z")
names = [name for name in sorted(os.listdir(queue)) if os.path.isfile(os.path.join(queue, name))]
wrong = []
for name in names:
    shutil.copyfile(os.path.join(queue, name), path)
    run = subprocess.run([checker], capture_output=True, timeout=30)
    if not ((run.returncode, run.stdout, run.stderr) == (0, passed, b"")
            or (run.returncode == 1 and run.stdout == b"" and failed.match(run.stderr))):
        wrong.append(name)
print(f"verdicts: {len(names) - len(wrong)} well formed, {len(wrong)} not")
sys.exit(f"inputs with a malformed verdict: {wrong}" if wrong else 0)
PY
