# host_link's answers over the network and USB: status at start, the abort input and the error
# code it forces, discovery broadcasts, raster pages on port 9100, the response pipe.
. "$(dirname "$0")/host_lib.sh"
. "$(dirname "$0")/net_lib.sh"

start_command_sink
sim_network up --select wifi || exit 1
mkdir -p /sys/class/gpio/pioC7
printf '1\n0\n' > /sys/class/gpio/pioC7/value
/sim/bin/sim_keyset /home/serial_number.cfg "Serial Number" configSN 123456
rm -f /home/hostname.conf "$engine"/* /tmp/check_im
mkdir -p /tmp/dot_feeder_intake
start_link ZPL || exit 1
net_host wait-ready --via wifi || exit 1
start_sink /tmp/ctl

status_request=0000000000001f525f01
status() { net_host request --via "${1:-wifi}" $status_request --expect 12; }
ascii() { printf '%s' "$1" | od -An -tx1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

# ---- status at start ---------------------------------------------------------------------------
check "status at start over TCP" "$(ascii 000005000025)" "$(status)"
check "and over USB" "$(ascii 000005000025)" "$(status usb)"
check "printer information: the firmware version" "$(ascii 01.05.00.00)" \
  "$(net_host request --via wifi 0000000000001f525f00 --expect 11)"

# ---- the abort input -----------------------------------------------------------------------------
grep -q '^/home/abort_deal.sh' /sim/log/calls.log 2>/dev/null
check "no abort handling at start" "1" "$?"
printf '0\n1\n' > /sys/class/gpio/pioC7/value
for i in $(seq 100); do grep -q '^/home/abort_deal.sh ZPL s' /sim/log/calls.log 2>/dev/null && break; sleep 0.05; done
check_true "an abort runs abort_deal.sh with the emulation and s" grep -q '^/home/abort_deal.sh ZPL s' /sim/log/calls.log
check "during an abort the error code reads 01" "$(ascii 000005001025)" "$(status)"
for letter in A Q T; do
  for i in $(seq 100); do grep -q "^command-$letter " "$commands_log" && break; sleep 0.02; done
  check_true "command file $letter written during the abort" grep -q "^command-$letter 02 $(ascii $letter) 00 00 00 00 03" "$commands_log"
done
printf 'dropped during the abort' > /tmp/dropped
net_host send --via wifi /tmp/dropped
printf '1\n1\n' > /sys/class/gpio/pioC7/value
for i in $(seq 100); do grep -q '^/home/abort_deal.sh ZPL e' /sim/log/calls.log 2>/dev/null && break; sleep 0.05; done
released=$(now_ms)
check_true "its end runs abort_deal.sh with e" grep -q '^/home/abort_deal.sh ZPL e' /sim/log/calls.log
check "after the abort the error code still reads 01" "$(ascii 000005001025)" "$(status)"
for i in $(seq 300); do [ "$(status)" = "$(ascii 000005000025)" ] && break; sleep 0.1; done
back=$(( $(now_ms) - released ))
check "7.5 s later it is 00 again" "$(ascii 000005000025)" "$(status)"
check_true "not before ($back ms)" test $back -ge 7000
check "data sent during the abort never reach a job file" "" "$(cat /tmp/ctl/sink.data 2>/dev/null)"

# ---- discovery ---------------------------------------------------------------------------------
signature=$(ascii TELMARON-KVX | tr -d ' ')
out=$(net_host discover --timeout 3)
check "answered from the printer's Wi-Fi address" "printer at 192.168.1.100 (256 bytes)" "$(head -1 <<<"$out")"
check "name" "  name: KVX8" "$(sed -n 2p <<<"$out")"
check "host name from the serial number" "  host name: H-123456" "$(sed -n 4p <<<"$out")"
check "the address bcast.sh leaves" "  address: 192.168.1.100" "$(sed -n 5p <<<"$out")"
raw=$(net_host discover --raw --timeout 3 --request "${signature}00000000a1b2c3d4")
check "the answer is 256 bytes" "256" "$(wc -w <<<"$raw")"
check "bytes 16..19 of the request come back" "a1 b2 c3 d4" "$(cut -d' ' -f17-20 <<<"$raw")"
check "host name field: H-123456 and zero bytes" "$(ascii H-123456) 00 00 00 00 00 00 00 00" "$(cut -d' ' -f77-92 <<<"$raw")"
net_host discover --timeout 1 --request "41${signature}" > /dev/null
check "signature at byte 1 after a non-zero byte: answered" "0" "$?"
net_host discover --timeout 1 --request "4142${signature}" > /dev/null 2>&1
check "signature at byte 2: not answered" "1" "$?"
net_host discover --timeout 1 --request "00${signature}" > /dev/null 2>&1
check "a zero first byte: not answered" "1" "$?"
echo "label-printer-7" > /home/hostname.conf
check "the host name file wins" "  host name: label-printer-7" "$(net_host discover --timeout 3 | sed -n 4p)"

# ---- raster pages on port 9100 -----------------------------------------------------------------
# (The pages are not named *.pgm here: host_link removes every /tmp/*.pgm after a page.)
# 576 dots wide, 3 rows: a black bar of 16 dots at the left, white elsewhere (mean 241: threshold 221).
python3 -c '
import sys
row = bytes([0] * 16 + [255] * 560)
sys.stdout.buffer.write(b"P5\n576 3 255\n" + row * 3)' > /tmp/page1.grey
python3 -c '
import sys
sys.stdout.buffer.write(b"P5\n1728 2 255\n" + bytes([255] * 1727 + [0]) * 2)' > /tmp/page2.grey
net_host raster /tmp/page1.grey
img=/tmp/dot_feeder_intake/imge.pbm
for i in $(seq 250); do [ -s $img ] && break; sleep 0.02; done
check "the page becomes a dot image of the head's width" "P4 1728 00003" "$(head -c 14 $img | tr '\n' ' ' | sed 's/ $//')"
check "centred: 72 zero bytes, then the bar" "00 00 ff ff 00" "$(od -An -tx1 -j $((14 + 70)) -N 5 $img | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')"
net_host raster /tmp/page2.grey
sleep 0.5
check "a second page waits while the first has not been taken" "P4 1728 00003" "$(head -c 14 $img | tr '\n' ' ' | sed 's/ $//')"
rm $img
for i in $(seq 250); do [ -s $img ] && break; sleep 0.02; done
check "then it follows" "P4 1728 00002" "$(head -c 14 $img | tr '\n' ' ' | sed 's/ $//')"
check "no receive file is left" "" "$(ls /tmp/*.pgm 2>/dev/null)"
printf 'P5\n0 10 255\n' > /tmp/bad.grey
rm -f $img
net_host raster /tmp/bad.grey
sleep 0.5
check "a page of width 0 is refused" "" "$(ls $img 2>/dev/null)"

# ---- the response pipe -----------------------------------------------------------------------
# The last data came over the network: answers wait for USB data.
printf '^XA^XZ' > /tmp/small
net_host send --via wifi /tmp/small
before=$(usb_host replies | wc -c)
# One writer after the other: the second opens the pipe only when the watcher has read the first
# answer to its end and waits for the next writer (else the two would be one answer).
pipe_thread=$(for t in /proc/$link_pid/task/*; do [ "$(cat $t/comm)" = resp_pipe ] && echo $t; done)
switches() { sed -n 's/^voluntary_ctxt_switches:[[:space:]]*//p' $pipe_thread/status; }
n=$(switches)
printf 'first answer' > /tmp/host_response_pipe
for i in $(seq 250); do [ "$(switches)" -gt "$n" ] && grep -q wait_for_partner $pipe_thread/wchan && break; sleep 0.02; done
printf 'second answer' > /tmp/host_response_pipe
sleep 0.5
check "answers wait while the route is the network" "$before" "$(usb_host replies | wc -c)"
usb_host send /tmp/small
for i in $(seq 250); do [ "$(usb_host replies | wc -c)" -ge $((before + 256)) ] && break; sleep 0.02; done
check "both reach the USB host as 128-byte blocks" "$((before + 256))" "$(usb_host replies | wc -c)"
check "the first first" "first answer" "$(usb_host replies | tail -c 256 | head -c 128 | tr -d '\0')"
check "then the second" "second answer" "$(usb_host replies | tail -c 128 | tr -d '\0')"

stop_sink
stop_link
finish
