#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what Quandrel needs on Debian 12, for one purpose:
#   setup.sh run       build and run the programs (the default)
#   setup.sh test      also every test: sanitizers, fuzzers, the package checks
#   setup.sh package   also the Debian package tools
# Safe to run again: it installs only what is missing.
set -euo pipefail

run=(g++ cmake ninja-build qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
     fonts-liberation)
package=(debhelper dpkg-dev fakeroot lintian)
test=(clang libclang-rt-14-dev appstream desktop-file-utils systemd reuse "${package[@]}")

case "${1:-run}" in
    run) packages=("${run[@]}") ;;
    test) packages=("${run[@]}" "${test[@]}") ;;
    package) packages=("${run[@]}" "${package[@]}") ;;
    *) echo "usage: $0 [run|test|package]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
