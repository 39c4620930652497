#!/usr/bin/env bash
# Fuzzes for a bounded time, starting from the committed corpus, and prints
# libFuzzer's closing figures (executions, coverage). New inputs go to a
# scratch folder beside the fuzzer, never into the corpus; an input that
# breaks a rule is left there to become a regression case.
# Usage: run_fuzz.sh FUZZER SECONDS
set -euo pipefail
fuzzer=$1
seconds=$2
work=$(dirname "$fuzzer")/work
mkdir -p "$work/corpus"
log=$work/fuzz.log

if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" "$(dirname "$0")/corpus" >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "The fuzzer broke a rule; the input is in $work/" >&2
  exit 1
fi
grep -aE '\sDONE\s' "$log" | tail -n 1
