#!/usr/bin/env python3
"""Stands in for an emulator that fails for its own reasons, to test the runner.

  fake_emulator.py loader|silent once|always COMMAND...

Faults as the host's loader asserting at exit (status 127) or as a run that
ends with status 1 and says nothing: "once" on the first run of each case,
running COMMAND on the runner's retry (CASE_ATTEMPT=2); "always" every time.
"""
import os
import sys

fault, when, command = sys.argv[1], sys.argv[2], sys.argv[3:]
if when == "always" or os.environ.get("CASE_ATTEMPT") != "2":
    if fault == "loader":
        sys.stderr.write("Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini: "
                         "Assertion `ns != LM_ID_BASE || i == nloaded' failed!\n")
        sys.exit(127)
    sys.exit(1)
os.execv(command[0], command)
