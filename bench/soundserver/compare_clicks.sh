#!/bin/bash
# Click to first sample of two builds of soundserver_bench, run by turns in
# one session so that both sets of figures come from the same machine in the
# same state (a shared machine drifts; turns spread the drift over both):
#
#   bench/soundserver/compare_clicks.sh NEW_BENCH OLD_BENCH [ROUNDS] [-- BENCH ARGUMENTS]
#   bench/soundserver/compare_clicks.sh --logs FOLDER
#
# Each round runs NEW then OLD; every run's whole output is kept in a folder
# named at the end. Then, for each figure, the median over the rounds of each
# run's median, with the smallest and largest run median, new beside old;
# --logs prints that again from a folder kept before.
set -euo pipefail

# Lines "server|section|place|median" out of one run's output.
figures() {
    awk '
        /^== .* ==$/ { server = $2 }
        /^ratios/ { section = ""; next }
        /^click to first sample/ { section = "clicks" }
        /^the first click after/ { section = "after silence" }
        /^floors/ { section = "floor" }
        /median .* ms/ && section != "" {
            place = $0; sub(/^ +/, "", place); sub(/ +median.*/, "", place)
            for (i = 1; i < NF; ++i) if ($i == "median") print server "|" section "|" place "|" $(i + 1)
        }
    ' "$1"
}

summary() {
    local logs=$1
    local rounds
    rounds=$(ls "$logs"/new-*.log | wc -l)
    for log in "$logs"/*.log; do
        which=$(basename "$log" | cut -d- -f1)
        figures "$log" | sed "s/^/$which|/"
    done | sort -t'|' -k2,4 -k1,1 | awk -F'|' -v rounds="$rounds" '
        function flush(   n, i, j, t, mid) {
            if (key == "") return
            n = count
            for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
            mid = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
            printf "  %-4s %-11s %-14s %-48s median %6.1f ms  (runs %5.1f .. %5.1f, n=%d)\n", which, server, section, place, mid, v[1], v[n], n
        }
        { k = $1 "|" $2 "|" $3 "|" $4
          if (k != key) { flush(); key = k; count = 0; which = $1; server = $2; section = $3; place = $4 }
          v[++count] = $5 }
        END { flush(); print "(median over " rounds " rounds of each run'"'"'s median)" }
    '
    echo "every run's output: $logs"
}

if [ "${1:-}" = "--logs" ]; then
    summary "$2"
    exit 0
fi

new=$1
old=$2
rounds=${3:-3}
shift $(( $# < 3 ? $# : 3 ))
[ "${1:-}" = "--" ] && shift
# The idle and loopback parts of the bench are not compared here: kept short.
arguments=("$@")
[ ${#arguments[@]} -eq 0 ] && arguments=(--clicks 50 --after-silence 3 --idle 1 --tone 1)

logs=$(mktemp -d /tmp/compare-clicks-XXXXXX)
for round in $(seq 1 "$rounds"); do
    for which in new old; do
        program=$new
        [ "$which" = old ] && program=$old
        echo "round $round: $which" >&2
        "$program" "${arguments[@]}" >"$logs/$which-$round.log" 2>&1 || echo "  $which run $round failed" >&2
    done
done

summary "$logs"
