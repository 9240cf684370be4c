#!/bin/bash
# Runs one fuzzer: first over its seed inputs, then on inputs of its own for
# a number of seconds.
#
#   run_fuzzer.sh [--fresh] FUZZER SEEDS WORK SECONDS
#
# WORK/corpus keeps the inputs the fuzzer found worth keeping (reused by the
# next run unless --fresh), WORK/crashes/ every input that broke a rule or
# crashed, WORK/log the fuzzer's output. --fresh is the test suite's bounded
# run: a fixed random seed, no corpus from earlier runs, and it stops at the
# first failure. Without it a failure is kept and the fuzzer goes on with the
# rest of the time. The last line printed is a summary; the exit status is 0
# only when nothing failed.
set -u

fresh=0
if [ "${1:-}" = "--fresh" ]; then
  fresh=1
  shift
fi
if [ $# -ne 4 ]; then
  echo "usage: $0 [--fresh] FUZZER SEEDS WORK SECONDS" >&2
  exit 2
fi
fuzzer=$1 seeds=$2 work=$3 seconds=$4
name=$(basename "$fuzzer")

[ "$fresh" = 1 ] && rm -rf "$work/corpus" "$work/crashes"
mkdir -p "$work/corpus" "$work/crashes"
: > "$work/log"

# Limits: one input may take 60 s; memory as the decoder process has it.
options=(-timeout=60 -rss_limit_mb=3072 -malloc_limit_mb=3072 -print_final_stats=1
         -artifact_prefix="$work/crashes/")
[ "$fresh" = 1 ] && options+=(-seed=1)

start=$(date +%s)
executions=0
failures=0
while :; do
  left=$(( seconds - ($(date +%s) - start) ))
  [ "$left" -lt 1 ] && left=1
  "$fuzzer" "${options[@]}" -max_total_time="$left" "$work/corpus" "$seeds" >> "$work/log" 2>&1
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/log" | tail -1 | grep -o '[0-9]*$')
  executions=$(( executions + ${runs:-0} ))
  # Each run's statistics are counted once.
  sed -i 's/stat::number_of_executed_units/counted::number_of_executed_units/' "$work/log"
  [ "$status" -eq 0 ] && break
  failures=$(( failures + 1 ))
  grep -E 'rule broken|ERROR: (libFuzzer|AddressSanitizer|UndefinedBehaviorSanitizer|LeakSanitizer)|runtime error' \
    "$work/log" | tail -3 >&2
  if [ "$fresh" = 1 ] || [ $(( $(date +%s) - start )) -ge "$seconds" ] || [ "$failures" -ge 20 ]; then
    break
  fi
done

coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -1)
crashes=$(find "$work/crashes" -type f | wc -l)
echo "$name: $executions executions, ${coverage:-no coverage figure}, $failures failures, $crashes inputs in $work/crashes"
[ "$failures" -eq 0 ]
