# An abort in the middle of a 10-label job, as the slave and host_link bring it about: the abort
# line goes low, host_link runs "/home/abort_deal.sh ZPL s &"; later the line is released and it
# runs "/home/abort_deal.sh ZPL e &". Nothing of the job prints after the abort, nor does a job
# sent during the abort; the next job prints whole.
. "$TESTS_DIR/zpl/booted_lib.sh"

slave_sim set fast=1 > /dev/null
check_true "zpl_interp runs after the start" wait_for pidof zpl_interp

# abort_deal PHASE: as host_link runs it (in the background), then until it has finished
abort_deal() {
  local pid
  pid=$(sh -c "/home/abort_deal.sh ZPL $1 > /dev/null 2>&1 & echo \$!")
  wait_for sh -c "! { [ -e /proc/$pid ] && ! grep -q ') Z ' /proc/$pid/stat; }" || echo "abort_deal.sh ZPL $1 did not finish"
  echo "abort_deal.sh ZPL $1 done"
}

# The next job's reference, printed before anything happens.
label $work/next.zpl "NEXT JOB"
new_paper
send $work/next.zpl
printed 300
paper_copy $work/next_ref.pbm
ref_rows=$(rows)

# Ten labels in one job; the abort comes while the third is printing.
label $work/ten.zpl "LABEL 1" "LABEL 2" "LABEL 3" "LABEL 4" "LABEL 5" "LABEL 6" "LABEL 7" "LABEL 8" "LABEL 9" "LABEL 10"
new_paper
send $work/ten.zpl
slave_sim wait-rows 800 --timeout 60 > /dev/null
old_interp=$(pidof zpl_interp)
slave_sim abort on > /dev/null
abort_deal s
at_abort=$(rows)
echo "abort after $at_abort of about $((ref_rows * 10)) rows"
check_true "the abort came in the middle of the job" test "$at_abort" -lt $((ref_rows * 9))
check "the job's files are gone from the engine intake" "" "$(ls $intake)"
check_true "the interpreter was restarted (its input dropped)" test "$(pidof zpl_interp)" != "$old_interp"

# A job sent while the abort lasts: rendered by the fresh interpreter, its dot image is removed
# unread by the print engine.
label $work/during.zpl "DURING THE ABORT"
interp=$(pidof zpl_interp)
w0=$(written "$interp")
send $work/during.zpl
image_written() { [ $(($(written "$interp") - w0)) -ge $((216 * 300)) ]; }
check_true "the job sent during the abort is rendered" wait_for image_written
check_true "and its dot image removed unread" wait_for sh -c "[ -z \"\$(ls $images)\" ]"

slave_sim abort off > /dev/null
abort_deal e
check_true "the printer settles after the abort" printed 0
check "nothing of the job (or of the job sent during the abort) printed after the abort" "$at_abort" "$(rows)"
check "the engine holds nothing" "0 0 0" \
  "$(ls $images | wc -l) $(ls /tmp/profiler_intake | wc -l) $(ls /tmp/profilesize | wc -l)"
check "an interpreter runs" "1" "$(pidof zpl_interp | wc -w)"

# The next job prints whole, exactly as before the abort.
new_paper
send $work/next.zpl
printed "$ref_rows"
paper_copy $work/next.pbm
check "the next job prints whole ($ref_rows rows)" "$ref_rows" "$(rows)"
check_true "and its paper is the reference's" cmp -s $work/next_ref.pbm $work/next.pbm

# The abort script run on its own (no abort line): the same cancel, nothing wedged.
new_paper
send $work/ten.zpl
slave_sim wait-rows 800 --timeout 60 > /dev/null
abort_deal s
abort_deal e
check_true "the printer settles after the script" printed 0
after_script=$(rows)
check_true "the script alone cancels the job ($after_script rows)" test "$after_script" -lt $((ref_rows * 9))
new_paper
send $work/next.zpl
printed "$ref_rows"
paper_copy $work/next2.pbm
check_true "and the next job prints whole" cmp -s $work/next_ref.pbm $work/next2.pbm

finish
