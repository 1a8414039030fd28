#!/usr/bin/env bash
# make install PREFIX=<temporary folder> with the build under test, then:
# the files are there, the unit names the prefix (and systemd-analyze accepts
# it where that tool exists), a second install keeps a changed configuration
# and user.db, and the installed binary serves a base login on a free
# loopback port and stops with status 0 on SIGTERM.
set -uo pipefail
src_dir=$1
build_dir=$2

tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in make sqlite3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

prefix="$tmp/opt/vorlane"
install_once() {
  # Called from ctest under make: the outer make's job server is not ours.
  env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$src_dir" install PREFIX="$prefix" RELEASE_DIR="$build_dir" \
    > "$tmp/install.log" 2>&1 || { cat "$tmp/install.log" >&2; fail "make install"; }
}

# --- first install --------------------------------------------------------
install_once
[ -x "$prefix/vorlane" ] || fail "no executable $prefix/vorlane"
for f in "$src_dir"/config/defaults/*; do
  name=$(basename "$f")
  cmp -s "$f" "$prefix/$name" || fail "$name is not the default file"
done
for sql in "$src_dir"/schema/*.sql; do
  db="$prefix/$(basename "$sql" .sql).db"
  [ -s "$db" ] || fail "no database $db"
done
[ "$(sqlite3 "$prefix/user.db" "SELECT name FROM user_tb ORDER BY name;" | tr '\n' ' ')" = "DEMO1 demo " ] ||
  fail "a fresh user.db holds the two demo accounts"
[ -z "$(sqlite3 "$prefix/station.db" "SELECT * FROM station_blacklist;")" ] || fail "station.db starts empty"

unit="$prefix/vorlane.service"
[ -f "$unit" ] || fail "no unit file"
grep -qx "WorkingDirectory=$prefix" "$unit" || fail "unit WorkingDirectory"
grep -qx "ExecStart=$prefix/vorlane" "$unit" || fail "unit ExecStart"
grep -qx "Type=simple" "$unit" || fail "unit Type"
grep -qx "KillSignal=SIGTERM" "$unit" || fail "unit KillSignal"
grep -qx "Restart=on-failure" "$unit" || fail "unit Restart"
! grep -q "@PREFIX@" "$unit" || fail "unit still holds @PREFIX@"
[ ! -e "$tmp/etc/systemd/system/vorlane.service" ] || fail "a non-default prefix installed a system unit"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
else
  echo "systemd-analyze missing: unit not verified"
fi

# --- the default prefix under a staging DESTDIR also installs the system unit
dest="$tmp/dest"
env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$src_dir" install DESTDIR="$dest" RELEASE_DIR="$build_dir" \
  > "$tmp/install.log" 2>&1 || { cat "$tmp/install.log" >&2; fail "make install DESTDIR"; }
[ -x "$dest/opt/vorlane/vorlane" ] || fail "default prefix: no $dest/opt/vorlane/vorlane"
system_unit="$dest/etc/systemd/system/vorlane.service"
[ -f "$system_unit" ] || fail "default prefix: no unit where systemd finds it"
grep -qx "ExecStart=/opt/vorlane/vorlane" "$system_unit" || fail "default prefix: the unit names the staging folder"
cmp -s "$system_unit" "$dest/opt/vorlane/vorlane.service" || fail "default prefix: two different units"

# --- second install keeps what the operator changed ------------------------
sed -i 's/"rover_distance_limit":[^,}]*/"rover_distance_limit":\t7000/' "$prefix/VorlaneConfig.json"
grep -q '"rover_distance_limit":.7000' "$prefix/VorlaneConfig.json" || fail "config edit"
sqlite3 "$prefix/user.db" "DELETE FROM user_tb WHERE name = 'demo';
  INSERT INTO user_tb (type, name, password, registerTime, role, expiredatetime, activation, activationperiod, enabled)
  VALUES (3, 'kept', 'keptpass', '2026/1/1 0:0:0', 0, '2099/12/31 23:59:59', 0, 0, 1);" || fail "user.db edit"
cp "$prefix/VorlaneConfig.json" "$tmp/config.before"
touch -d '2000-01-01' "$prefix/vorlane"
install_once
cmp -s "$tmp/config.before" "$prefix/VorlaneConfig.json" || fail "second install replaced VorlaneConfig.json"
[ "$(sqlite3 "$prefix/user.db" "SELECT name FROM user_tb ORDER BY name;" | tr '\n' ' ')" = "DEMO1 kept " ] ||
  fail "second install changed user.db"
[ "$(stat -c %Y "$prefix/vorlane")" -gt 946771200 ] || fail "second install did not replace the binary"

# --- the installed binary serves from its folder ---------------------------
# A port nobody accepts on; the caster exits with status 2 when it is taken
# meanwhile (bound but not listening), and another is tried.
accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
started=
for attempt in 1 2 3 4 5 6 7 8; do
  port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
  accepts "$port" && continue
  sed -i "/\"ntrip_server\"/,/}/ s/\"port\":[^,}]*/\"port\":\t$port/" "$prefix/VorlaneConfig.json"
  (cd "$prefix" && exec ./vorlane) > "$tmp/vorlane.out" 2>&1 &
  pid=$!
  for i in $(seq 1 100); do
    if accepts "$port"; then started=1; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -n "$started" ] && break
  wait "$pid" 2>/dev/null
  pid=
done
[ -n "$started" ] || { cat "$tmp/vorlane.out" >&2; fail "the installed vorlane never accepted"; }

# The demo base account of the installed user.db logs in.
exec 4<>"/dev/tcp/127.0.0.1/$port" || fail "connect"
printf 'SOURCE demobase /DEMO1\r\nSource-Agent: NTRIP test\r\n\r\n' >&4
reply=
IFS= read -r -t 5 reply <&4
exec 4>&-
[ "$reply" = $'ICY 200 OK\r' ] || fail "base login answered '$reply'"
ls "$prefix"/Vorlane_*.log >/dev/null 2>&1 || fail "no daily log in the prefix"

kill -TERM "$pid"
status=
for i in $(seq 1 200); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$pid" 2>/dev/null && fail "vorlane still runs 10 s after SIGTERM"
wait "$pid"
status=$?
pid=
[ "$status" -eq 0 ] || fail "exit status after SIGTERM was $status"
echo "install test passed"
