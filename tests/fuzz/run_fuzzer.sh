#!/bin/bash
# Runs one fuzzer over its seed inputs, then on inputs of its own.
#
#   run_fuzzer.sh FUZZER SEEDS WORK SECONDS
#   run_fuzzer.sh --runs N FUZZER SEEDS WORK
#
# With SECONDS (`make fuzz`) the fuzzer goes on for that long: WORK/corpus
# keeps the inputs it found worth keeping (reused by the next run), a failure
# is kept in WORK/crashes/ and the fuzzer goes on with the rest of the time.
# With --runs (the test suite) the run is the same on every machine: a fixed
# random seed, no inputs of earlier runs, N executions in all (the seeds
# included) whatever they take, and it stops at the first failure.
# WORK/log holds the fuzzer's output. The last line printed is a summary; the
# exit status is 0 only when nothing failed.
set -u

runs=0
if [ "${1:-}" = "--runs" ]; then
  runs=${2:-0}
  shift 2
  set -- "$@" 0
fi
if [ $# -ne 4 ]; then
  echo "usage: $0 FUZZER SEEDS WORK SECONDS | $0 --runs N FUZZER SEEDS WORK" >&2
  exit 2
fi
fuzzer=$1 seeds=$2 work=$3 seconds=$4
name=$(basename "$fuzzer")

[ "$runs" -gt 0 ] && rm -rf "$work/corpus" "$work/crashes"
mkdir -p "$work/corpus" "$work/crashes"
: > "$work/log"
work=$(cd "$work" && pwd) seeds=$(cd "$seeds" && pwd) fuzzer=$(realpath "$fuzzer")

# Limits: one input may take 60 s; memory as the decoder process has it.
options=(-timeout=60 -rss_limit_mb=3072 -malloc_limit_mb=3072 -print_final_stats=1)
if [ "$runs" -gt 0 ]; then
  # The same run on every machine: no re-reading of the corpus folder on a
  # timer; the fuzzer started in a scratch folder (in memory where there is
  # one) with the same arguments and environment, its files reached through
  # that folder, Qt's hash tables unseeded and addresses not randomized.
  # Coverage, and with it the inputs tried, then depend on the inputs alone.
  options+=(-seed=1 -runs="$runs" -reload=0 -artifact_prefix=work/crashes/)
  scratch=$(mktemp -d /dev/shm/salvo-fuzz-XXXXXX 2>/dev/null || mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  ln -s "$fuzzer" "$scratch/fuzzer"
  ln -s "$seeds" "$scratch/seeds"
  ln -s "$work" "$scratch/work"
  launcher=(env -i PATH=/usr/bin:/bin QT_HASH_SEED=0 SALVO_FUZZ_SANDBOX=/proc/self/cwd/sandbox)
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    launcher+=(setarch "$(uname -m)" -R)
  fi
else
  options+=(-artifact_prefix="$work/crashes/")
fi

start=$(date +%s)
executions=0
failures=0
while :; do
  if [ "$runs" -gt 0 ]; then
    # Nothing but the standard streams stays open: whoever started us (ctest
    # holds pipes) leaves no descriptors behind that would shift the fuzzer's.
    (
      for open in /proc/$BASHPID/fd/*; do
        n=${open##*/}
        [ "$n" -gt 2 ] && eval "exec $n>&-"
      done
      cd "$scratch" && exec "${launcher[@]}" ./fuzzer "${options[@]}" work/corpus seeds
    ) >> "$work/log" 2>&1
  else
    left=$(( seconds - ($(date +%s) - start) ))
    [ "$left" -lt 1 ] && left=1
    "$fuzzer" "${options[@]}" -max_total_time="$left" "$work/corpus" "$seeds" >> "$work/log" 2>&1
  fi
  status=$?
  count=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/log" | tail -1 | grep -o '[0-9]*$')
  executions=$(( executions + ${count:-0} ))
  # Each run's statistics are counted once.
  sed -i 's/stat::number_of_executed_units/counted::number_of_executed_units/' "$work/log"
  [ "$status" -eq 0 ] && break
  failures=$(( failures + 1 ))
  grep -E 'rule broken|ERROR: (libFuzzer|AddressSanitizer|UndefinedBehaviorSanitizer|LeakSanitizer)|runtime error' \
    "$work/log" | tail -3 >&2
  if [ "$runs" -gt 0 ] || [ $(( $(date +%s) - start )) -ge "$seconds" ] || [ "$failures" -ge 20 ]; then
    break
  fi
done

coverage=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+' "$work/log" | tail -1)
crashes=$(find "$work/crashes" -type f | wc -l)
echo "$name: $executions executions, ${coverage:-no coverage figure}, $failures failures, $crashes inputs in $work/crashes"
[ "$failures" -eq 0 ]
