# engine_cmd: the command files it writes, run on the device paths.
. "$(dirname "$0")/lib.sh"

ci=/tmp/command_intake
rm -rf "$ci" /command_intake

run() { /root/engine_cmd "$@"; }
frame() { hex "$ci/command-$1"; }

run B 0
check "B 0 creates the folder and writes the frame" "02 42 30 00 00 00 03" "$(frame B)"
rm -f "$ci/command-B"

run J 1a2b3c ff
check "J 1a2b3c ff" "02 4a 1a 2b 3c 78 03" "$(frame J)"
rm -f "$ci/command-J"
run J 1a2b3c 200
check "J 1a2b3c 200" "02 4a 1a 2b 3c 00 03" "$(frame J)"
rm -f "$ci/command-J"

run G 123456
check "G to the command intake" "02 47 12 34 56 00 03" "$(frame G)"
check "G written again to /command_intake" "02 47 12 34 56 00 03" "$(hex /command_intake/command-G)"
rm -f "$ci/command-G"
timeout 5 /root/engine_cmd G 654321
check "a second G replaces the untaken copy instead of hanging" "02 47 65 43 21 00 03" "$(hex /command_intake/command-G)"
rm -f "$ci/command-G"

run L 1
check "L writes nothing" "" "$(ls "$ci")"
run
run J
run B
check "missing arguments do not crash" "02 4a 00 00 00 00 03|02 42 00 00 00 00 03" "$(frame J)|$(frame B)"
rm -f "$ci"/command-*

# Lengths in inches.
cat > /home/device_config_units.cfg <<'CFG'
[units]
UNITS=inch
CFG
cat > /home/inch_device_config.cfg <<'CFG'
[Form]
configUnits=inch
configMaxPaperSpeed=4.2
configPreFeed=-0.5
configPostFeed=0.5
configMarkSkip=0
configMarkWidth=0.1
configMarkSeekDistance=2
CFG
cat > /home/inch_mark_config.cfg <<'CFG'
[Blackmark]
mark_to_head=1.5
mark_to_cut=0.25
CFG
run M
check "M with 4.2 ips sends 55" "02 4d 37" "$(frame M | cut -d' ' -f1-3)"
run E
run K
run P
check "E in inches" "02 45 01 31 00 33 03" "$(frame E)"
check "K in inches" "02 4b 01 96 00 00 03" "$(frame K)"
check "P in inches (negative pre-feed is 0)" "02 50 00 66 00 00 03" "$(frame P)"
rm -f "$ci"/command-*

# Lengths in millimetres.
cat > /home/device_config_units.cfg <<'CFG'
[units]
UNITS=mm
CFG
cat > /home/mm_device_config.cfg <<'CFG'
[Form]
configUnits=mm
configMaxPaperSpeed=76.2
configPreFeed=2.2
configPostFeed=10
configMarkWidth=3
configMarkSeekDistance=50.2
CFG
cat > /home/mm_mark_config.cfg <<'CFG'
[Blackmark]
mark_to_head=12.3
mark_to_cut=3
CFG
run E
run K
run P
run M
check "E in millimetres" "02 45 00 63 00 18 03" "$(frame E)"
check "K in millimetres" "02 4b 01 92 00 00 03" "$(frame K)"
check "P in millimetres" "02 50 00 50 12 00 03" "$(frame P)"
check "M in millimetres (3 ips)" "02 4d 1e" "$(frame M | cut -d' ' -f1-3)"
rm -f "$ci"/command-*

# A second command of the same letter waits until the first file is taken.
run B 0
run B 1 &
writer=$!
sleep 0.3
check "second B waits while the first is pending" "02 42 30 00 00 00 03" "$(frame B)"
check_true "writer still waiting" kill -0 $writer
rm -f "$ci/command-B"
wait $writer
check "second B written once the first is removed" "02 42 31 00 00 00 03" "$(frame B)"

finish
