#!/usr/bin/env bash
# Installs what the project needs on a Debian 12 machine. Safe to run again.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite
  libgtest-dev
  fonts-dejavu-core locales qt6-translations-l10n
  xvfb xauth imagemagick x11-apps
  libreoffice-calc-nogui libreoffice-dev
)

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages "${packages[@]}"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# Tests also run under the Russian locale, where the decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
