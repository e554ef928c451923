# Sourced by the Windows scripts: find_mingw_qt prints the folder of a ready
# mingw-w64 Qt 6.4.2 (unpacking the archive into the cache when that is what
# is at hand) and fails when there is none.
#   ZRM_QT_MINGW               an unpacked install
#   ~/.cache/zrm-scanner/      where the archive is unpacked (ZRM_CACHE), in a
#                              folder named by the archive's checksum: a new
#                              archive (say, one with more Qt modules) is
#                              unpacked anew instead of an older copy being used
#   ZRM_QT_MINGW_ARCHIVE_DIR   the archive's folder, by default
#                              ../shared/toolchains/qt6-mingw beside the checkout
# Without an archive, the cache's $zrm_qt_name folder is used: the one
# scripts/build-qt-mingw.sh builds.
zrm_qt_name=qt-6.4.2-mingw-w64-x86_64
zrm_qt_cache=${ZRM_CACHE:-$HOME/.cache/zrm-scanner}

find_mingw_qt() {
  local root archive_dir archive qt sum unpack
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  archive_dir=${ZRM_QT_MINGW_ARCHIVE_DIR:-$root/../shared/toolchains/qt6-mingw}
  archive=$archive_dir/$zrm_qt_name.tar.xz
  qt=${ZRM_QT_MINGW:-$zrm_qt_cache/$zrm_qt_name}
  if [ -z "${ZRM_QT_MINGW:-}" ] && [ -f "$archive" ]; then
    sum=$(sha256sum "$archive" | cut -c1-16)
    qt=$zrm_qt_cache/$zrm_qt_name-$sum
    if [ ! -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
      # Unpacked beside and renamed, so a run cut short leaves no half copy.
      mkdir -p "$zrm_qt_cache"
      unpack=$(mktemp -d "$zrm_qt_cache/unpack.XXXXXX") || return 1
      tar -xJf "$archive" -C "$unpack" || { rm -rf "$unpack"; return 1; }
      rm -rf "$qt"
      mv "$unpack/$zrm_qt_name" "$qt" && rm -rf "$unpack" || return 1
    fi
  fi
  [ -f "$qt/lib/cmake/Qt6/qt.toolchain.cmake" ] || return 1
  echo "$qt"
}
