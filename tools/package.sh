#!/usr/bin/env bash
# Builds the Debian package from the build tree that tools/build.sh made:
# build/package/qinghe_<version>_<arch>.deb.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cpack --config "$here/build/CPackConfig.cmake" -B "$here/build/package" -G DEB
ls "$here"/build/package/qinghe_*.deb
