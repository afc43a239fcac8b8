#!/usr/bin/env python3
"""Measures the checker and prints the benchmark's tables (HACKING.md gives its targets).
  bench/run.py [ROUNDS]      (default 10)
a. Start-up, on the reference manifest: the checker, linked each way, against
   a statically linked no-op program and against jq -e testing the same rules.
   Each round times every command in turn (hyperfine), so drift on the
   machine touches them alike; the medians are over all rounds.
b. Size: generated manifests of 1, 10 and 100 MB (many extra application
   entries), the checker's wall time and peak RSS against an in-process parse
   of the same bytes with the library, the floor of what the checker must do.
Builds the preset bench first; the checker reads the MANIFEST_PATH of that
build, where each manifest is placed in turn. The raw results stay in
build/bench/results. Needs hyperfine, jq and GNU time (Debian packages
hyperfine, jq, time).
"""
import argparse
import json
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
from pathlib import Path

BUILD = Path("build/bench")
RESULTS = BUILD / "results"
SIZES = (1, 10, 100)  # MB

# The rules of the checker as a jq filter: -e exits 0 only if it yields true.
JQ_RULES = """.source == "builtin" and (.applications | type == "array" and length > 0)
  and (.applications[0] | .app_key == "corvantis.velkor" and .launch_type == "binary"
  and .binary_path_windows == "velkor.exe" and .is_dashboard_overlay == true
  and (.arguments | type == "string") and .arguments == "--minimized")"""

# The start-up commands, named as the table names them, in its order.
STARTUP_COMMANDS = (
    ("no-op (static)", BUILD / "bench/bench_noop"),
    ("checker, shared runtime", BUILD / "bench/Release/manifest_check_shared"),
    ("checker, static C++ runtime", BUILD / "bench/Release/manifest_check_static-runtime"),
    ("checker, static", BUILD / "bench/Release/manifest_check_static"),
)
CHECKER = BUILD / "manifest_check/Release/manifest_check"


def run(*args, **kwargs):
    """Runs a command, its output discarded unless captured; stops the run if it fails."""
    kwargs.setdefault("stdout", subprocess.DEVNULL)
    return subprocess.run([str(arg) for arg in args], check=True, **kwargs)


def manifest_path():
    """The MANIFEST_PATH of the bench build, from its CMake cache."""
    cache = (BUILD / "CMakeCache.txt").read_text(encoding="utf-8")
    match = re.search(r"^MANIFEST_PATH:[A-Z]*=(.*)$", cache, re.MULTILINE)
    if not match or not match.group(1):
        sys.exit(f"run.py: no MANIFEST_PATH in {BUILD / 'CMakeCache.txt'}")
    return Path(match.group(1))


def generate_manifest(path, size_mb):
    """Writes a valid manifest of about SIZE_MB MiB: the reference application,
    then extra application entries, each of every kind of JSON value."""
    size = size_mb << 20
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
    path.write_bytes(b"".join(entries))


def measure_startup(rounds, manifest):
    """Times the start-up commands in ROUNDS interleaved rounds; returns each
    command's times over all rounds, by name, in the table's order."""
    shutil.copyfile("manifest_check/app.vrmanifest", manifest)
    commands = []
    for name, program in STARTUP_COMMANDS:
        commands += ["-n", name, program]
    commands += ["-n", "jq -e", f"jq -e {shlex.quote(JQ_RULES)} {shlex.quote(str(manifest))}"]
    times = {}
    for r in range(1, rounds + 1):
        export = RESULTS / f"start-{r}.json"
        run("hyperfine", "--shell=none", "--warmup", 5, "--runs", 40, "--style", "none",
            "--export-json", export, *commands)
        for entry in json.loads(export.read_text(encoding="utf-8"))["results"]:
            times.setdefault(entry["command"], []).extend(entry["times"])
    return times


def measure_size(size_mb, manifest):
    """Times the checker and the parse floor on a generated manifest of SIZE_MB
    MiB; returns the checker's median seconds and peak RSS in KiB, the floor's
    seconds and peak RSS in KiB of each run, and the file's size in bytes."""
    generated = RESULTS / f"manifest-{size_mb}.json"
    generate_manifest(generated, size_mb)
    shutil.copyfile(generated, manifest)
    runs = 5 if size_mb == 100 else 10
    export = RESULTS / f"size-{size_mb}.json"
    run("hyperfine", "--shell=none", "--warmup", 1, "--runs", runs, "--style", "none",
        "--export-json", export, CHECKER)
    checker = json.loads(export.read_text(encoding="utf-8"))["results"][0]["median"]
    rss_file = RESULTS / f"rss-{size_mb}.txt"
    run("/usr/bin/time", "-f", "%M", "-o", rss_file, CHECKER)
    rss_kib = int(rss_file.read_text(encoding="utf-8").split()[-1])
    floors = []
    with open(RESULTS / f"floor-{size_mb}.txt", "w", encoding="utf-8") as raw:
        for _ in range(runs):
            line = run(BUILD / "bench/bench_parse", generated, stdout=subprocess.PIPE,
                       text=True).stdout
            raw.write(line)
            seconds, kib = line.split()
            floors.append((float(seconds), int(kib)))
    return checker, rss_kib, floors, generated.stat().st_size


def print_tables(rounds, times, sizes):
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
    for size, (checker, rss_kib, floors, file_bytes) in sizes.items():
        parse = statistics.median(seconds for seconds, _ in floors)
        floor_rss_mb = max(kib for _, kib in floors) / 1024
        rss_mb = rss_kib / 1024
        mb = file_bytes / (1 << 20)
        print(f"| {size} MB | {checker * 1000:.1f} ms | {parse * 1000:.1f} ms | {checker / parse:.2f} "
              f"| {checker * 1000 / mb:.2f} ms | {rss_mb:.0f} MB | {rss_mb / mb:.1f} | {floor_rss_mb:.0f} MB |")


def positive_int(text):
    if not text.isdigit() or int(text) < 1:
        raise argparse.ArgumentTypeError(f"{text} is not a positive whole number")
    return int(text)


def main():
    parser = argparse.ArgumentParser(description="Measures the checker (see the README's Benchmark).")
    parser.add_argument("rounds", metavar="ROUNDS", nargs="?", type=positive_int, default=10,
                        help="interleaved rounds of the start-up measurement (default 10)")
    rounds = parser.parse_args().rounds
    os.chdir(Path(__file__).resolve().parent.parent)

    run("cmake", "--preset", "bench")
    run("cmake", "--build", "--preset", "bench")
    manifest = manifest_path()
    shutil.rmtree(RESULTS, ignore_errors=True)
    RESULTS.mkdir(parents=True)
    manifest.parent.mkdir(parents=True, exist_ok=True)

    times = measure_startup(rounds, manifest)
    sizes = {size: measure_size(size, manifest) for size in SIZES}
    print_tables(rounds, times, sizes)


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as error:
        sys.exit(f"run.py: {error.cmd[0]} failed with exit status {error.returncode}")
    except FileNotFoundError as error:
        sys.exit(f"run.py: {error.filename} not found (sh tools/need.sh hyperfine jq time)")
