#!/usr/bin/env bash
# Makes the Windows installer build-windows/zrm-scanner-<version>-win64.msi
# (version 1.06.N) with wixl, from the folder scripts/build-windows.sh packed
# into the zip, plus the marker that makes the copy an installed one
# (packaging/windows/zrm-scanner.wxs says what goes where). Run by
# build-windows.sh at its end.
#
#   WIN_BUILD_DIR=build-windows bash scripts/build-msi.sh
#
# wixl stores Cyrillic names empty unless it and msibuild run with
# WINDOWS_LANGUAGE=ru and the database gets code page 1251.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
say() { echo "build-msi: $*"; }
need_packages wixl msitools

build=${WIN_BUILD_DIR:-$root/build-windows}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
folder=$build/zrm-scanner-$version-win64
product=$build/packaging/windows/product.wxi
[ -d "$folder" ] || { say "no $folder: run scripts/build-windows.sh"; exit 1; }
version_text=$(sed -n 's/.*define VersionText = "\(.*\)".*/\1/p' "$product")
msi=$build/zrm-scanner-$version_text-win64.msi

# The executables with shortcuts or in the second feature are written in the
# .wxs by hand; every other file of the folder is a component of its own.
stage=$build/msi-stage
rm -rf "$stage"
mkdir -p "$stage/programs"
cp -a "$folder" "$stage/files"
for exe in zrm-scanner.exe zrm-scanner-pro.exe zrm-cli.exe; do
  mv "$stage/files/$exe" "$stage/programs/"
done
[ ! -e "$stage/files/installed" ] || { say "the portable folder holds the marker"; exit 1; }
cp "$root/packaging/windows/installed" "$root/packaging/windows/zrm-scanner.ico" "$stage/"

export LC_ALL=C.UTF-8 WINDOWS_LANGUAGE=ru
# wixl takes the sources' names relative to the folder it runs in.
cd "$stage"
find files -type f | sort | wixl-heat -p files/ --directory-ref INSTALLDIR --component-group ProgramFiles \
  --var var.SourceDir --win64 >files.wxs
rm -f "$msi"
wixl -a x64 -I "$(dirname "$product")" -D SourceDir=files -D ProgramDir=programs -D Marker=installed \
  -D Icon=zrm-scanner.ico -D Win64=yes -o "$msi" "$root/packaging/windows/zrm-scanner.wxs" files.wxs 2>wixl.log \
  || { cat wixl.log; exit 1; }
printf '\r\n\r\n1251\t_ForceCodepage\r\n' >_ForceCodepage.idt
msibuild "$msi" -i _ForceCodepage.idt
say "$msi: $(du -k "$msi" | cut -f1) KiB, $(find files programs -type f | wc -l) program files + the marker"
