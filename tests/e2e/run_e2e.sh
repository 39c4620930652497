#!/bin/sh
# Runs the end-to-end tests under an X server and a D-Bus session of their
# own, started once for the whole suite. The accessibility bus that the tests
# read the windows from is started by GTK on that session.
# Usage: run_e2e.sh PROGRAM NWD_SPLIT WORKDIR [TEST...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)

# The accessibility bindings come with the system's Python, which may not be
# the first python3 on the search path.
python=
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null 2>&1 &&
     "$candidate" -c 'import pyatspi' >/dev/null 2>&1; then
    python=$candidate
    break
  fi
done
if [ -z "$python" ]; then
  echo "run_e2e.sh: no python3 with pyatspi (package python3-pyatspi)" >&2
  exit 1
fi

mkdir -p "$3"
# A 24-bit screen, so that screenshots keep their colours.
exec xvfb-run -a -s "-noreset -screen 0 1280x1024x24 -nolisten tcp" \
  dbus-run-session -- "$python" "$here/e2e_test.py" "$@"
