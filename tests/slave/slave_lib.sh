# Helpers for the tests that drive engine_watch against the simulated slave (booted sandbox).
. "$(dirname "${BASH_SOURCE[0]}")/../sandbox/lib.sh"

intake=/tmp/command_intake

# wait_gone FILE [TENTHS]: until FILE no longer exists (default 5 s).
wait_gone() {
  local n=$((${2:-50} * 2))
  while [ -e "$1" ]; do
    n=$((n - 1))
    [ $n -gt 0 ] || return 1
    sleep 0.05
  done
}

# wait_for FILE [TENTHS]: until FILE exists.
wait_for() {
  local n=$((${2:-50} * 2))
  while [ ! -e "$1" ]; do
    n=$((n - 1))
    [ $n -gt 0 ] || return 1
    sleep 0.05
  done
}

# cmd LETTER [ARGS]: engine_cmd, then wait until engine_watch has sent and handled it.
cmd() {
  /root/engine_cmd "$@"
  wait_gone "$intake/command-$1" || echo "command $1 was not taken"
}

# sim KEY=VALUE...: changes the simulated slave.
sim() { slave_sim set "$@" || echo "slave_sim set $* failed"; }

# status FROM TO: characters FROM..TO (0-based) of the status string.
status() { cut -c$(($1 + 1))-$(($2 + 1)) /tmp/return.dat; }

# frames LETTER: how many frames of that letter the slave received.
frames() { slave_sim log | grep -c "^$1 " ; }

# called LINE: the stand-ins' log holds exactly that line (scripts started with "&" may log a
# little later: waits up to 5 s).
called() {
  local n
  for n in $(seq 100); do
    grep -qxF "$1" /sim/log/calls.log 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# quiet_printer: stops what boot_supervisor started (the print engine and the interpreter poll the
# slave with A, Q and T all the time; host_link), so that only the test talks to engine_watch,
# and waits until the command intake is empty.
quiet_printer() {
  local keep=" 1 $$ " p=$$ d pid comm n
  while [ "$p" -gt 1 ]; do
    keep="$keep$p "
    p=$(awk '{ print $4 }' "/proc/$p/stat" 2>/dev/null || echo 1)
  done
  for n in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
    local left=0
    for d in /proc/[0-9]*; do
      pid=${d#/proc/}
      case "$keep" in *" $pid "*) continue ;; esac
      read -r comm < "$d/comm" 2>/dev/null || continue
      case "$comm" in
        dot_feeder|dot_feeder_batt|host_link|boot_supervisor|*_interp) kill "$pid" 2>/dev/null; left=1 ;;
      esac
    done
    [ $left = 0 ] && break
    sleep 0.1
  done
  for n in $(seq 100); do
    [ -z "$(ls -A $intake 2>/dev/null)" ] && break
    sleep 0.05
  done
}
