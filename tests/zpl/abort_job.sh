# An abort in the middle of a 10-label job, as the slave and host_link bring it about: the abort
# line goes low, host_link runs "/home/abort_deal.sh ZPL s &"; later the line is released and it
# runs "/home/abort_deal.sh ZPL e &". Nothing of the job prints after the abort, nor does a job
# sent during the abort (host_link drops what arrives meanwhile); the next job prints whole.
. "$TESTS_DIR/zpl/booted_lib.sh"

slave_sim set fast=1 > /dev/null
check_true "zpl_interp runs after the start" wait_for pidof zpl_interp

# The device's abort script, wrapped so that the test sees each run end.
mv /home/abort_deal.sh /home/abort_deal.real.sh
printf '#!/bin/sh\n/home/abort_deal.real.sh "$@"\necho "$* done" >> /tmp/abort_deal.log\n' > /home/abort_deal.sh
chmod +x /home/abort_deal.sh
: > /tmp/abort_deal.log
# ran PHASE N: host_link's run number N of "abort_deal.sh ZPL PHASE" has finished
ran() { [ "$(grep -c "^ZPL $1 done" /tmp/abort_deal.log)" -ge "$2" ]; }
# abort_deal PHASE: the script run as host_link runs it (in the background), then until it ends
abort_deal() {
  local before
  before=$(grep -c "^ZPL $1 done" /tmp/abort_deal.log)
  sh -c "/home/abort_deal.sh ZPL $1 > /dev/null 2>&1 &"
  wait_for ran "$1" $((before + 1)) || echo "abort_deal.sh ZPL $1 did not finish"
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
check_true "host_link runs the abort script with s" wait_for ran s 1
at_abort=$(rows)
echo "abort after $at_abort of about $((ref_rows * 10)) rows"
check_true "the abort came in the middle of the job" test "$at_abort" -lt $((ref_rows * 9))
check "the job's files are gone from the engine intake" "" "$(ls $intake)"
check_true "the interpreter was restarted (its input dropped)" test "$(pidof zpl_interp)" != "$old_interp"

# A job sent while the abort lasts is read and dropped by host_link.
label $work/during.zpl "DURING THE ABORT"
send $work/during.zpl
check "the job sent during the abort never reaches the engine intake" "" "$(ls $intake)"

slave_sim abort off > /dev/null
check_true "host_link runs the abort script with e when the line is released" wait_for ran e 1
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
