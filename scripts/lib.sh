#!/usr/bin/env bash
# Set-up shared by scripts/run and scripts/test: packages, configure, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Debian packages that building and running the tool need (scripts/run).
RUN_PACKAGES=(
    cmake ninja-build g++ pkg-config binutils
    qt6-base-dev libgl-dev libcli11-dev
    # The window's Chinese captions.
    fonts-wqy-microhei
)
# What the tests need besides (scripts/test): the test libraries and tools, the
# namespaces' and the package's tools, the fuzzers' compiler, and the Windows build.
TEST_PACKAGES=(
    libgtest-dev libgmock-dev libbenchmark-dev
    python3 iproute2 iputils-ping util-linux libcap2-bin
    xvfb xauth
    clang libclang-rt-14-dev valgrind fping
    dpkg-dev lintian unzip
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64
    # Wine's own fonts and X libraries of its display driver: only recommended by Debian's
    # wine, which is installed without its recommendations here.
    fonts-wine libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1
)

# missing_packages PACKAGE...
missing_packages() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
            echo "$pkg"
    done
}

# install_packages PACKAGE...
install_packages() {
    local missing
    missing="$(missing_packages "$@" | tr '\n' ' ')"
    [ -z "${missing// /}" ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing: $missing"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        # shellcheck disable=SC2086
        apt-get install -y -qq --no-install-recommends $missing
    else
        echo "These Debian packages are missing: $missing" >&2
        echo "Install them with: sudo apt-get install $missing" >&2
        exit 1
    fi
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$JOBS"
}
