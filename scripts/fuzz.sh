#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ (clang 14, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for SECONDS (default 30),
# starting from its committed seeds, then prints per target the executions
# per second and the coverage reached (libFuzzer's cov: and ft: figures).
# A crash, a leak, a hang of 10 s or a broken property fails the run; the
# input is kept under BUILD/artifacts/ and printed in hex.
#   scripts/fuzz.sh [SECONDS]
#   JOBS=n       targets run at the same time (default: the number of cores)
#   TARGETS="T1 UDLParser"   a subset;  BUILD=dir   another build folder
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
build=${BUILD:-build-fuzz}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
all=$(sed -n 's/^set(VARONET_FUZZ_TARGETS \(.*\))$/\1/p' fuzz/CMakeLists.txt)
targets=${TARGETS:-$all}

scripts/install-deps.sh || exit 1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S fuzz -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_CXX_COMPILER=clang++-14 \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARONET_WERROR=ON >/dev/null || exit 1
names=()
for t in $targets; do names+=("fuzz_$t"); done
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "${names[@]}" || exit 1

mkdir -p "$build/logs" "$build/artifacts"
run() {
  local name=$1 dict=()
  mkdir -p "$build/corpus/$name"  # new inputs go here; the seeds stay as committed
  [ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$build/artifacts/$name-" "$build/corpus/$name" "fuzz/corpus/$name" \
    >"$build/logs/$name.log" 2>&1
  echo $? >"$build/logs/$name.rc"
}
running=0
for t in $targets; do
  if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
  run "$t" &
  running=$((running + 1))
done
wait

failed=0
printf '%-14s %10s %12s %8s %8s %8s\n' target exec/s runs cov ft corpus
for t in $targets; do
  log=$build/logs/$t.log
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
  field() { sed -n "s/.*$1: *\([0-9]*\).*/\1/p" <<<"$last"; }
  printf '%-14s %10s %12s %8s %8s %8s\n' "$t" \
    "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")" \
    "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")" \
    "$(field cov)" "$(field ft)" "$(field corp | cut -d/ -f1)"
  if [ "$(cat "$build/logs/$t.rc")" != 0 ]; then
    failed=1
    echo "== $t failed (log: $log)"
    grep -E 'ERROR|property violated|SUMMARY|^    #[0-9]' "$log" | head -40
    for input in $(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log"); do
      echo "-- input $input ($(stat -c %s "$input") bytes):"
      od -An -tx1 -v "$input" | head -64
    done
  fi
done
exit $failed
