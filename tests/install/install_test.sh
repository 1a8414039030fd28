#!/usr/bin/env bash
# make install PREFIX=<temporary folder> with the build under test, then:
# the files are there with no account in user.db, the unit names the prefix
# and its account, runs unprivileged and sandboxed and gives up a caster that
# fails at every start (and systemd-analyze accepts it and rates its exposure
# at 5.0 at most, where that tool exists), a staged install makes no account and says what a
# package must do, a second install keeps a changed configuration and
# user.db, make run's layout still has the demo accounts, and the installed
# binary serves a base added the way the README says on a free loopback port
# and stops with status 0 on SIGTERM.
# As root the install also makes the service account: an account of this run
# alone, removed at the end (service_account_test.sh tests what it is given).
set -uo pipefail
src_dir=$1
build_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/install_lib.sh"

tmp=$(mktemp -d)
account=$(test_account_name)
is_root=
[ "$(id -u)" -eq 0 ] && is_root=1
cleanup() {
  kill_vorlane
  if [ -n "$is_root" ]; then remove_account "$account"; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in make sqlite3 base64; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
if [ -n "$is_root" ]; then
  # Only a killed run of the same process id can have left it: gone.
  remove_account "$account"
fi

prefix="$tmp/opt/vorlane"

# --- first install --------------------------------------------------------
install_into "$prefix" SERVICE_USER="$account"
[ -x "$prefix/vorlane" ] || fail "no executable $prefix/vorlane"
for f in "$src_dir"/config/defaults/*; do
  name=$(basename "$f")
  cmp -s "$f" "$prefix/$name" || fail "$name is not the default file"
done
for sql in "$src_dir"/schema/*.sql; do
  db="$prefix/$(basename "$sql" .sql).db"
  [ -s "$db" ] || fail "no database $db"
done
[ "$(sqlite3 "$prefix/user.db" "SELECT count(*) FROM user_tb;")" = 0 ] ||
  fail "a fresh user.db of an install holds accounts: $(sqlite3 "$prefix/user.db" "SELECT name FROM user_tb;" | tr '\n' ' ')"
[ -z "$(sqlite3 "$prefix/station.db" "SELECT * FROM station_blacklist;")" ] || fail "station.db starts empty"
if [ -z "$is_root" ]; then
  grep -q "no account made (not run as root)" "$tmp/install.log" || fail "an install by a plain user does not say that it made no account"
fi

unit="$prefix/vorlane.service"
[ -f "$unit" ] || fail "no unit file"
for line in "WorkingDirectory=$prefix" "ExecStart=$prefix/vorlane" "Type=simple" "KillSignal=SIGTERM" \
            "Restart=on-failure" "StartLimitIntervalSec=300" "StartLimitBurst=5" \
            "User=$account" "Group=$account" "NoNewPrivileges=yes" \
            "ProtectSystem=strict" "ReadWritePaths=$prefix" "ProtectHome=yes" "PrivateTmp=yes" "UMask=0027" \
            "CapabilityBoundingSet=" "PrivateDevices=yes" "ProtectKernelTunables=yes" "ProtectKernelModules=yes" \
            "ProtectKernelLogs=yes" "ProtectControlGroups=yes" "ProtectClock=yes" "ProtectHostname=yes" \
            "RestrictNamespaces=yes" "RestrictRealtime=yes" "RestrictSUIDSGID=yes" "LockPersonality=yes" \
            "SystemCallArchitectures=native" "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK"; do
  grep -qx "$line" "$unit" || fail "the unit has no line $line"
done
# The start limit gives up a caster that fails at every start: it belongs to
# [Unit], where systemd reads it.
[ "$(sed -n '/^\[Unit\]/,/^\[/p' "$unit" | grep -c '^StartLimit')" = 2 ] || fail "the start limit is not in [Unit]"
! grep -q "@[A-Z]*@" "$unit" || fail "unit still holds a placeholder: $(grep "@[A-Z]*@" "$unit")"
[ ! -e "$tmp/etc/systemd/system/vorlane.service" ] || fail "a non-default prefix installed a system unit"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit" > "$tmp/verify.log" 2>&1 || { cat "$tmp/verify.log" >&2; fail "systemd-analyze verify $unit"; }
  [ ! -s "$tmp/verify.log" ] || { cat "$tmp/verify.log" >&2; fail "systemd-analyze verify has remarks on the unit"; }
  # The sandbox as systemd rates it: 10 is a service with no confinement.
  systemd-analyze security --offline=true "$unit" > "$tmp/security.log" 2>&1
  exposure=$(sed -n 's/.*Overall exposure level for vorlane.service: \([0-9.]*\).*/\1/p' "$tmp/security.log")
  [ -n "$exposure" ] || { cat "$tmp/security.log" >&2; fail "systemd-analyze security gave no exposure level"; }
  awk -v e="$exposure" 'BEGIN { exit !(e <= 5.0) }' || { cat "$tmp/security.log" >&2; fail "the unit's exposure is $exposure, above 5.0"; }
else
  echo "systemd-analyze missing: unit not verified nor rated"
fi

# --- the default prefix under a staging DESTDIR also installs the system unit,
# makes no account and says what the package must do instead
dest="$tmp/dest"
staged_account="${account}s"
getent passwd "$staged_account" >/dev/null && fail "account $staged_account exists before the staged install"
install_into "" DESTDIR="$dest" SERVICE_USER="$staged_account"
[ -x "$dest/opt/vorlane/vorlane" ] || fail "default prefix: no $dest/opt/vorlane/vorlane"
system_unit="$dest/etc/systemd/system/vorlane.service"
[ -f "$system_unit" ] || fail "default prefix: no unit where systemd finds it"
grep -qx "ExecStart=/opt/vorlane/vorlane" "$system_unit" || fail "default prefix: the unit names the staging folder"
grep -qx "User=$staged_account" "$system_unit" || fail "default prefix: the unit does not name its account"
cmp -s "$system_unit" "$dest/opt/vorlane/vorlane.service" || fail "default prefix: two different units"
[ "$(sqlite3 "$dest/opt/vorlane/user.db" "SELECT count(*) FROM user_tb;")" = 0 ] || fail "a staged user.db holds accounts"
if getent passwd "$staged_account" >/dev/null || getent group "$staged_account" >/dev/null; then
  remove_account "$staged_account"
  fail "a staged install made the account $staged_account"
fi
grep -q "no account made (DESTDIR stages it)" "$tmp/install.log" || fail "a staged install does not say it made no account"
grep -q "useradd --system .*--home-dir /opt/vorlane .*$staged_account" "$tmp/install.log" ||
  fail "a staged install does not say how to make the account: $(cat "$tmp/install.log")"
grep -q "chown $staged_account:$staged_account /opt/vorlane/VorlaneConfig.json /opt/vorlane/station.db /opt/vorlane/user.db" \
  "$tmp/install.log" || fail "a staged install does not say what the account must own"

# --- second install keeps what the operator changed ------------------------
sed -i 's/"rover_distance_limit":[^,}]*/"rover_distance_limit":\t7000/' "$prefix/VorlaneConfig.json"
grep -q '"rover_distance_limit":.7000' "$prefix/VorlaneConfig.json" || fail "config edit"
# A base account, added as the README's service section says.
sqlite3 "$prefix/user.db" "INSERT INTO user_tb (type, name, password, enabled) VALUES (2, 'KEPT1', 'keptpass', 1);" ||
  fail "user.db edit"
cp "$prefix/VorlaneConfig.json" "$tmp/config.before"
touch -d '2000-01-01' "$prefix/vorlane"
install_into "$prefix" SERVICE_USER="$account"
cmp -s "$tmp/config.before" "$prefix/VorlaneConfig.json" || fail "second install replaced VorlaneConfig.json"
[ "$(sqlite3 "$prefix/user.db" "SELECT name FROM user_tb ORDER BY name;" | tr '\n' ' ')" = "KEPT1 " ] ||
  fail "second install changed user.db"
[ "$(stat -c %Y "$prefix/vorlane")" -gt 946771200 ] || fail "second install did not replace the binary"

# --- make run's run/ keeps the README's demo accounts -----------------------
"$src_dir/scripts/layout-run" --demo "$build_dir" "$tmp/run" > /dev/null || fail "layout-run --demo"
[ "$(sqlite3 "$tmp/run/user.db" "SELECT type, name, password FROM user_tb ORDER BY name;" | tr '\n' ' ')" = \
  "2|DEMO1|demobase 3|demo|demorover " ] || fail "run/ lacks the demo accounts"

# --- the installed binary serves from its folder ---------------------------
start_vorlane "$prefix"
base_login 4 KEPT1 keptpass
exec 4>&-
[ "$reply" = "ICY 200 OK" ] || fail "base login answered '$reply'"
ls "$prefix"/Vorlane_*.log >/dev/null 2>&1 || fail "no daily log in the prefix"

stop_vorlane TERM
[ "$status" -eq 0 ] || fail "exit status after SIGTERM was $status"
echo "install test passed"
