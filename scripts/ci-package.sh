#!/usr/bin/env bash
# CI stage: the Debian packages, built from this checkout, checked, installed
# with apt and used as a user would use them:
#
#  1. scripts/package.sh builds build/packages/*.deb;
#  2. lintian (errors fail), appstreamcli validate, desktop-file-validate;
#  3. apt installs the three packages;
#  4. a freshly created non-root user with an empty home starts the INSTALLED
#     program under Xvfb against zrm-meter-sim on a pty and drives it from
#     outside through AT-SPI (scripts/installed_smoke.py): the main window,
#     the link test with serial number 0, "Считать параметры" filling both
#     memos, closing the window; then Settings.ini must be in that user's
#     data folder and nothing under /usr may have changed; the professional
#     variant started next opens the port that Settings.ini names;
#  5. the packages are purged and none of their files may be left.
#
# Screenshots of the menu entries and of the installed program's main window
# go to build/packages/screenshots/. Self-contained: installs what it needs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
out=$root/build/packages
shots=$out/screenshots
start=$SECONDS
say() { echo "ci-package: $*"; }
step() { say "$1 ($((SECONDS - start)) s)"; }
# CI builds treat warnings as errors (ZRM_WERROR=OFF in the environment
# turns that off for a local run).
export ZRM_WERROR=${ZRM_WERROR:-ON}

bash "$root/scripts/package.sh"
step "packages built"

tools=(lintian appstream desktop-file-utils xvfb xauth imagemagick fonts-dejavu-core
       dbus at-spi2-core python3-pyatspi gir1.2-atspi-2.0 python3-xlib)
need_packages "${tools[@]}"

debs=("$out"/zrm-scanner_*.deb "$out"/zrm-scanner-pro_*.deb "$out"/zrm-meter-sim_*.deb)
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { say "missing package $deb"; exit 1; }
done

# --- 2. the packages' own checks ---------------------------------------------
# One tag is suppressed, with its reason: custom-library-search-path. The
# office helper's RUNPATH names /usr/lib/libreoffice/program, the only place
# Debian keeps the UNO libraries it links (libuno_cppu.so.3 and the rest are
# not on the linker's path); without it the helper cannot start.
lintian --fail-on error --tag-display-limit 0 \
  --suppress-tags custom-library-search-path "${debs[@]}"
step "lintian: no errors"

# --- 3. install ---------------------------------------------------------------
purge() {
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq zrm-scanner-pro zrm-scanner zrm-meter-sim >/dev/null 2>&1 || true
}
purge
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${debs[@]}" >/dev/null
step "installed: $(dpkg-query -W -f='${Package} ${Version}, ' zrm-scanner zrm-scanner-pro zrm-meter-sim)"
owned=$(mktemp)
dpkg -L zrm-scanner zrm-scanner-pro zrm-meter-sim | sort -u >"$owned"

appstreamcli validate --no-net /usr/share/metainfo/ru.zrm.scanner.metainfo.xml
desktop-file-validate /usr/share/applications/zrm-scanner.desktop /usr/share/applications/zrm-scanner-pro.desktop
step "appstreamcli and desktop-file-validate passed"
# Manual pages are in the packages (a minimal image may not install them).
for program in zrm-scanner zrm-scanner-pro zrm-meter-sim; do
  listing=$(dpkg-deb -c "$out/${program}"_*.deb)
  grep -q "/usr/share/man/man1/$program.1.gz" <<<"$listing" ||
    { say "no manual page of $program"; exit 1; }
  "$program" --help >/dev/null
done

# The menu entries as a launcher lists them: each entry's icon and name.
mkdir -p "$shots"
tiles=()
for entry in /usr/share/applications/zrm-scanner.desktop /usr/share/applications/zrm-scanner-pro.desktop; do
  name=$(sed -n 's/^Name=//p' "$entry")
  icon=/usr/share/icons/hicolor/64x64/apps/$(sed -n 's/^Icon=//p' "$entry").png
  tile=$(mktemp --suffix=.png)
  convert -background '#eef1f5' -fill '#222222' -font DejaVu-Sans -pointsize 15 \
    "$icon" -gravity center -extent 240x80 \( -size 240x44 -background '#eef1f5' -gravity north "caption:$name" \) \
    -append "$tile"
  tiles+=("$tile")
done
convert -background '#eef1f5' "${tiles[@]}" +append \
  \( -size 480x34 -background '#3b4a5a' -fill white -font DejaVu-Sans -pointsize 16 \
     -gravity west "label:  Приложения › Наука" \) +swap -append -bordercolor '#3b4a5a' -border 1 \
  "$shots/menu_entries.png"
rm -f "${tiles[@]}"

# --- 4. the installed program, used by a new user -----------------------------
user=zrmsmoke$$
work=$(mktemp -d /tmp/zrm-smoke.XXXXXX)
stamp=$work/stamp
cleanup() {
  # Whatever the smoke user still runs (an accessibility bus), by process id.
  for proc in /proc/[0-9]*; do
    [ "$(stat -c %U "$proc" 2>/dev/null)" = "$user" ] && kill -KILL "${proc#/proc/}" 2>/dev/null
  done
  userdel -r "$user" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap 'cleanup; purge' EXIT
useradd -M -d "/home/$user" -s /bin/bash "$user"
install -d -o "$user" -g "$user" -m 700 "/home/$user"   # empty: no /etc/skel files
install -m 755 "$root/scripts/installed_smoke.py" "$work/installed_smoke.py"
install -d -o "$user" -g "$user" -m 700 "$work/run" "$work/bench"
chmod 755 "$work"
touch "$stamp"
sleep 1

link=$work/bench/ttyZRM
status=0
runuser -u "$user" -- env -i HOME="/home/$user" USER="$user" LOGNAME="$user" PATH=/usr/bin:/bin \
  LANG=C.UTF-8 XDG_RUNTIME_DIR="$work/run" bash -c '
    set -e
    link=$1; work=$2
    zrm-meter-sim --link "$link" --meter 444:1 --flow 444:1.8:0.05 >"$work/bench/sim.log" 2>&1 &
    sim=$!
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    status=0
    xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- \
      /usr/bin/python3 "$work/installed_smoke.py" /usr/bin/zrm-scanner "$link" "$work/bench/main_window.png" || status=$?
    # The professional variant shares the data folder: it opens the saved port.
    [ "$status" -ne 0 ] || xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- \
      /usr/bin/python3 "$work/installed_smoke.py" --again /usr/bin/zrm-scanner-pro "$link" || status=$?
    kill "$sim" 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    exit $status' smoke "$link" "$work" || status=$?
# The screen is black around the window: keep the window alone.
[ -f "$work/bench/main_window.png" ] && convert "$work/bench/main_window.png" -trim +repage "$shots/installed_main_window.png"
if [ "$status" -ne 0 ]; then
  say "the installed program failed its smoke test"
  cat "$work/bench/sim.log" || true
  exit 1
fi

settings=/home/$user/.local/share/zrm-scanner/Settings.ini
if ! grep -q "^COM=$link" "$settings"; then
  say "no Settings.ini naming the port in the user's data folder ($settings)"
  exit 1
fi
say "Settings.ini written in the user's data folder: $(tr -d '\r' <"$settings" | tr '\n' ' ')"
changed=$(find /usr -xdev -newer "$stamp" 2>/dev/null | head -20)
if [ -n "$changed" ]; then
  say "files under /usr changed while the program ran:"
  echo "$changed"
  exit 1
fi
step "smoke test of the installed program passed; nothing under /usr changed"

# --- 5. purge -----------------------------------------------------------------
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq zrm-scanner-pro zrm-scanner zrm-meter-sim >/dev/null
left=()
while read -r path; do
  case "$path" in
    /usr/share/zrm-scanner* | /usr/libexec/zrm-scanner* | /usr/share/doc/zrm-*) [ -e "$path" ] && left+=("$path") ;;
    *) [ -e "$path" ] && [ ! -d "$path" ] && left+=("$path") ;;
  esac
done <"$owned"
rm -f "$owned"
if [ ${#left[@]} -gt 0 ]; then
  say "left after purge: ${left[*]}"
  exit 1
fi
step "purged; nothing of the packages is left under /usr"
