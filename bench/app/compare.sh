#!/usr/bin/env bash
# The real window's throughput beside xterm, st and urxvt, measured in one run under one Xvfb:
# the peers through the shared run_term.sh helper, kvel through bench_window on the same files.
#   usage: compare.sh BUILD_DIR PERF_DIR [RUNS]
#   (PERF_DIR holds run_term.sh and gen_files.py; needs xvfb xterm stterm rxvt-unicode
#    hyperfine libvterm-dev)
set -euo pipefail
build=$(cd "$1" && pwd); perf=$(cd "$2" && pwd); runs=${3:-5}
export TMPDIR=${TMPDIR:-/tmp} RUNS=$runs
data=$TMPDIR/kvel-perf/data
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "
  '$perf/run_term.sh'
  echo 'kvel (real window, pseudo-terminal, terminal log on):'
  '$build/bench/app/bench_window' $runs '$data/plain.txt' '$data/vt100.txt'
"
