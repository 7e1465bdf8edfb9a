#!/usr/bin/env python3
"""A pseudo-terminal where nothing answers: prints the device path, then reads
and drops whatever is written to it until killed."""
import os
import pty
import select

master, slave = pty.openpty()
print(os.ttyname(slave), flush=True)
while True:
    try:
        os.read(master, 4096)
    except OSError:
        # No reader on the other side yet (or any more): wait for one.
        select.select([], [], [], 0.05)
