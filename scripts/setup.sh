#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what Quandrel needs on Debian 12 (bookworm) or Debian 13 (trixie),
# for one purpose:
#   setup.sh run       build and run the programs (the default)
#   setup.sh test      also every test: sanitizers, fuzzers, the package checks
#   setup.sh package   also the Debian package tools
#   setup.sh container also podman, for the image check (.ci/run)
#   setup.sh list PURPOSE [CODENAME]
#                      prints the packages of PURPOSE for a release (this
#                      machine's when none is named) and installs nothing
# Safe to run again: it installs only what is missing.
set -euo pipefail

release_of_this_machine() {
    local VERSION_CODENAME=
    # shellcheck disable=SC1091
    [ -r /etc/os-release ] && . /etc/os-release
    echo "$VERSION_CODENAME"
}

# The names that differ between the releases.
packages_for() { # purpose codename
    local clang_runtime units
    # Where systemd.pc comes from, for the package build's unit folder.
    case "$2" in
        bookworm) clang_runtime=libclang-rt-14-dev units=systemd ;;
        trixie) clang_runtime=libclang-rt-19-dev units=systemd-dev ;;
        *)
            echo "setup.sh: Debian 12 (bookworm) and Debian 13 (trixie) are known;" \
                 "this machine is '${2:-unknown}'. Install the packages of scripts/setup.sh by hand." >&2
            return 1 ;;
    esac
    local run=(g++ cmake ninja-build qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
               qt6-websockets-dev libssl-dev libicu-dev openssl fonts-liberation)
    local package=(build-essential debhelper dpkg-dev fakeroot lintian git pkgconf "$units")
    # The accessibility test reads the window as a screen reader does: the
    # AT-SPI bus, Debian's Python bindings for it, a bare X server, D-Bus.
    local test=(clang "$clang_runtime" appstream desktop-file-utils systemd reuse chromium fail2ban
                ssl-cert prometheus at-spi2-core python3-pyatspi xvfb dbus "${package[@]}")
    # Node from anywhere will do on this machine (a newer one may come with
    # its own npm); a release named by `list` gets Debian's.
    [ -z "${3:-}" ] && command -v node >/dev/null || test+=(nodejs)
    [ -z "${3:-}" ] && command -v npm >/dev/null || test+=(npm)
    # The image check: a root from Debian's packages, and Debian's podman
    # with the runc runtime and the pause program that its pods need; Kustomize
    # comes with kubectl, which any kubectl on the machine provides.
    local container=(mmdebstrap podman runc catatonit curl python3)
    command -v kubectl >/dev/null || container+=(kubernetes-client)
    case "$1" in
        run) echo "${run[*]}" ;;
        test) echo "${run[*]} ${test[*]}" ;;
        package) echo "${run[*]} ${package[*]}" ;;
        container) echo "${run[*]} ${test[*]} ${container[*]}" ;;
        *) echo "usage: $0 [run|test|package|container|list PURPOSE [CODENAME]]" >&2; return 2 ;;
    esac
}

purpose=${1:-run}
if [ "$purpose" = list ]; then
    if [ -n "${3:-}" ]; then
        packages_for "${2:-run}" "$3" other
    else
        packages_for "${2:-run}" "$(release_of_this_machine)"
    fi
    exit
fi
read -r -a packages <<<"$(packages_for "$purpose" "$(release_of_this_machine)")"

missing=()
for p in "${packages[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
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
if [ "$purpose" = test ] || [ "$purpose" = container ]; then
    web="$(dirname "$0")/../tests/web"
    if ! [ "$web/node_modules/.package-lock.json" -nt "$web/package-lock.json" ]; then
        npm ci --prefix "$web" --no-audit --no-fund --loglevel=error
    fi
fi
