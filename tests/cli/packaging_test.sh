#!/usr/bin/env bash
# `cmake --install` into a temporary DESTDIR and `cpack -G DEB` of the built tree: exactly the
# expected files, a library with a versioned SONAME, a package lintian finds no fault with, a
# hardened service unit that systemd accepts, and the staged host started as the service would
# start it (an unprivileged user without capabilities, its options, its state directory).
set -euo pipefail
build="$1" libdir="$2" version="$3"
# Readable by the unprivileged user the host runs as below (a TMPDIR may be private).
work="$(mktemp -d /tmp/tessera-packaging-XXXXXX)"
chmod 755 "$work"
host_pid=""
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

expected="etc/default/tessera-diag-server
usr/bin/tessera-diag
usr/bin/tessera-diag-server
usr/$libdir/libQUOR_TesseraDiagnostics.so.1
usr/$libdir/libQUOR_TesseraDiagnostics.so.$version
usr/lib/systemd/system/tessera-diag-server.service
usr/share/bash-completion/completions/tessera-diag
usr/share/doc/tessera-diag/README.md.gz
usr/share/doc/tessera-diag/changelog.gz
usr/share/doc/tessera-diag/copyright
usr/share/doc/tessera-diag/device-files.md.gz
usr/share/lintian/overrides/tessera-diag
usr/share/man/man1/tessera-diag-server.1.gz
usr/share/man/man1/tessera-diag.1.gz
usr/share/zsh/vendor-completions/_tessera-diag"

stage="$work/stage"
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
installed="$(cd "$stage" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)"
[ "$installed" = "$expected" ] || fail "cmake --install put in place:"$'\n'"$installed"

soname="$(readelf -d "$stage/usr/$libdir/libQUOR_TesseraDiagnostics.so.$version" | grep SONAME)"
[[ "$soname" == *"[libQUOR_TesseraDiagnostics.so.1]"* ]] || fail "SONAME: $soname"

unit="$stage/usr/lib/systemd/system/tessera-diag-server.service"
for line in 'ExecStart=/usr/bin/tessera-diag-server --search-dir %S/tessera-diag $TESSERA_OPTIONS' \
            'EnvironmentFile=-/etc/default/tessera-diag-server' 'StateDirectory=tessera-diag' \
            'Restart=on-failure' 'DynamicUser=yes' 'NoNewPrivileges=yes' 'CapabilityBoundingSet=' \
            'RestrictAddressFamilies=AF_CAN AF_NETLINK AF_INET AF_INET6 AF_UNIX' \
            'ProtectSystem=strict' 'ProtectHome=yes' 'PrivateTmp=yes' 'SystemCallFilter=@system-service'; do
  grep -qxF "$line" "$unit" || fail "the unit lacks: $line"
done
# systemd accepts every setting of the unit (its ExecStart pointed at the staged host), and
# rates it.
mkdir "$work/unit"
sed "s|^ExecStart=/usr/bin/|ExecStart=$stage/usr/bin/|" "$unit" >"$work/unit/tessera-diag-server.service"
verify="$(systemd-analyze verify --man=no "$work/unit/tessera-diag-server.service" 2>&1)" ||
  fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify: $verify"
score="$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) \([A-Z]*\).*/\1 \2/p')"
echo "systemd-analyze security: $score"
[[ "$score" == [0-2].*" OK" ]] || fail "exposure level: $score"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb="$(ls "$work"/deb/*.deb)"
listed="$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | LC_ALL=C sort)"
[ "$listed" = "$expected" ] || fail "the .deb holds:"$'\n'"$listed"
depends="$(dpkg-deb --field "$deb" Depends)"
[[ "$depends" == *libc6* && "$depends" == *libcpp-httplib* ]] || fail "Depends: $depends"
control="$work/control"
dpkg-deb --control "$deb" "$control"
grep -qxF "libQUOR_TesseraDiagnostics 1 tessera-diag (>= $version)" "$control/shlibs" ||
  fail "shlibs: $(cat "$control/shlibs" 2>&1)"
grep -qx "activate-noawait ldconfig" "$control/triggers" || fail "triggers: $(cat "$control/triggers" 2>&1)"
# No error and no warning (the one justified warning is overridden in the package).
lint="$(lintian --allow-root --fail-on error,warning "$deb" 2>&1)" || fail "lintian:"$'\n'"$lint"

# As the service runs it: a user of its own without any capability, no new privileges, its
# state directory as the search directory. The options file's own bus (can0) and the
# simulated robot, whose Kestrel KX takes a firmware file from the state directory.
state="$work/state"
mkdir -p "$state"
"$build/sim/make_bfl/tessera-make-bfl" --family "kestrel kx" --version 21.3 --sectors 4 -o "$state/kx.bfl" >/dev/null
chown -R 65534:65534 "$state"
as_service=(setpriv --reuid=65534 --regid=65534 --clear-groups --no-new-privs --inh-caps=-all
            --bounding-set=-all)
options="$(sed -n 's/^TESSERA_OPTIONS="\(.*\)"$/\1/p' "$stage/etc/default/tessera-diag-server")"
[ "$options" = "--can socketcan:can0 --start-delay 0" ] || fail "TESSERA_OPTIONS: $options"
if [ ! -e /sys/class/net/can0 ]; then
  # shellcheck disable=SC2086
  refused="$("${as_service[@]}" "$stage/usr/bin/tessera-diag-server" --search-dir "$state" $options --port 0 2>&1)" &&
    fail "the host started without can0: $refused"
  [[ "$refused" == *"can0"*"--can sim runs a simulated robot"* ]] || fail "without can0: $refused"
fi
"${as_service[@]}" "$stage/usr/bin/tessera-diag-server" --search-dir "$state" --can sim --start-delay 0 \
  --port 0 >"$work/host.log" 2>&1 &
host_pid=$!
port=""
for _ in $(seq 200); do
  port="$(sed -n 's/.*running on port: \([0-9]*\).*/\1/p' "$work/host.log")"
  [ -n "$port" ] && break
  kill -0 "$host_pid" 2>/dev/null || fail "the staged host ended: $(cat "$work/host.log")"
  sleep 0.1
done
[ -n "$port" ] || fail "the staged host did not start: $(cat "$work/host.log")"
answer="$(curl -s --max-time 10 "http://127.0.0.1:$port/?action=getversion")"
[[ "$answer" == *'"ReleaseInfo": "ZED2020"'* ]] || fail "getversion answered: $answer"
client="$("$stage/usr/bin/tessera-diag" --port "$port" version)"
[[ "$client" == *"tessera-diag $version"*"tessera-diag-server $version ("* ]] ||
  fail "tessera-diag version printed: $client"
"$stage/usr/bin/tessera-diag" --port "$port" list --wait 20 >/dev/null
upgrade="$("$stage/usr/bin/tessera-diag" --port "$port" upgrade kestrel-kx 1 --server-file kx.bfl 2>&1)" ||
  fail "an upgrade from the state directory: $upgrade"
[[ "$upgrade" == *"kestrel kx 1: firmware kx.bfl written in "*"; it runs 21.3"* ]] || fail "upgrade: $upgrade"
kill -TERM "$host_pid"
wait "$host_pid" || fail "the staged host did not stop cleanly"
host_pid=""
