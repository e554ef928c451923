#!/usr/bin/env bash
# CI stage for the Windows serial backend: cross-builds the serial library, the
# protocol frames and their Win32 tests with mingw-w64, and runs them under
# wine64, headless, against the virtual meter bench on a pty that wine maps to
# a COM port. Self-contained: installs what it needs (once), starts and stops
# everything it uses, exits non-zero on any failure.
#
#   bash scripts/ci-windows.sh            # then: build-win/, build-winhost/
#
# Environment: ZRM_WIN_PORT (default COM7) names the COM port to map.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
stage_start=$(date +%s)
say() { echo "ci-windows: $*"; }

# --- packages ------------------------------------------------------------------
packages=(cmake ninja-build g++ googletest g++-mingw-w64-x86-64-posix wine64 wine)
need_packages "${packages[@]}"
say "packages ready after $(( $(date +%s) - stage_start )) s"

host_build=$root/build-winhost
win_build=$root/build-win
port=${ZRM_WIN_PORT:-COM7}
run_dir=$(mktemp -d /tmp/zrm-win.XXXXXX)
bench_link=$run_dir/ttyZRM
posix_link=$run_dir/ttyPOSIX
bench_control=$run_dir/bench.ctl

# --- wine: a private prefix, headless, its services up before anything runs ----
export PATH=/usr/lib/wine:$PATH        # wine64 and wineserver of Debian's wine64
export WINEPREFIX=$win_build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono/Gecko installers
unset DISPLAY WAYLAND_DISPLAY

bench_pids=()
cleanup() {
  # wineserver first: it must not outlive the far side of the pty it holds.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  for pid in "${bench_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  exec 3>&- 2>/dev/null || true
  rm -rf "$run_dir"
}
trap cleanup EXIT

start_wine() {
  wineserver -p
  wine64 cmd /c exit </dev/null >/dev/null 2>&1
}

mkdir -p "$WINEPREFIX"
start_wine
# The port is registered where wine's mount manager reads it when its services
# start: it then links the COM device to the pty and lists it under
# HARDWARE\DEVICEMAP\SERIALCOMM, as a Windows driver would.
wine64 reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$bench_link" /f </dev/null >/dev/null 2>&1
wineserver -k
wineserver -w
start_wine
if ! wine64 reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' </dev/null 2>/dev/null | grep -q "REG_SZ *$port\b"; then
  say "wine did not register $port"
  exit 1
fi
say "wine ready after $(( $(date +%s) - stage_start )) s"

# --- build: the Linux side of the harness, then the Windows programs -----------
cmake -S "$root/windows" -B "$host_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$host_build" -j2
cmake -S "$root/windows" -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$win_build" -j2
say "built after $(( $(date +%s) - stage_start )) s"

# --- the bench: the meters the tests expect (tests/windows-serial/win_bench.h) --
mkfifo "$bench_control"
exec 3<>"$bench_control"   # held open: the bench never sees the end of its input
start_bench() {
  local link=$1 log=$2 input=$3
  # The input is named here: a background job's default input is /dev/null.
  "$host_build/bin/zrm-meter-sim" --link "$link" --meter 12345:4 --meter 777:2 --reply-delay 0 \
    <"$input" >"$log.out" 2>"$log.err" &
  bench_pids+=($!)
  for _ in $(seq 100); do
    [ -L "$link" ] && return 0
    sleep 0.05
  done
  say "the bench did not start: $(cat "$log.err")"
  return 1
}
start_bench "$bench_link" "$run_dir/bench" "$bench_control"
start_bench "$posix_link" "$run_dir/posix" /dev/null

# --- tests -------------------------------------------------------------------------
export ZRM_WIN_PORT=$port ZRM_BENCH_CONTROL=$bench_control ZRM_BENCH_LINK=$bench_link
shim=$host_build/lib/modem_shim.so
set +e
LD_PRELOAD=$shim ctest --test-dir "$win_build" --output-on-failure -j2 --timeout 300 2>&1 | tee "$run_dir/ctest.log"
tests_status=${PIPESTATUS[0]}
set -e

# --- round trip of a read-state exchange: Win32 under wine beside POSIX --------------
set +e
LD_PRELOAD=$shim wine64 "$win_build/bin/bench-exchange.exe" "$port" 12345 1000 </dev/null
win_bench_status=$?
"$host_build/bin/bench-exchange" "$posix_link" 12345 1000 </dev/null
posix_bench_status=$?
set -e

say "stage took $(( $(date +%s) - stage_start )) s"
if [ "$tests_status" -ne 0 ] || [ "$win_bench_status" -ne 0 ] || [ "$posix_bench_status" -ne 0 ]; then
  say "FAILED (tests $tests_status, win32 exchange $win_bench_status, posix exchange $posix_bench_status)"
  exit 1
fi
# ctest's summary line, last, as ctest itself ends.
grep -E '^[0-9]+% tests passed' "$run_dir/ctest.log" || { say "no ctest summary"; exit 1; }
