# zpl_interp on the device: job files moved or written into the engine intake become dot images
# whose text reads back.
. "$TESTS_DIR/sandbox/lib.sh"

work=$(mktemp -d /tmp/zpl_intake.XXXXXX)
intake=/tmp/engine_intake
images=/tmp/dot_feeder_intake
trigger=/tmp/imstart_intake/imstart
mkdir -p $intake $images /tmp/imstart_intake /tmp/command_intake /command_intake
rm -f $images/* $trigger /tmp/command_intake/* /command_intake/*

# Nothing consumes the contrast trigger and the command files here: take them as the print engine
# and engine_watch would, and keep what they said.
(
  while :; do
    [ -f $trigger ] && { cat $trigger >> $work/triggers; echo trigger >> $work/order; rm -f $trigger; }
    for f in $images/*.pbm; do
      [ -f "$f" ] && ! grep -qx "image $f" $work/order 2>/dev/null && echo "image $f" >> $work/order
    done
    [ -f /tmp/command_intake/command-B ] && { hex /tmp/command_intake/command-B >> $work/commands; echo >> $work/commands; rm -f /tmp/command_intake/command-B; }
    sleep 0.02
  done
) &
consumer=$!

# wait_for CMD...: until CMD succeeds (20 s at most: the machine may be busy)
wait_for() {
  for _ in $(seq 400); do
    "$@" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
# watching PID DIR: the process has an inotify watch on DIR (its fdinfo lists the inode in hex)
watching() { grep -qs "^inotify wd:[0-9a-f]* ino:$(printf '%x' "$(stat -L -c %i "$2")") " /proc/"$1"/fdinfo/*; }
# complete IMAGE: the dot image holds every row its header announces (it is written in one
# open-write-close, but a reader may look before the close)
complete() {
  local rows
  rows=$(head -c 14 "$1" | tail -c +9 | tr -d '\n')
  [ -n "$rows" ] && [ "$(stat -c %s "$1")" -eq $((14 + 10#$rows * 216)) ]
}
# wait_images N: until N complete dot images are in the intake
images_at_least() {
  local n=0 f
  for f in $images/*.pbm; do [ -f "$f" ] && complete "$f" && n=$((n + 1)); done
  [ $n -ge "$1" ]
}
wait_images() { wait_for images_at_least "$1"; }

/root/zpl_interp > $work/log 2>&1 &
interp=$!
wait_for watching $interp $intake || echo "zpl_interp does not watch $intake"

# A label moved in whole.
cp "$TESTS_DIR/zpl/data/shipping_label.zpl" $work/job
mv $work/job $intake/printjob-1
check_true "a dot image is written" wait_images 1
img=$(ls $images/dotimage-*.pbm 2>/dev/null | head -1)
check "file name" 1 "$(basename "$img" | grep -c '^dotimage-[A-Za-z0-9]\{6\}\.pbm$')"
check "header" "P4 1728" "$(head -c 8 "$img" | tr '\n' ' ' | sed 's/ $//')"
rows=$(head -2 "$img" | tail -1 | cut -d' ' -f2)
size=$(stat -c %s "$img")
check "216 bytes a row" $((14 + 10#$rows * 216)) "$size"
check "job file taken" "" "$(ls $intake)"
wait_for test -s $work/triggers
check "contrast trigger from the paper file" "5" "$(head -1 $work/triggers)"
check "the trigger comes before the page" "trigger" "$(head -1 $work/order | cut -d' ' -f1)"
check "busy marker" "02 42 31 0a" "$(hex /command_intake/commd-B)"

convert "$img" -bordercolor white -border 20 $work/label.png
tesseract $work/label.png $work/ocr >/dev/null 2>&1
for word in SHIP ACME WIDGETS INVOICE 48213 PARCEL FRAGILE GOODS; do
  check_true "tesseract reads $word" grep -q -w "$word" $work/ocr.txt
done
mkdir -p /tmp/zpl_test_out && cp $work/label.png $work/ocr.txt /tmp/zpl_test_out/ 2>/dev/null
rm -f $images/*

# A label written in two job files (closed after writing) prints once.
printf '^XA^FO60,40^A0N,70,0^FDSPLIT ' > $intake/printjob-2
wait_for test ! -e $intake/printjob-2
check "no image before the end of the format" 0 "$(ls $images | wc -l)"
printf 'LABEL^FS^XZ\r\n' > $intake/printjob-3
check_true "the split label prints" wait_images 1
check "printed once" 1 "$(ls $images | wc -l)"
convert $images/*.pbm -bordercolor white -border 20 $work/split.png
tesseract $work/split.png $work/split >/dev/null 2>&1
check_true "split label reads SPLIT LABEL" grep -q "SPLIT LABEL" $work/split.txt
rm -f $images/*

# Spurious events are skipped: a folder and a dangling link moved in.
mkdir $work/folder
mv $work/folder $intake/
ln -s /nonexistent $work/link
mv $work/link $intake/printjob-4
# The empty job below is taken after them: the interpreter's answer to it shows it went on.

# An empty job: the input runs dry without a label, so the slave hears B 0 (once more than before:
# the interpreter's start ran dry too).
b0() { grep -c '02 42 30 00 00 00 03' $work/commands 2>/dev/null; }
more_b0() { [ "$(b0)" -gt "$1" ]; }
before=$(b0)
: > $intake/printjob-5
check_true "B 0 when the input runs dry without a label" wait_for more_b0 "${before:-0}"
check_true "still running after spurious events" kill -0 $interp

# Darkness: ~SD writes a trigger of its own (its parameter ends at the next format command).
printf '~SD24^XA^XZ' > $intake/printjob-6
check_true "~SD24 gives contrast 8" wait_for grep -qx 8 $work/triggers

kill $interp $consumer 2>/dev/null
wait 2>/dev/null
finish
