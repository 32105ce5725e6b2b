#!/usr/bin/env bash
# Installs every Debian 12 package that the build, the tests, the benchmarks and the demo need.
# Idempotent and quiet: packages already present are not touched and apt is not asked at all.
set -euo pipefail

packages=(
  # build
  cmake make g++ pkg-config
  qt6-base-dev libqt6opengl6-dev libgl-dev libegl-dev
  libstorm-dev libseccomp-dev libdeflate-dev
  zlib1g-dev libjpeg62-turbo-dev
  # tests
  libgtest-dev libgmock-dev
  xvfb xauth xdotool x11-apps imagemagick
  libgl1-mesa-dri libegl-mesa0 libglx-mesa0 mesa-utils
  fonts-dejavu-core
  # fuzzing (libFuzzer comes with clang's runtime)
  clang-14 libclang-rt-14-dev
  # benchmarks
  libsquish-dev
  # installing and packaging: icons, desktop entry check, .deb with its dependencies, man page
  librsvg2-bin desktop-file-utils dpkg-dev file binutils groff-base
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
