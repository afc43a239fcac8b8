#!/usr/bin/env python3
"""Runs the checker on data-driven cases and compares every result exactly.

A case file holds cases under comment headings. A case starts with "case:" and
names what lies at the manifest path, the command-line arguments, and the exact
standard output, standard error and exit status. The checker reads the one path
it was built with, so the runner writes each case there and the cases run one
after another. --json-test-suite adds the cases of a JSON parsing corpus.
"""

import argparse
import os
import re
import shutil
import stat
import subprocess
import sys

# "y_" texts are embedded as the value of this member of the reference manifest.
EXTRA_MEMBER = b',\n  "extra": '
# Rejected corpus texts that the checker does not report as invalid JSON: a NUL
# byte outside a string ends the text, and what comes before it is complete.
NUL_ENDS_TEXT = {
    "n_multidigit_number_then_00.json": b"FAIL: doc.contains(\"source\") at line 68\n",
}
INVALID = b"FAIL: app.vrmanifest is not valid JSON\n"


def unescape(text):
    """The bytes of an "in:" line: \\xHH is the byte HH, all else is itself."""
    return re.sub(rb"\\x([0-9A-Fa-f]{2})", lambda m: bytes([int(m.group(1), 16)]),
                  text.encode("utf-8"))


def read_cases(path):
    cases, case = [], None
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            key, sep, value = line.partition(":")
            value = value[1:] if value.startswith(" ") else value
            if not sep or key not in ("case", "in", "fill", "at", "args", "memory", "out", "err",
                                      "status"):
                sys.exit(f"{path}:{number}: not a case line: {line!r}")
            if key == "case":
                case = {"name": value, "in": [], "at": "file", "args": [], "memory": None,
                        "out": [], "err": [], "status": None, "where": f"{path}:{number}"}
                cases.append(case)
            elif case is None:
                sys.exit(f"{path}:{number}: {key}: before the first case")
            elif key == "in":
                case["in"].append(unescape(value))
            elif key == "fill":
                count, _, text = value.partition(" ")
                case["in"].append(unescape(text) * int(count))
            elif key == "memory":
                case["memory"] = int(value) << 20
            elif key in ("out", "err"):
                case[key].append(value)
            elif key == "args":
                case["args"] = value.split()
            elif key == "status":
                case["status"] = int(value)
            else:
                case["at"] = value
    for case in cases:
        if case["status"] is None:
            sys.exit(f"{case['where']}: case {case['name']!r} has no status")
        case["in"] = b"\n".join(case["in"])
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
            cases.append({"name": name, "at": "file", "args": [], "status": 0, "out": passed,
                          "err": [], "in": head[:-1].rstrip() + EXTRA_MEMBER + text + b"\n}\n"})
        elif name.startswith("n_"):
            err = NUL_ENDS_TEXT.get(name, INVALID)
            cases.append({"name": name, "at": "file", "args": [], "status": 1, "out": [],
                          "err": [err.decode().rstrip("\n")], "in": text})
    return cases


def clear(path):
    os.chmod(os.path.dirname(path), 0o755)
    for each in (path, path + ".target"):
        if os.path.isdir(each) and not os.path.islink(each):
            shutil.rmtree(each)
        elif os.path.lexists(each):
            os.remove(each)


def place(case, path):
    """Puts at the manifest path what the case says lies there."""
    at, data = case["at"], case["in"]
    target = path + ".target"
    if at in ("file", "unreadable", "unsearchable"):
        with open(path, "wb") as f:
            f.write(data)
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
    elif at != "missing":
        sys.exit(f"{case['where']}: unknown at: {at!r}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--checker", help="the built checker")
    parser.add_argument("--manifest-path",
                        help="MANIFEST_PATH as configured; it stands in for {path} in err: lines")
    parser.add_argument("--host-path", help="where to write the manifest, if the configured "
                        "path names it in another form (a Windows path under an emulator)")
    parser.add_argument("--wrapper", default="", help="command that runs the checker, split at spaces")
    parser.add_argument("--crlf", action="store_true", help="expect each line to end in CR LF")
    parser.add_argument("--skip", action="append", default=[], help="name of a case to skip")
    parser.add_argument("--timeout", type=float, default=20.0, help="seconds a run may take")
    parser.add_argument("--cases", action="append", default=[], help="a case file")
    parser.add_argument("--json-test-suite", help="a folder of y_ and n_ JSON texts")
    parser.add_argument("--reference", help="the reference manifest, for --json-test-suite")
    parser.add_argument("--only", action="append", default=[], help="run only the cases named")
    parser.add_argument("--seeds", help="write each case's manifest to this folder, run nothing")
    args = parser.parse_args()

    cases = [case for file in args.cases for case in read_cases(file)]
    if args.json_test_suite:
        with open(args.reference, "rb") as f:
            cases += corpus_cases(args.json_test_suite, f.read())
    if args.only:
        cases = [case for case in cases if case["name"] in args.only]
        missing = set(args.only) - {case["name"] for case in cases}
        if missing:
            sys.exit(f"no such case: {', '.join(sorted(missing))}")
    if args.seeds:
        os.makedirs(args.seeds, exist_ok=True)
        for number, case in enumerate(cases):
            if case["in"] and len(case["in"]) < 1 << 20:
                with open(os.path.join(args.seeds, f"case-{number:03}"), "wb") as f:
                    f.write(case["in"])
        return 0
    path = args.host_path or args.manifest_path
    os.makedirs(os.path.dirname(path), exist_ok=True)
    newline = b"\r\n" if args.crlf else b"\n"
    # Permissions bind no root: those cases run the checker as nobody then.
    nobody = None
    if hasattr(os, "geteuid") and os.geteuid() == 0:
        import pwd
        nobody = pwd.getpwnam("nobody").pw_uid

    passed = failed = skipped = 0
    for case in cases:
        unprivileged = case["at"] in ("unreadable", "unsearchable")
        if case["name"] in args.skip or ((case.get("memory") or unprivileged) and args.wrapper):
            print(f"skip  {case['name']}")
            skipped += 1
            continue
        clear(path)
        place(case, path)
        expected = {
            "status": case["status"],
            "stdout": b"".join(line.encode() + newline for line in case["out"]),
            "stderr": b"".join(line.replace("{path}", args.manifest_path).encode() + newline
                               for line in case["err"]),
        }
        command = args.wrapper.split() + [args.checker] + case["args"]
        try:
            limit = case.get("memory")
            if limit:
                import resource

                def limit_memory():
                    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
            run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                 timeout=args.timeout, user=nobody if unprivileged else None,
                                 preexec_fn=limit_memory if limit else None)
            actual = {"status": run.returncode, "stdout": run.stdout, "stderr": run.stderr}
        except subprocess.TimeoutExpired:
            actual = {"status": f"still running after {args.timeout} s"}
        except PermissionError:
            actual = {"status": "not run: nobody may not run the checker where it lies"}
        wrong = [key for key in expected if expected[key] != actual.get(key)]
        if wrong:
            failed += 1
            print(f"FAIL  {case['name']}")
            for key in wrong:
                print(f"      {key}: expected {expected[key]!r}\n      {' ' * len(key)}  got      "
                      f"{actual.get(key)!r}")
        else:
            passed += 1
            print(f"ok    {case['name']}")
    clear(path)
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
