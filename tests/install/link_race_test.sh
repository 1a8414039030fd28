#!/usr/bin/env bash
# An install as root into a folder the service's account may write, while
# code running as that account keeps swapping the names the install makes
# (VorlaneConfig.json, station.db, user.db) for a symbolic link to a file of
# root's, and now and then for a hard link to another (one the account may
# write, so the kernel lets it link it): over 200 installs, root never
# writes, changes the owner or the mode of either file through a name the
# account put there. Skipped unless run as root.
set -uo pipefail
src_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/install_lib.sh"

[ "$(id -u)" -eq 0 ] || { echo "SKIP: making a system account needs root"; exit 77; }
for tool in sqlite3 setpriv useradd userdel groupadd groupdel getent; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

runs=200
names=(VorlaneConfig.json station.db user.db)
tmp=$(mktemp -d)
account="$(test_account_name)r"
racer=
cleanup() {
  if [ -n "$racer" ]; then
    touch "$tmp/stop"
    kill "$racer" 2>/dev/null
    wait "$racer" 2>/dev/null
  fi
  remove_account "$account"
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Only a killed run of the same process id can have left it: gone.
remove_account "$account"
# The account must reach the prefix and the victims inside mktemp's folder.
chmod 0755 "$tmp"
prefix="$tmp/opt/vorlane"
# The layout needs a binary, not this build's: a small one keeps each
# install quick.
mkdir -p "$tmp/build/src"
printf '#!/bin/sh\nexit 0\n' > "$tmp/build/src/vorlane"
chmod 0755 "$tmp/build/src/vorlane"
install_once() {
  "$src_dir/scripts/install" "$tmp/build" "$prefix" "" "" "$account" > "$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log" >&2; fail "install $1"; }
}

# The first install makes the account and gives it the folder.
install_once 1
mkdir -p "$tmp/files"
echo "root's, linked by name" > "$tmp/files/victim"
echo "root's, linked as a second name" > "$tmp/files/hard-victim"
chmod 0644 "$tmp/files/victim"
chmod 0666 "$tmp/files/hard-victim"
cp -p "$tmp/files/victim" "$tmp/victim.before"
cp -p "$tmp/files/hard-victim" "$tmp/hard-victim.before"
untouched() {  # FILE: same text, owner and mode as before the race
  cmp -s "$tmp/files/$1" "$tmp/$1.before" &&
    [ "$(stat -c %U:%G:%a "$tmp/files/$1")" = "$(stat -c %U:%G:%a "$tmp/$1.before")" ]
}

# The account's side: while the install runs, each name stands for a moment
# as a link, then is gone again; a hard link, once made, stays (the account
# cannot remove a name of root's file in the sticky folder) until the next
# round removes it.
racer_loop() {
  local victim=$1 hard=$2 dir=$3 stop=$4
  shift 4
  local n
  while [ ! -e "$stop" ]; do
    for n in "$@"; do
      ln -s "$victim" "$dir/$n" 2>/dev/null
      rm -f "$dir/$n" 2>/dev/null
      if [ $((RANDOM % 256)) -eq 0 ]; then ln "$hard" "$dir/$n" 2>/dev/null; fi
    done
  done
}
export -f racer_loop
setpriv --reuid="$account" --regid="$account" --clear-groups -- \
  bash -c 'racer_loop "$@"' racer "$tmp/files/victim" "$tmp/files/hard-victim" "$prefix" "$tmp/stop" "${names[@]}" &
racer=$!

for run in $(seq 1 "$runs"); do
  for n in "${names[@]}"; do rm -f "$prefix/$n"; done
  install_once "$run"
  untouched victim || fail "install $run changed root's file through a symbolic link of the account's"
  untouched hard-victim || fail "install $run changed root's file through a hard link of the account's"
done
kill -0 "$racer" 2>/dev/null || fail "the account's loop did not run through the installs"
touch "$tmp/stop"
wait "$racer"
racer=
untouched victim && untouched hard-victim || fail "a file of root's changed"
echo "link race test passed: $runs installs"
