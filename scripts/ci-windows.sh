#!/usr/bin/env bash
# CI stage for Windows, under wine64 against the virtual meter bench on ptys
# that wine maps to COM ports:
#  1. the serial backend: the serial library, the protocol frames and their
#     Win32 tests, cross-built with mingw-w64 (no Qt);
#  2. the whole program (scripts/build-windows.sh, with the mingw Qt): the
#     tests of the per-system files, then a bench engineer's session through
#     the real windows (tests/portable/bench_scenario.cpp) by the Windows
#     build and by the Linux build, each on a bench of its own, and the
#     Settings.ini and Calibration.ini the two leave compared byte for byte.
# Rebuilding Qt would not fit CI's time: without a ready mingw Qt (see
# build-windows.sh) part 2 is skipped, and the stage says so.
# Self-contained: installs what it needs (once), starts and stops everything
# it uses, exits non-zero on any failure.
#
#   bash scripts/ci-windows.sh     # then: build-win/, build-winhost/, build-windows/
#
# Environment: ZRM_WIN_PORT (default COM7) and ZRM_SCENARIO_PORT (default
# COM8) name the COM ports to map; ZRM_SCENARIO_SHOTS keeps the scenario's
# pictures of the main window and the wizard under wine there.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
stage_start=$(date +%s)
say() { echo "ci-windows: $*"; }
# CI builds treat warnings as errors (ZRM_WERROR=OFF in the environment
# turns that off for a local run).
export ZRM_WERROR=${ZRM_WERROR:-ON}

# --- packages ------------------------------------------------------------------
packages=(cmake ninja-build g++ googletest g++-mingw-w64-x86-64-posix wine64 wine xvfb xauth)
need_packages "${packages[@]}"
say "packages ready after $(( $(date +%s) - stage_start )) s"

host_build=$root/build-winhost
win_build=$root/build-win
port=${ZRM_WIN_PORT:-COM7}
scenario_port=${ZRM_SCENARIO_PORT:-COM8}
run_dir=$(mktemp -d /tmp/zrm-win.XXXXXX)
bench_link=$run_dir/ttyZRM
posix_link=$run_dir/ttyPOSIX
scenario_link=$run_dir/ttyScenario
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
  exec 3>&- 4>&- 5>&- 2>/dev/null || true
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
wine64 reg add 'HKLM\Software\Wine\Ports' /v "$scenario_port" /t REG_SZ /d "$scenario_link" /f </dev/null >/dev/null 2>&1
wineserver -k
wineserver -w
start_wine
for p in "$port" "$scenario_port"; do
  if ! wine64 reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' </dev/null 2>/dev/null | grep -q "REG_SZ *$p\b"; then
    say "wine did not register $p"
    exit 1
  fi
done
say "wine ready after $(( $(date +%s) - stage_start )) s"

# --- build: the Linux side of the harness, then the Windows programs -----------
cmake -S "$root/cross-build-win32-serial" -B "$host_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZRM_WERROR="$ZRM_WERROR" >/dev/null
cmake --build "$host_build" -j2
cmake -S "$root/cross-build-win32-serial" -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZRM_WERROR="$ZRM_WERROR" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$win_build" -j2
say "built after $(( $(date +%s) - stage_start )) s"

# --- the bench: the meters the tests expect (tests/win32-serial/win_bench.h) --
mkfifo "$bench_control"
exec 3<>"$bench_control"   # held open: the bench never sees the end of its input
start_bench() {
  local link=$1 log=$2 input=$3
  shift 3
  local meters=("$@")
  [ ${#meters[@]} -gt 0 ] || meters=(--meter 12345:4 --meter 777:2)
  # The input is named here: a background job's default input is /dev/null.
  "$host_build/bin/zrm-meter-sim" --link "$link" "${meters[@]}" --reply-delay 0 \
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

say "serial backend done after $(( $(date +%s) - stage_start )) s"
if [ "$tests_status" -ne 0 ] || [ "$win_bench_status" -ne 0 ] || [ "$posix_bench_status" -ne 0 ]; then
  say "FAILED (tests $tests_status, win32 exchange $win_bench_status, posix exchange $posix_bench_status)"
  exit 1
fi
summaries=("$(grep -E '^[0-9]+% tests passed' "$run_dir/ctest.log")") || { say "no ctest summary"; exit 1; }

# --- the whole program ---------------------------------------------------------------
. "$root/scripts/windows-qt.sh"
if ! find_mingw_qt >/dev/null; then
  say "no mingw Qt here (ZRM_QT_MINGW, ~/.cache/zrm-scanner, ../shared/toolchains/qt6-mingw): the whole"
  say "program is not built for Windows in this run; the serial backend above is all that ran"
else
  win_qt_build=$root/build-windows
  WIN_BUILD_DIR=$win_qt_build bash "$root/scripts/build-windows.sh"
  # The Linux build of the same sources, for the same scenario.
  bash "$root/scripts/setup.sh"
  bash "$root/scripts/build.sh"
  say "whole program built for both systems after $(( $(date +%s) - stage_start )) s"

  # Qt's DLLs and the compiler's runtime for the tests in the build folder.
  qt=$(find_mingw_qt)
  gcc_dlls=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
  pthread_dlls=$(dirname "$(readlink -f "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")")
  export WINEPATH="Z:$qt/bin;Z:$gcc_dlls;Z:$pthread_dlls"
  export WINEQT_FORCE_STDERR_LOGGING=1

  # The OLE test double (tests/portable/ole-double) stands in for the
  # spreadsheet: "Excel.Application" a local server (its own process, calls
  # marshalled), LibreOffice's "com.sun.star.ServiceManager" in process.
  # Its folder is told by the environment and, for the server COM starts,
  # by the registry.
  win() { echo "Z:${1//\//\\}"; }
  double_dir=$run_dir/ole-double
  mkdir -p "$double_dir"
  export ZRM_OLE_DOUBLE_DIR
  ZRM_OLE_DOUBLE_DIR=$(win "$double_dir")
  excel_clsid='{6F1D2A40-5B7C-4E21-9C3A-1D2E3F405001}'
  uno_clsid='{6F1D2A40-5B7C-4E21-9C3A-1D2E3F405002}'
  reg() { wine64 reg add "$@" /f </dev/null >/dev/null 2>&1; }
  reg 'HKCR\Excel.Application\CLSID' /ve /d "$excel_clsid"
  reg "HKCR\\CLSID\\$excel_clsid\\LocalServer32" /ve /d "$(win "$win_qt_build/bin/zrm_ole_double_server.exe")"
  reg 'HKCR\com.sun.star.ServiceManager\CLSID' /ve /d "$uno_clsid"
  reg "HKCR\\CLSID\\$uno_clsid\\InprocServer32" /ve /d "$(win "$win_qt_build/bin/zrm_ole_double.dll")"
  reg "HKCR\\CLSID\\$uno_clsid\\InprocServer32" /v ThreadingModel /d Apartment
  reg 'HKCU\Software\zrm-ole-double' /v Dir /d "$ZRM_OLE_DOUBLE_DIR"
  set +e
  ctest --test-dir "$win_qt_build" --output-on-failure -j2 --timeout 300 2>&1 | tee "$run_dir/ctest-program.log"
  program_tests_status=${PIPESTATUS[0]}
  set -e
  [ "$program_tests_status" -eq 0 ] || { say "FAILED: the Windows program's tests"; exit 1; }
  summaries+=("$(grep -E '^[0-9]+% tests passed' "$run_dir/ctest-program.log")")

  # The scenario: Russian number texts where the system has them, as at a bench.
  lang=C.UTF-8
  locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' && lang=ru_RU.UTF-8
  scenario_meters=(--meter 1201:4 --meter 1202:4)
  mkdir -p "$run_dir/linux" "$run_dir/win"
  for side in linux win; do
    mkfifo "$run_dir/$side.ctl"
  done
  exec 4<>"$run_dir/linux.ctl" 5<>"$run_dir/win.ctl"
  # On Linux the program opens the port's name as a path from its working
  # folder: the bench's link there carries the COM port's name, so both runs
  # write the same Settings.ini.
  start_bench "$run_dir/linux/$scenario_port" "$run_dir/linux-bench" "$run_dir/linux.ctl" "${scenario_meters[@]}"
  start_bench "$scenario_link" "$run_dir/win-bench" "$run_dir/win.ctl" "${scenario_meters[@]}"
  (cd "$run_dir/linux" && LANG=$lang LC_ALL=$lang QT_QPA_PLATFORM=offscreen \
    ZRM_SCENARIO_DIR="$run_dir/linux/program" ZRM_SCENARIO_PORT="$scenario_port" \
    ZRM_BENCH_CONTROL="$run_dir/linux.ctl" ZRM_BENCH_OUTPUT="$run_dir/linux-bench.out" \
    "$root/build/bin/zrm_bench_scenario" -silent) || { say "FAILED: the scenario, Linux build"; exit 1; }
  shots=${ZRM_SCENARIO_SHOTS:+$(win "$(mkdir -p "$ZRM_SCENARIO_SHOTS" && cd "$ZRM_SCENARIO_SHOTS" && pwd)")}
  scenario_start=$(date +%s)
  LANG=$lang LC_ALL=$lang LD_PRELOAD=$shim ZRM_SCENARIO_DIR="$(win "$run_dir/win/program")" \
    ZRM_SCENARIO_PORT="$scenario_port" ZRM_BENCH_CONTROL="$(win "$run_dir/win.ctl")" \
    ZRM_BENCH_OUTPUT="$(win "$run_dir/win-bench.out")" ZRM_SCENARIO_SHOTS="$shots" \
    timeout --kill-after=10 600 xvfb-run -a -s "-screen 0 1280x900x24" \
    wine64 "$win_qt_build/bin/zrm_bench_scenario.exe" -silent </dev/null || {
    status=$?
    # A program that never ends (e.g. hung in its exit) fails here, not at
    # CI's own limit.
    [ "$status" -eq 124 ] && say "the scenario under wine did not end within 600 s"
    say "FAILED: the scenario, Windows build under wine"
    exit 1
  }
  say "the scenario under wine (windows platform plugin, Xvfb, $lang) took $(( $(date +%s) - scenario_start )) s"
  for f in Settings.ini Calibration.ini Poverka.ini; do
    cmp "$run_dir/linux/program/compared/$f" "$run_dir/win/program/compared/$f" \
      || { say "FAILED: $f differs between the builds"; exit 1; }
    say "$f: $(stat -c %s "$run_dir/win/program/compared/$f") bytes, the same from both builds"
  done
  # The protocol: the cells the double saved against LibreOffice's workbook
  # of the Linux run, read back (two meters: A1 ... L24 with the rows below
  # row 17 one down, and two meter rows of eleven cells).
  linux_protocol=$(find "$run_dir/linux/program/Protocols" -name '*.xls' | head -n 1)
  [ -n "$linux_protocol" ] || { say "FAILED: the Linux run left no protocol"; exit 1; }
  soffice --headless --norestore "-env:UserInstallation=file://$run_dir/lo-profile" --convert-to fods \
    --outdir "$run_dir/linux-protocol" "$linux_protocol" >/dev/null 2>&1
  python3 "$root/scripts/protocol_cells.py" "$run_dir/win/program/protocol.cells" \
    "$run_dir/linux-protocol/$(basename "${linux_protocol%.xls}").fods" C25 33 \
    || { say "FAILED: the protocol's cells differ between the builds"; exit 1; }
  WIN_BUILD_DIR=$win_qt_build bash "$root/scripts/ci-windows-msi.sh"
fi

say "stage took $(( $(date +%s) - stage_start )) s"
# ctest's summary lines, last, as ctest itself ends.
printf '%s\n' "${summaries[@]}"
