#!/usr/bin/env bash
# Installs what is missing, builds KVEL and starts it. By default it runs against the
# controller simulator: indexers 1, 3 and 12 on COM1, a ZorvDrive on COM2, a GRV on COM3
# (KVEL_SIM_ARGS replaces the demo line, e.g. KVEL_SIM_ARGS="--config my-line.sim").
# With --real, or KVEL_REAL=1, no simulator is started and the ports are the real adapters.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# A build folder of its own: the test build (tools/test.sh) uses other options.
build="${KVEL_BUILD_DIR:-$top/build-run}"

real=${KVEL_REAL:-0}
args=()
for a in "$@"; do
  if [ "$a" = --real ]; then real=1; else args+=("$a"); fi
done

"$top/tools/deps.sh"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVEL_BUILD_TESTS=OFF \
  -DKVEL_BUILD_BENCH=OFF >/dev/null
# Build only what runs here. The simulator must build; a program that does not build
# (yet) is reported and whatever exists is run.
available=$(cmake --build "$build" --target help)
has_target() { grep -q "^$1:" <<<"$available"; }
if has_target kvel-sim; then
  cmake --build "$build" -j "$(nproc)" --target kvel-sim
fi
if has_target kvel; then
  cmake --build "$build" -j "$(nproc)" --target kvel ||
    echo "run.sh: kvel did not build; running what exists" >&2
fi

kvel="$build/app/kvel"
sim="$build/tools/sim/kvel-sim"

# The program writes error.log, the terminal log (KVEL.LOG) and LPARAM.TXT into its current
# folder: give it one of its own, outside the repository.
state="${KVEL_WORK_DIR:-${XDG_STATE_HOME:-$HOME/.local/state}/kvel}"
mkdir -p "$state"
echo "run.sh: working folder $state (error.log, KVEL.LOG, LPARAM.TXT)"

if [ "$real" = 1 ]; then
  [ -x "$kvel" ] || { echo "run.sh: $kvel has not been built" >&2; exit 1; }
  cd "$state"
  exec "$kvel" "${args[@]}"
fi

[ -x "$sim" ] || { echo "run.sh: $sim has not been built" >&2; exit 1; }
work=$(mktemp -d)
simpid=
cleanup() {
  if [ -n "$simpid" ]; then
    kill "$simpid" 2>/dev/null || true
    wait "$simpid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

read -r -a simargs <<<"${KVEL_SIM_ARGS:---demo}"
"$sim" "${simargs[@]}" --env-file "$work/ports" >/dev/null 2>"$work/sim.log" &
simpid=$!
for _ in $(seq 100); do
  [ -s "$work/ports" ] && break
  if ! kill -0 "$simpid" 2>/dev/null; then
    cat "$work/sim.log" >&2
    echo "run.sh: the simulator did not start" >&2
    exit 1
  fi
  sleep 0.05
done
[ -s "$work/ports" ] || { echo "run.sh: the simulator did not report its ports" >&2; exit 1; }
while IFS='=' read -r name path; do
  export "$name=$path"
  echo "run.sh: $name=$path (simulated)"
done <"$work/ports"

if [ -x "$kvel" ]; then
  (cd "$state" && "$kvel" "${args[@]}") || status=$?
  exit "${status:-0}"
fi
echo "run.sh: $kvel is not built yet; the simulator keeps running until Ctrl+C." >&2
echo "run.sh: try it with any terminal program, e.g. picocom -b 9600 \$KVEL_COM1" >&2
wait "$simpid"
