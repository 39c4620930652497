#!/usr/bin/env bash
# Every benchmark in one command: builds the optimised program and the
# benchmarks, writes the part sets on the build tree's disk, runs each figure
# against its baseline in the same run, prints everything, and removes the
# sets. Run from anywhere, as root (for dropping the page cache) on Debian 12.
#   bash bench/run.sh            five repetitions of the long cases
#   REPS=9 bash bench/run.sh     more
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/bench
data=$build/data
reps=${REPS:-5}
# The short cases cost little: more repetitions steady their medians.
short_reps=$((reps * 2 + 1))

# The window cases, run once the X server and the session bus are up.
if [ "${1:-}" = --in-window ]; then
  cold=$2
  # The program starts the installer it wrote through the desktop's opener:
  # here one that does nothing, so the launch is timed and nothing runs.
  mkdir -p "$build/opener"
  printf '#!/bin/sh\nexit 0\n' >"$build/opener/xdg-open"
  chmod +x "$build/opener/xdg-open"
  export PATH=$build/opener:$PATH
  wb=$build/bench/window_bench
  "$wb" startup "$build/NWD4_322" "$build/bench/bare_window" "$data/one" "$data/empty" "$short_reps"
  "$wb" join "$build/NWD4_322" "$data/big" "$data/big-payloads" "$reps"
  "$wb" join "$build/NWD4_322" "$data/many" "$data/many-payloads" "$short_reps"
  "$wb" join "$build/NWD4_322" "$data/one" "$data/one-payloads" "$short_reps"
  if [ "$cold" = yes ]; then
    "$wb" join "$build/NWD4_322" "$data/big" "$data/big-payloads" "$reps" cold
    "$wb" join "$build/NWD4_322" "$data/many" "$data/many-payloads" "$reps" cold
  fi
  exit 0
fi

bash tools/install_deps.sh
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null

# The sets go on the disk the build tree is on: a RAM disk would measure
# memory, not the file system a user joins on.
mkdir -p "$build"
fs=$(stat -f -c %T "$build")
case $fs in
  tmpfs | ramfs) echo "run.sh: $build is on $fs, a RAM disk; build on a real disk" >&2; exit 1 ;;
esac
# Parts, payloads and two outputs of the largest set, with room to spare.
need_kib=$((7 * 1024 * 1024))
free_kib=$(df -Pk "$build" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "run.sh: $((free_kib / 1024)) MiB free in $build, $((need_kib / 1024)) MiB needed" >&2
  exit 1
fi
rm -rf "$data"
trap 'rm -rf "$data"' EXIT
mkdir -p "$data/empty"

# A set of COUNT parts of SIZE payload bytes in $data/NAME, cut by the
# project's own splitter, and its payloads alone in $data/NAME-payloads.
make_set() {
  local name=$1 count=$2 size=$3
  head -c $((count * size)) /dev/urandom >"$data/$name.bin"
  mkdir "$data/$name" "$data/$name-payloads"
  "$build/nwd_split" --part-size "$size" --output-name SETUP.EXE "$data/$name.bin" "$data/$name" >/dev/null
  (cd "$data/$name-payloads" && split -a 5 -d -b "$size" "$data/$name.bin" payload.)
  rm "$data/$name.bin"
}
make_set big 48 $((32 * 1024 * 1024))
make_set many 999 4096
make_set one 1 1024
make_set verify 9999 1024
make_set 1MiB 4 $((256 * 1024))
make_set 100MiB 4 $((25 * 1024 * 1024))
sync

# Warm means read once: the parts and the payloads were cached differently
# as they were written, so the cache is emptied where the machine allows it
# and every file read back the same way.
cold=no
if echo 3 2>/dev/null >/proc/sys/vm/drop_caches; then cold=yes; fi
find "$data" -type f -exec cat {} + >/dev/null

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"
echo "  kernel $(uname -r), $(free -g | awk '/^Mem/ { print $2 }') GiB memory, sets on $(df -PT "$build" | awk 'NR == 2 { print $2 }')"
echo "  load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
jb=$build/bench/join_bench
"$jb" join "$data/big" "$data/big-payloads" "$reps"
"$jb" join "$data/many" "$data/many-payloads" "$short_reps"
"$jb" verify "$data/verify" "$short_reps"
"$jb" memory "$data/1MiB" "$data/100MiB" "$data/big"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  dbus-run-session -- bash "$0" --in-window "$cold" 2> >(grep -v -e dbus-daemon -e SpiRegistry >&2) |
  grep -v SpiRegistry
if [ "$cold" = no ]; then
  echo "cold cache: not measured, this machine does not let the page cache be dropped"
fi
echo
echo "  load after: $(cut -d' ' -f1-3 /proc/loadavg)"
