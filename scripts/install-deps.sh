#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, and
# only those that are missing. Safe to run again and again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core
  libsdl2-dev
  libtinyxml-dev libspeex-dev libmad0-dev libmp3lame-dev fonts-wqy-microhei
  libcairo2-dev xvfb xauth curl
  libpixman-1-dev libharfbuzz-dev libfribidi-dev nettle-dev
)

# `install-deps.sh fuzz` also brings clang and its libFuzzer runtime.
if [[ "${1:-}" == fuzz ]]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root (or: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
