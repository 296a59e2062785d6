# engine_watch against the simulated slave: the link itself. A silent slave, the attention line,
# command files that vanish, the outside scripts of the status bits, whole status files.
. "$(dirname "$0")/slave_lib.sh"
quiet_printer

# Diagnostics on, so that "Command reply fail" and "abort" can be seen.
sim_keyset /home/globalDefines.cfg Misc DEBUG_MSG 1
sim_restart engine_watch
restarted=$(date +%s%N)
ewlog=/sim/log/engine_watch.log
wait_for /sys/class/gpio/pioB5/value
sleep 0.3

# A silent slave: the command is dropped after 200 ms and the next one still goes out.
sim silent=1
before=$(frames A)
t0=$(date +%s%N)
cmd A
t1=$(date +%s%N)
elapsed=$(((t1 - t0) / 1000000))
check "silent slave: the A frame went out" "$((before + 1))" "$(frames A)"
check_true "silent slave: waited at least 200 ms ($elapsed ms)" test "$elapsed" -ge 195
check_true "silent slave: Command reply fail" grep -q "Command reply fail" "$ewlog"
sim silent=0 charge=42
cmd Q
check "next command after a silent one goes out and is answered" "42" "$(cut -d, -f2 /tmp/query_response.txt)"

# A slow slave (300 ms) misses the window; its late answer does not spoil the next reply.
sim delay=300 status=00000001
cmd A
sleep 0.4
sim delay=0 status=00000002
cmd A
check "late answer dropped, next reply read in step" "0 1 02" "$(status 0 0) $(status 2 2) $(status 7 8)"
sim status=00000000; cmd A

# A command file that vanishes before it is read sends nothing (and not the previous frame);
# nor does a file cut short.
sim silent=1
n0=$(slave_sim log | wc -l)
/root/engine_cmd A   # engine_watch now waits 200 ms for an acknowledgement that never comes
sleep 0.05
printf '\002Q\000\000\000\000\003' > $intake/command-Q
rm -f $intake/command-Q
printf '\002T\000' > $intake/command-T
wait_gone $intake/command-A
wait_gone $intake/command-T
sim silent=0
cmd Z
check "vanished and short files send nothing" "A Z" "$(slave_sim log | tail -n +$((n0 + 1)) | cut -c1 | tr '\n' ' ' | sed 's/ $//')"

# The attention line: a short pulse fetches the status, a held line is an abort. engine_watch
# listens to it 2 s after its start.
left=$(( (2300000000 - ($(date +%s%N) - restarted)) / 1000000 ))
[ $left -gt 0 ] && sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))"
rm -f /tmp/return.dat
sim status=00000001
before=$(frames A)
slave_sim attention
wait_for /tmp/return.dat 30
check "attention pulse: A query" "$((before + 1))" "$(frames A)"
check "attention pulse: fresh status string" "1" "$(status 0 0)"
sim status=00000000
before=$(frames A)
slave_sim attention hold
eventually grep -q "^abort" "$ewlog"
check "attention held low: no query" "$before" "$(frames A)"
check_true "attention held low: abort" grep -q "^abort" "$ewlog"
slave_sim attention release
sleep 0.2
slave_sim attention
slave_sim wait-frame A --count $((before + 1)) --timeout 5
check "attention works again after release" "$((before + 1))" "$(frames A)"
wait_gone $intake/command-A

# The status bits that start outside scripts.
cp "$VPRINTER_BUILD_DIR/tests/slave/fake_engine" /root/dot_feeder
cp "$VPRINTER_BUILD_DIR/tests/slave/fake_engine" /root/dot_feeder_battery
# The test page script of the device image starts selftest_interp: here one that only logs.
printf '#!/bin/sh\necho selftest_interp >> /sim/log/calls.log\n' > /root/selftest_interp
chmod +x /root/selftest_interp
: > /sim/log/calls.log
sim status=00000100; cmd A
for _ in $(seq 60); do called selftest_interp && break; sleep 0.05; done
check_true "0x100: test page (create_testpage.sh starts selftest_interp)" called selftest_interp
: > /sim/log/calls.log
sim status=00000101; cmd A
check_true "0x100 with the lid open: no test page" test ! -s /sim/log/calls.log
sim status=00000800; cmd A
check_true "0x800: IP over USB up" called "php /home/ipoverusbUP.php"
: > /sim/log/calls.log
echo 1 > /tmp/check_im
before_x=$(frames X); before_s=$(frames S); before_y=$(frames Y)
sim status=00002000 power=1; cmd A
check_true "0x2000: IP over USB down" called "php /home/ipoverusbDOWN.php"
check "0x2000: check_im removed" 0 "$(test -e /tmp/check_im && echo 1 || echo 0)"
slave_sim wait-frame Y --count $((before_y + 1)) --timeout 5
check "0x2000: X, S 1 and Y follow" "$((before_x + 1)) $((before_s + 1)) $((before_y + 1))" \
  "$(frames X) $(frames S) $(frames Y)"
check "0x2000: S 1 frame" "S 02 53 31 00 00 00 03" "$(slave_sim log | grep '^S ' | tail -n 1)"
check "0x2000: in the order X, S, Y" "X S Y" "$(slave_sim log | grep -E '^(X|S|Y) ' | tail -n 3 | cut -c1 | tr '\n' ' ' | sed 's/ $//')"
# Repeated replies with the bit, while its commands are still queued, do not hang the link.
for i in 1 2 3; do /root/engine_cmd A; done
sim status=00000000
cmd A
check "0x2000 repeated: link still answers" "00" "$(status 7 8)"
wait_gone $intake/command-Y 50
: > /sim/log/calls.log
sim status=00400000; cmd A
check_true "0x400000: head life record" called "/home/recode_headlife.sh"
sim status=20000000; cmd A
check_true "0x20000000: wifi log start" called "/home/recd_wifi_log.sh start"
sim status=60000000; cmd A
check "0x60000000: start only" 2 "$(grep -c 'recd_wifi_log.sh start' /sim/log/calls.log)"
sim status=40000000; cmd A
check_true "0x40000000: wifi log stop" called "/home/recd_wifi_log.sh stop"
sim status=00000000; cmd A

# Status files are replaced whole: a reader never sees a half-written string.
cmd A; cmd T
(
  for i in $(seq 40); do
    slave_sim set status=0000000$((i % 4)) thermistor=$((1500 + i * 10)) > /dev/null
    /root/engine_cmd A
    /root/engine_cmd T
  done
) &
writer=$!
bad=0 reads=0
while kill -0 $writer 2>/dev/null; do
  s=$(cat /tmp/return.dat)
  t=$(cat /tmp/temperature.txt)
  reads=$((reads + 1))
  [ ${#s} -eq 23 ] || bad=$((bad + 1))
  [ ${#t} -eq 4 ] || bad=$((bad + 1))
done
wait $writer
wait_gone $intake/command-A; wait_gone $intake/command-T
check "status and temperature always whole ($reads reads)" 0 "$bad"
check "no temporary files left in /tmp" "" "$(ls -A /tmp | grep '^\.' | grep -E 'return|temperature|query')"

finish
