#!/usr/bin/env bash
# Wall time of `kvel-cli download --verify` for a 100-line program against kvel-sim on a
# pseudo-terminal, median of N runs, beside the sum of the exchange's nominal waits.
#   usage: download.sh BUILD_DIR [N]
set -euo pipefail
build=$(cd "$1" && pwd); n=${2:-3}
work=$(mktemp -d); trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
"$build/tools/sim/kvel-sim" --line COM1 --indexer "1 xmu" --env-file "$work/ports.env" >/dev/null &
sim=$!
for _ in $(seq 50); do [ -s "$work/ports.env" ] && break; sleep 0.1; done
set -a; . "$work/ports.env"; set +a
export KVEL_INI_DIR=$work HOME=$work
lines=100
for i in $(seq "$lines"); do printf 'N%03d G01 X%d F2000\r\n' "$i" "$((i * 10))"; done > "$work/prog.pgm"

times=()
for _ in $(seq "$n"); do
  start=$(date +%s%N)
  "$build/cli/kvel-cli" --port COM1 --baud 9600 --unit 1 --quiet download "$work/prog.pgm" --verify \
    >/dev/null
  times+=($(( ($(date +%s%N) - start) / 1000000 )))
done

# The nominal waits (ms): the unit query when the download identifies the unit (100 + 500);
# N001, L48 0, L26 2, H12 and the acknowledge of H12 (100 + 300 + 300 + 400 + one 10 ms pass)
# and the 300 ms after it; per numbered line the 20 ms after it, one 20 ms acknowledge pass
# and the 55 ms of the current-line read; the closing commands (200 + 200); the read-back:
# L26 0 (100) and 400 line requests of 25 ms and one 20 ms pass each.
identify=600; start_up=$((100 + 300 + 300 + 400 + 10 + 300)); per_line=$((20 + 20 + 55))
closing=400; readback=$((100 + 400 * (25 + 20)))
nominal=$((identify + start_up + lines * per_line + closing + readback))
printf '%s\n' "${times[@]}" | sort -n | awk -v nominal="$nominal" -v lines="$lines" '
  { t[NR] = $1 } END {
    printf "kvel-cli download --verify, %d lines: median %.1f s [%.1f..%.1f] n=%d; nominal waits %.1f s\n",
      lines, t[int((NR + 1) / 2)] / 1000, t[1] / 1000, t[NR] / 1000, NR, nominal / 1000 }'
