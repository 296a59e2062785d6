# cpcl_interp on the device paths: jobs waiting at start, job files moved or written into the
# engine intake, copies with a counter, stored formats that survive a restart and names that are
# refused, barcode data that never reaches a shell, and the slave told when the input runs dry.
. "$TESTS_DIR/sandbox/lib.sh"

work=$(mktemp -d /tmp/cpcl_intake.XXXXXX)
intake=/tmp/engine_intake
images=/tmp/dot_feeder_intake
trigger=/tmp/imstart_intake/imstart
mkdir -p $intake $images /tmp/imstart_intake /tmp/command_intake /command_intake $work/taken
rm -rf $images/* $trigger /tmp/command_intake/* /command_intake/* /home/cpcl_formats

# Stands in for the print engine and engine_watch: takes the images, triggers and command files.
(
  n=0
  while :; do
    [ -f $trigger ] && { cat $trigger >> $work/triggers; rm -f $trigger; }
    for f in $images/dotimage-*.pbm; do
      [ -f "$f" ] || continue
      # complete: as long as its header says
      rows=$(sed -n 2p "$f" 2>/dev/null | cut -d' ' -f2)
      [ -n "$rows" ] && [ "$(stat -c %s "$f")" = $((14 + 10#$rows * 216)) ] || continue
      n=$((n + 1))
      mv "$f" $work/taken/$(printf '%03d' $n).pbm
    done
    [ -f /tmp/command_intake/command-B ] && { hex /tmp/command_intake/command-B >> $work/commands; echo >> $work/commands; rm -f /tmp/command_intake/command-B; }
    sleep 0.02
  done
) &
consumer=$!

wait_for() {
  for _ in $(seq 400); do
    "$@" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}
taken_at_least() { [ "$(ls $work/taken | wc -l)" -ge "$1" ]; }
# read_taken N: the text tesseract reads on the Nth image taken
read_taken() {
  convert $work/taken/$(printf '%03d' "$1").pbm -bordercolor white -border 20 $work/page.png
  tesseract $work/page.png stdout 2>/dev/null
}
start_interp() {
  /root/cpcl_interp >> $work/log 2>&1 &
  interp=$!
  wait_for grep -qs "^inotify" /proc/$interp/fdinfo/* 2>/dev/null
}

# A job waiting before the interpreter starts is printed once it is up.
printf '! 0 203 203 120 1\r\nTEXT 4 0 20 20 WAITING JOB\r\nPRINT\r\n' > $work/job && mv $work/job $intake/printjob-1
start_interp
check_true "the waiting job is printed" wait_for taken_at_least 1
check_true "it reads WAITING JOB" grep -q "WAITING JOB" <(read_taken 1)
check "the job file is taken" "" "$(ls $intake)"
check "header of the image" "P4" "$(head -1 $work/taken/001.pbm)"
check "as wide as the head" 1728 "$(sed -n 2p $work/taken/001.pbm | cut -d' ' -f1)"
wait_for test -s $work/triggers
check "contrast trigger from the paper file" 5 "$(head -1 $work/triggers)"

# Copies with a counter, each written after the one before was taken.
printf '! 0 203 203 120 2\r\nTEXT 4 0 20 20 COPY 8\r\nCOUNT 1\r\nPRINT\r\n' > $intake/printjob-2
check_true "two copies" wait_for taken_at_least 3
check_true "the first reads COPY 8" grep -q "COPY 8" <(read_taken 2)
check_true "the second reads COPY 9" grep -q "COPY 9" <(read_taken 3)

# Barcode data with shell syntax is data.
printf '! 0 203 203 160 1\r\nBARCODE 128 1 1 60 20 20 A;touch /tmp/pwned;$(touch /tmp/pwned2)`id`\r\nPRINT\r\n' > $intake/printjob-3
check_true "the barcode label is printed" wait_for taken_at_least 4
check "no command ran" "" "$(ls /tmp/pwned /tmp/pwned2 2>/dev/null)"
convert $work/taken/004.pbm -bordercolor white -border 20 $work/bars.png
check "it decodes to the data" 'A;touch /tmp/pwned;$(touch /tmp/pwned2)`id`' "$(zbarimg -q --raw $work/bars.png 2>/dev/null)"

# A stored format, and names that would leave its folder.
printf '! DF tag.fmt\r\n! 0 203 203 120 1\r\nTEXT 4 0 20 20 \\\\\r\nPRINT\r\n' > $intake/printjob-4
check_true "the format is stored in its folder" wait_for test -f /home/cpcl_formats/tag.fmt
for name in ../evil ../../tmp/evil2 /tmp/evil3 .hidden; do
  printf '! DF %s\r\n! 0 203 203 120 1\r\nPRINT\r\n' "$name" > $intake/printjob-5
  wait_for test ! -e $intake/printjob-5
done
sleep 0.3
check "refused names wrote nothing" "" "$(ls /home/evil /tmp/evil2 /tmp/evil3 /home/cpcl_formats/.hidden 2>/dev/null)"
check "only the one format" "tag.fmt" "$(ls -A /home/cpcl_formats)"
check "nothing printed for them" 4 "$(ls $work/taken | wc -l)"

# Things in the intake that are no job files (a folder, a dangling link) are passed over.
mkdir $work/folder && mv $work/folder $intake/printjob-6
ln -s /nonexistent $work/link && mv $work/link $intake/printjob-7
sleep 0.3
check_true "still running" kill -0 $interp

# The format outlives the interpreter.
kill $interp
wait $interp 2>/dev/null
start_interp
printf '! UF tag.fmt\r\nAFTER RESTART\r\n' > $intake/printjob-8
check_true "the stored format prints after a restart" wait_for taken_at_least 5
check_true "filled with the data" grep -q "AFTER RESTART" <(read_taken 5)

# An empty job: the input runs dry without a label, so the slave hears B 0.
printf '! 0 203 203 100 1\r\n' > $intake/printjob-9
check_true "B 0 when the input runs dry without a label" wait_for grep -q '02 42 30 00 00 00 03' $work/commands

kill $interp $consumer 2>/dev/null
wait 2>/dev/null
rm -rf $work
finish
