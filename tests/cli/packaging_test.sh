#!/usr/bin/env bash
# `cmake --install` into a temporary DESTDIR and `cpack -G DEB` of the built tree: exactly the
# expected files, a library with a versioned SONAME, a service unit that runs the installed
# host, and a staged host that starts and answers "getversion".
set -euo pipefail
build="$1" libdir="$2" version="$3"
work="$(mktemp -d)"
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
usr/$libdir/libQUOR_TesseraDiagnostics.so
usr/$libdir/libQUOR_TesseraDiagnostics.so.1
usr/$libdir/libQUOR_TesseraDiagnostics.so.$version
usr/lib/systemd/system/tessera-diag-server.service
usr/share/man/man1/tessera-diag-server.1
usr/share/man/man1/tessera-diag.1"

stage="$work/stage"
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
installed="$(cd "$stage" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)"
[ "$installed" = "$expected" ] || fail "cmake --install put in place:"$'\n'"$installed"

soname="$(readelf -d "$stage/usr/$libdir/libQUOR_TesseraDiagnostics.so.$version" | grep SONAME)"
[[ "$soname" == *"[libQUOR_TesseraDiagnostics.so.1]"* ]] || fail "SONAME: $soname"

unit="$stage/usr/lib/systemd/system/tessera-diag-server.service"
for line in 'ExecStart=/usr/bin/tessera-diag-server --search-dir %S/tessera-diag $TESSERA_OPTIONS' \
            'EnvironmentFile=-/etc/default/tessera-diag-server' 'StateDirectory=tessera-diag' \
            'Restart=on-failure'; do
  grep -qxF "$line" "$unit" || fail "the unit lacks: $line"
done

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb="$(ls "$work"/deb/*.deb)"
listed="$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | LC_ALL=C sort)"
[ "$listed" = "$expected" ] || fail "the .deb holds:"$'\n'"$listed"
depends="$(dpkg-deb --field "$deb" Depends)"
[[ "$depends" == *libc6* && "$depends" == *libcpp-httplib* ]] || fail "Depends: $depends"

"$stage/usr/bin/tessera-diag-server" --port 0 --can none --start-delay 0 >"$work/host.log" 2>&1 &
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
kill -TERM "$host_pid"
wait "$host_pid" || fail "the staged host did not stop cleanly"
host_pid=""
