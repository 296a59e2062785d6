# Helpers for the host_link tests inside the virtual printer.
. "$(dirname "${BASH_SOURCE[0]}")/../sandbox/lib.sh"

engine=/tmp/engine_intake
jobs=/jobIntake
reprint=/jobIntake/reprint
commands_log=/tmp/commands.log
link_pid=""
sink_pid=""

# These tests look at host_link alone: the device's abort script (which restarts interpreters) is
# replaced by one that only records its calls, as the simulator's stand-ins do. host_link runs it
# with "e" whenever it starts again after a first start.
printf '#!/bin/sh\necho "/home/abort_deal.sh $*" >> /sim/log/calls.log\n' > /home/abort_deal.sh
chmod +x /home/abort_deal.sh

# Stands in for engine_watch: takes each command file and logs "<file> <bytes>".
start_command_sink() {
  mkdir -p /tmp/command_intake
  : > "$commands_log"
  (
    while :; do
      for f in /tmp/command_intake/command-*; do
        [ -e "$f" ] || continue
        echo "${f##*/} $(hex "$f")" >> "$commands_log"
        rm -f "$f"
      done
      sleep 0.01
    done
  ) &
  command_sink_pid=$!
}

# set_key FILE GROUP KEY VALUE (the key exists in the file already)
set_key() { sed -i "s|^$3=.*|$3=$4|" "$1"; }

# start_link [EMULATION]: the gadget, then host_link with configEmulation EMULATION.
start_link() {
  [ -n "${1:-}" ] && set_key /imageConfig/image_config.cfg Image configEmulation "$1"
  usb_host serve || return 1
  ${LINK_PREFIX:-} /root/host_link &
  link_pid=$!
  # host_link is up once it holds the gadget open.
  local i
  for i in $(seq 200); do
    ls -l /proc/$link_pid/fd 2>/dev/null | grep -q /dev/pts/ && return 0
    sleep 0.01
  done
  echo "host_link did not open the gadget"
  return 1
}

stop_link() {
  [ -n "$link_pid" ] && { kill "$link_pid" 2>/dev/null; wait "$link_pid" 2>/dev/null; }
  link_pid=""
}

# Waits until host_link has read everything the host wrote, closed its job file and the job mover
# has handed over every whole-job file.
wait_idle() {
  local i quiet=0
  for i in $(seq 1000); do
    if [ "$(usb_host pending)" = 0 ] &&
       ! ls -l /proc/$link_pid/fd 2>/dev/null | grep -q -e "$engine/printjob" -e "$jobs/printjob" &&
       ! ls "$jobs"/printjob-* >/dev/null 2>&1; then
      quiet=$((quiet + 1))
      [ $quiet -ge 3 ] && return 0
    else
      quiet=0
    fi
    sleep 0.02
  done
  echo "host_link did not become idle"
  return 1
}

# send FILE... as the host, then wait until host_link is idle
send() { usb_host send "$@" && wait_idle; }

# job files in the engine intake, oldest name first: "name size" per line
intake_files() { (cd "$engine" && for f in $(ls -tr --time=ctime 2>/dev/null); do echo "$f $(stat -c %s "$f")"; done); }

# start_sink OUT: a stand-in interpreter taking the job files into OUT/sink.{log,data}
start_sink() {
  cp /sim/bin/job_sink /tmp/sink
  rm -rf "$1"
  /tmp/sink --out "$1" &
  sink_pid=$!
  local i
  for i in $(seq 200); do grep -qs started "$1/sink.log" && return 0; sleep 0.01; done
  echo "the stand-in interpreter did not start"
}

stop_sink() { [ -n "$sink_pid" ] && { kill "$sink_pid"; wait "$sink_pid" 2>/dev/null; }; sink_pid=""; }

# wait_size FILE SIZE: until FILE holds SIZE bytes (20 s at most)
wait_size() {
  local i
  for i in $(seq 2000); do [ "$(stat -c %s "$1" 2>/dev/null)" = "$2" ] && return 0; sleep 0.01; done
  return 1
}

# until every queued "engine_cmd" has handed its command over
wait_commands() {
  local i
  for i in $(seq 500); do
    pgrep -x engine_cmd >/dev/null || ls /tmp/command_intake/command-* >/dev/null 2>&1 || return 0
    sleep 0.01
  done
}

count_b1() { grep -c "command-B 02 42 31 00 00 00 03" "$commands_log"; }
# b1_sent N: the number of "engine_cmd B 1" frames once N have come (or after 5 s)
b1_sent() {
  local i
  for i in $(seq 250); do [ "$(count_b1)" -ge "$1" ] && break; sleep 0.02; done
  sleep 0.1
  count_b1
}
