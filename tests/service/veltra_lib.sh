# Helpers of the service language's tests in the booted virtual printer.
. "$(dirname "${BASH_SOURCE[0]}")/../sandbox/lib.sh"

VLOG=/sim/log/veltra_interp.log
calls=/sim/log/calls.log
work=$(mktemp -d /tmp/veltra_test.XXXXXX)
job_number=0

# until TENTHS COMMAND...: polls every 50 ms until COMMAND succeeds; false on time-out.
until_true() {
  local n=$(($1 * 2))
  shift
  while ! "$@" > /dev/null 2>&1; do
    n=$((n - 1))
    [ $n -gt 0 ] || return 1
    sleep 0.05
  done
}

# start_veltra: the service language as the running interpreter (its output to $VLOG).
start_veltra() {
  /home/start_emulation.sh VELTRA >> "$VLOG" 2>&1
  until_true 100 pidof veltra_interp
}

# send FILE: hands a job file to the running interpreter (moved into the engine intake, as
# host_link does) and waits until it has been taken.
send() {
  job_number=$((job_number + 1))
  local tmp=$work/job-$job_number  # written outside the intake, then moved in whole
  cp "$1" "$tmp"
  mv "$tmp" "/tmp/engine_intake/printjob-$job_number"
  until_true 600 test ! -e "/tmp/engine_intake/printjob-$job_number"
}

# send_bytes PRINTF-FORMAT: a job of these bytes.
send_bytes() {
  printf "$1" > "$work/bytes"
  send "$work/bytes"
}

# frames_since: the command letters the slave received since `slave_sim log --clear`, without the
# print engine's own queries (A Q T Z) and B, one string.
letters() { slave_sim log | cut -c1 | grep -v -e A -e Q -e T -e Z -e B | tr -d '\n'; }

# reported TEXT [TENTHS]: veltra_interp reported a line containing TEXT (in any log).
reported() { until_true "${2:-100}" grep -qF "veltra_interp: $1" /sim/log/*.log; }

# boots: how often the printer has started.
boots() { cat /sim/run/boots 2>/dev/null || echo 0; }
# rebooted N: waits until the printer has started N times and is up.
started_times() { [ "$(boots)" -ge "$1" ] && [ -e /sim/run/up ]; }
rebooted() { until_true 600 started_times "$1"; }

not_running() { ! pidof "$1" > /dev/null; }

# restarted NAME OLD_PID: waits until NAME runs with another process id.
other_pid() { local p; p=$(pidof "$1") && [ -n "$p" ] && [ "$p" != "$2" ]; }
restarted() { until_true 100 other_pid "$1" "$2"; }

# prints_a_label: a ZPL label through the running zpl_interp reaches the paper.
prints_a_label() {
  until_true 200 pidof zpl_interp || return 1
  slave_sim set fast=1 > /dev/null
  slave_sim paper reset > /dev/null
  printf '^XA^FO50,50^A0N,60,60^FDAFTER UPDATE^FS^XZ' > "$work/label.zpl"
  send "$work/label.zpl"
  slave_sim wait-idle --rows 40 --timeout 60 > /dev/null
}

# tar_gz DIR OUT MEMBER...: an archive of members of a folder.
tar_gz() {
  local d=$1 o=$2
  shift 2
  tar -C "$d" -czf "$o" "$@"
}
