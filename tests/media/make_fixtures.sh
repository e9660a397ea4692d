#!/bin/sh
# Makes the MP3 fixture of the media tests: one second of a 441 Hz square
# tone at half of full scale, 44100 Hz stereo, 128 kbit/s constant rate. No
# tag frame and no bit reservoir, so copies of the file laid end to end form
# a longer valid MP3 stream. Needs sox and lame (Debian packages of the same
# names).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 1 square 441 vol 0.5
lame --quiet -t --nores -b 128 "$work/tone.wav" "$here/fixtures/tone.mp3"
