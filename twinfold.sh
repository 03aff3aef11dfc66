#!/usr/bin/env bash
# Sets up a Debian 12 machine for Twinfold, builds it, and starts it, runs the tests or packages it.
#   ./twinfold.sh run       build the program alone and start it
#   ./twinfold.sh test      build everything and run every test headless
#   ./twinfold.sh package   build the program and make a .deb in the build folder
# Extra variables: BUILD_DIR (default build), CMAKE_ARGS (extra CMake options).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$here"

# What building and running the program needs.
run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libxcb1-dev libglib2.0-dev libwmf-dev libemf2svg-dev
  fonts-liberation fonts-urw-base35
)
# What the tests and benchmarks need on top: frameworks, a headless X server with a window
# manager, the desktop-data validators, the Debian packaging tools and their checker, the
# manual-page checker, the source formatter CI checks with, a message bus of its own for the
# file manager tests, and ImageMagick's import to read a window's pixels.
test_packages=(
  libbenchmark-dev zlib1g-dev libisal-dev python3
  xvfb openbox xdotool x11-utils xauth imagemagick
  desktop-file-utils appstream dpkg-dev file groff-base lintian clang-format dbus-daemon
)
package_packages=(dpkg-dev file)

mode="${1:-run}"
case "$mode" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${run_packages[@]}" "${test_packages[@]}") ;;
  package) wanted=("${run_packages[@]}" "${package_packages[@]}") ;;
  *)
    echo "usage: $0 run|test|package" >&2
    exit 2
    ;;
esac

missing=()
for p in "${wanted[@]}"; do
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
configure() {
  # shellcheck disable=SC2086
  cmake -S . -B "$build" -G Ninja "$@" ${CMAKE_ARGS:-}
}

case "$mode" in
  run)
    configure -DTWINFOLD_TESTS=OFF -DTWINFOLD_BENCH=OFF
    cmake --build "$build" --target twinfold-programs
    exec "$build/app/twinfold"
    ;;
  test)
    configure -DTWINFOLD_TESTS=ON -DTWINFOLD_BENCH=ON
    cmake --build "$build"
    cd "$build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
    ;;
  package)
    configure -DTWINFOLD_TESTS=OFF -DTWINFOLD_BENCH=OFF
    cmake --build "$build"
    (cd "$build" && cpack -G DEB)
    ls "$build"/twinfold_*.deb
    ;;
esac
