#!/usr/bin/env bash
# Mutation testing: how many plausible faults do the tests catch?
#
# Every tools/mutants/*.patch is one fault a developer could make (a dropped
# check, an off-by-one, a swapped icon, a wrong cause, a changed text, a
# wrong flag), with a line saying what it breaks above the diff. For each one
# this script applies the patch to a scratch copy of the tracked files (never
# to your tree), rebuilds incrementally, runs the tests that could see the
# fault, and takes the patch out again. A mutant is caught when a test fails
# and survives when every test passes. It ends with the score:
#   mutants: 58 caught, 2 survived (96.7 %)
#
# The copy and its build (debug, without sanitizers, for speed) live in
# build/mutants/ and are reused across mutants and runs. Every mutant runs
# the native tests but the end-to-end ones, the demo and the package; a
# patch with a line "Tests: all" runs those too. The whole run takes about a quarter of an hour on two cores
# (107 mutants in 14 minutes), which is why it is no part of tools/test.sh.
#
# Usage: tools/mutants/run_mutants.sh [PATCH...]   (default: every patch)
# Exit status: 0 when every mutant was caught, 1 when one survived, 2 when a
# patch no longer applies, the unchanged code fails its own tests or a mutant
# does not build.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "$here/../.." && pwd)
work=$tree/build/mutants
src=$work/src
build=$work/build
log=$work/log
mkdir -p "$src" "$log"

if [ $# -gt 0 ]; then
  patches=("$@")
else
  patches=("$here"/*.patch)
fi

# The tracked files as they are in the working tree; a file copied only when
# it changed keeps its old time, so the build stays incremental.
sync_copy() {
  (cd "$tree" && git ls-files -z) | while IFS= read -r -d '' f; do
    if [ -e "$tree/$f" ] && ! cmp -s "$tree/$f" "$src/$f"; then
      mkdir -p "$(dirname "$src/$f")"
      cp "$tree/$f" "$src/$f"
    fi
  done
}

build_copy() {
  cmake --build "$build" >"$log/build.txt" 2>&1
}

# run_tests NAME SCOPE: 0 when every selected test passed; the failed tests
# are left in $log/NAME.txt.
run_tests() {
  local exclude=(-E '^(e2e_gtk|demo_unattended|deb_package)$')
  [ "$2" = all ] && exclude=()
  (cd "$build" && ctest -j2 --timeout 120 --stop-on-failure "${exclude[@]}") >"$log/$1.txt" 2>&1
}

first_failure() {
  sed -n '/The following tests FAILED/,$p' "$log/$1.txt" | sed -n '2p' |
    sed -E 's/^[[:space:]]*[0-9]+ - //; s/ \(.*$//'
}

sync_copy
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >"$log/configure.txt" 2>&1 ||
    { cat "$log/configure.txt"; exit 2; }
fi
# Every patch must still fit the code, or it tests nothing.
stale=0
for patch in "${patches[@]}"; do
  if ! patch -p1 -s -f --dry-run -d "$src" <"$patch" >/dev/null; then
    echo "does not apply to the code any more: $patch" >&2
    stale=$((stale + 1))
  fi
done
[ $stale -eq 0 ] || exit 2
echo "== unchanged code"
if ! build_copy; then
  tail -20 "$log/build.txt"
  exit 2
fi
if ! run_tests unchanged all; then
  echo "the unchanged code fails its tests: $(first_failure unchanged)"
  exit 2
fi

started=$(date +%s)
caught=0
survived=0
broken=0
survivors=()
for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch)
  scope=$(sed -n 's/^Tests: //p' "$patch" | head -1)
  patch -p1 -s -f -d "$src" <"$patch" >/dev/null
  if ! build_copy; then
    echo "BROKEN   $name (does not build)"
    broken=$((broken + 1))
  elif run_tests "$name" "$scope"; then
    echo "SURVIVED $name: $(head -1 "$patch")"
    survived=$((survived + 1))
    survivors+=("$name")
  else
    echo "caught   $name by $(first_failure "$name")"
    caught=$((caught + 1))
  fi
  patch -R -p1 -s -f -d "$src" <"$patch" >/dev/null
done

total=$((caught + survived))
echo "($(($(date +%s) - started)) s; logs in $log)"
[ ${#survivors[@]} -gt 0 ] && printf 'survivor: %s\n' "${survivors[@]}"
[ $broken -gt 0 ] && echo "mutants that do not build: $broken"
awk -v c=$caught -v s=$survived -v t=$total \
  'BEGIN { printf "mutants: %d caught, %d survived (%.1f %%)\n", c, s, t ? 100 * c / t : 0 }'
[ $broken -gt 0 ] && exit 2
[ $survived -eq 0 ]
