#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command (by default the test command, scripts/test.sh) on Debian 13
# (trixie), inside a root made here with mmdebstrap from Debian's packages.
# The root holds everything `setup.sh test` installs there and is kept in
# QUANDREL_TRIXIE_ROOT (/var/cache/quandrel/trixie), so a second run reuses
# it and the builds inside it; a machine without one makes it anew.
# Needs root (or sudo) for mmdebstrap, the mounts and chroot.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${QUANDREL_TRIXIE_ROOT:-/var/cache/quandrel/trixie}
[ $# -gt 0 ] || set -- scripts/test.sh
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

if [ ! -e "$root/.quandrel-ready" ]; then
    command -v mmdebstrap >/dev/null || {
        "${sudo[@]}" apt-get update -qq
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends mmdebstrap
    }
    packages=$(scripts/setup.sh list test trixie)
    echo "Making a Debian 13 root in $root"
    "${sudo[@]}" rm -rf "$root.new"
    "${sudo[@]}" mkdir -p "$(dirname "$root")"
    # Debian's own mirror and security archive, as on this machine; the
    # daemons of the tools the tests run (Fail2Ban, Prometheus) never start.
    "${sudo[@]}" mmdebstrap --variant=apt --quiet --include="${packages// /,}" \
        --customize-hook='printf "#!/bin/sh\nexit 101\n" >"$1/usr/sbin/policy-rc.d"; chmod 755 "$1/usr/sbin/policy-rc.d"' \
        trixie "$root.new" \
        "deb http://deb.debian.org/debian trixie main" \
        "deb http://deb.debian.org/debian trixie-updates main" \
        "deb http://deb.debian.org/debian-security trixie-security main"
    "${sudo[@]}" rm -rf "$root"
    "${sudo[@]}" mv "$root.new" "$root"
    "${sudo[@]}" touch "$root/.quandrel-ready"
fi

# The tree as git knows it, less what was deleted and not yet committed,
# over the last run's copy so that its builds are reused: a file is written
# only where it changed, and then with the time of now, so that the build
# sees it as newer than what was built from its old text.
work=$root/work/quandrel
"${sudo[@]}" mkdir -p "$work"
listed=$(mktemp)
trap 'rm -f "$listed"' EXIT
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done >"$listed"
while IFS= read -r -d '' f; do
    if ! "${sudo[@]}" cmp -s "$f" "$work/$f"; then
        "${sudo[@]}" mkdir -p "$work/$(dirname "$f")"
        "${sudo[@]}" cp --no-preserve=timestamps "$f" "$work/$f"
    fi
done <"$listed"
# What the tree no longer has goes from the copy too, its builds aside.
(cd "$work" && "${sudo[@]}" find . -path ./build -prune -o -path ./.git -prune -o \
    -path ./tests/web/node_modules -prune -o -type f -printf '%P\0') |
    while IFS= read -r -d '' f; do
        grep -qzxF -- "$f" "$listed" || "${sudo[@]}" rm -f "$work/$f"
    done
# A copy of the repository's history too: the package build lists the files
# git knows.
"${sudo[@]}" rm -rf "$work/.git"
"${sudo[@]}" git clone -q --bare . "$work/.git"
"${sudo[@]}" git -C "$work" config core.bare false
"${sudo[@]}" git -C "$work" reset -q --mixed

mounts=()
unmount() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        "${sudo[@]}" umount -l "${mounts[i]}" 2>/dev/null || true
    done
}
trap 'unmount; rm -f "$listed"' EXIT
bind() { # what where [options]
    "${sudo[@]}" mkdir -p "$root$2"
    "${sudo[@]}" mount "${@:3}" "$1" "$root$2"
    mounts+=("$root$2")
}
bind proc /proc -t proc
bind /sys /sys --rbind
bind /dev /dev --rbind
bind tmpfs /dev/shm -t tmpfs
bind tmpfs /tmp -t tmpfs
# The machine's name service and the certificate authorities it trusts
# beyond Debian's (a proxy's, say), so that apt and npm reach what they reach
# here.
"${sudo[@]}" cp -L /etc/resolv.conf "$root/etc/resolv.conf"
if compgen -G '/usr/local/share/ca-certificates/*.crt' >/dev/null; then
    "${sudo[@]}" mkdir -p "$root/usr/local/share/ca-certificates"
    "${sudo[@]}" cp -L /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
    "${sudo[@]}" chroot "$root" update-ca-certificates >/dev/null 2>&1 || true
fi

# A clean environment, but for what says how to reach the network.
passed=(HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8)
while IFS='=' read -r name value; do
    case "$name" in
        CI | http_proxy | https_proxy | no_proxy | HTTP_PROXY | HTTPS_PROXY | NO_PROXY | \
            NODE_EXTRA_CA_CERTS | SSL_CERT_FILE | SSL_CERT_DIR) passed+=("$name=$value") ;;
    esac
done < <(env)
"${sudo[@]}" chroot "$root" /usr/bin/env -i "${passed[@]}" \
    /bin/bash -c 'cd /work/quandrel && exec "$@"' bash "$@"
