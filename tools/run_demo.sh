#!/bin/sh
# Builds the program, cuts a sample file into a part set under build/demo/
# and starts the program in that folder, as a user would after copying the
# parts. Execute joins them into インストーラ.EXE and opens it with xdg-open.
set -eu
cd "$(dirname "$0")/.."

bash tools/install_deps.sh
cmake --preset debug >/dev/null
cmake --build --preset debug

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
# A sample installer of 3 MiB, cut into three parts.
head -c 3145728 /dev/urandom >"$demo/sample.bin"
build/debug/nwd_split --parts 3 --output-name "インストーラ.EXE" "$demo/sample.bin" "$demo"
rm "$demo/sample.bin"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "run_demo.sh: no display; the program cannot show its dialog and writes its messages to standard error" >&2
fi
cd "$demo"
exec ../debug/NWD4_322
