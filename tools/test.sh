#!/usr/bin/env bash
# Builds everything and runs every test: the native program and its tests
# under AddressSanitizer and UndefinedBehaviorSanitizer (unit, backend, tool
# and end-to-end tests in real windows, the demo, the Debian package), a
# minute of fuzzing, then the Windows program, its tests under Wine and its
# reproducible build. Run from anywhere, as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install_deps.sh

echo "== format"
git ls-files '*.cc' '*.h' | xargs clang-format --dry-run --Werror

echo "== native build and tests (sanitizers on)"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j2
grep -ah '^fault matrix:' build/asan/Testing/Temporary/LastTest.log

echo "== fuzzing for 60 s (clang, libFuzzer, sanitizers on)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bash tests/fuzz/run_fuzz.sh build/fuzz/tests/fuzz/nwd_fuzz 60

echo "== Windows program"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
bash tests/wine/run_wine_tests.sh build/mingw/NWD4_322.exe build/asan/nwd_split build/wine

echo "== the Windows program is the same bit for bit from two clean builds"
bash tests/release/check_exe.sh build/repro
