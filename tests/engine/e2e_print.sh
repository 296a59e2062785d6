# The print engine end to end: dot images dropped into the intake come out on the simulated paper
# with exactly the same dots, row for row.
. "$TESTS_DIR/engine/e2e_lib.sh"

start_sim
start_engine

# Two 100-row images back to back in continuous mode (header forms padded and plain).
image a 100 --seed 1
image b 100 --seed 2 --kind random --plain
hold_cutter
drop a b
intake_empty
release_cutter
printed 200
check "two images back to back" "equal" "$(paper_is a b)"
check "both images taken from the intake" "" "$(ls $INTAKE)"
check "the paper stops once: one job end" "1" "$(stat_of jobs)"
check "the last row ramps down to step 0 and ends what was pending" "rs1=0 rs2=FF" \
  "$(tail -1 /sim/rows.log | sed 's/^row=[0-9]* \(rs1=[0-9]* rs2=[0-9A-F]*\).*/\1/')"

# An image that does not fit before the ring's end waits for the reader and is placed at the
# ring's start; a third image follows it.
new_paper
image w1 3500 --seed 3
image w2 3200 --seed 4 --kind random
image w3 100 --seed 5
drop w1 w2 w3
printed 6800 90
check "an image that wraps the ring" "equal" "$(paper_is w1 w2 w3)"

# The longest image fills the whole ring.
new_paper
image full 6496 --seed 6
drop full
printed 6496 90
check "a 6496-row image" "equal" "$(paper_is full)"
check "the engine is still running" "yes" "$(engine_alive && echo yes)"

# A dot image that is no dot image is removed and prints nothing; the next one prints.
new_paper
echo "not an image" > "$INTAKE/junk.pbm"
image after 50 --seed 7
drop after
printed 50
check "a file that is no dot image is skipped" "equal" "$(paper_is after)"
check "and removed" "" "$(ls $INTAKE)"
stop_engine

# Cut sheets (configMarkSeek 2): each image is a sheet; an image longer than 2240 rows is cut.
sed -i 's/^configMarkSeek=.*/configMarkSeek=2/' /home/paper_config.cfg
new_paper
start_engine
image s1 300 --seed 8
image s2 250 --seed 9 --kind random
image s3 3000 --seed 10
python3 "$T/make_dot_image.py" "$REF/s3cut.pbm" 2240 --seed 10
drop s1 s2 s3
for _ in $(seq 200); do [ -e "$INTAKE/s1.pbm" ] || break; sleep 0.01; done
check "outside continuous mode the next image waits until the previous one is cut" "s2.pbm s3.pbm" \
  "$(ls $INTAKE | tr '\n' ' ' | sed 's/ $//')"
printed 2790 60
check "cut sheets" "equal" "$(paper_is s1 s2 s3cut)"
check "one job end a sheet" "3" "$(stat_of jobs)"
stop_engine
sed -i 's/^configMarkSeek=.*/configMarkSeek=0/' /home/paper_config.cfg

# The battery engine, with the battery layout of the profile.
ENGINE=/root/dot_feeder_battery
sim set layout=battery > /dev/null
new_paper
start_engine
image bat1 300 --seed 11
image bat2 120 --seed 12 --kind random
drop bat1 bat2
printed 420
check "battery engine" "equal" "$(paper_is bat1 bat2)"
stop_engine

finish
