#!/usr/bin/env bash
# Sets up a Debian 12 machine for Twinfold, builds it, and starts it or runs the tests.
#   ./twinfold.sh run    build and start Twinfold
#   ./twinfold.sh test   build and run every test headless
# Extra variables: BUILD_DIR (default build), CMAKE_ARGS (extra CMake options).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"

packages=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libglib2.0-dev libwmf-dev libemf2svg-dev
  fonts-liberation fonts-urw-base35
  libgtest-dev libbenchmark-dev zlib1g-dev libisal-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi

build="${BUILD_DIR:-build}"
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja ${CMAKE_ARGS:-}
cmake --build "$build"

case "${1:-run}" in
  run)
    exec "$build/app/twinfold"
    ;;
  test)
    cd "$build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
