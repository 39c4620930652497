"""Where the time goes after Enter: the phases of one run, from strace.

Usage: breakdown.py TRACE... (each the `strace -f -ttt` of one whole run of
the program on a set in its folder, tracing only the calls below, so that the
copy's own calls run untraced). Prints the median of each phase in
milliseconds. The phases are cut at the calls that begin them:

  verification     the verification's first open .. the output created
                   (includes the dialog's teardown and the old output's deletion)
  output creation  the output created .. the joiner's first part opened
  copy             the joiner's first part opened .. the output named
  launch           the output named .. the launch's child reaped
  exit             reaped .. exit_group
  teardown         exit_group .. the process gone
"""

import re
import statistics
import sys

LINE = re.compile(r"^(\d+)\s+([\d.]+) (?:<\.\.\. )?(\w+|\+\+\+)")


def phases(path):
    events = []
    for line in open(path, errors="replace"):
        m = LINE.match(line)
        if m:
            events.append((m.group(1), float(m.group(2)), m.group(3), line))
    # The program is the process that launches: the one that waits for a child.
    main = next(pid for pid, _, call, _ in events if call == "wait4")
    events = [(t, call, line) for pid, t, call, line in events if pid == main]

    def first(pred, after=0.0):
        return next(t for t, call, line in events if t > after and pred(call, line))

    verify = first(lambda c, l: c == "openat" and '"NWD4_322.001"' in l)
    created = first(lambda c, l: c == "openat" and "O_TMPFILE" in l, verify)
    copy = first(lambda c, l: c == "openat" and '"NWD4_322.001"' in l, created)
    named = first(lambda c, l: c in ("linkat", "renameat2", "link"), copy)
    reaped = first(lambda c, l: c == "wait4" and "resumed" in l, named)
    ended = first(lambda c, l: c == "exit_group", reaped)
    gone = first(lambda c, l: c == "+++", ended)
    return {
        "verification": created - verify,
        "output creation": copy - created,
        "copy": named - copy,
        "launch": reaped - named,
        "exit": ended - reaped,
        "teardown": gone - ended,
    }


def main():
    runs = [phases(path) for path in sys.argv[1:]]
    for name in runs[0]:
        values = [run[name] * 1000 for run in runs]
        print(f"  {name:16} {statistics.median(values):9.1f} ms")


if __name__ == "__main__":
    main()
