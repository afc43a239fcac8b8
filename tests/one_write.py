#!/usr/bin/env python3
"""Runs a command with its standard output and standard error on terminals
of their own, as run_cases.py's --wrapper, and fails the run if it writes a
stream in more than one piece: every report must reach the system in one
write, on a terminal (where the C library would buffer by line) too.

    one_write.py COMMAND...

The terminals pass the bytes through untranslated, and this script passes
them on to its own standard output and standard error, so the runner still
compares them. The writes are counted with strace. A run that splits a
stream exits with status 99 and says so on standard error.
"""

import os
import pty
import re
import subprocess
import sys
import tempfile
import tty


def read_all(master):
    chunks = []
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the other side is closed: EIO
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks)


def main():
    command = sys.argv[1:]
    terminals = [pty.openpty(), pty.openpty()]
    for _, follower in terminals:
        tty.setraw(follower)  # no translation of line ends
    with tempfile.NamedTemporaryFile(prefix="one_write-") as trace:
        with subprocess.Popen(
                ["strace", "-f", "--seccomp-bpf", "-qq", "-e", "trace=write,writev,pwrite64,pwritev", "-o", trace.name, "--"] + command,
                stdin=subprocess.DEVNULL, stdout=terminals[0][1], stderr=terminals[1][1]) as run:
            for _, follower in terminals:
                os.close(follower)
            output = [read_all(leader) for leader, _ in terminals]
        with open(trace.name, encoding="utf-8", errors="replace") as f:
            writes = re.findall(r"^(?:\d+ +)?p?writev?(?:64)?\(([12]),", f.read(), re.MULTILINE)
    sys.stdout.buffer.write(output[0])
    sys.stderr.buffer.write(output[1])
    for stream, name in (("1", "standard output"), ("2", "standard error")):
        if writes.count(stream) > 1:
            sys.stderr.write(f"one_write.py: {name} was written in {writes.count(stream)} pieces\n")
            return 99
    return run.returncode


if __name__ == "__main__":
    sys.exit(main())
