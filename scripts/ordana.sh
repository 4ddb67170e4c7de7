#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   scripts/ordana.sh run    install or update what it needs, build, start Ordana
#   scripts/ordana.sh test   install or update what it needs, build, run the whole test suite (Windows and
#                            the web page too)
#   scripts/ordana.sh package  install or update what it needs, build the Debian package and install it
#   scripts/ordana.sh windows  install or update what it needs, cross-build ordana.exe and ordana-cli.exe in
#                              build-windows/, run their tests under Wine, make the portable zip and installer
#   scripts/ordana.sh web      install or update what it needs, build build-web/ordana.html with emscripten,
#                              run its tests under node and in chromium, firefox and WebKitGTK
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev
                libbenchmark-dev libxxhash-dev zlib1g-dev libisal-dev libexpat1-dev fonts-liberation)
test_packages=(locales clang-14 libclang-rt-14-dev clang-format-14 clang-tidy-14 python3 python3-xlrd python3-xlwt
               python3-odf python3-openpyxl libreoffice-calc-nogui gnumeric xvfb xauth openbox acl desktop-file-utils
               appstream lintian man-db r-cran-vegan chromium)
# CPack's Debian generator: dpkg-shlibdeps computes the dependencies, file tells it the binaries.
package_packages=(dpkg-dev file)
# The Windows cross build and its tests under Wine (wine64 alone: the tests call /usr/lib/wine/wine64); NSIS
# makes the installer, Xvfb gives the native windows a screen.
windows_packages=(cmake ninja-build g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libxxhash-dev googletest wine64
                  python3 nsis xvfb xauth)
# The WebAssembly build (emscripten brings clang, binaryen and node's modules) and its tests: GoogleTest's
# sources, chromium (DevTools) and firefox-esr (WebDriver BiDi) driven over a websocket, WebKitGTK's MiniBrowser
# over WebDriver on Xvfb, the readers that judge what the page hands back.
web_packages=(cmake ninja-build emscripten libxxhash-dev googletest python3 chromium firefox-esr python3-websocket
              webkit2gtk-driver xvfb
              python3-xlrd python3-openpyxl python3-odf)

# Every package brought to Debian 12's current version, not only the missing ones: the tests must meet the
# libraries (expat's security updates among them) that a user installing today gets.
install_current() {
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "$@"
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
    cmake --build build
}

# ordana-cli.exe and the window-free tests for 64-bit Windows; the tests run under Wine in build-windows/'s
# own prefix, and the end-to-end one compares with build/'s ordana-cli when it is there.
windows() {
    cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
          -DCMAKE_BUILD_TYPE=Release -DORDANA_BUILD_GUI=OFF -DORDANA_BUILD_BENCHMARKS=OFF -DORDANA_WERROR=ON
    cmake --build build-windows
    ctest --test-dir build-windows --output-on-failure -j2
    (cd build-windows && cpack -G ZIP)
}

# build-web/ordana.html and the test programs under node; the page's test compares with build/'s ordana-cli
# when it is there. emscripten runs its own scripts with node, which finds their modules in Debian's folder only
# when it is Debian's node.
web() {
    node -e "require('acorn')" 2>/dev/null || export NODE_PATH=/usr/share/nodejs
    emcmake cmake -S . -B build-web -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/wasm32-emscripten.cmake" \
            -DCMAKE_BUILD_TYPE=Release -DORDANA_BUILD_GUI=OFF -DORDANA_BUILD_BENCHMARKS=OFF -DORDANA_WERROR=ON
    cmake --build build-web
    ctest --test-dir build-web --output-on-failure -j2
}

case "${1:-}" in
run)
    install_current "${build_packages[@]}"
    build
    exec build/src/app/ordana
    ;;
test)
    install_current "${build_packages[@]}" "${test_packages[@]}" "${package_packages[@]}"
    scripts/check-format.sh
    build -DORDANA_WERROR=ON
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
    # The unit and window tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer; the tests
    # that only drive other programs (LibreOffice, Gnumeric, python3-xlrd, the installer) run once, above.
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORDANA_SANITIZE=ON -DORDANA_WERROR=ON \
          -DORDANA_BUILD_BENCHMARKS=OFF
    cmake --build build-asan
    QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
        LSAN_OPTIONS=suppressions="$here/tests/lsan.supp" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure -j2 -E 'XlsJudges|cli_.*end_to_end|cli_vegan_compare|corpus_gate|fixtures_xlrd|app_install|app_package'
    scripts/fuzz.sh 60
    install_current "${windows_packages[@]}"
    windows
    install_current "${web_packages[@]}"
    web
    ;;
package)
    install_current "${build_packages[@]}" "${package_packages[@]}"
    build
    (cd build && cpack -G DEB)
    sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    version=$(sed -n 's/^project(Ordana VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "$here/build/ordana_${version}_$(dpkg --print-architecture).deb"
    ;;
windows)
    install_current "${windows_packages[@]}"
    windows
    ;;
web)
    install_current "${web_packages[@]}"
    web
    ;;
*)
    echo "usage: $0 run|test|package|windows|web" >&2
    exit 2
    ;;
esac
