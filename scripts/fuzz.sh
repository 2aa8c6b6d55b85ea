#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz, fills their corpora
# and fuzzes each target for a while; prints executions and coverage per
# target and exits non-zero when any target crashed, leaked, hung or broke an
# invariant. A few seconds per target make the CI smoke.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# TARGET is one of cfg_reader ascii_reader binary_reader request_path
# analysis_queries (all by default). FUZZ_PARALLEL=2 runs two targets at a
# time (never more: the request path target alone keeps a core busy).
# FUZZ_BUILD_DIR overrides the build directory. Crash inputs land in
# <build>/fuzz-artifacts/; replay one with <build>/fuzz/fuzz_<target> <file>,
# then add it to tests/fuzz_regressions.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(cfg_reader ascii_reader binary_reader request_path analysis_queries)
build="${FUZZ_BUILD_DIR:-$repo/build-fuzz}"
parallel="${FUZZ_PARALLEL:-1}"
[ "$parallel" -ge 1 ] && [ "$parallel" -le 2 ] || parallel=1

max_len_of() {
  case "$1" in
    cfg_reader) echo 32768 ;;
    ascii_reader | binary_reader) echo 65536 ;;
    request_path) echo 16384 ;;
    analysis_queries) echo 4096 ;;
    *) echo "fuzz.sh: unknown target $1" >&2; exit 2 ;;
  esac
}
dict_of() {
  case "$1" in
    request_path) echo "$repo/fuzz/request_path.dict" ;;
    analysis_queries) echo "$repo/fuzz/analysis_queries.dict" ;;
    *) echo "$repo/fuzz/records.dict" ;;
  esac
}
for target in "${targets[@]}"; do max_len_of "$target" > /dev/null; done

# Configure once; later runs only rebuild. The compiler of an existing build
# directory cannot change, so a non-clang one is refused rather than reused.
if [ -f "$build/CMakeCache.txt" ]; then
  if ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang' "$build/CMakeCache.txt"; then
    echo "fuzz.sh: $build was configured without clang++; remove it first" >&2
    exit 2
  fi
  cmake "$build" -DCOMTRADE_FUZZ=ON > /dev/null
else
  CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCOMTRADE_FUZZ=ON -DCOMTRADE_TESTS=OFF > /dev/null
fi
cmake --build "$build" -j 2 --target fuzz_targets

"$repo/fuzz/make_corpus.sh" "$build"

artifacts="$build/fuzz-artifacts"
logs="$build/fuzz-logs"
mkdir -p "$artifacts" "$logs"

run_target() {
  local target="$1"
  # -timeout: one input taking this long is a hang. The corpus directory
  # collects what the run finds; it is git-ignored.
  nice -n 10 "$build/fuzz/fuzz_$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(max_len_of "$target")" -dict="$(dict_of "$target")" \
    -artifact_prefix="$artifacts/$target-" -print_final_stats=1 \
    "$repo/fuzz/corpus-work/$target" > "$logs/$target.log" 2>&1
}

declare -A status
running=()
for target in "${targets[@]}"; do
  run_target "$target" &
  running+=("$!:$target")
  if [ ${#running[@]} -ge "$parallel" ]; then
    entry="${running[0]}"
    running=("${running[@]:1}")
    if wait "${entry%%:*}"; then status[${entry#*:}]=0; else status[${entry#*:}]=$?; fi
  fi
done
for entry in "${running[@]}"; do
  if wait "${entry%%:*}"; then status[${entry#*:}]=0; else status[${entry#*:}]=$?; fi
done

failed=0
printf '%-16s %10s %8s %8s %6s  %s\n' target executions cov ft secs result
for target in "${targets[@]}"; do
  log="$logs/$target.log"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  # The last status line of the run (DONE, or the last before a crash).
  last="$(grep -E '^#[0-9]+' "$log" | tail -1 || true)"
  cov="$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')"
  ft="$(echo "$last" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')"
  secs="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)"
  result=ok
  if [ "${status[$target]}" -ne 0 ]; then
    result="FAILED (exit ${status[$target]}, see $log)"
    failed=1
  fi
  printf '%-16s %10s %8s %8s %6s  %s\n' "$target" "${runs:--}" "${cov:--}" "${ft:--}" \
    "${secs:--}" "$result"
done
if [ "$failed" -ne 0 ]; then
  grep -h -E 'invariant broken|ERROR: |SUMMARY: |Test unit written' "$logs"/*.log >&2 || true
fi
exit "$failed"
