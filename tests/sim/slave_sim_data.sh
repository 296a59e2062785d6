# The simulated slave on its own: the block data port as the print engine uses it, the decoding
# of the profile word stream onto the paper, pacing, stalls, abort, and the command port.
. "$(dirname "$0")/../sandbox/lib.sh"
hss() { "$VPRINTER_BUILD_DIR/tests/sim/hss_tool" "$@"; }

mkdir -p /sim/log
slave_sim run > /sim/log/slave_sim.log 2>&1 &
for _ in $(seq 100); do [ -e /sim/run/slave_sim.ready ] && break; sleep 0.05; done
check_true "simulator ready" test -e /sim/run/slave_sim.ready

# image NAME ROWS [dense]: a test dot image /tmp/NAME.pbm; every fifth row blank.
image() { hss image "/tmp/$1.pbm" "$2" ${3:+dense}; }
stat() { slave_sim stats | tr ' ' '\n' | sed -n "s/^$1=//p"; }
same() { cmp -s "$1" "$2" && echo same || echo different; }
pbm_body() { tail -c +$(( $(head -c 20 "$1" | head -n 2 | wc -c) + 1 )) "$1"; }

# Lines and ports.
check "ready line" "1 0" "$(tr '\n' ' ' < /sys/class/gpio/pioB5/value | sed 's/ $//')"
check "attention line" "1 0" "$(tr '\n' ' ' < /sys/class/gpio/pioC6/value | sed 's/ $//')"
check "abort line" "1 0" "$(tr '\n' ' ' < /sys/class/gpio/pioC7/value | sed 's/ $//')"
check "line files" "in none" "$(cat /sys/class/gpio/pioC7/direction) $(cat /sys/class/gpio/pioC7/edge)"
check_true "command port is a terminal" test -c "$(readlink -f /dev/ttyS1)"
check_true "data port is a terminal" test -c "$(readlink -f /dev/slave_hss)"
check "one-byte reads: ready, then nothing waiting" "1 0" "$(hss probe)"
# The slave asks again 300 ms after a request that brought no block.
probe_ready() { [ "$(hss probe)" = "1 0" ]; }
check_true "asks again after a request that brought no block" eventually probe_ready
check "a request taken without a block is not repeated at once" "took 0" "$(hss take)"

# Fast mode: a short job onto the paper, exactly.
slave_sim set fast=1
slave_sim paper reset
image small 12
hss make /tmp/small.bin /tmp/small.pbm --rs1 40 --burn 900
hss send /tmp/small.bin
slave_sim wait-idle --rows 12 --quiet 0 --timeout 20
check "paper header" "P4 1728 12" "$(head -n 2 /sim/paper.pbm | tr '\n' ' ' | sed 's/ $//')"
check "paper rows are the image" same "$(same <(pbm_body /sim/paper.pbm) <(pbm_body /tmp/small.pbm))"
check "rows.log: a row with dots" "row=1 rs1=40 rs2=40 burns=2 heat=900/0,900/1 banks=0,1,2,3" "$(sed -n 1p /sim/rows.log)"
check "rows.log: a blank row" "row=5 rs1=40 rs2=40 burns=0 heat=- banks=-" "$(sed -n 5p /sim/rows.log)"
check "rows.log: the last row ends the job" "rs2=FF" "$(sed -n 12p /sim/rows.log | cut -d' ' -f3)"
check "profile.bin holds the block received" "4096 same" \
  "$(wc -c < /sim/profile.bin) $(same <(head -c "$(wc -c < /tmp/small.bin)" /sim/profile.bin) /tmp/small.bin)"
check "stats" "12 1 1 0" "$(stat rows) $(stat blocks) $(stat jobs) $(stat stalls)"
png_size() {  # width x height from the PNG header
  set -- $(od -An -tu1 -j16 -N8 "$1")
  echo "$(($1 << 24 | $2 << 16 | $3 << 8 | $4))x$(($5 << 24 | $6 << 16 | $7 << 8 | $8))"
}
check "PNG of the paper" "PNG 1728x12" "$(head -c 4 /sim/paper.png | tail -c 3) $(png_size /sim/paper.png)"

# A job of several blocks, rows running across block boundaries; then two profiles, the first
# ending in the middle of a block with F0 (the job goes on), the second with FF.
slave_sim paper reset
image dense 100 dense
hss make /tmp/dense.bin /tmp/dense.pbm --rs1 72
hss send /tmp/dense.bin
slave_sim wait-idle --rows 100 --quiet 0 --timeout 20
blocks=$(( ($(wc -c < /tmp/dense.bin) + 4095) / 4096 ))
check "dense job: blocks" "$blocks" "$(stat blocks)"
check_true "dense job spans several blocks" test "$blocks" -ge 5
check "dense job on the paper" same "$(same <(pbm_body /sim/paper.pbm) <(pbm_body /tmp/dense.pbm))"
slave_sim paper reset
image part1 40
image part2 30
hss make /tmp/part1.bin /tmp/part1.pbm --end F0
hss make /tmp/part2.bin /tmp/part2.pbm --end FF
hss send /tmp/part1.bin
hss send /tmp/part2.bin
slave_sim wait-idle --rows 70 --quiet 0 --timeout 20
check "two profiles: rows" "70 1" "$(stat rows) $(stat jobs)"
check "two profiles on the paper" same "$(same <(pbm_body /sim/paper.pbm) <(cat <(pbm_body /tmp/part1.pbm) <(pbm_body /tmp/part2.pbm)))"
check "end code F0 logged" "rs2=F0" "$(sed -n 40p /sim/rows.log | cut -d' ' -f3)"

# The battery layout: 12 banks of 18 bytes.
slave_sim paper reset
slave_sim set layout=battery
hss make /tmp/batt.bin /tmp/dense.pbm --layout battery
hss send /tmp/batt.bin
slave_sim wait-idle --rows 100 --quiet 0 --timeout 20
check "battery layout on the paper" same "$(same <(pbm_body /sim/paper.pbm) <(pbm_body /tmp/dense.pbm))"
check "battery layout: twelve banks" "banks=0,1,2,3,4,5,6,7,8,9,10,11" "$(sed -n 1p /sim/rows.log | cut -d' ' -f6)"
slave_sim set layout=auto

# Paced: 40 rows at step 0 take 40 x 2 x 12315 us; the next sheet is held until they are out.
slave_sim set fast=0
slave_sim paper reset
image slow 40
hss make /tmp/slow.bin /tmp/slow.pbm --rs1 0
t0=$(date +%s%N)
hss send /tmp/slow.bin --stopblock
t1=$(date +%s%N)
ms=$(((t1 - t0) / 1000000))
check_true "paced: the paper takes its time, the sender is held ($ms ms)" test "$ms" -ge 950
slave_sim wait-idle --rows 40 --quiet 0 --timeout 20
check "paced: no stall" "40 0" "$(stat rows) $(stat stalls)"

# A stall: a profile that says the job goes on (F0) and then nothing.
slave_sim paper reset
image go 5
hss make /tmp/go.bin /tmp/go.pbm --end F0
hss send /tmp/go.bin
one_stall() { [ "$(stat stalls)" = 1 ]; }
eventually one_stall
check "stall counted" 1 "$(stat stalls)"
slave_sim paper > /dev/null  # writes the logs out
check "stall in rows.log" "stall after row=5" "$(tail -n 1 /sim/rows.log)"
hss send /tmp/small.bin
slave_sim wait-idle --rows 17 --quiet 200 --timeout 20
check "no stall at the end of a job" "1 1" "$(stat stalls) $(stat jobs)"

# Abort: nothing is asked for and what arrives is dropped; afterwards printing goes on.
slave_sim paper reset
slave_sim abort on
check "abort line low" "0" "$(head -c 1 /sys/class/gpio/pioC7/value)"
sleep 0.5
hss send /tmp/small.bin --timeout 1 2>/dev/null
sleep 0.2
check "nothing printed while aborted" 0 "$(stat rows)"
slave_sim abort off
check "abort line high" "1" "$(head -c 1 /sys/class/gpio/pioC7/value)"
hss send /tmp/small.bin
slave_sim wait-idle --rows 12 --quiet 0 --timeout 20
check "printing after abort" "12" "$(stat rows)"

# The command port: replies, acknowledgement pulses, silence.
port() { hss frame "$@"; }
slave_sim set status=12345678 battery=7400 charge=55 charging=1 version=1.2.3.4
check "A: status word" "ack 12345678" "$(port A 0 0 0 0)"
check "Q: battery, charge, charging" "ack 1ce83701" "$(port Q 0 0 0 0)"
check "D: version" "ack 01020304" "$(port D 0 0 0 0)"
check "T: thermistor" "ack 08250000" "$(port T 0 0 0 0)"
check "B: acknowledged, no reply" "ack -" "$(port B 30 0 0 0)"
check "N with data: no reply" "ack -" "$(port N 3 20 10 4)"
slave_sim set label_length=1600 label_gap=24 label_threshold=8
check "N query: label measurement" "ack 06401808" "$(port N 0 0 0 0)"
slave_sim set reply_Y=01020304
check "raw reply override" "ack 01020304" "$(port Y 0 0 0 0)"
slave_sim set silent=1
check "silent: nothing" "none -" "$(port A 0 0 0 0)"
slave_sim set silent=0
check "frames logged" "A 02 41 00 00 00 00 03" "$(slave_sim log | head -n 1)"
check_true "bad value refused" sh -c '! slave_sim set status=xyz 2>/dev/null'
check_true "unknown key refused" sh -c '! slave_sim set colour=blue 2>/dev/null'
check "state file" "status=12345678" "$(grep '^status=' /sim/state)"

finish
