#!/usr/bin/env bash
# make install as root into a temporary prefix with an account of this run
# alone, then: the install made it a system account with no login, the binary
# and the unit stay root's and the account can neither change nor remove them,
# a folder that holds other things is refused, and what the caster writes is
# the account's, also after an install over an older folder that root owned
# whole (links the account put there are never followed, and what other users
# could read of its logs, UserLog/ and dump/ is taken off). Run as that
# account from its folder with the unit's umask, the installed binary
# rewrites its configuration, serves a base and a rover added the way the
# README says and a base added through the inspector (a write into user.db),
# writes its daily log and user log, stops with status 0 on SIGTERM, and
# writes its dump on a crash: logs and dump for the account and its group
# alone. Skipped unless run as root.
set -uo pipefail
src_dir=$1
build_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/install_lib.sh"

[ "$(id -u)" -eq 0 ] || { echo "SKIP: making a system account needs root"; exit 77; }
for tool in make sqlite3 base64 setpriv useradd userdel groupadd groupdel getent; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

tmp=$(mktemp -d)
account=$(test_account_name)
cleanup() {
  kill_vorlane
  remove_account "$account"
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs a command as the service account, with its group only.
run_as_account=(setpriv --reuid="$account" --regid="$account" --clear-groups --)
as_account() { "${run_as_account[@]}" "$@"; }
owner() { stat -c %U:%G "$1"; }
# True when nobody but the owner and the group has any access to the file.
closed_to_others() { [ $(( 0$(stat -c %a "$1") & 07 )) -eq 0 ]; }

# Only a killed run of the same process id can have left it: gone.
remove_account "$account"
# The account must reach the prefix inside mktemp's private folder.
chmod 0755 "$tmp"
prefix="$tmp/opt/vorlane"

# --- the install makes the account -----------------------------------------
install_into "$prefix" SERVICE_USER="$account"
grep -q "made the system account $account" "$tmp/install.log" || fail "the install does not say it made the account"
entry=$(getent passwd "$account") || fail "no account $account after the install"
IFS=: read -r _ _ uid _ _ home shell <<<"$entry"
uid_min=$(awk '$1 == "UID_MIN" { print $2 }' /etc/login.defs 2>/dev/null)
[ "$uid" -lt "${uid_min:-1000}" ] || fail "account $account is not a system account (uid $uid)"
[ "$home" = "$prefix" ] || fail "account home is $home, not the prefix"
case "$shell" in */nologin | */false) ;; *) fail "account $account has the login shell $shell" ;; esac
getent group "$account" >/dev/null || fail "no group $account"

check_ownership() {  # what the install gives: $1 says when
  [ "$(owner "$prefix")" = "root:$account" ] || fail "$1: the folder is $(owner "$prefix")"
  [ "$(stat -c %a "$prefix")" = 1775 ] || fail "$1: the folder's mode is $(stat -c %a "$prefix")"
  local f
  for f in vorlane vorlane.service AuthCentre.json; do
    [ "$(owner "$prefix/$f")" = root:root ] || fail "$1: $f is $(owner "$prefix/$f")"
  done
  [ "$(stat -c %a "$prefix/vorlane")" = 755 ] || fail "$1: the binary's mode is $(stat -c %a "$prefix/vorlane")"
  for f in VorlaneConfig.json station.db user.db; do
    [ "$(owner "$prefix/$f")" = "$account:$account" ] || fail "$1: $f is $(owner "$prefix/$f")"
  done
  [ "$(stat -c %a "$prefix/user.db")" = 600 ] || fail "$1: user.db, which holds the passwords, has mode $(stat -c %a "$prefix/user.db")"
}
check_ownership "first install"
grep -qx "User=$account" "$prefix/vorlane.service" || fail "the unit does not run as $account"
grep -qx "Group=$account" "$prefix/vorlane.service" || fail "the unit does not run with group $account"

# The folder is the account's to write, but not the root files in it.
as_account rm -f "$prefix/vorlane" 2>/dev/null
as_account mv "$prefix/vorlane.service" "$prefix/moved" 2>/dev/null
as_account sh -c ": > '$prefix/vorlane'" 2>/dev/null
cmp -s "$build_dir/src/vorlane" "$prefix/vorlane" || fail "the account changed or removed the binary"
[ -f "$prefix/vorlane.service" ] && [ ! -e "$prefix/moved" ] || fail "the account moved the unit"

# A folder that holds other things is never given to the account.
mkdir -m 0755 "$tmp/shared"
echo "someone else's" > "$tmp/shared/file"
if env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$src_dir" install PREFIX="$tmp/shared" \
     RELEASE_DIR="$build_dir" SERVICE_USER="$account" > "$tmp/install.log" 2>&1; then
  fail "an install as root took a folder that holds other files"
fi
grep -q "holds other files and no vorlane" "$tmp/install.log" || fail "the refusal does not say why: $(cat "$tmp/install.log")"
[ "$(owner "$tmp/shared")" = root:root ] && [ "$(stat -c %a "$tmp/shared")" = 755 ] && [ ! -e "$tmp/shared/vorlane" ] ||
  fail "a refused install changed the folder"

# --- an install over an older folder that root owned whole ------------------
# Links the account puts there name a file of root's; an install as root must
# change the links, never that file, and never write through them.
echo "root's" > "$tmp/rootfile"
as_account mkdir "$prefix/UserLog" "$prefix/dump" || fail "the account cannot make folders in the prefix"
as_account ln -s "$tmp/rootfile" "$prefix/UserLog/link" || fail "link in UserLog"
as_account ln -s "$tmp/rootfile" "$prefix/Vorlane_link.log" || fail "link of a log name"
# A second name of a file of root's (one the account may write, so that the
# kernel lets it make the link): its owner must stay root.
echo "root's, shared" > "$tmp/sharedfile"
chmod 0666 "$tmp/sharedfile"
as_account ln "$tmp/sharedfile" "$prefix/Vorlane_hard.log" || fail "hard link of a log name"
# A database the account moved away, with a link in its place that names
# nothing yet: the install must not make a database there.
as_account mv "$prefix/station.db" "$prefix/station.db.kept" || fail "the account cannot move its database"
as_account ln -s "$tmp/created-through-link" "$prefix/station.db" || fail "link of a database's name"
echo "old log line" > "$prefix/Vorlane_2000-01-01.log"
echo "old user log line" > "$prefix/UserLog/UserLog_2000-01-01.dat"
echo "old dump" > "$prefix/dump/old_vorlane_core.dmp"
chown -R -h root:root "$prefix"
chmod 0755 "$prefix"
chmod 0644 "$prefix/Vorlane_2000-01-01.log" "$prefix/UserLog/UserLog_2000-01-01.dat" "$prefix/dump/old_vorlane_core.dmp"
chmod 0755 "$prefix/UserLog" "$prefix/dump"
install_into "$prefix" SERVICE_USER="$account"
[ "$(owner "$tmp/rootfile")" = root:root ] || fail "an install followed a link of the account's to a file of root's"
[ "$(cat "$tmp/rootfile")" = "root's" ] || fail "an install wrote through a link"
[ ! -e "$tmp/created-through-link" ] || fail "an install made a file through a link"
for f in Vorlane_2000-01-01.log UserLog dump UserLog/link Vorlane_link.log UserLog/UserLog_2000-01-01.dat \
         dump/old_vorlane_core.dmp; do
  [ "$(owner "$prefix/$f")" = "$account:$account" ] || fail "after an install over a root folder $f is $(owner "$prefix/$f")"
done
for f in Vorlane_2000-01-01.log UserLog UserLog/UserLog_2000-01-01.dat dump dump/old_vorlane_core.dmp; do
  closed_to_others "$prefix/$f" || fail "after an install over a root folder others may use $f (mode $(stat -c %a "$prefix/$f"))"
done
[ "$(stat -c %a "$tmp/rootfile")" = 644 ] || fail "an install changed the mode of a file of root's through a link"
[ "$(owner "$tmp/sharedfile")" = root:root ] && [ "$(stat -c %a "$tmp/sharedfile")" = 666 ] ||
  fail "an install gave away a file of root's through a hard link: $(owner "$tmp/sharedfile") $(stat -c %a "$tmp/sharedfile")"
[ -L "$prefix/station.db" ] || fail "an install replaced a link of the account's"
rm -f "$prefix/station.db" "$prefix/UserLog/link" "$prefix/Vorlane_link.log" "$prefix/Vorlane_hard.log"
mv "$prefix/station.db.kept" "$prefix/station.db"
# A log the account made readable by all, as a caster without the unit's
# umask does.
as_account sh -c "echo line > '$prefix/Vorlane_2000-01-02.log' && chmod 0644 '$prefix/Vorlane_2000-01-02.log'"
install_into "$prefix" SERVICE_USER="$account"
check_ownership "install over a root folder"
closed_to_others "$prefix/Vorlane_2000-01-02.log" || fail "a second install left the account's log readable by all"

# --- run as the account -----------------------------------------------------
# Accounts added as the README's service section says: an operator, a base
# and a rover, straight into user.db.
sqlite3 "$prefix/user.db" "
  INSERT INTO user_tb (type, name, password, role, enabled) VALUES (1, 'op', 'op-secret', 1, 1);
  INSERT INTO user_tb (type, name, password, enabled) VALUES (2, 'MOUNT1', 'basepass', 1);
  INSERT INTO user_tb (type, name, password, expiredatetime, enabled)
    VALUES (3, 'rover1', 'roverpass', '2099/12/31 23:59:59', 1);" || fail "adding the accounts"
config_inode=$(stat -c %i "$prefix/VorlaneConfig.json")
# A second name keeps the file's inode in use, so that no file made after
# (by the port set-up's sed -i, by the caster) can be given its number.
ln "$prefix/VorlaneConfig.json" "$tmp/config.before-start"

# As the unit runs it: the account, and the unit's umask.
unit_umask=$(sed -n 's/^UMask=//p' "$prefix/vorlane.service")
[ -n "$unit_umask" ] || fail "the unit sets no UMask"
run_as_service=("${run_as_account[@]}" sh -c 'umask "$0" && exec "$@"' "$unit_umask")
start_vorlane "$prefix" --with-inspector "${run_as_service[@]}"
[ "$(stat -c %U "/proc/$pid")" = "$account" ] || fail "vorlane does not run as $account"

base_login 4 MOUNT1 basepass
[ "$reply" = "ICY 200 OK" ] || fail "base login answered '$reply'"
rover_login 5 MOUNT1 rover1 roverpass
[ "$reply" = "ICY 200 OK" ] || fail "rover login answered '$reply'"
answer=$(inspector_post /xqn_user/add '{"data":[{"UserName":"MOUNT2","Password":"base2pass","UserType":2,"ExpireTime":"2030/12/31 23:59:59","Contacts":"","PhoneNum":"","Mail":"","QQ":"","Company":"","Enabled":true}]}')
case "$answer" in *'"status":0}') ;; *) fail "the inspector's add answered '$answer'" ;; esac
[ "$(sqlite3 "$prefix/user.db" "SELECT password FROM user_tb WHERE type = 2 AND name = 'MOUNT2';")" = base2pass ] ||
  fail "the added base is not in user.db"
base_login 6 MOUNT2 base2pass
[ "$reply" = "ICY 200 OK" ] || fail "login of the base added through the inspector answered '$reply'"
exec 4>&- 5>&- 6>&-

[ "$(stat -c %i "$prefix/VorlaneConfig.json")" != "$config_inode" ] || fail "VorlaneConfig.json was not rewritten at start"
[ "$(owner "$prefix/VorlaneConfig.json")" = "$account:$account" ] || fail "the rewritten configuration is $(owner "$prefix/VorlaneConfig.json")"
ls "$prefix"/VorlaneConfig.json.tmp-* >/dev/null 2>&1 && fail "a temporary configuration file was left"
log=$(ls "$prefix"/Vorlane_*.log | grep -v 2000-01-01 | head -1)
[ -n "$log" ] && [ "$(owner "$log")" = "$account:$account" ] || fail "no daily log of the account's in the prefix"
user_log=$(find "$prefix/UserLog" -name 'UserLog_*.dat' | head -1)
[ -n "$user_log" ] && [ "$(owner "$user_log")" = "$account:$account" ] || fail "no user log of the rover login"
# The rover's name and positions are the account's and its group's alone.
for f in "$log" "$prefix/UserLog" "$user_log"; do
  closed_to_others "$f" || fail "others may use $f (mode $(stat -c %a "$f"))"
  [ $(( 0$(stat -c %a "$f") & 040 )) -ne 0 ] || fail "the group may not read $f (mode $(stat -c %a "$f"))"
done

stop_vorlane TERM
[ "$status" -eq 0 ] || { cat "$tmp/vorlane.out" >&2; fail "exit status after SIGTERM was $status"; }

# A crash writes its dump into the folder's dump/.
rm -rf "$prefix/dump"
start_vorlane "$prefix" "${run_as_service[@]}"
stop_vorlane SEGV
[ "$status" -eq $((128 + 11)) ] || fail "exit status after SIGSEGV was $status"
dump=$(ls "$prefix"/dump/*_vorlane_core.dmp 2>/dev/null | head -1)
[ -n "$dump" ] && [ "$(owner "$dump")" = "$account:$account" ] || fail "no dump of the account's after a crash"
grep -q "^signal: 11" "$dump" || fail "the dump does not name the signal"
for f in "$prefix/dump" "$dump"; do
  closed_to_others "$f" || fail "others may use $f (mode $(stat -c %a "$f"))"
done
echo "service account test passed"
