#!/usr/bin/env python3
"""Races the checker: while it runs, another thread swaps what lies at the
manifest path (renameat2 with RENAME_EXCHANGE) with something else, again and
again. Whenever the swap falls, the checker must judge one file, the one it
opened, read to its end, and give one whole verdict:

- folder: a folder swapped with a passing manifest is line 53;
- device: a link to an endless device swapped with a passing manifest is line
  53, or, opened after the look saw the manifest, a read that runs on past the
  size the device reports (0), which fails; a run that takes the device's
  endless bytes runs out of memory under the limit, and fails the test;
- invalid versions: two versions that are each not valid JSON, "{" and spaces,
  and the passing manifest padded with spaces to the same size and followed by
  garbage, never pass, whichever size was seen first;
- valid versions: two passing versions of different lengths always pass.

For the folder and the device, line 53 must be seen, else no swap fell; for
the versions, the swaps are counted. With --emulator (a Windows build under
Wine), set --memory 0: the emulator needs more address space; a run that fails
in the emulator's own known ways is run once more and counted, as run_cases.py
does.

    swap_race.py --checker PATH --manifest-path PATH --reference FILE
                 [--runs N] [--kinds KIND,...] [--emulator CMD] [--memory MiB]
"""

import argparse
import ctypes
import os
import shlex
import shutil
import subprocess
import sys
import threading

from run_cases import EMULATOR_FAULTS

RENAME_EXCHANGE = 2
PASS = (0, b"PASS: arguments field locked to string form per A2\n"
        b"PASS: app.vrmanifest schema valid\n", b"")
LINE_53 = (1, b"", b"FAIL: in.good() at line 53\n")
INVALID = (1, b"", b"FAIL: app.vrmanifest is not valid JSON\n")
RAN_ON = (1, b"", b"FAIL: app.vrmanifest could not be read: "
          b"the read ran on more than 1 MiB past the file's size\n")
KINDS = ("folder", "device", "invalid versions", "valid versions")
# What each swap may give: the verdict of the manifest or of what was swapped in.
ALLOWED = {
    "folder": {PASS, LINE_53},
    "device": {PASS, LINE_53, RAN_ON},
    "invalid versions": {INVALID},
    "valid versions": {PASS},
}


def versions(kind, reference):
    """The two files exchanged at the path for a kind of versions."""
    width = max(300, len(reference))
    if kind == "invalid versions":
        garbage = (b"GARBAGE" * (width // 7 + 1))[:100]
        return b"{" + b" " * (width - 1), reference.ljust(width) + garbage
    compact = b"".join(line.strip() for line in reference.splitlines())
    return compact, reference.ljust(width + 100)


def clear(*paths):
    for each in paths:
        if os.path.isdir(each) and not os.path.islink(each):
            shutil.rmtree(each)
        elif os.path.lexists(each):
            os.remove(each)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--checker", required=True)
    parser.add_argument("--manifest-path", required=True,
                        help="the path as the host names it, where the swaps are made")
    parser.add_argument("--reference", required=True, help="a manifest that passes")
    parser.add_argument("--runs", type=int, default=300, help="runs for each kind")
    parser.add_argument("--kinds", default=",".join(KINDS),
                        help=f"which swaps, separated by commas: {', '.join(KINDS)}")
    parser.add_argument("--emulator", default="", help="emulator that runs the checker, split "
                        "as a shell would")
    parser.add_argument("--crlf", action="store_true", help="expect each line to end in CR LF")
    parser.add_argument("--memory", type=int, default=256, help="MiB a run may map; 0: no limit")
    args = parser.parse_args()
    kinds = args.kinds.split(",")
    if set(kinds) - set(KINDS):
        sys.exit(f"no such kind: {', '.join(sorted(set(kinds) - set(KINDS)))}")

    libc = ctypes.CDLL(None, use_errno=True)
    path = args.manifest_path
    other = path + ".swapped"
    with open(args.reference, "rb") as f:
        reference = f.read()
    command = shlex.split(args.emulator) + [args.checker]
    if args.memory:
        command = ["sh", "-c", f'ulimit -v {args.memory << 10} && exec "$@"', "sh"] + command
    failed = retried = 0
    for kind in kinds:
        clear(path, other)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copyfile(args.reference, path)
        if kind == "folder":
            os.mkdir(other)
        elif kind == "device":
            os.symlink("/dev/zero", other)
        else:
            first, second = versions(kind, reference)
            for name, data in ((path, first), (other, second)):
                with open(name, "wb") as f:
                    f.write(data)

        stop = threading.Event()
        errors = []
        swaps = [0]

        def swap():
            while not stop.is_set():
                if libc.renameat2(-100, path.encode(), -100, other.encode(), RENAME_EXCHANGE):
                    errors.append(f"renameat2: {os.strerror(ctypes.get_errno())}")
                    return
                swaps[0] += 1

        swapper = threading.Thread(target=swap)
        swapper.start()
        seen = {}
        try:
            for _ in range(args.runs):
                done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                      timeout=60)
                if args.emulator and any(fault(done) for fault in EMULATOR_FAULTS):
                    retried += 1
                    done = subprocess.run(command, stdin=subprocess.DEVNULL,
                                          capture_output=True, timeout=60)
                out, err = done.stdout, done.stderr
                if args.crlf:
                    out, err = out.replace(b"\r\n", b"\n"), err.replace(b"\r\n", b"\n")
                verdict = (done.returncode, out, err)
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
        if kind in ("folder", "device") and LINE_53 not in seen:
            print(f"FAIL  {kind}: never seen at the path in {args.runs} runs")
            failed += 1
        elif kind.endswith("versions"):
            print(f"      {kind}: {swaps[0]} swaps in {args.runs} runs")
    clear(path, other)
    summary = f"swaps: {failed} unexpected verdicts"
    if args.emulator:
        summary += f" ({retried} runs retried after an emulator fault)"
    print(summary)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
