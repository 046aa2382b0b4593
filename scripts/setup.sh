#!/usr/bin/env bash
# Installs what building and testing Zelbridge needs on Debian, once: the
# MinGW-w64 cross compilers, Wine, CMake, Ninja, GoogleTest, and LLVM's
# dlltool and lib for the MSVC import library. Does nothing when everything
# is already there.
set -euo pipefail

everything_installed() {
    command -v cmake && command -v ninja && command -v g++ &&
        command -v i686-w64-mingw32-g++-posix && command -v x86_64-w64-mingw32-g++-posix &&
        command -v llvm-dlltool && command -v llvm-lib &&
        [ -x /usr/lib/wine/wine64 ] && [ -d /usr/src/googletest ]
} >/dev/null
everything_installed && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# wine32 runs the 32-bit product where the kernel executes 32-bit code.
$sudo dpkg --add-architecture i386
$sudo apt-get update -qq
$sudo apt-get install -y -qq \
    cmake ninja-build g++ make googletest libgtest-dev llvm \
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
    wine wine64 wine32:i386 </dev/null
