# host_link's Bluetooth serial-port profile reader (through the RFCOMM stand-in) and the serial
# Bluetooth module's line.
. "$(dirname "$0")/host_lib.sh"
. "$(dirname "$0")/net_lib.sh"

start_command_sink
sim_network up --select bt || exit 1
rm -f "$engine"/*
set_key /btConfig/blueTooth.cfg LocalBTSettings BT_TIMEOUT_TICKS 300
start_link ZPL || exit 1
net_host wait-ready --via bt || exit 1

# ---- a 100000-byte streaming job in two files ----------------------------------------------------
start_sink /tmp/bt1
head -c 100000 /dev/urandom > /tmp/bt100k
printf 'AB' | dd of=/tmp/bt100k conv=notrunc status=none
# RFCOMM brings the data in frames of about a thousand bytes.
net_host send --via bt --chunk 990 --pause 1 --hold 500 /tmp/bt100k
wait_jobs /tmp/bt1 2 20
size1=$(grep printjob /tmp/bt1/sink.log | head -1 | cut -d' ' -f2)
check "two job files" "2" "$(grep -c printjob /tmp/bt1/sink.log)"
check_true "the first closed after passing 81920 bytes ($size1)" test "$size1" -gt 81920 -a "$size1" -lt 100000
check "together the job, byte for byte" "$(sha256sum < /tmp/bt100k)" "$(sha256sum < /tmp/bt1/sink.data)"

# ---- idle close: BT_TIMEOUT_TICKS for a streaming job, the host still connected ---------------------
reset_sink /tmp/bt2
printf '^XA^FDidle close^FS^XZ' > /tmp/idle
net_host send --via bt --stamp /tmp/stamp --hold 3000 /tmp/idle &
h=$!
wait_jobs /tmp/bt2 1 10
arrived=$(now_ms)
sent=$(stamp_ms /tmp/stamp)
check_true "closed while the host is connected" kill -0 $h
check_true "300 ticks after the last data ($((arrived - sent)) ms)" test $((arrived - sent)) -ge 280
wait $h
stop_sink
stop_link

# ---- a whole-job emulation waits ten times as long; a hang-up shortens the wait -------------------------
start_link PDF || exit 1
net_host wait-ready --via bt || exit 1
start_sink /tmp/bt3
printf '%%PDF-1.4 kept open' > /tmp/open
net_host send --via bt --stamp /tmp/stamp --hold 8000 /tmp/open &
h=$!
wait_jobs /tmp/bt3 1 15
arrived=$(now_ms)
sent=$(stamp_ms /tmp/stamp)
check_true "3000 ticks after the data while connected ($((arrived - sent)) ms)" test $((arrived - sent)) -ge 2900 -a $((arrived - sent)) -lt 8000
kill $h 2>/dev/null
wait $h 2>/dev/null
reset_sink /tmp/bt3
printf '%%PDF-1.4 hung up' > /tmp/hangup
net_host send --via bt /tmp/hangup
hung=$(now_ms)
wait_jobs /tmp/bt3 1 15
after=$(( $(now_ms) - hung ))
check_true "a hang-up leaves 1000 of the 3000 ticks ($after ms)" test $after -ge 800 -a $after -lt 2500
check "the job arrives whole" "$(hex /tmp/hangup)" "$(hex /tmp/bt3/sink.data)"

# ---- packet mode over RFCOMM: payloads only, a repeated status request is answered ------------------
reset_sink /tmp/bt3
printf '%%PDF-1.4 in packages, long enough to be split into three of them\n' > /tmp/pkg
net_host packets --via bt --count 3 --status-between /tmp/pkg > /tmp/pkg.out
check "every package and status request answered" "0" "$?"
wait_jobs /tmp/bt3 1 15
check "the job holds the payloads only" "$(hex /tmp/pkg)" "$(hex /tmp/bt3/sink.data)"
stop_sink
stop_link

# ---- the serial module's line --------------------------------------------------------------------
sim_network up --select serial
set_key /btConfig/blueTooth.cfg LocalBTSettings NSCBT_BAUD 460800
start_link ZPL || exit 1
net_host wait-ready --via serial || exit 1
check "NSCBT_BAUD 460800: the line runs at 460800 baud" "460800" "$(stty -F /dev/ttyS2 speed)"
check "raw, with a read time-out of NSCBT_TIMEOUT_TICKS" "min = 0; time = 10;" \
  "$(stty -a -F /dev/ttyS2 | grep -o 'min = [0-9]*; time = [0-9]*;')"
check_true "hardware flow control" grep -qw crtscts <<<"$(stty -a -F /dev/ttyS2)"
start_sink /tmp/ser
printf '^XA^FDover the serial module^FS^XZ' > /tmp/serial_job
net_host send --via serial /tmp/serial_job
wait_jobs /tmp/ser 1 10
check "a job ends at the line's read time-out and arrives whole" "$(hex /tmp/serial_job)" "$(hex /tmp/ser/sink.data)"
stop_sink
stop_link
set_key /btConfig/blueTooth.cfg LocalBTSettings NSCBT_BAUD 9600
start_link ZPL || exit 1
net_host wait-ready --via serial || exit 1
check "NSCBT_BAUD 9600 is no speed of the module: 115200" "115200" "$(stty -F /dev/ttyS2 speed)"
stop_link

finish
