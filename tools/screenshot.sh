#!/usr/bin/env bash
# Takes the README's picture of the main window: the program against the demo simulator under
# Xvfb (no window manager, so no title bar), a few commands typed with xdotool, the window
# cut out with ImageMagick. Needs xvfb, xdotool and imagemagick.
#   tools/screenshot.sh [output.png]        (default docs/kvel-main-window.png)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="${KVEL_BUILD_DIR:-$top/build}"
out=$(realpath -m "${1:-$top/docs/kvel-main-window.png}")
if [ -z "${KVEL_SHOT_INSIDE:-}" ]; then
  export KVEL_SHOT_INSIDE=1
  exec xvfb-run -a -s "-screen 0 800x560x24" "$0" "$out"
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$build/tools/sim/kvel-sim" --demo --env-file ports >/dev/null 2>sim.log &
sim=$!
for _ in $(seq 100); do [ -s ports ] && break; sleep 0.05; done
set -a; . ./ports; set +a
HOME=$scratch KVEL_INI_DIR=$scratch KVEL_INSTANCE_KEY="shot-$$" "$build/app/kvel" &
kvel=$!
sleep 4
window=$(xdotool search --onlyvisible --name KVEL | head -1)
xdotool key Return; sleep 0.3
xdotool type --delay 80 H23; xdotool key Return; sleep 0.6
xdotool type --delay 80 "<3? "; xdotool key Return; sleep 0.6
xdotool type --delay 80 H23; xdotool key Return; sleep 1.5
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root full.png
convert full.png -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
kill -TERM "$kvel"; wait "$kvel" || true
kill "$sim"; wait "$sim" 2>/dev/null || true
echo "screenshot.sh: $out"
