"""Where the time goes after Enter: the phases of one run, from `perf trace -T`.

Usage: breakdown.py TRACE... (each the trace of one whole run of the program
on a set in its folder). Prints, per phase, the median over the traces in
milliseconds. The phases are cut at the system calls that begin them:

  verification     the verification's first open (after the wait for Enter) ..
                   output created
                   (includes the dialog's teardown and the old output's deletion)
  output creation  output created .. first block moved
  copy             first block .. output named (linkat or rename)
  launch           output named .. the launch's intermediate child reaped
  exit             reaped .. exit_group, then the kernel's teardown is outside
"""

import re
import statistics
import sys

LINE = re.compile(
    r"^\s*([\d.]+) \(\s*([\d.]*)(?: ms)?\s*\): (\S+)/(\d+)\s+(?:\.\.\. \[continued\]: )?(\w+)\((.*)$")


def phases(path):
    events = []
    main = None
    for line in open(path, errors="replace"):
        m = LINE.match(line)
        if not m:
            continue
        start, duration, _, pid, call, rest = m.groups()
        if main is None:
            main = pid
        if pid == main:
            # A call that blocked shows twice: the second time with how long.
            end = float(start) + float(duration or 0)
            events.append((end if call == "wait4" else float(start), call, rest))

    def first(pred, after=0.0):
        return next(t for t, call, rest in events if t > after and pred(call, rest))

    created = first(lambda c, r: c == "openat" and "TMPFILE" in r)
    # Parts are opened non-blocking and never as a folder: first by the
    # start-up, then, after the wait for Enter, by the verification.
    part_opens = [t for t, c, r in events if c == "openat" and "NOCTTY|NONBLOCK" in r
                  and "DIRECTORY" not in r and t < created]
    gaps = [(b - a, b) for a, b in zip(part_opens, part_opens[1:])]
    verify = max(gaps)[1]
    copy = first(lambda c, r: c in ("copy_file_range", "read", "write") and "1048576" in r, created)
    named = first(lambda c, r: c in ("linkat", "renameat2", "link"), copy)
    launched = first(lambda c, r: c in ("clone", "clone3", "fork", "vfork"), named)
    reaped = max(t for t, c, r in events if c == "wait4")
    ended = first(lambda c, r: c == "exit_group", reaped)
    return {
        "verification": created - verify,
        "output creation": copy - created,
        "copy": named - copy,
        "launch": reaped - named,
        "exit": ended - reaped,
    }


def main():
    runs = [phases(path) for path in sys.argv[1:]]
    for name in runs[0]:
        values = [run[name] for run in runs]
        print(f"  {name:16} {statistics.median(values):9.1f} ms")


if __name__ == "__main__":
    main()
