#!/usr/bin/env bash
# Start-up to the first window mapped, median of N starts, for kvel and for xterm in the same
# run. Needs an X display (run under xvfb-run) and a mapwait listener built from the shared
# performance helpers: MAPWAIT=/path/to/mapwait.
#   usage: startup.sh BUILD_DIR [N]
set -euo pipefail
build=$(cd "$1" && pwd); n=${2:-10}
mapwait=${MAPWAIT:?set MAPWAIT to the mapwait listener}
work=$(mktemp -d); trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT
# Prints the monotonic clock (mapwait's clock) in ns, then runs the command.
printf '%s\n' '#include <stdio.h>' '#include <time.h>' '#include <unistd.h>' \
  'int main(int c, char** v) { struct timespec t; clock_gettime(CLOCK_MONOTONIC, &t);' \
  '  fprintf(stderr, "%lld\n", t.tv_sec * 1000000000LL + t.tv_nsec); execvp(v[1], v + 1); return 127; }' \
  > "$work/stamp.c"
cc -O2 -o "$work/stamp" "$work/stamp.c"
"$build/tools/sim/kvel-sim" --demo --env-file "$work/ports.env" >/dev/null &
sim=$!
for _ in $(seq 50); do [ -s "$work/ports.env" ] && break; sleep 0.1; done
set -a; . "$work/ports.env"; set +a
export KVEL_INI_DIR=$work HOME=$work

measure() { # name, command...
  local name=$1; shift; local times=()
  for _ in $(seq "$n"); do
    coproc MW { "$mapwait"; }
    read -r _ <&"${MW[0]}"                       # "ready"
    (cd "$work" && exec "$work/stamp" "$@" >/dev/null 2>"$work/start") &
    local pid=$!
    local line; read -r line <&"${MW[0]}"
    local start; start=$(head -n 1 "$work/start")
    local mapped; mapped=$(echo "$line" | cut -d' ' -f2)
    times+=($(( (mapped - start) / 1000 )))
    sleep 0.3; kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
    [ -n "${MW_PID:-}" ] && wait "$MW_PID" 2>/dev/null || true
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v name="$name" '
    { t[NR] = $1 } END { printf "%-8s start to window mapped: median %.1f ms [%.1f..%.1f] n=%d\n",
      name, t[int((NR + 1) / 2)] / 1000, t[1] / 1000, t[NR] / 1000, NR }'
}
measure kvel "$build/app/kvel"
command -v xterm >/dev/null && measure xterm xterm -geometry 80x24 -e sleep 5
