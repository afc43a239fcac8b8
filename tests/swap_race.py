#!/usr/bin/env python3
"""Races the checker: while it runs, another thread swaps what lies at the
manifest path (renameat2 with RENAME_EXCHANGE) between a passing manifest and
something else, a folder or a link to an endless device. Whenever the swap
falls, the checker must read no more than the file it examined and give one
whole verdict: the manifest's, or the report of what was swapped in (a folder
or a device is line 53; the device's bytes, up to the manifest's size, are not
JSON). A run that takes the device's endless bytes runs out of memory under
the limit, and fails the test; so does a swap that never lands.

    swap_race.py --checker PATH --manifest-path PATH --reference FILE [--runs N]
"""

import argparse
import ctypes
import os
import shutil
import subprocess
import sys
import threading

RENAME_EXCHANGE = 2
PASS = (0, b"PASS: arguments field locked to string form per A2\n"
        b"PASS: app.vrmanifest schema valid\n", b"")
LINE_53 = (1, b"", b"FAIL: in.good() at line 53\n")
# What each swap may give: the manifest's verdict or that of what was swapped
# in. A folder is line 53; a device is line 53, or its bytes up to the
# manifest's size, which are not JSON. Line 53 must be seen: else no swap fell.
ALLOWED = {
    "folder": {PASS, LINE_53},
    "device": {PASS, LINE_53, (1, b"", b"FAIL: app.vrmanifest is not valid JSON\n")},
}


def clear(*paths):
    for each in paths:
        if os.path.isdir(each) and not os.path.islink(each):
            shutil.rmtree(each)
        elif os.path.lexists(each):
            os.remove(each)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--checker", required=True)
    parser.add_argument("--manifest-path", required=True)
    parser.add_argument("--reference", required=True, help="a manifest that passes")
    parser.add_argument("--runs", type=int, default=300, help="runs for each swap")
    parser.add_argument("--memory", type=int, default=256, help="MiB a run may map")
    args = parser.parse_args()

    libc = ctypes.CDLL(None, use_errno=True)
    path = args.manifest_path
    other = path + ".swapped"
    failed = 0
    for kind in ("folder", "device"):
        clear(path, other)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(args.reference, path)
        if kind == "folder":
            os.mkdir(other)
        else:
            os.symlink("/dev/zero", other)

        stop = threading.Event()
        errors = []

        def swap():
            while not stop.is_set():
                if libc.renameat2(-100, path.encode(), -100, other.encode(), RENAME_EXCHANGE):
                    errors.append(f"renameat2: {os.strerror(ctypes.get_errno())}")
                    return

        swapper = threading.Thread(target=swap)
        swapper.start()
        seen = {}
        try:
            for _ in range(args.runs):
                done = subprocess.run(
                    ["sh", "-c", f'ulimit -v {args.memory << 10} && exec "$1"', "sh", args.checker],
                    stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                verdict = (done.returncode, done.stdout, done.stderr)
                seen[verdict] = seen.get(verdict, 0) + 1
        finally:
            stop.set()
            swapper.join()
        if errors:
            sys.exit(f"{kind}: the swaps failed: {errors[0]}")
        for verdict, count in sorted(seen.items(), key=lambda item: -item[1]):
            mark = "ok  " if verdict in ALLOWED[kind] else "FAIL"
            failed += verdict not in ALLOWED[kind]
            print(f"{mark}  {kind}: {count} runs, status {verdict[0]}, "
                  f"{(verdict[1] + verdict[2]).decode(errors='replace').strip()!r}")
        if LINE_53 not in seen:
            print(f"FAIL  {kind}: never seen at the path in {args.runs} runs")
            failed += 1
    clear(path, other)
    print(f"swaps: {failed} unexpected verdicts")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
