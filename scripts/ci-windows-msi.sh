#!/usr/bin/env bash
# CI, the Windows installer (run by scripts/ci-windows.sh after the whole
# program is built): the executables' PE headers and resources, then under
# wine in a fresh prefix with a Russian locale, as the bench PCs' Windows:
#  1. msiexec /i … /qn with the professional feature: the folder under
#     Program Files holds what the zip holds plus the marker; shortcuts and
#     the entry in the installed programs are there;
#  2. the installed professional variant, started through its Start-menu
#     shortcut and driven from outside through its windows (keys and clicks
#     on the X server, texts read back through the clipboard): the bench's
#     port picked, the link test with serial number 0, "Считать параметры",
#     a screenshot, the window closed as a user closes it. Settings.ini must
#     land in the user's AppData\Local\zrm-scanner and nothing under Program
#     Files may change;
#     zrm-cli, installed with it, lists the port, reads the same meter and
#     asks its question on standard input;
#  3. an MSI with the next build number installed over it: one copy, the
#     new version, the user's Settings.ini byte for byte as it was;
#  4. msiexec /x … /qn: nothing of the program left in Program Files or the
#     Start menu; the user's files stay.
#
#   WIN_BUILD_DIR=build-windows bash scripts/ci-windows-msi.sh
#
# Needs build-windows/ from scripts/build-windows.sh (with its MSI), the
# bench zrm-meter-sim and the harness's modem-line shim that lets wine take a
# pty for a COM port (tests/win32-serial/modem_shim.c), both from
# build-winhost/, which ci-windows.sh builds. ZRM_MSI_PORT (default COM9) names the COM port;
# ZRM_MSI_SHOTS (default build-windows/screenshots) gets the screenshot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
stage_start=$(date +%s)
say() { echo "ci-windows-msi: $*"; }
fail() { say "FAILED: $*"; exit 1; }
need_packages wine64 wine xvfb xauth xdotool xclip imagemagick icoutils binutils-mingw-w64-x86-64 wixl msitools

build=${WIN_BUILD_DIR:-$root/build-windows}
bench_bin=$root/build-winhost/bin/zrm-meter-sim
shim=$root/build-winhost/lib/modem_shim.so
port=${ZRM_MSI_PORT:-COM9}
shots=${ZRM_MSI_SHOTS:-$build/screenshots}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
version_text() { sed -n 's/.*define VersionText = "\(.*\)".*/\1/p' "$build/packaging/windows/product.wxi"; }
first=$(version_text)
number=${first##*.}
msi=$build/zrm-scanner-$first-win64.msi
[ -f "$msi" ] && [ -x "$bench_bin" ] && [ -f "$shim" ] || fail "no $msi, $bench_bin or $shim (run scripts/ci-windows.sh)"
locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$' || fail "no ru_RU.UTF-8 locale (scripts/setup.sh makes it)"

# --- the executables: windowed, with the icon and the version ------------------------
resource() {  # EXE KEY: a string of the version resource
  wrestool -x --raw -t 16 "$1" | iconv -f UTF-16LE -t UTF-8 -c | tr '\0' '\n' | grep -av '^$' | grep -a -A1 "$2\$" | tail -1
}
check_program() {  # EXE SUBSYSTEM
  local exe=$1 subsystem=$2
  x86_64-w64-mingw32-objdump -p "$exe" | grep -E "^Subsystem[[:space:]]+$subsystem" >/dev/null \
    || fail "$(basename "$exe"): not subsystem $subsystem"
  wrestool -l "$exe" | grep 'type=group_icon' >/dev/null || fail "$(basename "$exe"): no icon"
  [ "$(resource "$exe" ProductName)" = "Сканер ЗРМ" ] || fail "$(basename "$exe"): product name"
  [ "$(resource "$exe" FileVersion)" = "$first" ] || fail "$(basename "$exe"): file version"
  resource "$exe" FileDescription | grep 'расходомер' >/dev/null || fail "$(basename "$exe"): file description"
  say "$(basename "$exe"): subsystem $subsystem, icon, $(resource "$exe" ProductName) $first"
}
check_program "$build/bin/zrm-scanner.exe" 00000002
check_program "$build/bin/zrm-scanner-pro.exe" 00000002
check_program "$build/bin/zrm-cli.exe" 00000003

# --- a fresh prefix ------------------------------------------------------------------------
run_dir=$(mktemp -d /tmp/zrm-msi.XXXXXX)
export PATH=/usr/lib/wine:$PATH
export WINEPREFIX=$build/msi-wineprefix
export WINEDEBUG=-all
# No Mono/Gecko installers; no desktop entries in the host's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# A Russian Windows: wine writes a shortcut's target in the ANSI code page,
# which must hold the Cyrillic folder name.
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
# The installed copy loads only what its folder holds.
unset DISPLAY WAYLAND_DISPLAY WINEPATH
pids=()
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$run_dir"
}
trap cleanup EXIT
stop_wine() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
win() { echo "Z:${1//\//\\}"; }

rm -rf "$WINEPREFIX"
wineboot --init </dev/null >/dev/null 2>&1
bench_link=$run_dir/ttyMSI
wine64 reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$bench_link" /f </dev/null >/dev/null 2>&1
stop_wine
say "fresh prefix after $(( $(date +%s) - stage_start )) s"

drive_c=$WINEPREFIX/drive_c
folder="$drive_c/Program Files/Сканер ЗРМ"
profile=$(find "$drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)
user_data=$profile/AppData/Local/zrm-scanner
# Wine puts even a per-machine shortcut in the user's menu: both are searched.
menus=("$drive_c/ProgramData/Microsoft/Windows/Start Menu" "$profile/AppData/Roaming/Microsoft/Windows/Start Menu")
shortcuts() { find "${menus[@]}" -name 'Сканер ЗРМ*.lnk' 2>/dev/null | sort; }
msiexec() {  # exit codes are cut to 8 bits by wine (1603 → 67)
  local status=0
  wine64 msiexec "$@" </dev/null >"$run_dir/msiexec.log" 2>&1 || status=$?
  stop_wine
  [ "$status" -eq 0 ] || { cat "$run_dir/msiexec.log"; fail "msiexec $* ended with $status"; }
}
installed_entries() {  # "DisplayName|DisplayVersion|Publisher" of each installed copy
  local f=$run_dir/uninstall.reg
  wine64 reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$(win "$f")" /y </dev/null >/dev/null 2>&1
  stop_wine
  iconv -f UTF-16 -t UTF-8 "$f" | tr -d '\r' | awk -F'"' '
    /^\[/ { if (name == "Сканер ЗРМ") print name "|" ver "|" pub; name = ""; ver = ""; pub = "" }
    $2 == "DisplayName" { name = $4 } $2 == "DisplayVersion" { ver = $4 } $2 == "Publisher" { pub = $4 }
    END { if (name == "Сканер ЗРМ") print name "|" ver "|" pub }'
}

# --- 1. install, with the professional feature ------------------------------------------
t=$(date +%s)
msiexec /i "$(win "$msi")" /qn ADDLOCAL=Scanner,Pro
say "installed $(basename "$msi") in $(( $(date +%s) - t )) s"
(cd "$build/zrm-scanner-$version-win64" && find . -type f | sort) >"$run_dir/zip.list"
(cd "$folder" && find . -type f | sort) >"$run_dir/installed.list"
diff <( (cat "$run_dir/zip.list"; echo ./installed) | sort) "$run_dir/installed.list" \
  || fail "the installed folder is not the zip's folder plus the marker"
say "Program Files\\Сканер ЗРМ: $(wc -l <"$run_dir/installed.list") files, the zip's and the marker"
[ "$(shortcuts | wc -l)" -eq 2 ] || fail "shortcuts: $(shortcuts)"
say "shortcuts: $(shortcuts | xargs -d '\n' -n1 basename | paste -sd, -)"
entries=$(installed_entries)
[ "$entries" = "Сканер ЗРМ|1.6.$number|Сканер ЗРМ" ] || fail "installed programs: $entries"
say "installed programs: $entries"
(cd "$folder" && find . -exec stat -c '%n %s %Y' {} + | sort) >"$run_dir/folder.before"

# --- 2. the installed professional variant through its shortcut ------------------------
"$bench_bin" --link "$bench_link" --meter 1201:4 --reply-delay 0 --verbose </dev/null \
  >"$run_dir/bench.out" 2>"$run_dir/bench.err" &
pids+=($!)
for _ in $(seq 100); do [ -L "$bench_link" ] && break; sleep 0.05; done
[ -L "$bench_link" ] || fail "the bench did not start: $(cat "$run_dir/bench.err")"
exec 6>"$run_dir/display"
Xvfb -displayfd 6 -screen 0 1280x900x24 -nolisten tcp >"$run_dir/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$run_dir/display" ] && break; sleep 0.05; done
export DISPLAY=:$(head -1 "$run_dir/display")
exec 6>&-

lnk=$(shortcuts | grep -F '(профессиональный)')
LD_PRELOAD=$shim wine64 start /unix "$lnk" </dev/null >"$run_dir/program.log" 2>&1
t=$(date +%s)
main=
until main=$(xdotool search --name '^Сканер ЗРМ v' 2>/dev/null | head -1) && [ -n "$main" ]; do
  [ $(( $(date +%s) - t )) -lt 60 ] || fail "no main window within 60 s"
  sleep 0.5
done
say "main window \"$(xdotool getwindowname "$main")\" after $(( $(date +%s) - t )) s"
copied() {  # the clipboard's text after Ctrl+C in the focused widget (nothing within 3 s: empty)
  local text= i
  : | xclip -selection clipboard
  xdotool key --clearmodifiers ctrl+c
  for i in $(seq 30); do
    sleep 0.1
    text=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r')
    [ -z "$text" ] || break
  done
  echo "$text"
}
box() {  # waits for a message box of the program; prints its text and answers it
  local until=$(( $(date +%s) + $1 )) b
  while [ "$(date +%s)" -lt "$until" ]; do
    b=$(xdotool search --name '^Сканер ЗРМ$' 2>/dev/null | head -1)
    if [ -n "$b" ]; then
      sleep 0.3
      # Ctrl+C copies a box as title, text and buttons between dashed lines.
      copied | awk '/^-----/ { n++; next } n == 2'
      xdotool key Return
      sleep 0.5
      return 0
    fi
    sleep 0.3
  done
  return 1
}
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.3; }
text_at() {  # the whole text of the box at X Y (a click after a message box may only activate the window)
  local text=
  for _ in 1 2 3 4 5; do
    click "$1" "$2"
    text=$(xdotool key ctrl+a; copied)
    click "$1" "$2"   # the selection off again
    [ -z "$text" ] || break
  done
  echo "$text"
}
# A first start may find its default port (COM1) missing: the program says so.
while text=$(box 3); do say "message box at start: $text"; done
# Points inside the window, as it is laid out: the help text, the serial
# number's box, the two memos.
click 500 300
# The focus starts in "ПОРТ": step through its list to the bench's port.
for _ in 1 2 3 4 5 6; do
  [ "$(xdotool key ctrl+a; copied)" = "$port" ] && break
  xdotool key Down
  sleep 1
done
[ "$(copied)" = "$port" ] || fail "the port list has no $port"
say "port $port picked"
[ "$(text_at 150 46)" = "0" ] || fail "the serial number's box is not where expected, or not 0"
xdotool key Tab Tab space   # "Тест связи"
text=$(box 20) || fail "the link test gave no answer"
say "link test: $text"
echo "$text" | grep -q 'на связи' || fail "the link test said: $text"
serial=$(text_at 150 46)
[ "$serial" = "1201" ] || fail "the serial number found is \"$serial\""
xdotool key Tab Tab Tab space   # "Считать параметры"
t=$(date +%s)
config=
while [ -z "$config" ]; do
  ! text=$(box 1) || fail "message box: $text"
  [ $(( $(date +%s) - t )) -lt 30 ] || fail "the configuration memo is empty after \"Считать параметры\""
  config=$(text_at 170 308)
done
state=$(text_at 170 143)
[ -n "$state" ] || fail "the state memo is empty after \"Считать параметры\""
click 500 300
mkdir -p "$shots"
import -window "$main" "$shots/installed-pro-main-window.png"
say "screenshot $shots/installed-pro-main-window.png"
say "Состояние: $(echo "$state" | paste -sd'/' -)"
say "Конфигурация: $(echo "$config" | paste -sd'/' -)"
click 500 300
xdotool key alt+F4
t=$(date +%s)
while xdotool search --name '^Сканер ЗРМ' >/dev/null 2>&1; do
  [ $(( $(date +%s) - t )) -lt 20 ] || fail "the window did not close"
  sleep 0.3
done
stop_wine
say "closed after $(( $(date +%s) - t )) s"
grep -q "^COM=$port"$'\r'"\$" "$user_data/Settings.ini" || fail "Settings.ini in AppData\\Local\\zrm-scanner: $(cat "$user_data/Settings.ini" 2>&1)"
say "$user_data/Settings.ini: $(stat -c %s "$user_data/Settings.ini") bytes, COM=$port"
grep -q ' rx ' "$run_dir/bench.err" || fail "the bench heard nothing"
say "the bench: $(grep -c ' rx ' "$run_dir/bench.err") frames heard, $(grep -c ' tx ' "$run_dir/bench.err") answered"
# zrm-cli, the professional feature's console program, on the same line.
cli() { LD_PRELOAD=$shim wine64 "$folder/zrm-cli.exe" "$@" 2>>"$run_dir/cli.err" | tr -d '\r'; }
cli ports </dev/null | grep -x "$port" >/dev/null || fail "zrm-cli ports does not list $port: $(cat "$run_dir/cli.err")"
cli_read=$(cli --port "$port" read 1201 </dev/null) || fail "zrm-cli read: $(cat "$run_dir/cli.err")"
[ "$(echo "$cli_read" | tail -n "$(echo "$config" | wc -l)")" = "$config" ] \
  || fail "zrm-cli read 1201 gave another configuration than the window: $cli_read"
# Its question read from standard input: declined, then agreed to.
status=0
echo нет | cli --port "$port" reset 1201 >/dev/null || status=$?
[ "$status" -eq 1 ] || fail "zrm-cli reset answered \"нет\" ended with $status, not 1 (declined)"
echo да | cli --port "$port" reset 1201 >/dev/null || fail "zrm-cli reset answered \"да\": $(tail -3 "$run_dir/cli.err")"
stop_wine
say "zrm-cli: lists $port; read 1201 gives the window's configuration; reset asks on standard input"
(cd "$folder" && find . -exec stat -c '%n %s %Y' {} + | sort) >"$run_dir/folder.after"
diff "$run_dir/folder.before" "$run_dir/folder.after" || fail "Program Files changed while the program ran"
say "Program Files unchanged"
cp "$user_data/Settings.ini" "$run_dir/Settings.ini"

# --- 3. the next build installed over it -----------------------------------------------
t=$(date +%s)
LANG=C.UTF-8 LC_ALL=C.UTF-8 ZRM_BUILD_NUMBER=$((number + 1)) WIN_BUILD_DIR=$build bash "$root/scripts/build-windows.sh" >"$run_dir/build.log" 2>&1 \
  || { tail -20 "$run_dir/build.log"; fail "the build with number $((number + 1))"; }
second=$(version_text)
[ "$second" = "$version.$((number + 1))" ] || fail "the second build is $second"
msi2=$build/zrm-scanner-$second-win64.msi
say "built $(basename "$msi2") in $(( $(date +%s) - t )) s"
# Wine's installer keeps no optional feature across a major upgrade: it is named again.
msiexec /i "$(win "$msi2")" /qn ADDLOCAL=ALL
entries=$(installed_entries)
[ "$entries" = "Сканер ЗРМ|1.6.$((number + 1))|Сканер ЗРМ" ] || fail "installed programs after the upgrade: $entries"
[ "$(resource "$folder/zrm-scanner-pro.exe" FileVersion)" = "$second" ] || fail "the upgrade left the old zrm-scanner-pro.exe"
cmp "$run_dir/Settings.ini" "$user_data/Settings.ini" || fail "the upgrade changed the user's Settings.ini"
[ "$(shortcuts | wc -l)" -eq 2 ] || fail "shortcuts after the upgrade: $(shortcuts)"
say "upgraded to $second: one copy ($entries), Settings.ini unchanged"

# --- 4. uninstall ----------------------------------------------------------------------
msiexec /x "$(win "$msi2")" /qn
[ ! -e "$folder" ] || fail "left in Program Files: $(cd "$folder" && find . | head)"
[ -z "$(shortcuts)" ] || fail "left in the Start menu: $(shortcuts)"
[ -z "$(installed_entries)" ] || fail "still in the installed programs"
cmp "$run_dir/Settings.ini" "$user_data/Settings.ini" || fail "the uninstall touched the user's Settings.ini"
say "uninstalled: nothing in Program Files or the Start menu; the user's files stay"
say "stage took $(( $(date +%s) - stage_start )) s"
