#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   scripts/ordana.sh run    install what is missing, build, start Ordana
#   scripts/ordana.sh test   install what is missing, build, run the whole test suite
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev
                libbenchmark-dev fonts-liberation zlib1g-dev libexpat1-dev)
test_packages=(locales clang-14 libclang-rt-14-dev python3 python3-xlrd python3-xlwt python3-openpyxl
               libreoffice-calc-nogui gnumeric xvfb xauth openbox)

install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build build
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}"
    build
    exec build/src/app/ordana
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
    scripts/fuzz.sh 60
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
