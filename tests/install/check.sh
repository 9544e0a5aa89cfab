#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs a build into a temporary prefix and checks that what lands there
# works: both programs tell their version, the server answers a join on
# loopback, the client starts and stays up, and the desktop entry, the
# AppStream metadata and the systemd unit pass their validators where those
# are installed. A build without the client is checked for the server alone.
set -euo pipefail
build=$1
version=$2
prefix=$(mktemp -d)
pid=
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$prefix"; }
trap cleanup EXIT
fail() { echo "$*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
client=yes
[ -f "$build/app/quandrel" ] || client=
files=(bin/quandrel-server lib/systemd/system/quandrel-server.service
       lib/systemd/system/quandrel-server@.service
       share/systemd/user/quandrel-server.service
       etc/default/quandrel-server share/man/man1/quandrel-server.1
       etc/quandrel-server/bans etc/fail2ban/filter.d/quandrel-server.conf
       etc/fail2ban/jail.d/quandrel-server.conf share/doc/quandrel-server/examples/prometheus.yml)
if [ -n "$client" ]; then
    files+=(bin/quandrel share/applications/quandrel.desktop share/man/man1/quandrel.1
            share/metainfo/org.quandrel.quandrel.metainfo.xml)
    for size in 16 22 24 32 48 64 128 256; do
        files+=("share/icons/hicolor/${size}x${size}/apps/quandrel.png")
    done
fi
for f in "${files[@]}"; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done

# Both answer --version and --help without a display or a warning, as in an
# ssh session or a package build.
headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
answers() { # program option expected-first-line
    local out err
    out=$(headless "$prefix/bin/$1" "$2" 2>"$prefix/stderr") || fail "$1 $2 exited with $?"
    err=$(cat "$prefix/stderr")
    [ -z "$err" ] || fail "$1 $2 wrote to stderr: $err"
    [ "${out%%$'\n'*}" = "$3" ] || fail "$1 $2 said: $out"
}
programs=(quandrel-server)
[ -n "$client" ] && programs+=(quandrel)
for program in "${programs[@]}"; do
    name=$program
    [ "$program" = quandrel ] && name=Quandrel
    answers "$program" --version "$name $version"
    answers "$program" --help "Usage: $prefix/bin/$program [options]"
done
if [ -n "$client" ]; then
    # Without a display the window cannot open: one line, exit 1, no core dump.
    set +e
    err=$(headless "$prefix/bin/quandrel" 2>&1 >/dev/null)
    rc=$?
    set -e
    [ "$rc" -eq 1 ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] ||
        fail "without a display the client ended with $rc: $err"
fi

# The unit starts the server that was installed, with the options of the
# environment file that was installed.
unit="$prefix/lib/systemd/system/quandrel-server.service"
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
[ "$exec_start" = "$prefix/bin/quandrel-server" ] || fail "ExecStart names $exec_start"
[ -x "$exec_start" ] || fail "ExecStart names no executable: $exec_start"
grep -qx "EnvironmentFile=-$prefix/etc/default/quandrel-server" "$unit" ||
    fail "the unit does not read $prefix/etc/default/quandrel-server"
grep -qx 'ExecStart=.*\$QUANDREL_SERVER_OPTS' "$unit" || fail "the unit ignores QUANDREL_SERVER_OPTS"
user_unit="$prefix/share/systemd/user/quandrel-server.service"
grep -qx "ExecStart=$prefix/bin/quandrel-server \$QUANDREL_SERVER_OPTS" "$user_unit" ||
    fail "the user unit does not start $prefix/bin/quandrel-server"
grep -qx "ExecReload=/bin/kill -HUP \$MAINPID" "$unit" || fail "systemctl reload sends no SIGHUP"
# The options file names the ban file that was installed.
grep -qx "QUANDREL_SERVER_OPTS=\"--ban-file $prefix/etc/quandrel-server/bans\"" \
    "$prefix/etc/default/quandrel-server" || fail "the options do not name the ban file"
template="$prefix/lib/systemd/system/quandrel-server@.service"
grep -qx "EnvironmentFile=-$prefix/etc/default/quandrel-server@%i" "$template" ||
    fail "the template unit does not read an instance's own options"
grep -qx "ExecStart=$prefix/bin/quandrel-server --port %i --control /run/quandrel-server/%i.control \$QUANDREL_SERVER_OPTS" "$template" ||
    fail "the template unit does not listen on its instance's port, with a control socket of its own"
if command -v systemd-analyze >/dev/null; then
    MANPATH="$prefix/share/man" systemd-analyze verify "$unit" || fail "systemd-analyze verify"
    # Two stages of the template, as an operator would enable them.
    units="$prefix/units"
    mkdir -p "$units"
    cp "$template" "$units/"
    for port in 2601 2602; do
        MANPATH="$prefix/share/man" systemd-analyze verify "$units/quandrel-server@$port.service" ||
            fail "systemd-analyze verify quandrel-server@$port"
    done
    for u in "$unit" "$units/quandrel-server@2601.service"; do
        exposure=$(systemd-analyze security --offline=true "$u" 2>/dev/null |
            sed -n 's/.*Overall exposure level for .*: \([0-9.]*\).*/\1/p')
        awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
            fail "systemd-analyze security rates $(basename "$u") $exposure"
    done
fi
if [ -n "$client" ]; then
    grep -q '^Exec=quandrel$' "$prefix/share/applications/quandrel.desktop"
    if command -v desktop-file-validate >/dev/null; then
        out=$(desktop-file-validate "$prefix/share/applications/quandrel.desktop")
        [ -z "$out" ] || fail "desktop-file-validate: $out"
    fi
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --pedantic --no-net --explain \
            "$prefix/share/metainfo/org.quandrel.quandrel.metainfo.xml" >"$prefix/as.log" 2>&1 ||
            { cat "$prefix/as.log"; fail "appstreamcli validate"; }
        # No hint at all, but for the one an AppStream older than 1.0 (Debian 12's)
        # gives on the developer block, which its successors ask for.
        hints=$(grep -E '^[EWIP]: ' "$prefix/as.log" | grep -v -E '^I: [^ ]+: unknown-tag developer$' || true)
        [ -z "$hints" ] || { cat "$prefix/as.log"; fail "appstreamcli hints"; }
    fi
fi

"$prefix/bin/quandrel-server" --listen 127.0.0.1 --port 0 --web-port 0 2>"$prefix/server.log" &
pid=$!
port=
for _ in $(seq 50); do
    port=$(sed -n 's/.*listening on 127.0.0.1 port \([0-9]*\).*/\1/p' "$prefix/server.log")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { cat "$prefix/server.log"; fail "server did not start"; }
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf '\nx\0' >&3
IFS= read -r -t 3 -N 13 reply <&3
exec 3>&-
[ "$reply" = "ClientNumber0" ] || fail "server said: $reply"

# The installed server serves the page from within itself.
web_port=$(sed -n 's|.*the page is at http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$prefix/server.log")
[ -n "$web_port" ] || { cat "$prefix/server.log"; fail "no page address in the log"; }
exec 3<>"/dev/tcp/127.0.0.1/$web_port"
printf 'GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
page=$(timeout 3 cat <&3 || true)
exec 3>&-
grep -q '^HTTP/1.1 200 OK' <<<"$page" || fail "the page: $(head -1 <<<"$page")"
grep -qi "^Content-Security-Policy: default-src 'none'; script-src 'self'" <<<"$page" ||
    fail "the page has no content security policy"
grep -q 'src="/page.js"' <<<"$page" || fail "the page is not the stage's"

# The example scrape configuration is one Prometheus takes.
if command -v promtool >/dev/null; then
    promtool check config "$prefix/share/doc/quandrel-server/examples/prometheus.yml" \
        >"$prefix/promtool.log" 2>&1 || { cat "$prefix/promtool.log"; fail "promtool check config"; }
fi

# The Fail2Ban filter, beside Debian's own Fail2Ban configuration as on an
# installed host, finds the troublemakers in the log this server writes:
# a refused name and a packet not relayed, and not the visitor whose browser
# a page of another site sent to the stage.
if command -v fail2ban-regex >/dev/null && [ -d /etc/fail2ban ]; then
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf '\nQuandrel\0' >&3
    exec 3>&-
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf '\nmallory\0' >&3
    IFS= read -r -t 3 -N 13 reply <&3
    printf '\002[someone] - forged\r\n\0' >&3
    exec 4<>"/dev/tcp/127.0.0.1/$web_port"
    printf 'GET /stage HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nOrigin: http://evil.example\r\nConnection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n' "$web_port" >&4
    timeout 3 cat <&4 >/dev/null || true
    exec 4>&- 3>&-
    # A page of another site makes a visitor's browser POST packets to the
    # stage port, and a TLS client knocks on it: neither is held against them.
    exec 5<>"/dev/tcp/127.0.0.1/$port"
    printf 'POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nx\0\nVisitor\0\002[Visitor] - hi\r\n\0' >&5
    timeout 3 cat <&5 >/dev/null || true
    exec 5<>"/dev/tcp/127.0.0.1/$port"
    printf '\026\003\001\000\010\001\000\000\004\000\012\000\026' >&5
    timeout 3 cat <&5 >/dev/null || true
    exec 5>&-
    for _ in $(seq 50); do
        grep -q 'not relayed from' "$prefix/server.log" && break
        sleep 0.1
    done
    f2b="$prefix/fail2ban"
    cp -r /etc/fail2ban "$f2b"
    cp "$prefix/etc/fail2ban/filter.d/quandrel-server.conf" "$f2b/filter.d/"
    fail2ban-regex --config "$f2b" "$prefix/server.log" quandrel-server >"$prefix/f2b.log" 2>&1 ||
        { cat "$prefix/f2b.log"; fail "fail2ban-regex"; }
    # The refused name and the forged line count; the cross-site and
    # cross-protocol refusals are logged but held against nobody.
    grep -q 'the page of another site' "$prefix/server.log" || { cat "$prefix/server.log"; fail "no cross-site refusal logged"; }
    [ "$(grep -c 'not a stage client' "$prefix/server.log")" -eq 2 ] || { cat "$prefix/server.log"; fail "the cross-protocol connections were not both logged"; }
    ! grep -q 'Visitor' "$prefix/server.log" || { cat "$prefix/server.log"; fail "the visitor joined"; }
    grep -q '^Failregex: 2 total' "$prefix/f2b.log" || { cat "$prefix/server.log" "$prefix/f2b.log"; fail "the filter did not find exactly the two"; }
    grep -q '127.0.0.1' "$prefix/f2b.log" || { cat "$prefix/f2b.log"; fail "the filter found no host"; }
fi

if [ -n "$client" ]; then
    set +e
    QT_QPA_PLATFORM=offscreen timeout 2 "$prefix/bin/quandrel" 2>/dev/null
    rc=$?
    set -e
    [ "$rc" -eq 124 ] || fail "client ended with $rc instead of running"
fi
echo "installed and working"
