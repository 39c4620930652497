#!/usr/bin/env bash
# Builds everything and runs every test: the native program and its tests
# under AddressSanitizer and UndefinedBehaviorSanitizer (unit, backend, tool
# and end-to-end tests in real windows, the demo, the Debian package), a
# minute of fuzzing, then the Windows program, its tests under Wine and its
# reproducible build. Run from anywhere, as root on Debian 12.
#
# Every stage runs, also after one failed; the last two lines count the
# checks of every stage together:
#   stages: format 1/1, native 171/171, fuzzing 1/1, Windows under Wine 77/77, reproducible 1/1
#   summary: 251 passed, 0 failed
# The exit status is 0 only when nothing failed.
set -uo pipefail
cd "$(dirname "$0")/.."

bash tools/install_deps.sh || exit 1

logs=build/test-logs
mkdir -p "$logs"
passed=0
failed=0
stages=()

# tally STAGE PASSED FAILED
tally() {
  stages+=("$1 $2/$(($2 + $3))")
  passed=$((passed + $2))
  failed=$((failed + $3))
}

# A stage that is one check: passed when the command succeeds.
single() {
  local stage=$1
  shift
  if "$@"; then tally "$stage" 1 0; else tally "$stage" 0 1; fi
}

# counted STAGE STATUS LOG AWK: the stage's counts as the awk program finds
# them in its log ("PASSED FAILED"); one failure more when the stage failed
# without a failed check to show for it, or ended without its count.
counted() {
  local stage=$1 status=$2 log=$3 program=$4 good bad
  read -r good bad < <(awk "$program" "$log" | tail -1)
  if [ -z "${bad:-}" ]; then
    tally "$stage" 0 1
  elif [ "$status" != 0 ] && [ "$bad" = 0 ]; then
    tally "$stage" "$good" 1
  else
    tally "$stage" "$good" "$bad"
  fi
}

echo "== format"
single format bash -c "git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror"

echo "== native build and tests (sanitizers on)"
status=0
{ cmake --preset asan >/dev/null && cmake --build --preset asan &&
  ctest --preset asan -j2; } 2>&1 | tee "$logs/native.log" || status=$?
grep -ahE '^(system )?fault matrix:' build/asan/Testing/Temporary/LastTest.log 2>/dev/null
# "100% tests passed, 0 tests failed out of 137"
counted native "$status" "$logs/native.log" \
  '/^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+$/ { print $9 - $4, $4 }'

echo "== fuzzing for 60 s (clang, libFuzzer, sanitizers on)"
single fuzzing bash -c "cmake --preset fuzz >/dev/null && cmake --build --preset fuzz &&
  bash tests/fuzz/run_fuzz.sh build/fuzz/tests/fuzz/nwd_fuzz 60"

echo "== Windows program"
status=0
{ cmake --preset mingw >/dev/null && cmake --build --preset mingw &&
  bash tests/wine/run_wine_tests.sh build/mingw/NWD4_322.exe build/asan/nwd_split build/wine; } \
  2>&1 | tee "$logs/wine.log" || status=$?
grep -ah '^windows fault matrix:' "$logs/wine.log"
counted "Windows under Wine" "$status" "$logs/wine.log" \
  '/^[0-9]+ passed, [0-9]+ failed$/ { print $1, $3 }'

echo "== the Windows program is the same bit for bit from two clean builds"
single reproducible bash tests/release/check_exe.sh build/repro

echo
stage_list=$(printf '%s, ' "${stages[@]}")
echo "stages: ${stage_list%, }"
echo "summary: $passed passed, $failed failed"
[ "$failed" = 0 ]
