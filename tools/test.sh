#!/usr/bin/env bash
# Runs every test headless against the build in build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export QT_QPA_PLATFORM=offscreen
export SDL_AUDIODRIVER=disk
ctest --test-dir "$here/build" --output-on-failure --timeout 600
