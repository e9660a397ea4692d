#!/usr/bin/env bash
# Runs the skin loader's tests under AddressSanitizer (the loader reads an
# image byte by byte, and a bad image must fail without a stray read or a
# leak), the threaded cores' tests under ThreadSanitizer, then every test
# headless against the build in build/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export QT_QPA_PLATFORM=offscreen
export SDL_AUDIODRIVER=disk
# No test talks to the desktop's own sound server: tests that need one start
# a PulseAudio server of their own in a private folder (as root too, where it
# only warns) and point their process at it.
export PULSE_SERVER=unix:/nonexistent/qinghe-tests

cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQINGHE_BUILD_BENCH=OFF \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address -fno-omit-frame-pointer" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address >/dev/null
cmake --build "$here/build-asan" --target skin_loader_tests
ASAN_OPTIONS=detect_leaks=1 "$here/build-asan/bin/skin_loader_tests" --gtest_brief=1

# The media, net and online tests under ThreadSanitizer: the audio thread,
# the sound library's load, the page reads and the downloads hand values to
# other threads, and a race there would show only now and then. Any race
# reported fails the run (the sanitizer's exit code); tests/tsan.supp names
# what happens inside libraries built without the sanitizer, each with its reason.
cmake -S "$here" -B "$here/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQINGHE_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$here/build-tsan" --target media_tests net_tests online_tests
for program in media_tests net_tests online_tests; do
  TSAN_OPTIONS="suppressions=$here/tests/tsan.supp" "$here/build-tsan/bin/$program" --gtest_brief=1
done

ctest --test-dir "$here/build" --output-on-failure --timeout 600
