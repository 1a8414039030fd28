# shellcheck shell=bash
# Shared by the install tests (sourced): make install into a folder, start
# the installed vorlane on free loopback ports, talk NTRIP and HTTP to it
# with bash's /dev/tcp, stop it. The caller sets src_dir, build_dir and tmp,
# and defines fail.

# install_into PREFIX [VARIABLE=VALUE...]: an empty PREFIX leaves make its
# default. The variables go to make (SERVICE_USER=..., DESTDIR=...); the
# output is kept in $tmp/install.log. Called from ctest under make: the outer
# make's job server is not ours.
install_into() {
  local prefix=$1
  shift
  local vars=("$@")
  [ -z "$prefix" ] || vars=(PREFIX="$prefix" "${vars[@]}")
  env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL make -s -C "$src_dir" install RELEASE_DIR="$build_dir" "${vars[@]}" \
    > "$tmp/install.log" 2>&1 || { cat "$tmp/install.log" >&2; fail "make install $*"; }
}

# An account name of this run alone, so runs side by side (and a run killed
# before its clean-up) never share one.
test_account_name() { echo "vorlanetest$$"; }

# Removes the account and its group when they exist.
remove_account() {
  local name=$1
  if getent passwd "$name" >/dev/null; then userdel "$name" 2>/dev/null; fi
  if getent group "$name" >/dev/null; then groupdel "$name" 2>/dev/null; fi
  return 0
}

accepts() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# Sets "port" of one section of VorlaneConfig.json.
set_port() {
  local prefix=$1 section=$2 port=$3
  sed -i "/\"$section\"/,/}/ s/\"port\":[^,}]*/\"port\":\t$port/" "$prefix/VorlaneConfig.json"
}

# A port to listen on, below the system's range of ephemeral ports: a port
# inside it may be the local port of any outgoing connection on the machine
# at the moment of the bind, which no probe of ours sees.
listening_port() {
  local low=20000 high
  high=$(( $(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768) - 1 ))
  [ "$high" -gt $(( low + 1000 )) ] || { low=10000; high=19999; }
  echo $(( low + (RANDOM * 32768 + RANDOM) % (high - low + 1) ))
}

# start_vorlane PREFIX [--with-inspector] [RUNNER...]: runs PREFIX/vorlane
# from PREFIX (under RUNNER, which must exec it, as setpriv does) on free
# loopback ports, and waits for its caster port (and its HTTP inspector) to
# accept. Sets pid, caster_port, http_port. A port taken meanwhile makes the
# caster exit with status 2, or the inspector give up: then other ports are
# tried.
pid=
start_vorlane() {
  local prefix=$1
  shift
  local inspector=
  if [ "${1:-}" = --with-inspector ]; then inspector=1; shift; fi
  local attempt i started tried=
  for attempt in 1 2 3 4 5 6 7 8; do
    caster_port=$(listening_port)
    http_port=$(listening_port)
    local ctrl_port
    ctrl_port=$(listening_port)
    accepts "$caster_port" || accepts "$http_port" || accepts "$ctrl_port" && continue
    [ "$caster_port" != "$http_port" ] && [ "$http_port" != "$ctrl_port" ] &&
      [ "$caster_port" != "$ctrl_port" ] || continue
    set_port "$prefix" ntrip_server "$caster_port"
    set_port "$prefix" http_server "$http_port"
    set_port "$prefix" ctrl_center_server "$ctrl_port"
    (cd "$prefix" && exec "$@" ./vorlane) > "$tmp/vorlane.out" 2>&1 &
    pid=$!
    started=
    # The inspector binds a moment after the start: up to 10 s in all.
    for i in $(seq 1 200); do
      if accepts "$caster_port" && { [ -z "$inspector" ] || accepts "$http_port"; }; then started=1; break; fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    [ -n "$started" ] && return 0
    if kill -0 "$pid" 2>/dev/null; then
      tried+="attempt $attempt: still running, caster port $caster_port accepts: $(accepts "$caster_port" && echo yes || echo no), inspector port $http_port accepts: $(accepts "$http_port" && echo yes || echo no)"$'\n'
    else
      tried+="attempt $attempt: ended"$'\n'
    fi
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
  done
  printf '%s' "$tried" >&2
  cat "$tmp/vorlane.out" >&2
  # shellcheck disable=SC2012
  tail -n 30 "$(ls -t "$prefix"/Vorlane_*.log 2>/dev/null | head -1)" >&2
  fail "the installed vorlane never accepted"
}

# Kills a started vorlane that is still running (for the exit trap).
kill_vorlane() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  pid=
}

# Sends a signal and waits up to 10 s for the end; sets status. What the
# process wrote must hold no sanitizer's report.
stop_vorlane() {
  local sig=$1 i
  kill "-$sig" "$pid"
  for i in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$pid" 2>/dev/null && fail "vorlane still runs 10 s after SIG$sig"
  wait "$pid"
  status=$?
  pid=
  expect_no_sanitizer_report
}

# Fails when what the started vorlane wrote holds a sanitizer's report: the
# build under test may be a sanitizer build, whose report need not change
# the status (the same openings as tests/support/SanitizerReport.h).
expect_no_sanitizer_report() {
  local report
  report=$(grep -m1 -E 'WARNING: ThreadSanitizer:|ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer' \
    "$tmp/vorlane.out")
  [ -z "$report" ] || { cat "$tmp/vorlane.out" >&2; fail "a sanitizer's report: $report"; }
}

# Logins on the caster port over descriptor FD, left open (a base stays
# online while it is): reply is set to the first line of the answer, its CR
# removed. Not to be called in $(...): the descriptor would close with it.
reply=
ntrip_open() {
  eval "exec $1<>/dev/tcp/127.0.0.1/$caster_port" || fail "connect to the caster port"
}
ntrip_reply() {
  reply=
  IFS= read -r -t 5 reply <&"$1"
  reply=${reply%$'\r'}
}
base_login() {  # FD MOUNT PASSWORD
  ntrip_open "$1"
  printf 'SOURCE %s /%s\r\nSource-Agent: NTRIP test\r\n\r\n' "$3" "$2" >&"$1"
  ntrip_reply "$1"
}
rover_login() {  # FD MOUNT USER PASSWORD
  ntrip_open "$1"
  printf 'GET /%s HTTP/1.0\r\nUser-Agent: NTRIP test\r\nAuthorization: Basic %s\r\n\r\n' \
    "$2" "$(printf '%s:%s' "$3" "$4" | base64 -w0)" >&"$1"
  ntrip_reply "$1"
}

# POSTs BODY to PATH of the inspector; prints the answer's body.
inspector_post() {
  local path=$1 body=$2 line='' last='' LC_ALL=C
  exec 9<>"/dev/tcp/127.0.0.1/$http_port" || fail "connect to the inspector"
  printf 'POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s' \
    "$path" "${#body}" "$body" >&9
  while IFS= read -r -t 5 line <&9 || [ -n "$line" ]; do
    last=$line
    line=''
  done
  exec 9>&-
  printf '%s\n' "${last%$'\r'}"
}
