# The in-band emulation switch (ESC ESC index) and /home/start_emulation.sh, with stand-in
# interpreters that take the job files and log them.
. "$(dirname "$0")/host_lib.sh"

start_command_sink
out=/sim/job_sink
rm -rf "$out" "$engine"/*
for p in sink_escpos sink_zpl sink_pdf; do cp /sim/bin/job_sink /root/$p; done
cat > /home/emulation_list <<'EOF'
ESCPOS,sink_escpos,1
ZPL,sink_zpl,2
PDF,sink_pdf,10
BROKEN,../bin/sh,20
MISSING,no_such_interp,21
EOF

running() { for p in sink_escpos sink_zpl sink_pdf; do pgrep -x $p >/dev/null && echo $p; done | tr '\n' ' ' | sed 's/ $//'; }
starts() { grep -c '^started' "$out/$1.log" 2>/dev/null || echo 0; }
# wait_job SINK: until SINK has logged N jobs
wait_jobs() {
  local i
  for i in $(seq 300); do [ "$(grep -vc '^started' "$out/$1.log" 2>/dev/null)" -ge "$2" ] && return 0; sleep 0.01; done
  return 1
}

# The boot starts the default interpreter; the script returns once it watches the engine intake.
/home/start_emulation.sh ESCPOS
check "start_emulation.sh starts the interpreter of the name" "sink_escpos" "$(running)"
check_true "and it watches the engine intake when the script returns" grep -q '^started' "$out/sink_escpos.log"
/home/start_emulation.sh NOSUCH 2>/dev/null
check "an unknown name leaves the running interpreter alone" "1 sink_escpos" "$? $(running)"
/home/start_emulation.sh BROKEN 2>/dev/null
/home/start_emulation.sh MISSING 2>/dev/null
check "a program that is not a plain installed name starts nothing" "sink_escpos" "$(running)"

start_link ESCPOS || exit 1

# ESC ESC with the running emulation's index starts nothing; the job goes to the running one.
printf '\x1b\x1b\x01\x1b@same emulation\n' > /tmp/same
send /tmp/same
wait_jobs sink_escpos 1
check "no interpreter started for the running emulation's index" "1" "$(starts sink_escpos)"
check "the job, switch bytes included, reaches the running interpreter" "$(hex /tmp/same)" "$(hex $out/sink_escpos.data)"

# An index that no list entry has switches nothing.
printf '\x1b\x1b\x63unknown index\n' > /tmp/unknown
send /tmp/unknown
wait_jobs sink_escpos 2
check "an unknown index starts nothing" "sink_escpos" "$(running)"
check "its job stays with the running interpreter, streamed" "printjob-1" "$(tail -1 $out/sink_escpos.log | cut -d' ' -f1)"

# ESCPOS -> PDF: the style changes at once; the job that carried the switch is a whole-job file
# that reaches the new interpreter.
printf '\x1b\x1b\x0a%%PDF-1.4 job for the new interpreter\n' > /tmp/topdf
send /tmp/topdf
wait_jobs sink_pdf 1
check "exactly the new interpreter runs" "sink_pdf" "$(running)"
check "the job reaches it" "$(hex /tmp/topdf)" "$(hex $out/sink_pdf.data)"
job=$(grep -v '^started' $out/sink_pdf.log | cut -d' ' -f1)
check "as a whole-job file (moved in complete)" "printjob-" "${job%??????}"

# A job sent right after a switch is not lost.
printf '\x1b\x1b\x02^XA^FDfirst^FS^XZ' > /tmp/tozpl
printf '^XA^FDright after^FS^XZ' > /tmp/next
usb_host send /tmp/tozpl
sleep 0.05
send /tmp/next
wait_size $out/sink_zpl.data $(cat /tmp/tozpl /tmp/next | wc -c)
check "ZPL after PDF" "sink_zpl" "$(running)"
check "the switching job and the next one both arrive, in order" "$(cat /tmp/tozpl /tmp/next | hex /dev/stdin)" "$(hex $out/sink_zpl.data)"
stop_link

finish
