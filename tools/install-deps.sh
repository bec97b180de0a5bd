#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the viewer need; skips
# what is installed and runs apt-get update only when something is missing. Uses sudo
# when not root.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang clang-format
  libsdl2-dev libx11-dev libepoxy-dev libfreetype-dev libfontconfig-dev libgtk-3-dev
  libfast-float-dev libglm-dev libspng-dev zlib1g-dev
  libgl1-mesa-dri libglx-mesa0 libegl-mesa0 libegl-dev
  fontconfig fonts-dejavu-core
  xvfb xauth xfonts-base xdotool x11-utils x11-xkb-utils imagemagick openbox
  python3 python3-numpy python3-gmsh python3-meshio python3-h5py
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_from() {
  local missing=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  echo "${missing[@]:-}"
}

install() {
  local missing
  missing=$(missing_from "$@")
  [ -z "$missing" ] && return 0
  echo "Installing: $missing"
  if [ -z "${QEM_APT_UPDATED:-}" ]; then
    as_root apt-get update -qq
    QEM_APT_UPDATED=1
  fi
  # shellcheck disable=SC2086
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

install "${packages[@]}"

# libFuzzer's runtime comes with the clang version Debian ships.
clang_major=$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
install "libclang-rt-${clang_major}-dev"
