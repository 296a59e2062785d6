# host_link's USB reader and job files, driven through the gadget's host side.
. "$(dirname "$0")/host_lib.sh"

start_command_sink
set_key /home/hexdump_config.cfg Hexconfig Hexconfig 1
rm -f "$engine"/* "$reprint"/*

# ---- streaming emulation (ESC/POS) ----------------------------------------------------------
start_link ESCPOS || exit 1

printf '\x1b@Receipt one\n\x1b!\x08TOTAL 12.50\n\x1dV\x00' > /tmp/burst1
printf '\x1b@Receipt two\n' > /tmp/burst2
send /tmp/burst1
sleep 0.2
send /tmp/burst2
check "a burst is written byte for byte into printjob-1" "$(hex /tmp/burst1)" "$(hex $engine/printjob-1)"
check "the next burst after a pause goes to printjob-2" "$(hex /tmp/burst2)" "$(hex $engine/printjob-2)"
check "no other job file" "2" "$(ls $engine | wc -l)"
check "one \"engine_cmd B 1\" per job" "2" "$(b1_sent 2)"
check "the reprint copy is the job just closed (printjob-2), not printjob-1" "$(hex /tmp/burst2)" "$(hex $reprint/printjob-1)"

# 300000 bytes without a pause: the first file closes after the read that passes 204800 bytes.
# A USB host keeps ahead of the printer's slow processor; the virtual printer's host is made as
# steady by the preloaded gadget_steady library (an empty gadget while the host is still sending
# is waited for, not taken for the end of the job).
steady="LD_PRELOAD=/sim/lib/libgadget_steady.so ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
stop_link
LINK_PREFIX="env $steady" start_link ESCPOS || exit 1
head -c 300000 /dev/urandom > /tmp/big
printf 'A' | dd of=/tmp/big conv=notrunc status=none
rm -f "$engine"/*
start_sink /tmp/split
send /tmp/big
wait_size /tmp/split/sink.data 300000
stop_sink
size1=$(grep printjob /tmp/split/sink.log | head -1 | cut -d' ' -f2)
check "300000 bytes become two files" "2" "$(grep -c printjob /tmp/split/sink.log)"
check_true "the first closes after the read passing 204800 bytes ($size1)" test "$size1" -gt 204800 -a "$size1" -le $((204800 + 512))
check "together they are the job" "$(sha256sum < /tmp/big)" "$(sha256sum < /tmp/split/sink.data)"
check "the reprint copy holds the whole split job" "$(sha256sum < /tmp/big)" "$(sha256sum < $reprint/printjob-1)"
check "the reprint folder holds only the last job" "printjob-1" "$(ls $reprint)"

# With printjob-1 to printjob-10 present the writer waits until one is freed.
rm -f "$engine"/*
for i in $(seq 10); do echo "old $i" > $engine/printjob-$i; done
usb_host send /tmp/burst1
sleep 0.5
check "nothing written while all ten names are taken" "old 4" "$(cat $engine/printjob-4)"
check "no job file made meanwhile" "10" "$(ls $engine | wc -l)"
rm -f $engine/printjob-4
wait_idle
check "the job takes the freed name" "$(hex /tmp/burst1)" "$(hex $engine/printjob-4)"
check "the other names are left alone" "old 5" "$(cat $engine/printjob-5)"

# Every byte reaches the job files, in order, over a multi-megabyte transfer (a stand-in
# interpreter takes the files as they close; the host never pauses).
rm -f "$engine"/*
start_sink /tmp/sink_out
head -c 6000000 /dev/urandom > /tmp/huge
printf 'AB' | dd of=/tmp/huge conv=notrunc status=none
send /tmp/huge
wait_size /tmp/sink_out/sink.data 6000000
check "6 MB arrive complete and in order" "$(sha256sum < /tmp/huge)" "$(sha256sum < /tmp/sink_out/sink.data)"
check "in 30 job files" "30" "$(grep -c printjob /tmp/sink_out/sink.log)"
check "each but the last closed just past 204800 bytes" "" \
  "$(grep printjob /tmp/sink_out/sink.log | head -n -1 | awk '$2 <= 204800 || $2 > 205312')"
stop_sink
stop_link

# ---- whole-job emulation ---------------------------------------------------------------------
rm -f "$engine"/* "$reprint"/*
wait_commands
: > "$commands_log"
start_link PDF || exit 1
printf 'abc' > /tmp/three
printf 'abcd' > /tmp/four
send /tmp/three
check "a job of MINIMUM_FILE_SIZE (3) bytes is deleted" "" "$(ls $engine $jobs | grep printjob)"
send /tmp/four
moved=$(ls $engine)
check "one byte more is handed over" "abcd" "$(cat $engine/$moved 2>/dev/null)"
check "as a whole-job file" "printjob-" "${moved%??????}"
check "readable and writable by all" "666" "$(stat -c %a $engine/$moved 2>/dev/null)"
check "\"engine_cmd B 1\" only for the job handed over" "1" "$(b1_sent 1)"
check "the reprint copy keeps the job's name" "$moved" "$(ls $reprint)"

printf '%%PDF-1.4 first' > /tmp/pdf1
printf '%%PDF-1.4 second job' > /tmp/pdf2
send /tmp/pdf1
sleep 0.1
send /tmp/pdf2
last=$(ls -t $engine | head -1)
check "with Hexconfig 1 the reprint folder holds only the last job" "$last" "$(ls $reprint)"
check "... and its bytes" "$(hex /tmp/pdf2)" "$(hex $reprint/$last)"

# A pause of more than 10 ms inside a whole-job job gives two job files.
rm -f "$engine"/*
head -c 3000 /dev/urandom > /tmp/paused
printf 'P' | dd of=/tmp/paused conv=notrunc status=none
usb_host send --chunk 1500 --pause 100 /tmp/paused && wait_idle
check "a 100 ms pause splits a whole job" "2" "$(ls $engine | wc -l)"
check "both halves arrive" "$(sha256sum < /tmp/paused)" "$(cat $(ls -tr $engine/* ) | sha256sum)"

# The job mover holds a job while the abort input is active.
rm -f "$engine"/* /tmp/run_index.txt
mkdir -p /sys/class/gpio/pioC7
printf '0\n1\n' > /sys/class/gpio/pioC7/value
usb_host send /tmp/pdf1
sleep 0.5
check "held in the job intake during an abort" "1" "$(ls $jobs | grep -c printjob)"
check "the abort is marked once" "yes" "$([ -e /tmp/run_index.txt ] && echo yes)"
printf '1\n1\n' > /sys/class/gpio/pioC7/value
wait_idle
check "handed over when the abort ends" "$(hex /tmp/pdf1)" "$(hex $engine/$(ls $engine | head -1))"
stop_link

finish
