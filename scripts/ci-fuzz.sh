#!/usr/bin/env bash
# CI stage: builds the libFuzzer targets under fuzz/ with clang (ASan + UBSan
# + coverage), runs each for a bounded time from its committed seed corpus,
# and prints executions and executions per second. Any crash, sanitizer
# report or broken invariant fails the stage; the input is kept under
# build-fuzz/artifacts/. Self-contained: installs what it needs (once).
#
#   bash scripts/ci-fuzz.sh [seconds-per-target]     # default 60; build dir: build-fuzz/
#   ZRM_FUZZ_TARGETS="fuzz_ini fuzz_coef" ZRM_FUZZ_JOBS=1 bash scripts/ci-fuzz.sh 600
#     (some targets, one at a time: a campaign on a machine shared with others)
#   ZRM_FUZZ_CAMPAIGN=1 bash scripts/ci-fuzz.sh 600
#     (a long campaign: targets built with coverage and UBSan only, without
#     ASan and comparison tracing, which took three quarters of a file
#     parser's time; one target at a time on every core (ZRM_FUZZ_WORKERS
#     processes); every input the campaign kept then replayed by the ASan +
#     UBSan build; build-fuzz-campaign/)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
asan_build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
campaign=${ZRM_FUZZ_CAMPAIGN:-}
build=$asan_build
[ -z "$campaign" ] || build=${FUZZ_CAMPAIGN_BUILD_DIR:-$root/build-fuzz-campaign}
seconds=${1:-${ZRM_FUZZ_SECONDS:-60}}
read -r -a targets <<<"${ZRM_FUZZ_TARGETS:-fuzz_reply fuzz_ini fuzz_coef fuzz_session fuzz_number}"
jobs=${ZRM_FUZZ_JOBS:-$(nproc)}
workers=1
if [ -n "$campaign" ]; then
  jobs=1
  workers=${ZRM_FUZZ_WORKERS:-$(nproc)}
fi
stage_start=$(date +%s)
say() { echo "ci-fuzz: $*"; }
# CI builds treat warnings as errors (ZRM_WERROR=OFF in the environment
# turns that off for a local run).
export ZRM_WERROR=${ZRM_WERROR:-ON}

bash "$root/scripts/setup.sh"
packages=(clang libclang-rt-14-dev)
need_packages "${packages[@]}"

# The libraries under test are instrumented as well as the targets (the
# flags are in CMakePresets.json, preset "fuzzing").
cmake -S "$root" --preset fuzzing -B "$asan_build" -DZRM_WERROR="$ZRM_WERROR" >/dev/null
cmake --build "$asan_build" --target fuzzers -j"$(nproc)"
if [ -n "$campaign" ]; then
  cmake -S "$root" --preset fuzzing-campaign -B "$build" -DZRM_WERROR="$ZRM_WERROR" >/dev/null
  cmake --build "$build" --target fuzzers -j"$(nproc)"
fi
say "built after $(( $(date +%s) - stage_start )) s"

# An input allocates well under a megabyte, so 16 MB of quarantine still
# catches a use after free within the input and the next ones; the default
# 256 MB makes nearly every allocation fault in a fresh page, a third of the
# file parsers' time.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:quarantine_size_mb=16"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/robustness/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen
export LC_ALL=C.UTF-8

# One target is one process on one core: as many run at once as there are
# cores (or ZRM_FUZZ_JOBS). Each leaves its summary line beside its log.
fuzz_target() {
  local t=$1 work=$build/corpus/$1 artifacts=$build/artifacts/$1 log=$build/$1.log result=ok
  local seeds=$root/fuzz/corpus/${1#fuzz_} run=$build/jobs/$1 execs=0 rate cov n
  mkdir -p "$work" "$artifacts"
  rm -rf "$run" && mkdir -p "$run"
  # The committed seeds stay as they are; what the run finds goes to $work.
  # Several workers share $work; each one's log (fuzz-N.log) is copied into
  # $log as it ends.
  local parallel=() dict=()
  [ "$workers" -le 1 ] || parallel=(-jobs="$workers" -workers="$workers")
  # The syntax's tokens, which comparison tracing finds by itself.
  case $t in fuzz_ini | fuzz_coef | fuzz_session) dict=(-dict="$root/fuzz/ini.dict") ;; esac
  (cd "$run" && exec "$build/bin/$t" "$work" "$seeds" -max_total_time="$seconds" -print_final_stats=1 \
     -artifact_prefix="$artifacts/" -max_len=4096 -timeout=20 "${dict[@]}" "${parallel[@]}") >"$log" 2>&1 || result=FAILED
  if grep -q -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
    result=FAILED
  fi
  for n in $(sed -n 's/^stat::number_of_executed_units: *//p' "$log"); do execs=$((execs + n)); done
  rate=$((execs / seconds))
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  if [ -n "$campaign" ] && [ "$result" = ok ]; then
    # Every input the campaign kept, once through the ASan + UBSan build.
    "$asan_build/bin/$t" -runs=0 -max_len=4096 -timeout=20 -artifact_prefix="$artifacts/" "$work" "$seeds" \
      >>"$log" 2>&1 || result=FAILED
  fi
  printf '%-13s %-6s %10s execs %7s exec/s  cov %s  corpus %s\n' "$t" "$result" "$execs" "$rate" \
    "${cov:-?}" "$(ls "$work" | wc -l)" >"$build/$t.summary"
}

for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz_target "$t" &
done
wait

status=0
summary=()
for t in "${targets[@]}"; do
  line=$(cat "$build/$t.summary")
  summary+=("$line")
  say "$line"
  if [[ $line != *" ok "* ]]; then
    status=1
    tail -60 "$build/$t.log"
  fi
done

echo
say "summary (${seconds} s per target):"
printf '  %s\n' "${summary[@]}"
say "stage took $(( $(date +%s) - stage_start )) s, exit $status"
exit "$status"
