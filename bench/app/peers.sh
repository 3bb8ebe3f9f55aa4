#!/usr/bin/env bash
# The main window on a paced 921600-baud stream (64-byte writes into a pseudo-terminal, the
# terminal log on) beside picocom inside xterm on the same stream, in one run under one Xvfb.
# bench_app measures kvel itself (CPU, context switches, idle wake-ups, byte to screen); the
# peer's CPU and context switches are read from /proc for xterm and picocom together. With a
# second build directory (the program as it was) its figures are printed beside.
#   usage: peers.sh BUILD_DIR [SECONDS] [BEFORE_BUILD_DIR] [RUNS]
#   needs: xvfb xterm picocom
set -euo pipefail
build=$(cd "$1" && pwd); secs=${2:-10}; before=${3:+$(cd "$3" && pwd)}; runs=${4:-1}
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$here/peers.sh" "$@"
fi
tck=$(getconf CLK_TCK)

# Sum of utime + stime (ticks) and of all context switches over the processes given.
sample() {
  local ticks=0 switches=0 pid task
  for pid in "$@"; do
    [ -r "/proc/$pid/stat" ] || continue
    ticks=$((ticks + $(sed 's/^.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }')))
    for task in /proc/"$pid"/task/*; do
      switches=$((switches + $(awk '/ctxt_switches/ { s += $2 } END { print s }' "$task/status")))
    done
  done
  echo "$ticks $switches"
}

peer() { # picocom inside xterm on the paced stream: prints "cpu% switches/s"
  local out; out=$(mktemp)
  "$build/bench/app/bench_app" pace "$secs" 3 >"$out" &
  local pacer=$!
  for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
  local slave; slave=$(head -n 1 "$out")
  xterm -geometry 80x24 -e picocom -q -b 921600 "$slave" &
  local xterm=$!
  sleep 2
  local pico; pico=$(ps -o pid= --ppid "$xterm" | head -n 1 | tr -d ' ')
  sleep 1.5                                   # the stream began half a second ago
  local t0 s0; t0=$(date +%s.%N); s0=$(sample "$xterm" "$pico")
  sleep $((secs - 1))
  local t1 s1; t1=$(date +%s.%N); s1=$(sample "$xterm" "$pico")
  echo "peer pids $xterm $pico: $s0 -> $s1" >&2
  wait "$pacer" || true
  kill "$xterm" 2>/dev/null || true; wait "$xterm" 2>/dev/null || true
  rm -f "$out"
  awk -v a="$s0" -v b="$s1" -v t0="$t0" -v t1="$t1" -v tck="$tck" 'BEGIN {
    split(a, x, " "); split(b, y, " "); dt = t1 - t0;
    printf "%.2f %.0f\n", (y[1] - x[1]) / tck / dt * 100, (y[2] - x[2]) / dt }'
}

kvel() { # build dir: bench_app's figures on the real window under this X server
  QT_QPA_PLATFORM=xcb "$1/bench/app/bench_app" "$secs" 2>/dev/null |
    grep -E 'device byte|idle poll|921600-baud'
}

for run in $(seq "$runs"); do
  echo "== run $run ($(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg))"
  read -r pcpu psw < <(peer)
  printf '%-34s %.2f %% of a core, %.0f context switches/s\n' \
    "picocom in xterm, 921600 baud" "$pcpu" "$psw"
  now=$(kvel "$build"); echo "kvel:"; echo "$now"
  kcpu=$(echo "$now" | sed -n 's/^921600-baud stream, log on *\([0-9.]*\) % of a core.*/\1/p')
  if [ -n "$before" ]; then
    echo "kvel as it was:"; kvel "$before"
  fi
  awk -v k="$kcpu" -v p="$pcpu" 'BEGIN { if (p > 0) printf "CPU ratio kvel / picocom-in-xterm: %.3f\n", k / p }'
done
