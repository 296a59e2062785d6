# A job that arrives while the ZPL interpreter is down is printed by the interpreter started
# next (it takes the jobs already waiting, oldest first); nothing deletes it meanwhile.
. "$TESTS_DIR/zpl/booted_lib.sh"

slave_sim set fast=1 > /dev/null
check_true "zpl_interp runs after the start" wait_for pidof zpl_interp
check "boot_supervisor has done its one pass" "" "$(pidof boot_supervisor)"

# The reference: the same two jobs printed by a running interpreter.
label $work/one.zpl "WAITING ONE"
label $work/two.zpl "WAITING TWO"
new_paper
send $work/one.zpl
send $work/two.zpl
printed 600
paper_copy $work/ref.pbm

# The interpreter goes; two jobs arrive from the host meanwhile.
kill $(pidof zpl_interp)
check_true "zpl_interp is gone" wait_for sh -c '! pidof zpl_interp'
new_paper
send $work/one.zpl
send $work/two.zpl
# host_link may put two jobs that follow each other closely into one job file: what counts is
# that both jobs' bytes wait there, complete.
both_waiting() { [ "$(cat $intake/* 2>/dev/null | grep -ao 'WAITING [A-Z]*' | tr '\n' ' ')" = "WAITING ONE WAITING TWO " ] && link_idle; }
check_true "both jobs wait in the engine intake" wait_for both_waiting
check "nothing prints without an interpreter" "0" "$(rows)"

/home/start_emulation.sh ZPL
check_true "the interpreter is back" pidof zpl_interp
printed 600
paper_copy $work/got.pbm
check_true "the waiting jobs print, in the order they came" cmp -s $work/ref.pbm $work/got.pbm
check "the engine intake is empty" "" "$(ls $intake)"
check "no dot image is left" "" "$(ls $images)"

# And printing goes on as usual.
new_paper
send $work/two.zpl
printed 300
check_true "a job sent afterwards prints" test "$(rows)" -gt 300

finish
