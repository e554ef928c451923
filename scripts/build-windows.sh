#!/usr/bin/env bash
# Cross-builds the whole program for 64-bit Windows with mingw-w64 and a
# mingw build of Qt 6.4.2, and packs both variants with every DLL and plugin
# they load into build-windows/zrm-scanner-<version>-win64.zip (unzip and run
# zrm-scanner.exe or zrm-scanner-pro.exe; the program keeps its files beside
# them). Also builds the tests that run under wine (scripts/ci-windows.sh).
#
#   bash scripts/build-windows.sh
#
# Qt, in this order: ZRM_QT_MINGW (an unpacked install), the cache
# (~/.cache/zrm-scanner/qt-6.4.2-mingw-w64-x86_64), the archive
# qt-6.4.2-mingw-w64-x86_64.tar.xz in ZRM_QT_MINGW_ARCHIVE_DIR (default
# ../shared/toolchains/qt6-mingw beside the checkout), unpacked into the cache;
# otherwise it is rebuilt from source by scripts/build-qt-mingw.sh (about
# 34 minutes on 2 cores).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
start=$SECONDS
say() { echo "build-windows: $*"; }

# Host Qt: moc, uic and rcc of the same version; soffice turns the protocol
# template into its .xls; the Russian .qm of Qt's own dialogs.
need_packages cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools qt6-base-dev qt6-charts-dev \
  qt6-translations-l10n googletest xz-utils libreoffice-calc-nogui

. "$root/scripts/windows-qt.sh"
if ! qt=$(find_mingw_qt); then
  say "no mingw Qt at hand: building it from source (scripts/build-qt-mingw.sh)"
  qt=${ZRM_QT_MINGW:-$zrm_qt_cache/$zrm_qt_name}
  ZRM_QT_MINGW_PREFIX=$qt bash "$root/scripts/build-qt-mingw.sh"
fi

build=${WIN_BUILD_DIR:-$root/build-windows}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# ZRM_WERROR=ON (set by CI) makes warnings errors; unset, the build keeps
# what it was configured with (a developer's build only warns).
werror=()
[ -z "${ZRM_WERROR:-}" ] || werror=(-DZRM_WERROR="$ZRM_WERROR")
cmake -G Ninja -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" "${werror[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DZRM_MINGW_STATIC_RUNTIME=OFF -DBUILD_TESTING=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
say "built after $((SECONDS - start)) s"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name=zrm-scanner-$version-win64
rm -rf "${build:?}/$name" "$build/$name.zip"
cmake --install "$build" --prefix "$build/$name" --component scanner >/dev/null
# The compiler's runtime DLLs carry their debugging sections (libstdc++ 23 MB).
x86_64-w64-mingw32-strip --strip-unneeded "$build/$name"/lib*.dll
for f in zrm-scanner.exe zrm-scanner-pro.exe Qt6Core.dll platforms/qwindows.dll "Протокол поверки.xls"; do
  [ -e "$build/$name/$f" ] || { say "missing from the folder: $f"; exit 1; }
done
(cd "$build" && cmake -E tar cf "$name.zip" --format=zip "$name")
say "$build/$name.zip: $(du -k "$build/$name.zip" | cut -f1) KiB, $(find "$build/$name" -type f | wc -l) files"
say "done in $((SECONDS - start)) s"
WIN_BUILD_DIR=$build bash "$root/scripts/build-msi.sh"
