#!/usr/bin/env bash
# Fuzzes the checker with AFL++ for a given time and fails on any crash or hang.
#   fuzz/run.sh [SECONDS]        (default 120)
# The checker reads one fixed path, so the fuzz build's MANIFEST_PATH is the
# file that afl-fuzz writes each input to (-f). The target runs in persistent
# mode: fuzz/harness.cpp calls the checker's own main, compiled unchanged but
# renamed, in a loop, so one process checks up to 10000 inputs (afl-fuzz's
# log, build/fuzz/afl.log, gives the rate). The build keeps
# its assertions and the C++ library's (_GLIBCXX_ASSERTIONS), so a broken
# invariant counts as a crash; the sanitizers run on the case suite instead
# (preset asan), as they would slow the fuzzer fourfold. The seeds are the
# manifests of the test cases.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-120}
build=build/fuzz
target=$build/fuzz/manifest_check_fuzz
checker=$build/manifest_check/manifest_check

# The most address space the checker may map, in MiB, in the campaign and in
# the replay below. A megabyte, afl-fuzz's largest input, of nested arrays
# needs 47 MiB closed and 86 MiB left open (a million levels deep); the seeds
# need under 10. So at 64 MiB, one of the limits of the memory cases, the
# seeds give their normal verdicts while the deepest inputs run out of memory,
# and the fuzzer also tries the checker's way of reporting that: it must still
# be one FAIL line, never an abort (which counts as a crash) or two reports.
memory=64

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
# slowest legitimate input known, a megabyte of nested arrays left open, takes
# 0.2 s here.
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
afl-fuzz -i "$seeds" -o "$findings" -f "$input" -x fuzz/manifest.dict -t 5000 -m "$memory" \
  -V "$seconds" -- "$target" >"$build/afl.log" 2>&1 || {
  tail -n 30 "$build/afl.log"
  echo "afl-fuzz failed; its log is $build/afl.log" >&2
  exit 1
}

stats=$findings/default/fuzzer_stats
stat_of() { sed -n "s/^$1 *: //p" "$stats"; }
crashes=$(stat_of saved_crashes)
hangs=$(stat_of saved_hangs)
echo "fuzzing: $(stat_of run_time) s, $(stat_of execs_done) executions ($(stat_of execs_per_sec)/s)," \
  "$(stat_of corpus_count) paths, $crashes crashes, $hangs hangs"

# Every input the campaign kept is run once more through the plain checker,
# under the same memory limit, and must give a well-formed verdict: the two
# PASS lines alone and status 0, or one FAIL line alone and status 1. Any
# crash or hang is replayed the same way, to show in the log what it gives.
replayed=0
python3 - "$findings/default" "$input" "$checker" "$memory" <<'PY' || replayed=$?
import os, re, resource, shutil, subprocess, sys
findings, path, checker, memory = sys.argv[1:]
limit = int(memory) << 20
passed = b"PASS: arguments field locked to string form per A2\nPASS: app.vrmanifest schema valid\n"
failed = re.compile(rb"FAIL: [^\n]*\n\Z")

def limit_memory():
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

def replay(file):
    shutil.copyfile(file, path)
    try:
        run = subprocess.run([checker], stdin=subprocess.DEVNULL, capture_output=True, timeout=30,
                             preexec_fn=limit_memory)
    except subprocess.TimeoutExpired:
        return "hang", "still running after 30 s"
    if (run.returncode, run.stdout, run.stderr) == (0, passed, b""):
        return "pass", None
    if run.returncode == 1 and run.stdout == b"" and failed.match(run.stderr):
        return "fail", None
    return "wrong", f"status {run.returncode}, stdout {run.stdout[-300:]!r}, stderr {run.stderr[-300:]!r}"

def inputs(folder):
    folder = os.path.join(findings, folder)
    return [os.path.join(folder, name) for name in sorted(os.listdir(folder))
            if name.startswith("id:") and os.path.isfile(os.path.join(folder, name))]

for folder, kind in (("crashes", "crash"), ("hangs", "hang")):
    for file in inputs(folder):
        verdict, detail = replay(file)
        print(f"{kind} {file} ({os.path.getsize(file)} bytes): "
              f"{detail or verdict + ' verdict, well formed'}")

counts = {"pass": 0, "fail": 0, "wrong": 0, "hang": 0}
wrong = []
for file in inputs("queue"):
    verdict, detail = replay(file)
    counts[verdict] += 1
    if detail:
        wrong.append(os.path.basename(file))
        print(f"queue input {file}: {detail}")
print(f"verdicts: {counts['pass'] + counts['fail']} well formed ({counts['pass']} PASS,"
      f" {counts['fail']} FAIL), {len(wrong)} not")
sys.exit(f"inputs with a malformed verdict: {wrong}" if wrong else 0)
PY

if [ "$crashes" != 0 ] || [ "$hangs" != 0 ]; then
  echo "fuzzing found crashes or hangs: inputs in $findings/default" >&2
  exit 1
fi
exit "$replayed"
