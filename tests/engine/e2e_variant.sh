# The power-source switch in the booted printer: a Y reply in the middle of a 12 000-row job
# changes the print engine variant without losing, doubling or reordering a row, and a Y reply
# that names the running variant restarts nothing.
. "$TESTS_DIR/engine/e2e_lib.sh"

sim set fast=1 > /dev/null

# engine_pids NAME: the pids of the running engine variant (the kernel keeps 15 characters)
engine_pids() { pgrep -x "$1" | tr '\n' ' ' | sed 's/ $//'; }
# switched_to NAME OTHER: waits (30 s at most) until NAME runs and OTHER does not
switched_to() {
  local n
  for n in $(seq 600); do
    [ -n "$(engine_pids "$1")" ] && [ -z "$(engine_pids "$2")" ] && return 0
    sleep 0.05
  done
  return 1
}
# y POWER: the slave's power source, then the Y query that engine_watch acts on
y() {
  sim set power="$1" > /dev/null
  /root/engine_cmd Y
}

check_true "the mains engine runs after the start" switched_to dot_feeder dot_feeder_batt

# A Y reply that names the running variant: the same engine goes on.
before=$(engine_pids dot_feeder)
y 1
sim wait-frame Y --timeout 10 > /dev/null
for _ in $(seq 40); do [ ! -e /tmp/command_intake/command-Y ] && break; sleep 0.05; done
check "Y 1 while the mains engine runs: no restart" "$before" "$(engine_pids dot_feeder)"

# Six images of 2000 rows dropped at once: three fit into the ring, three wait in the intake.
names=""
for i in 1 2 3 4 5 6; do
  image j$i 2000 --seed $((80 + i)) $([ $((i % 2)) = 0 ] && echo --kind random)
  names="$names j$i"
done
new_paper
for i in 1 2 3 4 5 6; do drop j$i; done
sim wait-rows 1500 --timeout 60 > /dev/null
y 0
check_true "Y 0 in the middle of the job: the battery engine takes over" switched_to dot_feeder_batt dot_feeder
sim wait-rows 7000 --timeout 120 > /dev/null
y 1
check_true "Y 1: back to the mains engine" switched_to dot_feeder dot_feeder_batt
printed 12000 120
check "the paper holds every row of the job, in order" "equal" "$(paper_is $names)"
check "12 000 rows, none doubled" "12000" "$(paper_rows)"
check "nothing is left in the intake" "" "$(ls $INTAKE)"

finish
