#!/usr/bin/env bash
# Mutation testing: how many plausible faults do the tests catch?
#
# Every tests/mutants/*.patch is one fault a developer could make (a dropped
# check, an off-by-one, a swapped icon, a wrong cause, a changed text, a
# wrong flag), with a line saying what it breaks above the diff. For each one
# this script applies the patch to a scratch copy of the tracked files (never
# to your tree), rebuilds incrementally, runs the tests that could see the
# fault, and takes the patch out again. A mutant is caught when a test fails
# and survives when every test passes. A patch that no longer fits the code
# is reported and skipped: a refactor must not void it unseen. It ends with
# a score for the logic, each backend and all:
#   mutants, Windows backend: 18 caught, 1 survived (94.7 %)
#   mutants: 140 caught, 3 survived (97.9 %), 1 no longer applies
#
# Native mutants are built in debug without sanitizers, for speed, and run
# the native tests but the end-to-end ones, the demo and the package; a
# patch with a line "Tests: all" runs those too. Mutants of platform/win32/
# are cross-built and judged under Wine by the Windows fault matrix, then by
# the Wine suite: its tests named on a line "Wine: test_a test_b", or all of
# it. The copy and its builds live in build/mutants/ and are reused across
# mutants and runs. A whole run takes about 85 minutes on two cores, which
# is why it is no part of tools/test.sh.
#
# Usage: tools/run_mutants.sh [PATCH...]   (default: every patch)
# Exit status: 0 when every mutant was caught, 1 when one survived, 2 when a
# patch no longer applies, the unchanged code fails its own tests or a mutant
# does not build.
set -uo pipefail

tree=$(cd "$(dirname "$0")/.." && pwd)
work=$tree/build/mutants
src=$work/src
build=$work/build
mingw=$work/mingw
log=$work/log
# The Wine suite's folder, no deeper than its usual build/wine: its case of
# long paths is measured at that depth.
wine_work=$tree/build/mw
mkdir -p "$src" "$log"

if [ $# -gt 0 ]; then
  patches=("$@")
else
  patches=("$tree"/tests/mutants/*.patch)
fi

# logic, posix or windows: the part of the program a patch changes.
kind_of() {
  if grep -q '^+++ b/platform/win32/' "$1"; then
    echo windows
  elif grep -q '^+++ b/platform/posix/' "$1"; then
    echo posix
  else
    echo logic
  fi
}

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

# build_copy KIND: the native build, or for windows the cross build (with the native part-set cutter its tests use).
build_copy() {
  if [ "$1" = windows ]; then
    cmake --build "$mingw" >"$log/build.txt" 2>&1 &&
      cmake --build "$build" --target nwd_split >>"$log/build.txt" 2>&1
  else
    cmake --build "$build" >"$log/build.txt" 2>&1
  fi
}

# run_tests NAME KIND PATCH: 0 when every selected test passed; the failed
# tests are left in $log/NAME.txt. PATCH may be empty (the unchanged code).
run_tests() {
  local name=$1 kind=$2 patch=$3
  if [ "$kind" = windows ]; then
    local matrix=$wine_work/cases/fault-matrix wine_tests=$wine_selected
    [ -n "$patch" ] && wine_tests=$(sed -n 's/^Wine: //p' "$patch" | head -1)
    rm -rf "$matrix" && mkdir -p "$matrix"
    { WINEPREFIX=$wine_work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      timeout 300 wine "$mingw/tests/wine/fault_matrix.exe" "Z:${matrix//\//\\}" &&
      WINE_TESTS=$wine_tests bash "$src/tests/wine/run_wine_tests.sh" "$mingw/NWD4_322.exe" \
        "$build/nwd_split" "$wine_work"; } >"$log/$name.txt" 2>&1
    return
  fi
  local exclude=(-E '^(e2e_gtk|demo_unattended|deb_package)$')
  [ -n "$patch" ] && [ "$(sed -n 's/^Tests: //p' "$patch" | head -1)" = all ] && exclude=()
  [ -z "$patch" ] && exclude=()
  (cd "$build" && ctest -j2 --timeout 120 --stop-on-failure "${exclude[@]}") >"$log/$name.txt" 2>&1
}

first_failure() {
  local found
  found=$(sed -n 's/^FAIL //p' "$log/$1.txt" | head -1)
  [ -n "$found" ] && { echo "$found"; return; }
  found=$(sed -n '/The following tests FAILED/,$p' "$log/$1.txt" | sed -n '2p' |
    sed -E 's/^[[:space:]]*[0-9]+ - //; s/ \(.*$//')
  # A test program that stopped: its last words.
  echo "${found:-$(grep -v '^[[:space:]]*$' "$log/$1.txt" | tail -1)}"
}

sync_copy
# Every patch must still fit the code, or it tests nothing: one that does
# not is reported and counted, and the others run.
runnable=()
stale=0
kinds=" "
wine_selected=
for patch in "${patches[@]}"; do
  if patch -p1 -s -f --dry-run -d "$src" <"$patch" >/dev/null 2>&1; then
    runnable+=("$patch")
    kind=$(kind_of "$patch")
    [ "$kind" = windows ] || kind=native
    [[ "$kinds" == *" $kind "* ]] || kinds+="$kind "
    # Windows mutants with no list of Wine tests run the whole suite.
    if [ "$kind" = windows ]; then
      selected=$(sed -n 's/^Wine: //p' "$patch" | head -1)
      wine_selected+=" ${selected:-all}"
    fi
  else
    echo "STALE    $(basename "$patch" .patch) (no longer applies to the code)"
    stale=$((stale + 1))
  fi
done
[[ " $wine_selected " == *" all "* ]] && wine_selected=
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >"$log/configure.txt" 2>&1 ||
    { cat "$log/configure.txt"; exit 2; }
fi
if [[ "$kinds" == *" windows "* ]] && [ ! -f "$mingw/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$mingw" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" >"$log/configure.txt" 2>&1 ||
    { cat "$log/configure.txt"; exit 2; }
fi
for kind in $kinds; do
  echo "== unchanged code ($kind)"
  if ! build_copy "$kind"; then
    tail -20 "$log/build.txt"
    exit 2
  fi
  if ! run_tests "unchanged-$kind" "$kind" ""; then
    echo "the unchanged code fails its tests: $(first_failure "unchanged-$kind")"
    exit 2
  fi
done

started=$(date +%s)
declare -A caught=([logic]=0 [posix]=0 [windows]=0) survived=([logic]=0 [posix]=0 [windows]=0)
broken=0
survivors=()
for patch in "${runnable[@]}"; do
  name=$(basename "$patch" .patch)
  kind=$(kind_of "$patch")
  patch -p1 -s -f -d "$src" <"$patch" >/dev/null
  if ! build_copy "$kind"; then
    echo "BROKEN   $name (does not build)"
    broken=$((broken + 1))
  elif run_tests "$name" "$kind" "$patch"; then
    echo "SURVIVED $name: $(head -1 "$patch")"
    survived[$kind]=$((survived[$kind] + 1))
    survivors+=("$name")
  else
    echo "caught   $name by $(first_failure "$name")"
    caught[$kind]=$((caught[$kind] + 1))
  fi
  patch -R -p1 -s -f -d "$src" <"$patch" >/dev/null
done
# The builds are left as the unchanged code has them.
for kind in $kinds; do build_copy "$kind" || true; done

echo "($(($(date +%s) - started)) s; logs in $log)"
[ ${#survivors[@]} -gt 0 ] && printf 'survivor: %s\n' "${survivors[@]}"
[ $broken -gt 0 ] && echo "mutants that do not build: $broken"
score() {
  awk -v label="$1" -v c="$2" -v s="$3" -v stale="$4" 'BEGIN {
    printf "%s: %d caught, %d survived (%.1f %%)", label, c, s, c + s ? 100 * c / (c + s) : 0
    if (stale != "") printf ", %d no longer applies", stale
    printf "\n" }'
}
all_caught=0
all_survived=0
for kind in logic posix windows; do
  label=$kind
  [ "$kind" = posix ] && label="POSIX backend"
  [ "$kind" = windows ] && label="Windows backend"
  [ $((caught[$kind] + survived[$kind])) -gt 0 ] &&
    score "mutants, $label" "${caught[$kind]}" "${survived[$kind]}" ""
  all_caught=$((all_caught + caught[$kind]))
  all_survived=$((all_survived + survived[$kind]))
done
score mutants "$all_caught" "$all_survived" "$stale"
[ $broken -gt 0 ] || [ $stale -gt 0 ] && exit 2
[ $all_survived -eq 0 ]
