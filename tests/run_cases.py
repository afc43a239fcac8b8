#!/usr/bin/env python3
"""Runs the checker on data-driven cases and compares every result exactly.

A case file holds cases under comment headings. A case starts with "case:" and
names what lies at the manifest path, the command-line arguments, and the exact
standard output, standard error and exit status. The checker reads the one path
it was built with, so the runner writes each case there and the cases run one
after another. --json-test-suite adds the cases of a JSON parsing corpus.

A case may start from the reference manifest, in one line, with changes
("with: OLD => NEW", OLD found once), before its "in:" and "fill:" lines;
in an "in:" line, {reference} stands for it. A failing
case is named with its file and line. --one-per-verdict runs only the first
case of each verdict and staging, for the slower ways of running.

A case with memory limits runs once under each, and each run must give the
case's verdict or its alternative ("or" lines). With --fail-allocations, each
case runs once for every allocation it makes, failing that one allocation, and
each run must likewise give one of the two. Under an emulator, a run that fails
in the emulator's own known ways is run once more, and said so.
"""

import argparse
import copy
import errno
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import zlib
from concurrent.futures import ThreadPoolExecutor

# "y_" texts are embedded as the value of this member of the reference manifest.
EXTRA_MEMBER = b',\n  "extra": '
# Rejected corpus texts that the checker does not report as invalid JSON: a NUL
# byte outside a string ends the text, and what comes before it is complete.
NUL_ENDS_TEXT = {
    "n_multidigit_number_then_00.json": b"FAIL: doc.contains(\"source\") at line 68\n",
}
INVALID = b"FAIL: app.vrmanifest is not valid JSON\n"
SKIPPED = 77  # the exit status of a run with nothing to run, which CTest reports as skipped
# Windows refuses symbolic links without Developer Mode or administrator
# rights (ERROR_PRIVILEGE_NOT_HELD): cases that need one are not run there.
SYMLINK_REFUSED = 1314
# How an emulated run fails for the emulator's own reasons: the host's loader
# asserts as the emulator exits, or the run ends with status 1 and says nothing
# (a report always says something).
EMULATOR_FAULTS = (
    lambda run: run.returncode == 127 and b"Inconsistency detected by ld.so" in run.stderr,
    lambda run: run.returncode == 1 and not run.stdout and not run.stderr,
)
KEYS = ("case", "in", "with", "fill", "size", "at", "next", "next fill", "args", "env", "stdout", "memory", "out",
        "err", "status", "or out", "or err", "or status")
# Where the version that the fault injector renames over the manifest path as
# the checker opens it waits: the path and this suffix (env: RENAME_AT_OPEN=.next).
NEXT = ".next"
# Where a case's standard output goes instead of to the runner (POSIX hosts).
STDOUT = {"closed": ">&-", "full": ">/dev/full"}
# A case before its lines are read: a file at the path, no arguments, and so on.
NEW_CASE = {"in": [], "with": [], "at": "file", "next": None, "args": [], "env": {}, "stdout": None, "memory": [],
            "size": None, "out": [], "err": [], "status": None, "or out": [], "or err": [],
            "or status": None}

# The reference manifest, the smallest that passes, in one line: what with:
# lines change.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "manifest_check",
                       "app.vrmanifest"), encoding="utf-8") as reference:
    REFERENCE = json.dumps(json.load(reference), separators=(",", ":")).encode()


def unescape(text):
    """The bytes of an "in:" line: \\xHH is the byte HH, all else is itself."""
    return re.sub(rb"\\x([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]),
                  text.encode("utf-8"))


def read_cases(path):
    cases, case = [], None
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            if "\t" in line or line.endswith(" "):  # an editor could drop or change them unseen
                sys.exit(f"{path}:{number}: a raw tab or trailing space: write it as \\x09 or \\x20")
            if not line.strip() or line.startswith("#"):
                continue
            key, sep, value = line.partition(":")
            value = value[1:] if value.startswith(" ") else value
            if not sep or key not in KEYS:
                sys.exit(f"{path}:{number}: not a case line: {line!r}")
            if key == "case":
                case = dict(copy.deepcopy(NEW_CASE), name=value, where=f"{path}:{number}")
                cases.append(case)
            elif case is None:
                sys.exit(f"{path}:{number}: {key}: before the first case")
            elif key == "in":
                case["in"].append(unescape(value).replace(b"{reference}", REFERENCE))
            elif key == "with":
                old, arrow, new = value.partition(" => ")
                if not arrow or not old:
                    sys.exit(f"{path}:{number}: with: is OLD => NEW")
                case["with"].append((unescape(old), unescape(new), f"{path}:{number}"))
            elif key == "next":
                case["next"] = (case["next"] or []) + [unescape(value).replace(b"{reference}", REFERENCE)]
            elif key in ("fill", "next fill"):
                count, _, text = value.partition(" ")
                piece = unescape(text)
                if b"{n}" in piece:  # numbered: the first piece holds 0, the next 1, ...
                    head, tail = piece.split(b"{n}", 1)
                    line = b"".join(b"%s%d%s" % (head, n, tail) for n in range(int(count)))
                else:
                    line = piece * int(count)
                if key == "fill":
                    case["in"].append(line)
                else:
                    case["next"] = (case["next"] or []) + [line]
            elif key == "memory":
                case["memory"] = [int(mib) for mib in value.split()]
            elif key == "size":
                case["size"] = int(value)
            elif key in ("out", "err", "or out", "or err"):
                case[key].append(value)
            elif key == "args":
                case["args"] = value.split()
            elif key == "stdout":
                if value not in STDOUT:
                    sys.exit(f"{path}:{number}: stdout: is one of {', '.join(STDOUT)}")
                case["stdout"] = value
            elif key == "env":
                name, _, setting = value.partition("=")
                case["env"][name] = setting
            elif key in ("status", "or status"):
                case[key] = int(value)
            else:
                case["at"] = value
    for case in cases:
        if case["status"] is None:
            sys.exit(f"{case['where']}: case {case['name']!r} has no status")
        if case["with"]:  # the changed reference, then any in: and fill: lines
            changed = REFERENCE
            for old, new, where in case["with"]:
                if changed.count(old) != 1:
                    sys.exit(f"{where}: with: {old!r} is not found once in {changed!r}")
                changed = changed.replace(old, new)
            case["in"].insert(0, changed)
        case["in"] = b"\n".join(case["in"])
        if case["next"] is not None:
            case["next"] = b"\n".join(case["next"])
    return cases


def corpus_cases(folder, reference):
    """Accepted texts embedded in the reference manifest, rejected ones raw."""
    head = reference.rstrip()
    if not head.endswith(b"}"):
        sys.exit("the reference manifest must end with the closing brace of its object")
    passed = ["PASS: arguments field locked to string form per A2",
              "PASS: app.vrmanifest schema valid"]
    cases = []
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            text = f.read()
        if name.startswith("y_"):
            cases.append(dict(NEW_CASE, name=name, where=os.path.join(folder, name), status=0,
                              out=passed,
                              **{"in": head[:-1].rstrip() + EXTRA_MEMBER + text + b"\n}\n"}))
        elif name.startswith("n_"):
            err = NUL_ENDS_TEXT.get(name, INVALID)
            cases.append(dict(NEW_CASE, name=name, where=os.path.join(folder, name), status=1,
                              err=[err.decode().rstrip("\n")],
                              **{"in": text}))
    return cases


def signature(case):
    """What a case stages and the verdict it expects: cases alike in both catch
    the same faults of how the checker is run (under valgrind, on terminals),
    but for the code a case's manifest takes to the verdict: the first of them
    is the one that runs, so a case file puts the rarer path first."""
    return (case["at"], case["stdout"], tuple(case["args"]), tuple(sorted(case["env"])),
            case["next"] is not None,
            case["size"] is not None, bool(case["memory"]), tuple(case["out"]), tuple(case["err"]),
            case["status"], tuple(case["or out"]), tuple(case["or err"]), case["or status"])


def clear(path):
    os.chmod(os.path.dirname(path), 0o755)
    for each in (path, path + ".target", path + NEXT, sparse_path(path)):
        if os.path.isdir(each) and not os.path.islink(each):
            shutil.rmtree(each)
        elif os.path.lexists(each):
            os.remove(each)


def sparse_path(path):
    """Where a sparse file larger than the manifest's file system can hold is
    made: on the memory file system, named for the manifest path it serves."""
    return f"/dev/shm/manifest_check-{zlib.crc32(path.encode()):08x}"


def place(case, path):
    """Puts at the manifest path what the case says lies there, and the version
    to be renamed over it; returns a process that the case needs, if any."""
    at, data = case["at"], case["in"]
    target = path + ".target"
    if case["next"] is not None:
        with open(path + NEXT, "wb") as f:
            f.write(case["next"])
    if at in ("file", "unreadable", "unsearchable"):
        with open(path, "wb") as f:
            f.write(data)
        if case["size"] is not None:  # NUL bytes up to the size, stored as a hole
            try:
                os.truncate(path, case["size"])
            except OSError as error:  # too large for this file system: a link to memory's
                if error.errno != errno.EFBIG:
                    raise
                sparse = sparse_path(path)
                shutil.move(path, sparse)
                os.truncate(sparse, case["size"])
                os.symlink(sparse, path)
        if at == "unreadable":
            os.chmod(path, 0)
        elif at == "unsearchable":
            os.chmod(os.path.dirname(path), 0o600)
    elif at == "link":
        with open(target, "wb") as f:
            f.write(data)
        os.symlink(os.path.basename(target), path)
    elif at == "dangling link":
        os.symlink(os.path.basename(target), path)
    elif at == "link loop":
        os.symlink(os.path.basename(path), path)
    elif at == "directory":
        os.mkdir(path)
    elif at == "fifo":
        os.mkfifo(path)
    elif at == "device":
        os.symlink("/dev/zero", path)
    elif at == "command line":
        # A process whose command line is the manifest: the kernel's file of it
        # reports 0 bytes and holds the manifest and a NUL.
        process = subprocess.Popen([data], executable="/bin/cat", stdin=subprocess.PIPE)
        os.symlink(f"/proc/{process.pid}/cmdline", path)
        return process
    elif at == "read error":
        # A kernel file of 4096 bytes whose read fails: loopback has no link speed.
        os.symlink("/sys/class/net/lo/speed", path)
    elif at != "missing":
        sys.exit(f"{case['where']}: unknown at: {at!r}")
    return None


def verdicts(case, args):
    """The verdict the case expects, and its alternative if it has one."""
    newline = b"\r\n" if args.crlf else b"\n"

    def verdict(out, err, status):
        return {"status": status,
                "stdout": b"".join(line.encode() + newline for line in out),
                "stderr": b"".join(line.replace("{path}", args.manifest_path).encode() + newline
                                   for line in err)}
    expected = [verdict(case["out"], case["err"], case["status"])]
    if case["or status"] is not None:
        expected.append(verdict(case["or out"], case["or err"], case["or status"]))
    return expected


def run(command, args, memory=None, attempt=1, env=None):
    """Runs the checker once: its status, output and error, or why it did not end.
    CASE_ATTEMPT in its environment says whether this is a run's retry (2)."""
    if memory:  # the most address space, in MiB, set by the shell that starts it
        command = ["sh", "-c", f'ulimit -v {memory << 10} && exec "$@"', "sh"] + command
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=args.timeout,
                              env=dict(os.environ, CASE_ATTEMPT=str(attempt), **(env or {})))
    except subprocess.TimeoutExpired:
        return {"status": f"still running after {args.timeout} s"}, None
    return {"status": done.returncode, "stdout": done.stdout, "stderr": done.stderr}, done


def count_allocations(attempt):
    """How many allocations a case's run makes, failing none: the injector
    writes the count to a file as the run exits."""
    with tempfile.TemporaryDirectory() as folder:
        count = os.path.join(folder, "count")
        attempt(None, {"ALLOCATION_COUNT": count})
        with open(count) as f:
            return int(f.read())


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--checker", help="the built checker")
    parser.add_argument("--manifest-path",
                        help="MANIFEST_PATH as configured; it stands in for {path} in err: lines")
    parser.add_argument("--host-path", help="where to write the manifest, if the configured "
                        "path names it in another form (a Windows path under an emulator)")
    parser.add_argument("--emulator", default="",
                        help="emulator that runs the checker, split as a shell would; its known "
                        "faults are retried once")
    parser.add_argument("--wrapper", default="", help="command that runs the checker natively "
                        "(valgrind), split as a shell would; never retried")
    parser.add_argument("--crlf", action="store_true", help="expect each line to end in CR LF")
    parser.add_argument("--timeout", type=float, default=20.0, help="seconds a run may take")
    parser.add_argument("--jobs", type=int, default=2,
                        help="runs of one case under its memory limits at once")
    parser.add_argument("--cases", action="append", default=[], help="a case file")
    parser.add_argument("--json-test-suite", help="a folder of y_ and n_ JSON texts")
    parser.add_argument("--reference", help="the reference manifest, for --json-test-suite")
    parser.add_argument("--only", action="append", default=[], help="run only the cases named")
    parser.add_argument("--one-per-verdict", action="store_true",
                        help="run only the first case of each verdict and staging")
    parser.add_argument("--seeds", help="write each case's manifest to this folder, run nothing")
    parser.add_argument("--fail-allocations", metavar="INJECTOR",
                        help="preload this library (tests/inject_faults.cpp) and run each case "
                        "once for each of its allocations, failing that one")
    parser.add_argument("--inject", metavar="INJECTOR", help="preload this library "
                        "(tests/inject_faults.cpp) into every run: cases set its faults with env:")
    args = parser.parse_args()

    cases = [case for file in args.cases for case in read_cases(file)]
    if args.json_test_suite and not os.path.isdir(args.json_test_suite):
        print(f"not run: the JSON parsing corpus, which is not at {args.json_test_suite} "
              "(set JSON_TEST_SUITE_DIR to its test_parsing folder)")
        if not cases:
            return SKIPPED
    elif args.json_test_suite:
        with open(args.reference, "rb") as f:
            cases += corpus_cases(args.json_test_suite, f.read())
    if args.only:
        cases = [case for case in cases if case["name"] in args.only]
        missing = set(args.only) - {case["name"] for case in cases}
        if missing:
            sys.exit(f"no such case: {', '.join(sorted(missing))}")
    if args.one_per_verdict:
        seen = set()
        cases = [case for case in cases if not (signature(case) in seen or seen.add(signature(case)))]
    if args.seeds:
        os.makedirs(args.seeds, exist_ok=True)
        for number, case in enumerate(cases):
            if case["in"] and len(case["in"]) < 1 << 20:
                with open(os.path.join(args.seeds, f"case-{number:03}"), "wb") as f:
                    f.write(case["in"])
        return 0
    path = args.host_path or args.manifest_path
    os.makedirs(os.path.dirname(path), exist_ok=True)
    command = shlex.split(args.emulator) + shlex.split(args.wrapper) + [args.checker]
    # Permissions bind no root: as root, those cases run the checker without
    # the capabilities that let it read and search what they forbid (setpriv,
    # of util-linux). Where that cannot be done, or the checker so run cannot
    # pass a readable manifest (a folder on the way that root does not own),
    # they are not run, and say why.
    unprivileged, cannot_drop = [], None
    permission_cases = [case for case in cases if case["at"] in ("unreadable", "unsearchable")]
    if permission_cases and hasattr(os, "geteuid") and os.geteuid() == 0:
        caps = "-dac_override,-dac_read_search"
        unprivileged = ["setpriv", f"--inh-caps={caps}", f"--bounding-set={caps}", "--"]
        clear(path)
        with open(path, "wb") as f:
            f.write(REFERENCE)
        try:
            probe = subprocess.run(unprivileged + command, stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=args.timeout)
            if probe.returncode != 0:
                why = probe.stderr.decode(errors="replace").strip() or f"status {probe.returncode}"
                cannot_drop = f"without them the checker does not pass a readable manifest: {why}"
        except (OSError, subprocess.TimeoutExpired) as error:
            cannot_drop = str(error)

    passed = failed = retried = 0
    not_run = []
    for case in cases:
        clear(path)
        permissions = case["at"] in ("unreadable", "unsearchable")
        if permissions and cannot_drop is not None:
            print(f"not run {case['where']}: {case['name']}: as root without the capabilities "
                  f"that pass permissions ({cannot_drop})")
            not_run.append(case["name"])
            continue
        try:
            process = place(case, path)
        except OSError as error:
            if getattr(error, "winerror", None) != SYMLINK_REFUSED:
                raise
            print(f"not run {case['where']}: {case['name']}: {error}")
            not_run.append(case["name"])
            continue
        expected = verdicts(case, args)
        prefix = unprivileged if permissions else []

        def attempt(setting, env=None):
            """One run under a memory limit, or failing one allocation."""
            memory, env = setting, dict(case["env"], **(env or {}))
            if args.inject:
                env = dict(env, LD_PRELOAD=os.path.abspath(args.inject))
            if args.fail_allocations:
                memory, env = None, dict(env, LD_PRELOAD=args.fail_allocations,
                                         FAIL_ALLOCATION=str(setting or 0))
            checker = prefix + command + case["args"]
            if case["stdout"]:
                checker = ["sh", "-c", f'exec "$@" {STDOUT[case["stdout"]]}', "sh"] + checker
            actual, done = run(checker, args, memory, env=env)
            if args.emulator and done and any(fault(done) for fault in EMULATOR_FAULTS):
                print(f"retry {case['name']}: emulator fault, status {done.returncode}, "
                      f"error {done.stderr[:120]!r}")
                actual, _ = run(checker, args, memory, attempt=2, env=env)
                return actual, 1
            return actual, 0

        limits = case["memory"] or [None]
        if args.fail_allocations:  # each allocation fails in turn; in the last run, none
            limits = list(range(1, count_allocations(attempt) + 1)) + [None]
        with ThreadPoolExecutor(max_workers=args.jobs) as pool:
            results = list(pool.map(attempt, limits))
        if process:
            process.kill()
            process.wait()
        retried += sum(again for _, again in results)
        wrong = [(memory, actual) for memory, (actual, _) in zip(limits, results)
                 if actual not in expected]
        # The last limit is ample: there the case's own verdict, never the other.
        if not wrong and results[-1][0] != expected[0]:
            wrong = [(limits[-1], results[-1][0])]
        if wrong:
            failed += 1
            print(f"FAIL  {case['where']}: {case['name']}")
            for memory, actual in wrong:
                under = f" under {memory} MiB" if memory else ""
                if args.fail_allocations:
                    under = f" failing allocation {memory}" if memory else ""
                for key in expected[0]:
                    if expected[0][key] != actual.get(key):
                        print(f"      {key}{under}: expected {expected[0][key]!r}\n"
                              f"      {' ' * len(key + under)}  got      {actual.get(key)!r}")
        else:
            passed += 1
            tally = ""
            if args.fail_allocations:
                other = sum(actual != expected[0] for actual, _ in results)
                tally = (f" [{len(limits) - 1} allocations failed in turn; the verdict in "
                         f"{len(limits) - other} runs, the other in {other}]")
            elif case["memory"]:  # under which limits each verdict came
                first = [str(m) for m, (actual, _) in zip(limits, results) if actual == expected[0]]
                other = [str(m) for m, (actual, _) in zip(limits, results) if actual != expected[0]]
                tally = f" [MiB, the verdict: {' '.join(first) or '-'}; the other: {' '.join(other) or '-'}]"
            print(f"ok    {case['name']}{tally}")
    clear(path)
    summary = f"{passed} passed, {failed} failed"
    if not_run:
        summary += f", {len(not_run)} not run (why: above)"
    if args.emulator:
        summary += f" ({retried} runs retried after an emulator fault)"
    print(summary)
    if not_run and not passed and not failed:
        return SKIPPED
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
