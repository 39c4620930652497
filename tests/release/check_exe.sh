#!/usr/bin/env bash
# Two clean builds of the Windows program, in folders of different names and
# depths, must give the same NWD4_322.exe bit for bit, and neither may name a
# folder of the build machine: nothing of the time or the place of a build
# ends up inside it.
# Usage: check_exe.sh WORKDIR   (the two builds go to WORKDIR/a and WORKDIR/b/again)
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(realpath -m "${1:?usage: check_exe.sh WORKDIR}")
first=$work/a
second=$work/b/again

rm -rf "$work"
for dir in "$first" "$second"; do
  cmake --preset mingw -S "$src" -B "$dir" >/dev/null
  cmake --build "$dir" --target NWD4_322 >/dev/null
done

if ! cmp "$first/NWD4_322.exe" "$second/NWD4_322.exe"; then
  echo "FAIL two clean builds of NWD4_322.exe differ (see cmp above)"
  exit 1
fi
if strings -a "$first/NWD4_322.exe" | grep -F "$src" ||
  strings -a -el "$first/NWD4_322.exe" | grep -F "$src"; then
  echo "FAIL NWD4_322.exe names the source folder $src"
  exit 1
fi
echo "ok   two clean builds of NWD4_322.exe are identical, sha256 $(sha256sum <"$first/NWD4_322.exe" | cut -d' ' -f1)"
rm -rf "$work"
