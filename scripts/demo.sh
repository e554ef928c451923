#!/usr/bin/env bash
# Sets up, builds, and runs the program against the virtual meter bench:
# three meters (serial numbers 444, 555 and 12345) on one pseudo-terminal.
# VARIANT=pro runs the professional variant.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"

demo=$build/demo
mkdir -p "$demo"
program=zrm-scanner
[ "${VARIANT:-user}" = pro ] && program=zrm-scanner-pro
# The program keeps its files beside its executable: run a copy from the demo folder.
cp -f "$build/bin/$program" "$demo/$program"
for f in "$build"/bin/*.xls; do [ -e "$f" ] && cp -f "$f" "$demo/"; done

link=$demo/ttyZRM
printf '[CONFIG]\r\nCOM=%s\r\n' "$link" > "$demo/Settings.ini"

"$build/bin/zrm-meter-sim" --link "$link" \
  --meter 444:1 --meter 555:4 --meter 12345:7 \
  --flow 444:1.8:0.05 --flow 555:14.5:0.3 --flow 12345:96:1.5 &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

echo "Virtual meter bench on $link: meters 444 (Ду 25), 555 (Ду 50), 12345 (Ду 150)."
cd "$demo"
if [ -n "${DISPLAY:-}" ]; then
  "./$program"
else
  echo "No display: running under Xvfb; a screenshot goes to $demo/screenshot.png. Ctrl-C ends."
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c "
    './$program' & p=\$!
    sleep 3; import -window root '$demo/screenshot.png' && echo 'Screenshot: $demo/screenshot.png'
    wait \$p"
fi
