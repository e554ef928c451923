#!/usr/bin/env bash
# Builds the mingw-w64 Qt that scripts/build-windows.sh uses, when no ready
# build is at hand: Qt 6.4.2 for Windows x86_64 (Core, Gui, Widgets, Test,
# Sql with the SQLite and ODBC drivers, Charts; the windows and offscreen
# platform plugins; no OpenGL, D-Bus, network, print support, XML or ICU),
# from Debian's qt6-base 6.4.2+dfsg-10 source with Debian's patches, and Qt
# Charts 6.4.2, with the host tools of Debian's qt6-base-dev (same version).
# SQLite is Debian's own source (the release's sqlite3 package), made into
# its one-file form and linked into the driver plugin, so no sqlite DLL is
# shipped. About 40 minutes on 2 cores.
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
  xz-utils patch quilt dpkg-dev tcl

work=${ZRM_QT_MINGW_WORK:-$(mktemp -d /tmp/qt-mingw.XXXXXX)}
mkdir -p "$work"
cd "$work"
# Debian's source through apt itself: source entries made from this machine's
# own apt sources, in a private apt state, so the system's lists stay as they are.
if [ ! -f qt6-base_6.4.2+dfsg.orig.tar.xz ] || [ ! -f qt6-base_6.4.2+dfsg-10.debian.tar.xz ] ||
   ! ls sqlite3_*.dsc >/dev/null 2>&1; then
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
  apt-get "${aptopts[@]}" source --download-only sqlite3 >/dev/null
fi

# SQLite's one-file form, built on this machine (its generator needs tclsh),
# then compiled for Windows into a static library.
rm -rf sqlite3-src sqlite && mkdir sqlite3-src sqlite sqlite/include sqlite/lib
dpkg-source --no-check -x "$(ls sqlite3_*.dsc | head -n 1)" sqlite3-src/tree >/dev/null
(cd sqlite3-src && mkdir bld && cd bld && ../tree/configure --disable-tcl >/dev/null && make sqlite3.c >/dev/null)
x86_64-w64-mingw32-gcc-posix -O2 -c sqlite3-src/bld/sqlite3.c -o sqlite/sqlite3.o -DSQLITE_THREADSAFE=1 \
  -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_JSON1 -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_OMIT_LOAD_EXTENSION
x86_64-w64-mingw32-ar rcs sqlite/lib/libsqlite3.a sqlite/sqlite3.o
cp sqlite3-src/bld/sqlite3.h sqlite3-src/bld/sqlite3ext.h sqlite/include/
say "SQLite $(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' sqlite/include/sqlite3.h) built for Windows"
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
  -DQT_BUILD_BENCHMARKS=OFF -DINPUT_opengl=no -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF \
  -DFEATURE_network=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_testlib=ON -DFEATURE_tabletevent=OFF -DFEATURE_vulkan=OFF -DFEATURE_zstd=OFF -DFEATURE_jpeg=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF \
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_jpeg=OFF \
  -DFEATURE_androiddeployqt=OFF -DFEATURE_qmake=OFF -DFEATURE_direct2d=OFF \
  -DFEATURE_sql=ON -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON -DSQLite3_INCLUDE_DIR="$work/sqlite/include" \
  -DSQLite3_LIBRARY="$work/sqlite/lib/libsqlite3.a" -DFEATURE_sql_odbc=ON -DFEATURE_sql_psql=OFF \
  -DFEATURE_sql_mysql=OFF -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF >/dev/null
grep -q 'QT_FEATURE_sql_sqlite:INTERNAL=ON' build-qtbase/CMakeCache.txt || { say "qtbase configured without the SQLite driver"; exit 1; }
if [ -n "${ZRM_QT_MINGW_CONFIGURE_ONLY:-}" ]; then
  say "qtbase configured in $work/build-qtbase (ZRM_QT_MINGW_CONFIGURE_ONLY: not built)"
  exit 0
fi
say "qtbase configured; building (about 34 minutes on 2 cores)"
cmake --build build-qtbase -j"$(nproc)"
cmake --install build-qtbase >/dev/null

rm -rf qtcharts && mkdir qtcharts
tar -xJf "$charts" -C qtcharts --strip-components=1
"$prefix/bin/qt-cmake" -G Ninja -S qtcharts -B build-qtcharts -DCMAKE_BUILD_TYPE=Release \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF >/dev/null
cmake --build build-qtcharts -j"$(nproc)"
cmake --install build-qtcharts >/dev/null
say "installed in $prefix"
