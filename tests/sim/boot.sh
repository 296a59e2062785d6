#!/usr/bin/env bash
# The platform start-up of the virtual printer (vprinter run --boot), run from outside.
set -u
. "$(dirname "$0")/../sandbox/lib.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
vp() { "$root/vprinter" run --no-build "$@"; }

# The command runs once the printer is up; its status is the sandbox's. The status string is read
# once engine_watch has written one with the new error code (the replies are handled after the
# frames, and engine_watch polls A, Q and T by itself too): a bounded wait for that, no fixed pause.
out=$(vp --boot sh -c '
  slave_sim set status=00000003 charge=15
  /root/engine_cmd Q
  /root/engine_cmd A
  for i in $(seq 600); do
    [ "$(cut -c8-9 /tmp/return.dat 2>/dev/null)" = 03 ] && break
    sleep 0.05
  done
  cat /tmp/return.dat')
check "positions 0 and 2" "1 1" "${out:0:1} ${out:2:1}"
check "error code with a charge of 15 %" "03" "${out:7:2}"
check "status string length" 23 "${#out}"

vp --boot sh -c 'exit 7'
check "exit status of the command" 7 "$?"

state=$(vp --boot sh -c '
  test -e /sim/run/up && echo up
  kill -0 "$(cat /sim/run/slave_sim.pid)" && echo slave
  pidof engine_watch > /dev/null && echo engine_watch
  test -d /tmp/command_intake && echo intake
  test -e /tmp/slave_version.txt && echo version
  test -e /sim/log/engine_watch.log && echo log
  slave_sim log | grep -q "^D " && echo D
' | tr '\n' ' ')
check "booted" "up slave engine_watch intake version log D " "$state"

# Everything is stopped at the end, the paper is written out; --keep shows it. The command waits
# for its own frame: the interpreter started at boot sends "B 0" when its input runs dry, so a wait
# for any B frame could end before "B 1" had gone out, and the sandbox was torn down without it.
keep=$(mktemp -d)
vp --keep "$keep" --boot sh -c 'sleep 30 & /root/engine_cmd B 1; slave_sim wait-frame "B 02 42 31" --timeout 60'
check "the command's own background job does not hold the end" 0 "$?"
check_true "paper kept" test -e "$keep/sim/paper.pbm"
check_true "frames log kept" grep -q "^B 02 42 31" "$keep/sim/log/frames.log"
rm -rf "$keep"

finish
