#!/usr/bin/env bash
# The JACK server the sound tests play on: the dummy driver, paced at 48000
# frames a second in buffers of 512, under a server name of the build's own
# so that parallel builds and other JACK servers never meet.
#   jackd.sh start <server name> <state dir>   start it; wait until it serves
#   jackd.sh stop <state dir>                  stop it by its pid
# Without jackd installed, start says so and succeeds: the tests that need
# the server then skip (or fail under CI=true).
set -u
cmd="${1:-}"
case "$cmd" in
  start) name="$2"; dir="$3" ;;
  stop) dir="$2" ;;
  *) echo "usage: $0 start <name> <dir> | stop <dir>" >&2; exit 2 ;;
esac
pidfile="$dir/jackd.pid"
namefile="$dir/jackd.name"

# The jackd processes serving that name: a server that is still going, or
# one whose `timeout` was killed before it ended, keeps its name, and a new
# server of the same name then fails to start while clients still reach the
# old one, which soon ends under them.
serving() { pgrep -f "^jackd -n $1 " 2>/dev/null; }

# Whether a process has ended (a zombie has let go of everything).
ended() {
  local state
  state=$(grep '^State:' "/proc/$1/status" 2>/dev/null)
  [ -z "$state" ] || [[ "$state" == *Z* ]]
}

# Waits up to $1 tenths of a second until each process after it has ended.
await_ended() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    local left=0
    for p in "$@"; do ended "$p" || left=1; done
    [ "$left" = 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# Ends the processes given, politely first; waits until each has ended.
end_all() {
  [ $# -gt 0 ] || return 0
  # A stopped server takes the request only once it runs again.
  kill -TERM "$@" 2>/dev/null
  kill -CONT "$@" 2>/dev/null
  await_ended 100 "$@" && return 0
  kill -KILL "$@" 2>/dev/null
  await_ended 50 "$@"
}

stop() {
  local pids=()
  if [ -f "$pidfile" ]; then
    pids+=("$(cat "$pidfile")")
    rm -f "$pidfile"
  fi
  if [ -f "$namefile" ]; then
    mapfile -t -O "${#pids[@]}" pids < <(serving "$(cat "$namefile")")
    rm -f "$namefile"
  fi
  end_all "${pids[@]}"
  return 0
}

if [ "$cmd" = stop ]; then
  stop
  exit 0
fi

if ! command -v jackd >/dev/null; then
  echo "jackd is not installed: the tests that need it will skip"
  exit 0
fi
mkdir -p "$dir"
stop # a server left over by an interrupted run
# JACK registers at most eight servers and takes a dead server's entry back
# only when that same name starts again, so servers of other build
# directories that were killed (the tests kill their own private servers)
# fill it for good. With no JACK server running anywhere on the machine,
# every entry is stale: clear them before they fill it. The same holds for
# the metadata database every server and client opens (jack_db-<uid>): each
# process killed leaves its mutexes in it, and once they fill it no client
# opens ("unable to allocate memory for mutex").
clear_stale_registry() {
  if ! pgrep -x jackd >/dev/null; then
    rm -f /dev/shm/jack-shm-registry /dev/shm/jack_* 2>/dev/null
    rm -rf /dev/shm/jack_db-* 2>/dev/null
  fi
}
clear_stale_registry
# A server of the same name that is only just going may still hold its
# name: a few attempts.
echo "$name" >"$namefile"
for attempt in 1 2 3; do
  # One of that name from elsewhere (a test killed before its stop) would
  # answer in place of the new one.
  mapfile -t old < <(serving "$name")
  if [ "${#old[@]}" -gt 0 ]; then
    echo "jackd $name still runs (pid ${old[*]}): ended first" >&2
    end_all "${old[@]}"
  fi
  # Detached from the test's session and output, so that neither waits for
  # it; `timeout` ends it should every stop be missed.
  setsid timeout 1800 jackd -n "$name" --no-realtime -d dummy -r 48000 -p 512 \
    </dev/null >"$dir/jackd.log" 2>&1 &
  echo $! >"$pidfile"
  # jack_wait may hang past its own limit on a server that is going.
  if JACK_DEFAULT_SERVER="$name" JACK_NO_START_SERVER=1 timeout -s KILL 15 jack_wait -w -t 10 >/dev/null 2>&1 &&
    ! ended "$(cat "$pidfile")"; then
    echo "jackd $name serves (pid $(cat "$pidfile"))"
    exit 0
  fi
  echo "jackd $name did not start (attempt $attempt):" >&2
  cat "$dir/jackd.log" >&2
  stop
  if grep -q "Too many servers already active" "$dir/jackd.log"; then
    if ! pgrep -x jackd >/dev/null; then
      echo "no JACK server runs: clearing the stale server registry" >&2
      clear_stale_registry
    else
      # Other programs' servers hold every entry, the ones killed among them
      # until a server of the same name starts again: name them.
      echo "JACK's registry of servers is full; its entries: $(strings /dev/shm/jack-shm-registry 2>/dev/null |
        grep -o '^jack-[0-9]*:.*' | tr '\n' ' '); running: $(pgrep -a jackd | tr '\n' ';')" >&2
    fi
  fi
  sleep 1
done
exit 1
