# A busy slave: every reply comes 400 ms late for 5 s (after engine_watch has given the command
# up), then the slave is normal again. No reply may be read as another command's: the status
# string, the temperature and charge files and the heat of the printed rows only ever show what
# the slave answered to that command, and no status bit runs a script it did not set.
# The printer runs as booted: the print engine asks for A, Q and T all the time.
. "$TESTS_DIR/engine/e2e_lib.sh"

# poller_cycled: waits until the print engine has asked for the temperature twice more, so it has
# read the temperature file at least once since now.
poller_cycled() {
  local n
  n=$(grep -c '^T ' /sim/log/frames.log)
  sim wait-frame T --count $((n + 2)) --timeout 20 > /dev/null
}

# Every reply tells on itself when it is read as another: T's 08 40 as a status word carries the
# head-life bit 0x400000 (and 0x08000000); A's zero word as a temperature is 0 mV; Q's 8000 mV
# battery as a temperature is beyond any head.
sim set fast=1 thermistor=2112 status=00000000 battery=8000 charge=50 charging=0 > /dev/null
for _ in $(seq 100); do [ "$(cat /tmp/temperature.txt 2>/dev/null)" = 2112 ] && break; sleep 0.05; done
check "the temperature is read before the test" "2112" "$(cat /tmp/temperature.txt 2>/dev/null)"
poller_cycled

mean_heat() {
  sim paper > /dev/null
  sed -n 's/.* heat=\([0-9]*\)\/\([0-9]*\).*/\1 \2/p' /sim/rows.log | awk '{ s += $1 + $2; n++ } END { if (n) printf "%d\n", s / n; else print 0 }'
}
image heat 400 --seed 71
new_paper
drop heat
printed 400
ref_heat=$(mean_heat)

: > /sim/log/calls.log
slave_sim log --clear
new_paper
sim set delay=400 delay_for=5 > /dev/null
drop heat   # printed while the slave is late

# Every 20 ms for 7 s: the files engine_watch writes hold only what the slave answered to them.
bad=""
samples=0
end=$(($(date +%s%N) + 7000000000))
while [ "$(date +%s%N)" -lt "$end" ]; do
  t=$(cat /tmp/temperature.txt 2>/dev/null)
  q=$(cat /tmp/query_response.txt 2>/dev/null)
  s=$(cat /tmp/return.dat 2>/dev/null)
  samples=$((samples + 1))
  [ "$t" = 2112 ] || bad="$bad temperature=$t"
  case "$q" in 08000,50,0) ;; *) bad="$bad query=$q" ;; esac
  # positions 0-4 and 9 from A (all clear), 10-11 from T (26 degrees), error code 00
  [ "${s:0:5}" = 00000 ] && [ "${s:7:5}" = "00026" ] || bad="$bad status=$s"
  sleep 0.02
done
check "no file shows a reply read as another command's ($samples samples)" "" "$([ -z "$bad" ] || echo $bad | tr ' ' '\n' | sort -u | head -5 | tr '\n' ' ')"
check_true "the slave answered late meanwhile" grep -q "delay=400" /sim/log/replies.log
check_true "and is answering in time again" sh -c 'tail -n 3 /sim/log/replies.log | grep -q "delay=0"'
check "no script was started by a misread status bit" "" "$(grep -v '^php' /sim/log/calls.log)"
printed 400
check "the label printed while the slave was late has the heat of the reference ($ref_heat us)" "$ref_heat" "$(mean_heat)"

# After the late phase replies are read again at once.
sim set thermistor=1700 > /dev/null
for _ in $(seq 100); do [ "$(cat /tmp/temperature.txt)" = 1700 ] && break; sleep 0.05; done
check "replies are taken again once the slave is in time" "1700" "$(cat /tmp/temperature.txt)"
poller_cycled
new_paper
drop heat
printed 400
warm=$(mean_heat)
check_true "and a warmer head gets less heat ($warm against $ref_heat us)" test "$warm" -lt "$ref_heat"

# A reply that is no temperature (a slave answering T with its battery voltage) is not used for heat.
sim set reply_T=1F400000 > /dev/null
for _ in $(seq 100); do [ "$(cat /tmp/temperature.txt)" = 8000 ] && break; sleep 0.05; done
poller_cycled
new_paper
drop heat
printed 400
check "a thermistor reading beyond any head keeps the heat of the last good one" "$warm" "$(mean_heat)"
sim set reply_T= > /dev/null

finish
