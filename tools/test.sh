#!/usr/bin/env bash
# Installs what is missing, builds KVEL twice (warnings as errors, and with ASan + UBSan)
# and runs the whole test suite in both builds.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" --test
jobs=$(nproc)
# Formatting is part of the build rules.
(cd "$top" && git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror)
# Both builds are thrown away after the run, so they carry no full debug information: it
# costs about 40 % of the compile time. The sanitizer build keeps line tables (-g1) so that
# its reports name the lines, and -O1, which the sanitizers need no more than.
run() {
  local dir=$1; shift
  cmake -S "$top" -B "$top/$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVEL_WERROR=ON "$@" >/dev/null
  cmake --build "$top/$dir" -j "$jobs"
  (cd "$top/$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs" --timeout 300)
}
run build -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
run build-asan -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1 -DNDEBUG" -DKVEL_SANITIZE=ON -DKVEL_BUILD_BENCH=OFF
