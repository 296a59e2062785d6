# The whole road of a ZPL label on the booted virtual printer: the label moved into the engine
# intake, zpl_interp renders it, the print engine profiles it and the simulated slave burns it
# onto the paper, where tesseract reads it back.
. "$TESTS_DIR/sandbox/lib.sh"

work=$(mktemp -d /tmp/zpl_paper.XXXXXX)
wait_for() {
  for _ in $(seq 400); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

check_true "zpl_interp started as the default emulation" wait_for pidof zpl_interp
slave_sim set fast=1 > /dev/null
slave_sim paper reset > /dev/null

cp "$TESTS_DIR/zpl/data/shipping_label.zpl" $work/job
mv $work/job /tmp/engine_intake/printjob-1
check_true "the label is printed" slave_sim wait-idle --rows 400 --timeout 60
slave_sim paper > /dev/null

rows=$(head -2 /sim/paper.pbm | tail -1 | cut -d' ' -f2)
check_true "paper as long as the label ($rows rows)" test "$rows" -ge 450 -a "$rows" -le 700
check "paper width" 1728 "$(head -2 /sim/paper.pbm | tail -1 | cut -d' ' -f1)"
check "no dot image left behind" "" "$(ls /tmp/dot_feeder_intake)"
check "contrast trigger consumed" "" "$(ls /tmp/imstart_intake)"

convert /sim/paper.pbm -bordercolor white -border 20 $work/paper.png
tesseract $work/paper.png $work/ocr >/dev/null 2>&1
for word in SHIP ACME WIDGETS INVOICE 48213 PARCEL FRAGILE GOODS; do
  check_true "tesseract reads $word on the paper" grep -q -w "$word" $work/ocr.txt
done
finish
