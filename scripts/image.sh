#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds an OCI image of the stage server, build/image/quandrel-server.oci.tar
# (an OCI archive: `podman load -i` or `skopeo copy oci-archive:` take it),
# from the project's own Debian package on a root made with mmdebstrap from
# Debian's packages; nothing is pulled from any registry.
#
# The image holds the server, the libraries and the one Qt plug-in it loads
# (found by the dynamic loader of that root, not listed by hand), their
# licences, and an unprivileged user, 10001. Its one layer is written with the
# times of the last commit (SOURCE_DATE_EPOCH), sorted, owned by root, so two
# builds of one commit from the same Debian archive give the same bytes.
#
#   scripts/image.sh [--deb FILE [--release CODENAME]] [--load]
#
# --deb takes a package already built (by default the one scripts/package.sh
# leaves under build/, made when missing or older than the server's sources)
# and --release the Debian release it was built for, if not this machine's;
# --load loads the image into podman as quandrel-server:VERSION. Needs root
# (or sudo) for mmdebstrap and chroot.
set -euo pipefail
cd "$(dirname "$0")/.."
umask 022

deb=
release=
load=false
while [ $# -gt 0 ]; do
    case $1 in
    --deb) deb=$2; shift 2 ;;
    --load) load=true; shift ;;
    --release) release=$2; shift 2 ;;
    *) echo "usage: scripts/image.sh [--deb FILE [--release CODENAME]] [--load]" >&2; exit 2 ;;
    esac
done

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
need=()
command -v mmdebstrap >/dev/null || need+=(mmdebstrap)
command -v gzip >/dev/null || need+=(gzip)
if [ ${#need[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

version=$(sed -n 's/^project(quandrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
if [ -z "$deb" ]; then
    deb=build/quandrel-server_${version}_${arch}.deb
    # Built again when a source of the server is newer than the package.
    if [ ! -e "$deb" ] || [ -n "$(find CMakeLists.txt cmake debian net stage chat server web assets packaging \
        -newer "$deb" -type f -print -quit)" ]; then
        scripts/package.sh
    fi
fi
deb=$(realpath "$deb")
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
revision=$(git rev-parse HEAD 2>/dev/null || echo unknown)
# The package was built against this machine's release, unless --release
# names another: the image's libraries come from the same one.
suite=${release:-$(. /etc/os-release && echo "$VERSION_CODENAME")}
uid=10001

out=build/image
work=$out/work
"${sudo[@]}" rm -rf "$work"
mkdir -p "$work/layout/blobs/sha256"

# What the package needs at run time, less what only its installation on a
# host uses (adduser for the postinst, ssl-cert for the group that reads
# certbot's keys) and the virtual ABI packages that come with the libraries.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*)//; s/|.*//; s/[[:space:]]//g' |
    grep -v -x -e adduser -e ssl-cert -e '.*-abi' -e '' | paste -sd, -)
echo "A $suite root with $depends"
"${sudo[@]}" mmdebstrap --variant=extract --quiet --include="$depends,libssl3" \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
    "$suite" "$work/debian" \
    "deb http://deb.debian.org/debian $suite main" \
    "deb http://deb.debian.org/debian $suite-updates main" \
    "deb http://deb.debian.org/debian-security $suite-security main"
"${sudo[@]}" dpkg-deb -x "$deb" "$work/debian"

# The server, then every library its loader reads for it and for the TLS
# plug-in, and the OpenSSL libraries that plug-in opens by name.
rootfs=$work/rootfs
mkdir -p "$rootfs"
# A release with a merged /usr (Debian 13) has /lib64 and its kin only from
# base-files, which no image needs: they are made here, in both roots.
for d in bin sbin lib lib64; do
    if [ ! -e "$work/debian/$d" ] && [ -d "$work/debian/usr/$d" ]; then
        "${sudo[@]}" ln -s "usr/$d" "$work/debian/$d"
    fi
    if [ -L "$work/debian/$d" ]; then
        mkdir -p "$rootfs/usr/$d"
        ln -s "$(readlink "$work/debian/$d")" "$rootfs/$d"
    fi
done
multiarch=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
plugin=$multiarch/qt6/plugins/tls/libqopensslbackend.so
files=$(for f in /usr/bin/quandrel-server "$plugin"; do
    "${sudo[@]}" chroot "$work/debian" /lib64/ld-linux-x86-64.so.2 --list "$f" |
        sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'
done
echo /usr/bin/quandrel-server "$plugin" "$multiarch/libssl.so.3" "$multiarch/libcrypto.so.3" /lib64/ld-linux-x86-64.so.2)
copy() { # a path of the Debian root, and what its symbolic links lead to
    local path=$1 target
    while :; do
        [ -e "$rootfs$path" ] || [ -L "$rootfs$path" ] ||
            (cd "$work/debian" && cp -a --parents ".$path" ../rootfs)
        [ -L "$work/debian$path" ] || return 0
        target=$(readlink "$work/debian$path")
        case $target in /*) path=$target ;; *) path=$(dirname "$path")/$target ;; esac
    done
}
for f in $files; do copy "$f"; done
(cd "$work/debian" && find usr/share/doc -name copyright -exec cp -a --parents {} ../rootfs \;)
install -D -m 644 "$work/debian/etc/quandrel-server/bans" "$rootfs/etc/quandrel-server/bans"
printf 'root:x:0:0:root:/root:/usr/sbin/nologin\nquandrel:x:%s:%s:Quandrel stage server:/nonexistent:/usr/sbin/nologin\n' \
    "$uid" "$uid" >"$rootfs/etc/passwd"
printf 'root:x:0:\nquandrel:x:%s:\n' "$uid" >"$rootfs/etc/group"
# Where an engine mounts its own files: a read-only root keeps them as they
# are here.
install -d -m 1777 "$rootfs/tmp"
install -d -m 755 "$rootfs/run" "$rootfs/proc" "$rootfs/sys" "$rootfs/dev"
: >"$rootfs/etc/hosts"
: >"$rootfs/etc/hostname"
: >"$rootfs/etc/resolv.conf"

# One layer, the same bytes for the same files.
"${sudo[@]}" tar --sort=name --format=gnu --mtime="@$SOURCE_DATE_EPOCH" --clamp-mtime \
    --owner=0 --group=0 --numeric-owner -C "$rootfs" -cf "$work/layer.tar" .
"${sudo[@]}" chown "$(id -u):$(id -g)" "$work/layer.tar"
diff_id=$(sha256sum "$work/layer.tar" | cut -d' ' -f1)
gzip -n -9 <"$work/layer.tar" >"$work/layer.tar.gz"
layer=$(sha256sum "$work/layer.tar.gz" | cut -d' ' -f1)
mv "$work/layer.tar.gz" "$work/layout/blobs/sha256/$layer"

created=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)
blob() { # writes standard input as a blob; prints its digest and size
    local file=$work/blob digest
    cat >"$file"
    digest=$(sha256sum "$file" | cut -d' ' -f1)
    mv "$file" "$work/layout/blobs/sha256/$digest"
    echo "sha256:$digest $(stat -c %s "$work/layout/blobs/sha256/$digest")"
}
read -r config config_size < <(printf '%s' \
    '{"architecture":"'"$arch"'","os":"linux","created":"'"$created"'",' \
    '"config":{"User":"'"$uid:$uid"'","Entrypoint":["/usr/bin/quandrel-server"],' \
    '"Env":["PATH=/usr/bin","LANG=C.UTF-8","QUANDREL_LISTEN=0.0.0.0","QUANDREL_METRICS_LISTEN=0.0.0.0:9580","QUANDREL_LOG_STDOUT=1"],' \
    '"ExposedPorts":{"2579/tcp":{},"2580/tcp":{},"2581/tcp":{},"9580/tcp":{}},' \
    '"StopSignal":"SIGTERM","WorkingDir":"/",' \
    '"Labels":{"org.opencontainers.image.title":"quandrel-server","org.opencontainers.image.version":"'"$version"'",' \
    '"org.opencontainers.image.revision":"'"$revision"'","org.opencontainers.image.licenses":"MIT"}},' \
    '"rootfs":{"type":"layers","diff_ids":["sha256:'"$diff_id"'"]},' \
    '"history":[{"created":"'"$created"'","created_by":"scripts/image.sh"}]}' | blob)
read -r manifest manifest_size < <(printf '%s' \
    '{"schemaVersion":2,"mediaType":"application/vnd.oci.image.manifest.v1+json",' \
    '"config":{"mediaType":"application/vnd.oci.image.config.v1+json","digest":"'"$config"'","size":'"$config_size"'},' \
    '"layers":[{"mediaType":"application/vnd.oci.image.layer.v1.tar+gzip","digest":"sha256:'"$layer"'",' \
    '"size":'"$(stat -c %s "$work/layout/blobs/sha256/$layer")"'}]}' | blob)
printf '{"imageLayoutVersion":"1.0.0"}' >"$work/layout/oci-layout"
printf '%s' '{"schemaVersion":2,"manifests":[{"mediaType":"application/vnd.oci.image.manifest.v1+json",' \
    '"digest":"'"$manifest"'","size":'"$manifest_size"',' \
    '"annotations":{"org.opencontainers.image.ref.name":"quandrel-server:'"$version"'"}}]}' >"$work/layout/index.json"
tar --sort=name --format=gnu --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner \
    -C "$work/layout" -cf "$out/quandrel-server.oci.tar" .

size=$(stat -c %s "$work/layer.tar")
echo "built $out/quandrel-server.oci.tar: manifest $manifest, layer sha256:$diff_id," \
    "$((size / 1000000)) MB uncompressed ($size bytes)"
"${sudo[@]}" rm -rf "$work/debian" "$work/rootfs"
if $load; then
    podman load -q -i "$out/quandrel-server.oci.tar"
fi
