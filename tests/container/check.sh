#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The server's image in a real engine, Debian's podman, as .ci/run checks it
# after the test command:
#  - scripts/image.sh builds the image twice, and both builds are the same bytes;
#  - one stage in a container (read-only root, no capabilities, ports
#    published on loopback only): the desktop client and the page that the
#    container serves join it and see each other, /metrics answers, a
#    mounted ban file is read again on SIGHUP, and `podman stop` ends it
#    cleanly;
#  - the Kubernetes objects of deploy/kubernetes/three-stages, through
#    kubectl kustomize and `podman kube play`: each stage is a stage of its
#    own, its probes answer, the operator's socket closes and opens it, and
#    `podman kube down` removes them.
#
#   tests/container/check.sh [--bench]
#
# --bench also measures the image against its binary outside it
# (quandrel-bench --only image) and writes build/bench-image.json.
# Needs root (or sudo) for mmdebstrap and podman; installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
bench=false
[ "${1:-}" = --bench ] && bench=true

scripts/setup.sh container >/dev/null
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
work=$(mktemp -d)
chmod 755 "$work"
version=$(sed -n 's/^project(quandrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
image=localhost/quandrel-server:$version
single=quandrel-check-$$
play=$work/play.yaml

# podman 4.3 as Debian 12 has it, on a machine whose cgroups are a hybrid of
# both versions and whose hard limits are lower than the engine's defaults:
# runc rather than crun, cgroupfs, no default limits of the engine's own (a
# container keeps the limits podman has; the defaults were refused as above
# the hard limit), and events in a file rather than the journal.
cat >"$work/containers.conf" <<EOF
[containers]
default_ulimits = []
[engine]
runtime = "runc"
cgroup_manager = "cgroupfs"
events_logger = "file"
EOF
export CONTAINERS_CONF=$work/containers.conf
podman() { "${sudo[@]}" env CONTAINERS_CONF="$CONTAINERS_CONF" podman "$@"; }

finish() {
    podman rm --force --time 1 "$single" >/dev/null 2>&1 || true
    [ -e "$play" ] && podman kube down "$play" >/dev/null 2>&1 || true
    podman volume rm --force control-1 control-2 control-3 >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "container check FAILED: $*" >&2
    exit 1
}
# Whether the single container's log holds a line. The log is read whole
# first: with pipefail, `podman logs | grep -q` fails whenever grep stops
# reading before podman has written everything.
logged() {
    local log
    log=$(podman logs "$single" 2>/dev/null)
    grep -qF -- "$1" <<<"$log"
}

if ! out=$(podman info 2>&1) || ! podman image ls >/dev/null 2>&1; then
    echo "$out" | tail -5 >&2
    fail "podman cannot run here (podman info failed)"
fi

# A free port on loopback, as the system picks one.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# Waits for a URL to answer with the given status; fails with `what`.
wait_for_status() { # url[ curl-options] status what
    local i
    for i in $(seq 300); do
        # shellcheck disable=SC2086 # the URL may carry curl's options
        [ "$(curl -s -o /dev/null -w '%{http_code}' $1)" = "$2" ] && return 0
        sleep 0.1
    done
    fail "$3: $1 did not answer $2 within 30 s"
}

echo "== the image, built twice"
scripts/image.sh | tee "$work/first.txt"
cp build/image/quandrel-server.oci.tar "$work/first.oci.tar"
scripts/image.sh >"$work/second.txt"
cmp -s "$work/first.oci.tar" build/image/quandrel-server.oci.tar ||
    fail "two builds of one commit differ: $(tail -1 "$work/first.txt") / $(tail -1 "$work/second.txt")"
echo "two builds, the same bytes: $(sha256sum "$work/first.oci.tar" | cut -c1-16)..."
podman load -q -i build/image/quandrel-server.oci.tar || fail "podman cannot load the image"
[ "$(podman image inspect --format '{{.Config.User}}' "$image")" = 10001:10001 ] ||
    fail "the image does not run as its own user"

echo "== one stage in a container"
stage=$(free_port) page=$(free_port) figures=$(free_port)
mkdir "$work/mounted"
: >"$work/mounted/bans"
chmod 644 "$work/mounted/bans"
podman run --detach --name "$single" --read-only --cap-drop=all --security-opt=no-new-privileges \
    --publish "127.0.0.1:$stage:2579" --publish "127.0.0.1:$page:2580" \
    --publish "127.0.0.1:$figures:9580" \
    --volume "$work/mounted:/srv/quandrel:ro" --env QUANDREL_BAN_FILE=/srv/quandrel/bans \
    "$image" >/dev/null || fail "podman cannot run the image"
wait_for_status "http://127.0.0.1:$figures/readyz" 200 "the stage in the container"
[ "$(podman inspect --format '{{.State.Pid}}' "$single")" -gt 1 ] || fail "no server process"
logged 'listening on 0.0.0.0 port 2579' ||
    fail "the log is not on standard output: $(podman logs "$single" 2>&1 | head -3)"

meeting=$work/meeting
mkdir "$meeting"
# The desktop client's test, from the test command's build (or another
# configured build named by QUANDREL_BUILD).
build=${QUANDREL_BUILD:-build/asan}
[ -e "$build/CMakeCache.txt" ] || cmake --preset asan >/dev/null
cmake --build "$build" --target tst_remotestage >/dev/null
QUANDREL_REMOTE_STAGE_PORT=$stage QUANDREL_REMOTE_MEETING=$meeting \
    ctest --test-dir "$build" -R '^tst_remotestage$' --output-on-failure >"$work/desktop.log" 2>&1 &
desktop=$!
node tests/container/page.mjs "http://127.0.0.1:$page/" "$meeting" || {
    cat "$work/desktop.log"
    fail "the page did not meet the desktop client"
}
wait "$desktop" || {
    cat "$work/desktop.log"
    fail "the desktop client did not meet the page"
}
grep -q 'Skipped' "$work/desktop.log" && fail "the desktop client skipped: $(cat "$work/desktop.log")"
metrics=$(curl -sf "http://127.0.0.1:$figures/metrics") || fail "/metrics does not answer"
grep -q '^quandrel_joins_total{stage="2579"} 2$' <<<"$metrics" ||
    fail "/metrics does not count the two joins: $(grep joins <<<"$metrics")"
echo "the desktop client and the page met; /metrics counts their joins"

# A ban file from a mounted folder, read again on SIGHUP.
printf 'name:Mallory\n' >"$work/mounted/bans"
podman kill --signal HUP "$single" >/dev/null
for i in $(seq 100); do
    logged '/srv/quandrel/bans: 1 ban(s)' && break
    [ "$i" = 100 ] && fail "SIGHUP did not read the mounted ban file again"
    sleep 0.1
done
echo "SIGHUP read the mounted ban file again"

started=$(date +%s%N)
podman stop --time 5 "$single" >/dev/null
stopped=$(($(date +%s%N) - started))
[ "$(podman inspect --format '{{.State.ExitCode}}' "$single")" = 0 ] ||
    fail "the server did not end cleanly on SIGTERM: exit $(podman inspect --format '{{.State.ExitCode}}' "$single")"
logged 'signal 15, stopping' || fail "SIGTERM was not seen"
echo "podman stop: ended cleanly in $((stopped / 1000000)) ms"
podman rm "$single" >/dev/null

# TLS from a mounted pair: the plug-in and OpenSSL that the image carries
# for it load, and the stage and the page answer inside TLS.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1 -keyout "$work/mounted/privkey.pem" \
    -out "$work/mounted/fullchain.pem" 2>/dev/null
chmod 644 "$work/mounted/privkey.pem" # the test's own key, for the image's user
tls=$(free_port) page=$(free_port)
podman run --detach --name "$single" --read-only --cap-drop=all --security-opt=no-new-privileges \
    --publish "127.0.0.1:$tls:2581" --publish "127.0.0.1:$page:2580" \
    --volume "$work/mounted:/srv/quandrel:ro" --env QUANDREL_TLS_CERT=/srv/quandrel/fullchain.pem \
    --env QUANDREL_TLS_KEY=/srv/quandrel/privkey.pem "$image" >/dev/null ||
    fail "podman cannot run the image with TLS"
wait_for_status "https://127.0.0.1:$page/ --insecure" 200 "the page over HTTPS"
echo | openssl s_client -connect "127.0.0.1:$tls" -verify_return_error -CAfile "$work/mounted/fullchain.pem" \
    >"$work/tls.log" 2>&1 || fail "no TLS on the stage's port: $(tail -3 "$work/tls.log")"
podman stop --time 5 "$single" >/dev/null
podman rm "$single" >/dev/null
echo "TLS from the mounted pair, on the stage and the page"

echo "== three stages from the Kubernetes objects"
# Every port of every pod on a free loopback port: podman publishes a
# container port without one on every address, and the objects, made for a
# cluster, name none. podman 4.3 also keeps emptyDir volumes by name, shared
# between pods: each pod's socket volume is named for its stage here.
kubectl kustomize deploy/kubernetes/three-stages 2>/dev/null | awk -v ports="$(for i in $(seq 12); do free_port; done | paste -sd' ')" '
    BEGIN { split(ports, free, " ") }
    /^kind: / { kind = $2 }
    kind == "Deployment" && /^  name: / { pods++ }
    kind == "Deployment" && /^ +name: control$/ { sub(/control$/, "control-" pods) }
    { print }
    kind == "Deployment" && /^        - containerPort: [0-9]+$/ {
        print "          hostIP: 127.0.0.1"
        print "          hostPort: " free[++n]
    }' >"$play"
[ "$(grep -c '^kind: Deployment$' "$play")" = 3 ] || fail "the overlay does not make three Deployments"
[ "$(grep -c '^kind: Service$' "$play")" = 3 ] || fail "the overlay does not make three Services"
[ "$(grep -c 'hostPort:' "$play")" = 12 ] || fail "not every port has its loopback port"
podman kube play "$play" >"$work/play.log" 2>&1 || {
    cat "$work/play.log"
    fail "podman kube play failed"
}
stage_ports=()
for s in a b c; do
    # The pod's ports in the order the Deployment lists them: stage, page, TLS, figures.
    mapfile -t ports < <(awk -v name="quandrel-server-$s" '
        /^kind: / { kind = $2 } /^  name: / { current = $2 }
        kind == "Deployment" && current == name && /hostPort:/ { print $2 }' "$play")
    container=quandrel-server-$s-pod-0-stage
    wait_for_status "http://127.0.0.1:${ports[3]}/readyz" 200 "stage $s"
    [ "$(curl -s "http://127.0.0.1:${ports[3]}/healthz")" = ok ] || fail "stage $s: /healthz"
    [ "$(podman inspect --format '{{.HostConfig.ReadonlyRootfs}}' "$container")" = true ] ||
        fail "stage $s: the root is not read-only"
    # The operator's socket in the pod: a closed stage is not ready, and is again once opened.
    podman exec "$container" quandrel-server ctl --control /run/quandrel-server/control close >/dev/null ||
        fail "stage $s: ctl close"
    wait_for_status "http://127.0.0.1:${ports[3]}/readyz" 503 "stage $s, closed"
    podman exec "$container" quandrel-server ctl --control /run/quandrel-server/control open >/dev/null ||
        fail "stage $s: ctl open"
    wait_for_status "http://127.0.0.1:${ports[3]}/readyz" 200 "stage $s, open again"
    stage_ports+=("${ports[0]}")
done
node tests/container/join.mjs "${stage_ports[@]}" || fail "a stage could not be joined"
podman kube down "$play" >/dev/null 2>"$work/down.log" || fail "podman kube down failed: $(cat "$work/down.log")"
[ -z "$(podman ps --all --quiet --filter name=quandrel-server-)" ] || fail "podman kube down left containers"
echo "three stages, each its own, with their probes; removed"

if $bench; then
    echo "== the image against its binary outside it"
    mkdir "$work/deb"
    dpkg-deb -x "build/quandrel-server_${version}_$(dpkg --print-architecture).deb" "$work/deb"
    cmake --preset release -DQUANDREL_BENCH=ON >/dev/null
    cmake --build build/release --target quandrel-bench >/dev/null
    build/release/bench/quandrel-bench --server "$work/deb/usr/bin/quandrel-server" --only image \
        --image "$image" --json build/bench-image.json
fi
echo "container check passed"
