# host_link's Wi-Fi socket: jobs over TCP from the network's namespace, one connection at a time,
# packet mode with status requests, the idle close.
. "$(dirname "$0")/host_lib.sh"
. "$(dirname "$0")/net_lib.sh"

start_command_sink
sim_network up --select wifi || exit 1
set_key /btConfig/blueTooth.cfg LocalBTSettings BT_TIMEOUT_TICKS 500
rm -f "$engine"/*
start_link ZPL || exit 1
net_host wait-ready --via wifi || exit 1
start_sink /tmp/net

# ---- 20 MB of plain data arrive byte for byte --------------------------------------------------
head -c 20000000 /dev/urandom > /tmp/big
printf 'AB' | dd of=/tmp/big conv=notrunc status=none
net_host send --via wifi /tmp/big
wait_bytes /tmp/net/sink.data 20000000 120
check "20 MB over TCP arrive complete and in order" "$(sha256sum < /tmp/big)" "$(sha256sum < /tmp/net/sink.data)"
check "no job file smaller than the size limit but the last" "" \
  "$(grep printjob /tmp/net/sink.log | head -n -1 | awk '$2 <= 61440')"
reset_sink /tmp/net

# ---- packet mode: a label as four packages, a status request between them ------------------------
printf '^XA^FO50,50^A0N,40,0^FDPackaged label one^FS^FO50,120^A0N,40,0^FDand its second field^FS^XZ\n' > /tmp/label.zpl
net_host packets --via wifi --count 4 --status-between /tmp/label.zpl > /tmp/packets.out
check "every package and status request answered" "0" "$?"
check "four package answers and three status answers" "4 3" \
  "$(grep -c '^package' /tmp/packets.out) $(grep -c '^status:' /tmp/packets.out)"
check "status answers read as at start" "30 30 30 30 30 35 30 30 30 30 32 35" "$(grep -m1 '^status:' /tmp/packets.out | cut -d' ' -f2-)"
wait_bytes /tmp/net/sink.data "$(stat -c %s /tmp/label.zpl)" 20
check "the job holds the payloads only, no package header" "$(hex /tmp/label.zpl)" "$(hex /tmp/net/sink.data)"
check "in streaming style one job file per package" "4" "$(grep -c printjob /tmp/net/sink.log)"
reset_sink /tmp/net

# ---- a second connection from the same address closes the first and its job ---------------------
printf '^XA^FDfirst connection^FS^XZ' > /tmp/first
printf '^XA^FDsecond connection^FS^XZ' > /tmp/second
net_host send --via wifi --hold 8000 /tmp/first &
first=$!
wait_received "$(stat -c %s /tmp/first)" || echo "the first connection's data were not read"
t0=$(now_ms)
net_host send --via wifi --hold 300 /tmp/second
wait_jobs /tmp/net 2 10
check "the first job ended when the same host connected again" "printjob $(stat -c %s /tmp/first)" \
  "$(grep printjob /tmp/net/sink.log | head -1 | sed 's/-[0-9]*//')"
check "the second connection is a job of its own" "$(cat /tmp/first /tmp/second | hex /dev/stdin)" "$(hex /tmp/net/sink.data)"
check_true "long before the first host let go ($(( $(now_ms) - t0 )) ms)" test $(( $(now_ms) - t0 )) -lt 6000
kill $first 2>/dev/null
wait $first 2>/dev/null
reset_sink /tmp/net

# ---- a connection from another address waits until the first ends ------------------------------
printf '^XA^FDfrom the first host^FS^XZ' > /tmp/hostA
printf '^XA^FDfrom another host^FS^XZ' > /tmp/hostB
net_host send --via wifi --hold 3000 /tmp/hostA &
a=$!
wait_received "$(stat -c %s /tmp/hostA)"
net_host send --via wifi --from 192.168.1.7 /tmp/hostB
check "the other host's job waits while the first connection lasts" "" "$(cat /tmp/net/sink.data 2>/dev/null)"
wait $a
wait_jobs /tmp/net 2 10
check "then both arrive, first host first" "$(cat /tmp/hostA /tmp/hostB | hex /dev/stdin)" "$(hex /tmp/net/sink.data)"
reset_sink /tmp/net

# ---- idle close: a connection that was quiet before its data ends its job by idle time -----------
printf '^XA^FDquiet host^FS^XZ' > /tmp/quiet
net_host send --via wifi --quiet 2300 --hold 5000 /tmp/quiet &
q=$!
sent_at=$(( $(now_ms) + 2300 ))
wait_jobs /tmp/net 1 10
arrived=$(now_ms)
check_true "the job closed by idle time while the host stays connected" kill -0 $q
check_true "500 ticks after the data ($((arrived - sent_at)) ms)" test $((arrived - sent_at)) -ge 450
check "and it is whole" "$(hex /tmp/quiet)" "$(hex /tmp/net/sink.data)"
kill $q 2>/dev/null
wait $q 2>/dev/null

stop_sink
stop_link
finish
