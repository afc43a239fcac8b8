#!/usr/bin/env python3
"""Stands in for an emulator that fails for its own reasons, to test the runner.

  fake_emulator.py every|always COUNTER COMMAND...

"every": each second run faults, by turns as the host's loader asserting at
exit and as a silent status 1; the others run COMMAND. "always": every run
faults. COUNTER is a file that counts the runs.
"""
import os
import sys

mode, counter, command = sys.argv[1], sys.argv[2], sys.argv[3:]
runs = int(open(counter).read()) + 1 if os.path.exists(counter) else 1
with open(counter, "w") as f:
    f.write(str(runs))
if mode == "always" or runs % 2:
    if runs % 4 == 1:
        sys.stderr.write("Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini: "
                         "Assertion `ns != LM_ID_BASE || i == nloaded' failed!\n")
        sys.exit(127)
    sys.exit(1)
os.execv(command[0], command)
