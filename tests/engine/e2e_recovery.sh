# The print engine started, ended and killed while images wait or print: nothing waits for ever
# and no row of a job that goes on is lost.
. "$TESTS_DIR/engine/e2e_lib.sh"

start_sim
sim set fast=1 > /dev/null

# ---- images waiting before the engine starts ------------------------------------------------------
# Two images and the contrast trigger written before the second: taken at start, oldest first.
image early1 300 --seed 51
image early2 200 --seed 52 --kind random
new_paper
drop early1
sleep 0.05
drop early2
touch -d '-1 sec' "$INTAKE/early1.pbm"   # the older one, whatever the names say
mv "$INTAKE/early1.pbm" "$INTAKE/z-early1.pbm"
echo 5 > /tmp/imstart_intake/imstart
start_engine
printed 500
check "images already in the intake when the engine starts print, oldest first" "equal" "$(paper_is early1 early2)"
check "and leave the intake" "" "$(ls $INTAKE)"
check "a trigger left from before the start is applied and removed" "no" "$(gone /tmp/imstart_intake/imstart)"

# ---- SIGTERM: what is held prints, waiting images stay for the next engine --------------------------
# The engine takes no more images once it is asked to end; it prints the rows it holds and goes.
image t1 2500 --seed 53
image t2 2500 --seed 54 --kind random
image t3 2500 --seed 55
new_paper
hold_cutter
drop t1 t2 t3
# t1 and t2 fit into the ring (6496 rows), t3 waits for room.
for _ in $(seq 300); do [ -e "$INTAKE/t2.pbm" ] || break; sleep 0.02; done
check "the third image waits for room in the ring" "t3.pbm" "$(ls $INTAKE)"
kill "$ENGINE_PID"
release_cutter
n=0
while engine_alive && [ $n -lt 600 ]; do n=$((n + 1)); sleep 0.05; done
check "SIGTERM: the engine ends once it has printed what it held" "no" "$(engine_alive && echo yes || echo no)"
sim wait-rows 5000 --timeout 30 > /dev/null
sleep 0.3
check "SIGTERM: the rows it held are on the paper" "5000" "$(paper_rows)"
check "SIGTERM: the image it had not taken is left in the intake" "t3.pbm" "$(ls $INTAKE)"
wait "$ENGINE_PID" 2>/dev/null
ENGINE_PID=
start_engine
printed 7500
check "the next engine prints the rest: the job is whole" "equal" "$(paper_is t1 t2 t3)"

# ---- killed in the middle of a job ----------------------------------------------------------------
# SIGKILL while rows are being sent: the rows in the ring are gone, but what waits in the intake is
# taken by the next engine, leftovers of the dead one hold nothing, and the following job is whole.
sim set fast=0 > /dev/null
image k1 3000 --seed 56
image k2 3000 --seed 57 --kind random
image k3 1500 --seed 58
new_paper
drop k1 k2 k3
sim wait-rows 200 --timeout 30 > /dev/null
kill -9 "$ENGINE_PID"
wait "$ENGINE_PID" 2>/dev/null
ENGINE_PID=
# What a killed engine can leave: a profile with no size file (it held the block cutter of the next
# engine for ever) and images it had not taken.
check "an image the killed engine had not taken is there" "k3.pbm" "$(ls $INTAKE)"
: > /tmp/profiler_intake/profile.bin
sim set fast=1 > /dev/null
start_engine
check "a restarted engine removes the dead one's profile" "no" "$(gone /tmp/profiler_intake/profile.bin)"
sim wait-idle --quiet 1500 --timeout 60 > /dev/null
check "and is taken by the next engine" "" "$(ls $INTAKE)"
new_paper
image after1 700 --seed 59
image after2 300 --seed 60 --kind random
drop after1 after2
printed 1000
check "the job after the kill prints whole" "equal" "$(paper_is after1 after2)"
check "the engine runs" "yes" "$(engine_alive && echo yes)"

# ---- a drop asked for (SIGUSR1, as the abort script asks) ------------------------------------------
sim set fast=0 > /dev/null
image d1 3000 --seed 61
new_paper
drop d1
sim wait-rows 100 --timeout 30 > /dev/null
kill -USR1 "$ENGINE_PID"
sim set fast=1 > /dev/null
# The slave had begun a job whose rows are gone: it is told that the job has ended (one blank row
# at standstill), so it stops instead of waiting for rows that never come.
check_true "after a drop the slave finishes and stands still" sim wait-idle --quiet 800 --timeout 30
check "its last row ends the job" "rs1=0 rs2=FF" \
  "$(sim paper > /dev/null; tail -1 /sim/rows.log | sed 's/^row=[0-9]* \(rs1=[0-9]* rs2=[0-9A-F]*\).*/\1/')"
dropped_at=$(paper_rows)
echo "SIGUSR1 after 100 rows: $dropped_at rows printed"
check_true "SIGUSR1 drops the rows held: $dropped_at of 3000 rows printed" test "$dropped_at" -lt 3000
check "nothing is left held after a drop" "0 0" \
  "$(ls /tmp/profiler_intake | wc -l) $(ls /tmp/profilesize | wc -l)"
new_paper
image d2 500 --seed 62
drop d2
printed 500
check "an image after the drop prints whole" "equal" "$(paper_is d2)"

# ---- an abort holds no image: those that arrive while it is active are removed unread -------------
new_paper
sim abort on > /dev/null
image ab 400 --seed 63
drop ab
intake_empty
check "an image arriving during an abort is removed" "" "$(ls $INTAKE)"
sim abort off > /dev/null
sleep 0.3
check "and never prints" "0" "$(paper_rows)"
image ab2 300 --seed 64
drop ab2
printed 300
check "the next image after the abort prints whole" "equal" "$(paper_is ab2)"
stop_engine

finish
