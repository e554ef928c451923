# Sourced by the Windows scripts: find_mingw_qt prints the folder of a ready
# mingw-w64 Qt 6.4.2 (unpacking the archive into the cache when that is what
# is at hand) and fails when there is none.
#   ZRM_QT_MINGW               an unpacked install
#   ~/.cache/zrm-scanner/      where the archive is unpacked (ZRM_CACHE)
#   ZRM_QT_MINGW_ARCHIVE_DIR   the archive's folder, by default
#                              ../shared/toolchains/qt6-mingw beside the checkout
zrm_qt_name=qt-6.4.2-mingw-w64-x86_64
zrm_qt_cache=${ZRM_CACHE:-$HOME/.cache/zrm-scanner}

find_mingw_qt() {
  local root archive_dir qt
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  archive_dir=${ZRM_QT_MINGW_ARCHIVE_DIR:-$root/../shared/toolchains/qt6-mingw}
  qt=${ZRM_QT_MINGW:-$zrm_qt_cache/$zrm_qt_name}
  if [ ! -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    [ -z "${ZRM_QT_MINGW:-}" ] && [ -f "$archive_dir/$zrm_qt_name.tar.xz" ] || return 1
    mkdir -p "$zrm_qt_cache"
    tar -xJf "$archive_dir/$zrm_qt_name.tar.xz" -C "$zrm_qt_cache" || return 1
  fi
  echo "$qt"
}
