#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages quandrel_<version>_amd64.deb (the client) and
# quandrel-server_<version>_amd64.deb (the server) under build/, with
# Debian's own tools from the debian/ folder, and checks them with lintian:
# any warning or error fails. Tests do not run in the package build
# (scripts/test.sh runs them); DEB_BUILD_OPTIONS= lets them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh package
version=$(sed -n 's/^project(quandrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog=$(dpkg-parsechangelog -S Version)
if [ "$version" != "$changelog" ]; then
    echo "debian/changelog is at $changelog, the project at $version" >&2
    exit 1
fi

# A clean copy of the tree, so that nothing built here ends up in it and the
# packages land beside it, under build/.
work=build/package
rm -rf "$work"
mkdir -p "$work/quandrel-$version"
# What git knows of, less what was deleted and not yet committed.
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$work/quandrel-$version"
(cd "$work/quandrel-$version" &&
    DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS-nocheck}" dpkg-buildpackage -b -us -uc -j"$(nproc)" \
        >../build.log 2>&1) || { tail -40 "$work/build.log"; exit 1; }

arch=$(dpkg --print-architecture)
debs=("build/quandrel_${version}_${arch}.deb" "build/quandrel-server_${version}_${arch}.deb")
cp "$work/quandrel_${version}_${arch}.deb" "$work/quandrel-server_${version}_${arch}.deb" build/
for deb in "${debs[@]}"; do
    echo "built $deb"
done
lintian --display-info --fail-on error,warning "${debs[@]}"
echo "lintian: no errors, no warnings"
