#!/usr/bin/env bash
# Runs every test headless against the build in build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export QT_QPA_PLATFORM=offscreen
export SDL_AUDIODRIVER=disk
# No test talks to the desktop's own sound server: tests that need one start
# a PulseAudio server of their own in a private folder (as root too, where it
# only warns) and point their process at it.
export PULSE_SERVER=unix:/nonexistent/qinghe-tests
ctest --test-dir "$here/build" --output-on-failure --timeout 600
