#!/usr/bin/env bash
# Builds the Debian packages zrm-scanner, zrm-scanner-pro and zrm-meter-sim
# into build/packages/: a release build of the program alone (CMake preset
# "release", build-release/, no test frameworks), with Debian's hardening
# flags, packed by CPack.
#
#   bash scripts/package.sh
#   ZRM_BUILD_NUMBER=N bash scripts/package.sh   # version 1.06-N (default N: commit count)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
out=$root/build/packages
start=$SECONDS
say() { echo "package: $*"; }

bash "$root/scripts/setup.sh"
# dpkg-shlibdeps (dpkg-dev) and file find the packages' dependencies;
# help2man writes the manual pages from each program's --help.
packages=(dpkg-dev file help2man)
need_packages "${packages[@]}"

number=${ZRM_BUILD_NUMBER:-$(git -C "$root" rev-list --count HEAD 2>/dev/null || echo 1)}
# Reproducible dates (the packages' changelogs): the commit's time.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# ZRM_WERROR=ON (set by CI) makes warnings errors; unset, the build keeps
# what it was configured with (a developer's build only warns).
werror=()
[ -z "${ZRM_WERROR:-}" ] || werror=(-DZRM_WERROR="$ZRM_WERROR")

cd "$root"
cmake --preset release "${launcher[@]}" "${werror[@]}" -DZRM_PACKAGE_RELEASE="$number" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build --preset release -j"$(nproc)"
say "built after $((SECONDS - start)) s"
# Both are built only where LibreOffice and its SDK are (setup.sh installs
# them); a package without them could not write a protocol.
for f in zrm-office-helper "Протокол поверки.xls"; do
  [ -e "$root/build-release/bin/$f" ] || { say "not built: $f (LibreOffice SDK or soffice missing)"; exit 1; }
done

rm -rf "$root/build-release/_CPack_Packages"
(cd "$root/build-release" && cpack -G DEB >/dev/null)
mkdir -p "$out"
rm -f "$out"/*.deb
cp "$root"/build-release/*.deb "$out/"
rm -f "$root"/build-release/*.deb
for deb in "$out"/*.deb; do
  say "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
done
say "done in $((SECONDS - start)) s"
