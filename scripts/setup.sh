#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what Quandrel needs on Debian 12, for one purpose:
#   setup.sh run       build and run the programs (the default)
#   setup.sh test      also every test: sanitizers, fuzzers, the package checks
#   setup.sh package   also the Debian package tools
# Safe to run again: it installs only what is missing.
set -euo pipefail

run=(g++ cmake ninja-build qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
     qt6-httpserver-dev qt6-websockets-dev libssl-dev libicu-dev openssl fonts-liberation)
package=(debhelper dpkg-dev fakeroot lintian)
test=(clang libclang-rt-14-dev appstream desktop-file-utils systemd reuse chromium fail2ban ssl-cert
      prometheus "${package[@]}")
# Node from anywhere will do (a newer one may come with its own npm).
command -v node >/dev/null || test+=(nodejs)
command -v npm >/dev/null || test+=(npm)

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
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    # The tests run Fail2Ban's and Prometheus's programs themselves; their
    # daemons are not to start (Prometheus's would listen on every
    # interface). Where no policy says otherwise already, one says so for
    # the length of the installation.
    policy=/usr/sbin/policy-rc.d
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
        "${sudo[@]}" chmod 755 "$policy"
        trap '"${sudo[@]}" rm -f "$policy"' EXIT
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    for daemon in prometheus fail2ban; do
        if [[ " ${missing[*]} " == *" $daemon "* ]]; then
            "${sudo[@]}" deb-systemd-helper disable "$daemon.service" >/dev/null 2>&1 || true
            "${sudo[@]}" update-rc.d "$daemon" disable >/dev/null 2>&1 || true
        fi
    done
fi

# The browser tests' driver, at the version the lock file pins; Chromium is
# Debian's, so nothing else is downloaded.
if [ "${1:-run}" = test ]; then
    web="$(dirname "$0")/../tests/web"
    if ! [ "$web/node_modules/.package-lock.json" -nt "$web/package-lock.json" ]; then
        npm ci --prefix "$web" --no-audit --no-fund --loglevel=error
    fi
fi
