#!/usr/bin/env bash
# Configures (CMake preset "development") and builds into build/ (or $BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
# ZRM_WERROR=ON (set by CI) makes warnings errors; unset, the build keeps
# what it was configured with (a developer's build only warns).
werror=()
[ -z "${ZRM_WERROR:-}" ] || werror=(-DZRM_WERROR="$ZRM_WERROR")
cmake -S "$root" --preset development -B "$build" "${werror[@]}" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
