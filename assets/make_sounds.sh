#!/usr/bin/env bash
# Makes the built-in sound effects of the board: data/*.mp3, 95 files.
# Tones and noise are shaped by make_sounds.py and sox, words are spoken by
# espeak-ng, lame encodes; the same files come out on every run.
#
# Usage:  assets/make_sounds.sh            remake all effects and check them
#         assets/make_sounds.sh jm dudu    remake only data/jm.mp3 and data/dudu.mp3
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$(dirname "$here")/data"

readonly EFFECT_COUNT=95          # files the sound catalogue plays
readonly SHORTEST=1 LONGEST=6     # seconds each effect may last
readonly RATE=44100
readonly MOST_BYTES=5000000       # the whole folder stays under 5 MB

missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("$2 (for $1)"); }
need python3 python3
need sox sox
need soxi sox
need espeak-ng espeak-ng
need lame lame
if command -v sox >/dev/null 2>&1 &&
   ! sox -h 2>&1 | grep -o 'AUDIO FILE FORMATS:.*' | tr ' ' '\n' | grep -qx mp3; then
    missing+=("libsox-fmt-mp3 (for reading the MP3 files back)")
fi
if command -v espeak-ng >/dev/null 2>&1 && ! espeak-ng --voices=cmn | grep -qw cmn; then
    missing+=("espeak-ng-data (for the Mandarin voice cmn)")
fi
if ((${#missing[@]})); then
    echo "make_sounds.sh: missing Debian packages:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    echo "install them with: apt-get install sox libsox-fmt-mp3 espeak-ng lame" >&2
    exit 1
fi

python3 "$here/make_sounds.py" "$out" "$@" >/dev/null

# Check what the board relies on: every file there, of the right length and rate.
status=0
files=("$out"/*.mp3)
if (($# == 0)) && ((${#files[@]} != EFFECT_COUNT)); then
    echo "make_sounds.sh: expected $EFFECT_COUNT files in $out, found ${#files[@]}" >&2
    status=1
fi
for f in "${files[@]}"; do
    len="$(soxi -D "$f")"
    rate="$(soxi -r "$f")"
    if ! awk -v d="$len" -v lo="$SHORTEST" -v hi="$LONGEST" 'BEGIN { exit !(d >= lo && d <= hi) }'; then
        echo "make_sounds.sh: $f lasts $len s, not $SHORTEST to $LONGEST s" >&2
        status=1
    fi
    if [[ "$rate" != "$RATE" ]]; then
        echo "make_sounds.sh: $f is at $rate Hz, not $RATE Hz" >&2
        status=1
    fi
done
bytes="$(du -cb "${files[@]}" | tail -n 1 | cut -f 1)"
if ((bytes >= MOST_BYTES)); then
    echo "make_sounds.sh: $out holds $bytes bytes, over $MOST_BYTES" >&2
    status=1
fi
echo "make_sounds.sh: ${#files[@]} files, $bytes bytes in $out"
exit "$status"
