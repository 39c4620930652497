#!/usr/bin/env bash
# Where the time goes from the Enter press to the exit, for the optimised
# program (or the one given) on the 1.5 GiB set, through `perf trace`
# (Debian package linux-perf, not installed by the project). Builds like
# run.sh, makes only the large set, and removes it afterwards.
#   bash bench/breakdown.sh [PROGRAM] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/bench
program=${1:-$build/NWD4_322}
runs=${2:-5}
command -v perf >/dev/null || { echo "breakdown.sh: needs perf (linux-perf)" >&2; exit 1; }
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null

data=$build/breakdown
rm -rf "$data"
trap 'rm -rf "$data"' EXIT
mkdir -p "$data/set" "$data/payloads" "$data/opener"
head -c $((48 * 32 * 1024 * 1024)) /dev/urandom >"$data/set.bin"
"$build/nwd_split" --part-size 32M --output-name SETUP.EXE "$data/set.bin" "$data/set" >/dev/null
(cd "$data/payloads" && split -a 5 -d -b 32M "$data/set.bin" payload.)
rm "$data/set.bin"
printf '#!/bin/sh\nexit 0\n' >"$data/opener/xdg-open"
chmod +x "$data/opener/xdg-open"

traces=()
for i in $(seq "$runs"); do
  trace=$data/trace.$i
  printf '#!/bin/sh\nexec perf trace -T -o %s -- %s\n' "$trace" "$program" >"$data/traced"
  chmod +x "$data/traced"
  PATH=$data/opener:$PATH xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    dbus-run-session -- "$build/bench/window_bench" join "$data/traced" "$data/set" \
    "$data/payloads" 1 2>/dev/null | grep -e "Enter to exit" -e "cat of"
  traces+=("$trace")
done
echo "phases of the program's run, medians of $runs traced runs:"
python3 bench/breakdown.py "${traces[@]}"
