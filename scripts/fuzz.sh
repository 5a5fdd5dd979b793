#!/usr/bin/env bash
# A fuzz campaign of any length:
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET]
#
# SECONDS (default 60) is the time of each target; TARGET is extract, readers,
# names or all (the default). The fuzz targets are built with clang and
# -fsanitize=fuzzer,address,undefined into build-fuzz/ (V2BSP_FUZZ_BUILD_DIR
# moves it); the map builder makes the seed corpus, and the corpus kept in
# fuzz/corpus/<target>/ (a long campaign's, minimised) is read too. Each
# target runs on one core, one after the other; the corpus grows in
# build-fuzz/corpus/<target>/ from one campaign to the next. Then the
# worst-case maps of 64 MiB run once each through the extraction target built
# without sanitizers or coverage counters, under a bound of CPU time and a
# memory limit.
#
# Fails on any crash, leak, sanitizer report, broken rule, or input that takes
# more CPU time than its bound. The input that did it is saved in
# build-fuzz/findings/; copy it to fuzz/findings/<target>/<what-it-broke> so
# the fault tests replay it.
#
# Bounds are CPU time of the fuzzing process (the targets measure it around
# each input), never the clock, so that a busy machine fails nothing; the
# fuzzer's own -timeout only catches a hang. The campaign's inputs (1 MiB at
# most) take milliseconds: each may take 2 s under the sanitizers. The worst
# maps of 64 MiB take at most 1.1 s of CPU each (shared-raw-data.map and
# one-huge-mesh.map, the plain build; about the same on a quiet machine and
# a loaded one): each may take 4 s, a margin for slower machines.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
which=${2:-all}
case "$which" in
  extract | readers | names) targets=("$which") ;;
  all) targets=(extract readers names) ;;
  *)
    echo "usage: bash scripts/fuzz.sh [SECONDS] [extract|readers|names|all]" >&2
    exit 2
    ;;
esac
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "fuzz.sh: SECONDS must be a whole number of at least 1, not '$seconds'" >&2
  exit 2
fi

bash scripts/setup.sh
build=${V2BSP_FUZZ_BUILD_DIR:-build-fuzz}
plain="$build/plain"
common=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DV2BSP_FUZZ=ON
        -DV2BSP_BUILD_TESTS=OFF -DV2BSP_BUILD_UI=OFF -DV2BSP_BUILD_BENCHMARKS=OFF)
echo "== Building the fuzz targets (clang, libFuzzer, ASan + UBSan) in $build"
CC=clang CXX=clang++ cmake -S . -B "$build" "${common[@]}" -DV2BSP_SANITIZE=ON >/dev/null
cmake --build "$build" --parallel 2 --target "${targets[@]/#/v2bsp-fuzz-}"
echo "== Building the seed maker, and the extraction target without sanitizers for the timing of the worst maps"
CC=clang CXX=clang++ cmake -S . -B "$plain" "${common[@]}" -DV2BSP_SANITIZE=OFF -DV2BSP_FUZZ_COVERAGE=OFF >/dev/null
plain_targets=(v2bsp-fuzz-corpus)
if [[ " ${targets[*]} " == *" extract "* ]]; then plain_targets+=(v2bsp-fuzz-extract); fi
cmake --build "$plain" --parallel 2 --target "${plain_targets[@]}"

"$plain/fuzz/v2bsp-fuzz-corpus" "$build/seeds"
mkdir -p "$build/findings" "$build/logs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=64}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The longest input of each target, and the memory one input may take: the
# extraction's bound of twice the input plus 64 MiB, for one allocation.
declare -A max_len=([extract]=1048576 [readers]=4096 [names]=1024)
declare -A malloc_limit=([extract]=66 [readers]=64 [names]=64)
declare -A options=([extract]="-dict=fuzz/extract.dict" [readers]="" [names]="-dict=fuzz/names.dict")

# Runs one fuzzer with its output in the log file $1. The extraction target
# passes each input through /dev/shm/v2bsp-fuzz-<pid>.map, which a fuzzer
# that stops on a finding leaves behind; it is removed here.
run_fuzzer() {
  local log=$1 status=0
  shift
  "$@" >"$log" 2>&1 &
  local pid=$!
  wait "$pid" || status=$?
  rm -f "/dev/shm/v2bsp-fuzz-$pid.map"
  return "$status"
}

# CPU seconds an input may take, and the wall-clock seconds after which the
# fuzzer takes an input for a hang.
campaign_cpu=2
worst_cpu=4
hang=600

failed=0
summary=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus"
  echo "== Fuzzing $target for $seconds s (log: $log)"
  # shellcheck disable=SC2086
  kept=()
  [ -d "fuzz/corpus/$target" ] && kept=("fuzz/corpus/$target")
  if V2BSP_FUZZ_CPU_SECONDS=$campaign_cpu run_fuzzer "$log" "$build/fuzz/v2bsp-fuzz-$target" "$corpus" \
      "${kept[@]}" "$build/seeds/$target" -max_total_time="$seconds" -timeout="$hang" -rss_limit_mb=2048 \
      -malloc_limit_mb="${malloc_limit[$target]}" -max_len="${max_len[$target]}" \
      -use_value_profile=1 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
      ${options[$target]}; then
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([^ ]*\).*/\1 edges, \2 features, corpus \3/p' <<<"$done_line")
    summary+=("$target: $runs runs in $seconds s ($speed/s), $coverage, no finding")
  else
    failed=1
    summary+=("$target: FAILED, see $log and $build/findings/")
    grep -E 'ERROR|SUMMARY|rule broken|runtime error|Test unit written|timeout' "$log" | head -20 >&2 || true
  fi
done

if [[ " ${targets[*]} " == *" extract "* ]]; then
  echo "== The worst maps of 64 MiB, once each, $worst_cpu s of CPU and the memory bound each"
  rm -rf "$build/worst"
  "$plain/fuzz/v2bsp-fuzz-corpus" --worst 64 "$build/worst"
  log="$build/logs/worst.log"
  # libFuzzer holds two copies of an input beside the extraction's own bound.
  if V2BSP_FUZZ_CPU_SECONDS=$worst_cpu run_fuzzer "$log" "$plain/fuzz/v2bsp-fuzz-extract" -timeout="$hang" \
      -rss_limit_mb=$((2 * 64 + 2 * 64 + 64 + 32)) -artifact_prefix="$build/findings/worst-" \
      "$build"/worst/*.map; then
    summary+=("worst maps: $(ls "$build"/worst/*.map | wc -l) of 64 MiB, each within $worst_cpu s of CPU")
  else
    failed=1
    summary+=("worst maps: FAILED, see $log")
    grep -E 'Running:|ERROR|SUMMARY|rule broken|timeout' "$log" | tail -6 >&2 || true
  fi
  rm -rf "$build/worst"
fi

echo "== Fuzz campaign"
printf '   %s\n' "${summary[@]}"
exit "$failed"
