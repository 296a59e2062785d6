# The print engine's control inputs end to end: abort, the contrast trigger, the speed cap and
# speed mode files and the pause file.
. "$TESTS_DIR/engine/e2e_lib.sh"

start_sim
/root/burn_builder
check "burn_builder writes 20 tables and removes its busy flag" "20 no" \
  "$(ls /burntables/*.csv /burntables_battery/*.csv | wc -l) $([ -e /burntables/busy ] && echo yes || echo no)"
start_engine

# ---- abort in the middle of a label ------------------------------------------------------------
# At the real speed the slave holds rows it has not printed yet; an abort drops them.
sim set fast=0 > /dev/null
image long 1600 --seed 21
drop long
sim wait-rows 400 --timeout 30 > /dev/null
sim abort on > /dev/null
sleep 0.4
held=$(paper_rows)
sleep 0.6
check "nothing prints while abort is active" "$held" "$(paper_rows)"
check "the engine survives the abort" "yes" "$(engine_alive && echo yes)"
sim abort off > /dev/null
sim set fast=1 > /dev/null
sim wait-idle --quiet 500 --timeout 30 > /dev/null
sim paper > /dev/null
# An abort cancels: the rows the slave had not printed, the block being sent and every row the
# engine still held are gone; nothing of the label prints after the abort.
check "the paper is the label's start and nothing after the abort" "ok" \
  "$(python3 - "$REF/long.pbm" /sim/paper.pbm "$held" <<'PY'
import sys
def rows(p):
    d = open(p, "rb").read()
    nl = d.index(b"\n", 3)
    h = int(d[3:nl].split()[1])
    r = d[nl + 1:]
    return [r[i * 216:(i + 1) * 216] for i in range(h)]
img, paper, held = rows(sys.argv[1]), rows(sys.argv[2]), int(sys.argv[3])
ok = len(paper) == held and paper == img[:held]
print("ok" if ok else "bad: %d rows, %d held" % (len(paper), held))
print("abort: %d rows before, %d rows not printed" % (held, len(img) - len(paper)), file=sys.stderr)
PY
)"
check "the engine holds nothing after the abort" "0 0" \
  "$(ls /tmp/profiler_intake 2>/dev/null | wc -l) $(ls /tmp/profilesize 2>/dev/null | wc -l)"
new_paper
image next 150 --seed 22
drop next
printed 150
check "an image after the abort prints whole" "equal" "$(paper_is next)"

# ---- contrast trigger ------------------------------------------------------------------------
# Mean heat time of the first burn of every row printed since the paper was new.
mean_heat() {
  sim paper > /dev/null
  sed -n 's/.* heat=\([0-9]*\)\/\([0-9]*\).*/\1 \2/p' /sim/rows.log | awk '{ s += $1 + $2; n++ } END { if (n) printf "%d\n", s / n; else print 0 }'
}
new_paper
image c5 200 --seed 23
drop c5
printed 200
heat5=$(mean_heat)
# A trigger that is created but not yet closed after writing holds the next image back.
new_paper
echo 1 > /tmp/trigger.tmp
mv /tmp/trigger.tmp /tmp/imstart_intake/imstart
drop c5
sleep 0.5
check "an image waits while the contrast trigger exists" "c5.pbm 0" "$(ls $INTAKE) $(paper_rows)"
touch /tmp/imstart_intake/imstart
printed 200
check "the trigger is removed" "no" "$([ -e /tmp/imstart_intake/imstart ] && echo yes || echo no)"
heat1=$(mean_heat)
# 0.6 x E25 against 1.0 x E25, plus the same cold-head allowance for both: 0.6 to 0.75.
check "contrast 1 heats less than contrast 5 ($heat1 vs $heat5 us)" "yes" \
  "$([ $((heat1 * 100 / heat5)) -ge 60 ] && [ $((heat1 * 100 / heat5)) -le 75 ] && echo yes)"
# The same contrast again without the reload flag: nothing is reloaded, the trigger goes.
echo 1 > /tmp/imstart_intake/imstart
check "a trigger with the loaded contrast is removed too" "no" "$(gone /tmp/imstart_intake/imstart)"
touch /tmp/burntables_updated
echo 5 > /tmp/imstart_intake/imstart
check "the reload flag is removed after a reload" "no" "$(gone /tmp/burntables_updated)"

# ---- speed cap and speed mode ------------------------------------------------------------------
new_paper
echo 3 > /tmp/maxspeed/maxspeed.txt
check "the speed cap file is taken" "no" "$(gone /tmp/maxspeed/maxspeed.txt)"
image capped 400 --seed 24 --kind blank
drop capped
printed 400
# Cap 14: speed index at most 14 / 2 - 1 = 6, so rows run at steps 12 and 13.
check "maxspeed 3 caps every row under step 14" "12" "$(row_steps | sort -n | tail -1)"
echo 9 > /tmp/maxspeed/maxspeed.txt
gone /tmp/maxspeed/maxspeed.txt > /dev/null
new_paper
drop capped
printed 400
check "maxspeed 9 lifts the cap" "70" "$(row_steps | sort -n | tail -1)"
echo 0 > /tmp/speedmode/speedmode.txt
gone /tmp/speedmode/speedmode.txt > /dev/null
new_paper
drop capped
printed 400
check "speed mode 0: blank rows at half the limit, step 72" "72" "$(row_steps | sort -n | tail -1)"
echo 1 > /tmp/speedmode/speedmode.txt
gone /tmp/speedmode/speedmode.txt > /dev/null

# ---- pause file --------------------------------------------------------------------------------
start=$(date +%s%N)
echo 0 > /tmp/speed_switch_pause/pause
gone /tmp/speed_switch_pause/pause > /dev/null
ms=$((($(date +%s%N) - start) / 1000000))
echo "pause file removed after $ms ms"
# One cycle is 50 ms; the bound leaves room for a loaded machine.
check "a pause file created while idle is removed within one cutter cycle" "yes" "$([ $ms -le 250 ] && echo yes)"
# While rows are pending it stays until the last block is cut.
image busy 1200 --seed 25
drop busy
intake_empty
echo 0 > /tmp/speed_switch_pause/pause
sleep 0.2
check "the pause file stays while rows are pending" "yes" "$([ -e /tmp/speed_switch_pause/pause ] && echo yes)"
sim wait-idle --quiet 300 --timeout 30 > /dev/null
check "and goes once everything is cut" "no" "$([ -e /tmp/speed_switch_pause/pause ] && echo yes || echo no)"
stop_engine

finish
