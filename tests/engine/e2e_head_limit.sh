# The head's supply limit end to end. A label of full black rows goes through the print engine to
# the simulated slave; every burn of the profile stream the slave received heats at most
# PRINTHEAD_MAXNSA dots plus the clump limit's 9-dot margin and one byte (4 dots of a parity) of
# overshoot. An engine started with a limit whose 4 burns cannot cover a row of 1728 dots says so
# once at start.
. "$TESTS_DIR/engine/e2e_lib.sh"
clumps() { sim paper > /dev/null; "$VPRINTER_BUILD_DIR/tests/engine/profile_clumps" /sim/profile.bin; }
field() { sed -n "s/.*$1=\([0-9]*\).*/\1/p"; }
config=/home/printhead_config.cfg

start_sim
maxnsa=$(sed -n 's/^PRINTHEAD_MAXNSA=//p' $config)
check "the device image's limit: 4 burns x 432 dots cover a row" "432" "$maxnsa"
start_engine
check "no report of the head limit" "" "$(grep PRINTHEAD_MAXNSA /tmp/engine.log)"
image black 300 --kind black
drop black
printed 300
check "full black rows print" "equal" "$(paper_is black)"
got=$(clumps)
check "every row printed" "300" "$(echo "$got" | field rows)"
check "a full row is 4 burns" "4" "$(echo "$got" | field burns)"
most=$(echo "$got" | field most)
check_true "no burn heats more than $maxnsa + 9 + 4 dots ($most)" test "${most:-9999}" -le $((maxnsa + 13))
stop_engine

# A limit of 280: 4 burns of 280 dots cannot cover a row, so the engine widens the clumps.
cp $config /tmp/printhead_config.keep
sed -i 's/^PRINTHEAD_MAXNSA=.*/PRINTHEAD_MAXNSA=280/' $config
new_paper
start_engine
check "the report at start, once" "1" "$(grep -c 'PRINTHEAD_MAXNSA 280: 4 burns of 280 dots cannot cover a row of 1728 dots; full rows are heated up to 576 dots at once' /tmp/engine.log)"
drop black
printed 300
most=$(clumps | field most)
check_true "and full rows do heat beyond the limit ($most)" test "${most:-0}" -gt $((280 + 13))
stop_engine
cp /tmp/printhead_config.keep $config

finish
