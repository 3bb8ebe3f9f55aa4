#!/usr/bin/env bash
# Installs the Debian packages KVEL needs. Quick when all are present.
#   tools/deps.sh          what building and running the program need
#   tools/deps.sh --test   also what the tests, the benchmarks and the package checks need
set -euo pipefail
run_packages=(build-essential cmake ninja-build qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation2 pkgconf libxcb1-dev)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang clang-format libclang-rt-14-dev
  xvfb xauth desktop-file-utils lintian appstream ser2net
  libvterm-dev qt6-base-private-dev)
packages=("${run_packages[@]}")
[ "${1:-}" = --test ] && packages+=("${test_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "deps.sh: these Debian packages are missing and neither root nor sudo is at hand:" >&2
    echo "  ${missing[*]}" >&2
    echo "deps.sh: install them as root, for example: su -c 'apt-get install ${missing[*]}'" >&2
    exit 1
  fi
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
