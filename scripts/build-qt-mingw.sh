#!/usr/bin/env bash
# Builds the mingw-w64 Qt that scripts/build-windows.sh uses, when no ready
# build is at hand: Qt 6.4.2 for Windows x86_64 (Core, Gui, Widgets, Test,
# Charts; the windows and offscreen platform plugins; no OpenGL, D-Bus, SQL,
# network, print support, XML or ICU), from Debian's qt6-base 6.4.2+dfsg-10
# source with Debian's patches, and Qt Charts 6.4.2, with the host tools of
# Debian's qt6-base-dev (same version). About 34 minutes on 2 cores.
#
#   ZRM_QT_MINGW_PREFIX=DIR bash scripts/build-qt-mingw.sh
#
# Qt Charts' source is not on Debian's mirror: give its tarball as
# ZRM_QTCHARTS_SOURCE (qtcharts-6.4.2-src.tar.xz, a v6.4.2 checkout packed),
# or keep it in ../shared/toolchains/qt6-mingw beside the checkout.
# ZRM_QT_MINGW_CONFIGURE_ONLY=1 stops after configuring qtbase (a check of
# the recipe in about two minutes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
say() { echo "build-qt-mingw: $*"; }

prefix=${ZRM_QT_MINGW_PREFIX:?set ZRM_QT_MINGW_PREFIX to the install folder}
charts=${ZRM_QTCHARTS_SOURCE:-$root/../shared/toolchains/qt6-mingw/qtcharts-6.4.2-src.tar.xz}
[ -f "$charts" ] || { say "Qt Charts source not found: $charts (set ZRM_QTCHARTS_SOURCE)"; exit 1; }
need_packages cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools qt6-base-dev qt6-charts-dev \
  xz-utils patch quilt dpkg-dev

work=${ZRM_QT_MINGW_WORK:-$(mktemp -d /tmp/qt-mingw.XXXXXX)}
cd "$work"
# Debian's source through apt itself: source entries made from this machine's
# own apt sources, in a private apt state, so the system's lists stay as they are.
if [ ! -f qt6-base_6.4.2+dfsg.orig.tar.xz ] || [ ! -f qt6-base_6.4.2+dfsg-10.debian.tar.xz ]; then
  mkdir -p apt/sources.list.d apt/lists/partial
  for f in /etc/apt/sources.list.d/*.sources; do
    if [ -f "$f" ]; then sed 's/^Types:.*/Types: deb-src/' "$f" >"apt/sources.list.d/$(basename "$f")"; fi
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >apt/sources.list.d/main.list
  fi
  aptopts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$work/apt/sources.list.d"
    -o Dir::State::Lists="$work/apt/lists")
  apt-get "${aptopts[@]}" update >/dev/null
  apt-get "${aptopts[@]}" source --download-only qt6-base=6.4.2+dfsg-10 >/dev/null
fi
rm -rf qtbase && mkdir qtbase
tar -xJf qt6-base_6.4.2+dfsg.orig.tar.xz -C qtbase --strip-components=1
tar -xJf qt6-base_6.4.2+dfsg-10.debian.tar.xz -C qtbase
(cd qtbase && QUILT_PATCHES=debian/patches quilt push -a -q >/dev/null)
# qwindows.dll does not link with direct2d off unless DirectWrite 3 is tied to it.
patch -d qtbase -p1 <"$root/cmake/qt-mingw-direct2d.patch"

toolchain=$root/cmake/mingw-w64.cmake
# tabletevent off: Debian's source drops the wintab header. Debian's cross
# patch turns androiddeployqt on; it is turned off here.
cmake -G Ninja -S qtbase -B build-qtbase -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZRM_MINGW_STATIC_RUNTIME=OFF \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DQT_BUILD_BENCHMARKS=OFF -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF \
  -DFEATURE_network=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_testlib=ON -DFEATURE_tabletevent=OFF -DFEATURE_vulkan=OFF -DFEATURE_zstd=OFF -DFEATURE_jpeg=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_jpeg=OFF \
  -DFEATURE_androiddeployqt=OFF -DFEATURE_qmake=OFF -DFEATURE_direct2d=OFF >/dev/null
if [ -n "${ZRM_QT_MINGW_CONFIGURE_ONLY:-}" ]; then
  say "qtbase configured in $work/build-qtbase (ZRM_QT_MINGW_CONFIGURE_ONLY: not built)"
  exit 0
fi
say "qtbase configured; building (about 28 minutes on 2 cores)"
cmake --build build-qtbase -j"$(nproc)"
cmake --install build-qtbase >/dev/null

rm -rf qtcharts && mkdir qtcharts
tar -xJf "$charts" -C qtcharts --strip-components=1
"$prefix/bin/qt-cmake" -G Ninja -S qtcharts -B build-qtcharts -DCMAKE_BUILD_TYPE=Release \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF >/dev/null
cmake --build build-qtcharts -j"$(nproc)"
cmake --install build-qtcharts >/dev/null
say "installed in $prefix"
