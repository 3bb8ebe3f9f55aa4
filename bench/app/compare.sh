#!/usr/bin/env bash
# The real window's throughput beside xterm, st and urxvt, measured in one run under one Xvfb:
# the peers through the shared run_term.sh helper, kvel through bench_window on the same files.
# With OTHER_BUILD_DIR the bench_window of that build (an earlier state of the program, say)
# runs too, alternating with this one's, so that both are measured in the same minutes.
#   usage: compare.sh BUILD_DIR PERF_DIR [RUNS [OTHER_BUILD_DIR]]
#   (PERF_DIR holds run_term.sh and gen_files.py; needs xvfb xterm stterm rxvt-unicode
#    hyperfine libvterm-dev)
set -euo pipefail
build=$(cd "$1" && pwd); perf=$(cd "$2" && pwd); runs=${3:-5}
other=${4:+$(cd "$4" && pwd)}
export TMPDIR=${TMPDIR:-/tmp} RUNS=$runs
data=$TMPDIR/kvel-perf/data
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "
  '$perf/run_term.sh'
  for round in 1 ${other:+2}; do
    echo 'kvel (real window, pseudo-terminal, terminal log on):'
    '$build/bench/app/bench_window' $runs '$data/plain.txt' '$data/vt100.txt'
    if [ -n '$other' ]; then
      echo 'kvel, $other:'
      '$other/bench/app/bench_window' $runs '$data/plain.txt' '$data/vt100.txt'
    fi
  done
"
