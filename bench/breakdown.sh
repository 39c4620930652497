#!/usr/bin/env bash
# Where the time goes from the Enter press to the exit, for the optimised
# program (or the one given) on the 1.5 GiB set, through strace (Debian
# package strace, not installed by the project). Only the calls that mark the
# phases are traced: with --seccomp-bpf the copy's own run untraced. Builds
# like run.sh, makes only the large set, and removes it afterwards.
#   bash bench/breakdown.sh [PROGRAM] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/bench
program=${1:-$build/NWD4_322}
runs=${2:-5}
command -v strace >/dev/null || { echo "breakdown.sh: needs strace" >&2; exit 1; }
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
  printf '#!/bin/sh\nexec strace -f --seccomp-bpf -ttt -o %s -e trace=%s %s\n' "$trace" \
    openat,linkat,renameat2,wait4,exit_group "$program" >"$data/traced"
  chmod +x "$data/traced"
  PATH=$data/opener:$PATH xvfb-run -a -s "-noreset -screen 0 1280x1024x24 -nolisten tcp" \
    dbus-run-session -- "$build/bench/window_bench" join "$data/traced" "$data/set" \
    "$data/payloads" 1 >/dev/null 2>&1
  traces+=("$trace")
done
echo "phases of the program's run, medians of $runs traced runs:"
python3 bench/breakdown.py "${traces[@]}"
