# Mark and label paper on the booted virtual printer: GS FF, FS ( L and GS V 101 on continuous
# paper and on labels, read from the frames the simulated slave received; GS ( F and GS RS edit
# their key files and tell the slave.
. "$TESTS_DIR/sandbox/lib.sh"

work=$(mktemp -d /tmp/mark_paper.XXXXXX)
n=0
# job BYTES: one job file into the engine intake (printf format)
job() {
  n=$((n + 1))
  printf "$1" > "$work/job"
  mv "$work/job" "/tmp/engine_intake/printjob-$n"
}
# the payload byte of each F frame the slave received, in order ("F 02 46 03 00 00 00 03" -> 03)
f_frames() { grep '^F ' /sim/log/frames.log 2>/dev/null | cut -d' ' -f4 | tr '\n' ' ' | sed 's/ $//'; }
start_escpos() {
  /home/start_emulation.sh ESCPOS
  slave_sim log --clear > /dev/null
  slave_sim paper reset > /dev/null
}

slave_sim set fast=1 > /dev/null

# Continuous paper: nothing ends, nothing is sent; the three lines print.
start_escpos
job 'Continuous\n\x1d\x0cafter GS FF\n\x1c(L\x02\x000\x01after FS ( L\n\x1dVe\x00after GS V 101\n'
check_true "the continuous job prints" slave_sim wait-idle --rows 100 --timeout 60
check "continuous paper: no feed command reaches the slave" "" "$(f_frames)"

# Labels: GS FF ends the label (F 3, no F 1); FS ( L and GS V 101 do nothing; the idle end
# sends the second label's F 3.
/sim/bin/sim_keyset /home/paper_config.cfg Paper configMarkSeek 3
start_escpos
job 'Label one\n\x1c(L\x02\x000\x01\x1dVe\x00still label one\n\x1d\x0cLabel two\n'
check_true "two labels print" slave_sim wait-idle --rows 2436 --timeout 60
check "labels: F 3 for each label end and nothing else" "03 03" "$(f_frames)"
rows=$(head -2 /sim/paper.pbm | tail -1 | cut -d' ' -f2)
check "each label is the label length (1218 rows)" "2436" "$rows"

# GS ( F: mark to head 100 dots backwards becomes -40 dots; the mark key file holds whole
# inches above it, and the slave is told (E).
slave_sim log --clear > /dev/null
job '\x1d(F\x04\x00\x01\x01\x64\x00'
check_true "GS ( F tells the slave" slave_sim wait-frame E --timeout 30
check "mark key file: mark to head" "0" "$(sed -n 's/^mark_to_head=//p' /home/inch_mark_config.cfg)"

# GS RS 1: the device key file's mark seek mode that held the running mode (3) follows, the
# slave is told (M).
/sim/bin/sim_keyset /home/inch_device_config.cfg Form configMarkSeek 3
job '\x1d\x1e\x01'
check_true "GS RS tells the slave" slave_sim wait-frame M --timeout 30
check "device key file: configMarkSeek" "1" "$(sed -n 's/^configMarkSeek=//p' /home/inch_device_config.cfg)"

rm -rf "$work"
finish
