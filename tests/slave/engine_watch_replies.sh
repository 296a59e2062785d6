# engine_watch against the simulated slave: every reply turned into its files and positions.
. "$(dirname "$0")/slave_lib.sh"
quiet_printer

check "printer up" 1 "$(test -e /sim/run/up && echo 1)"
check "command intake made by engine_watch" 1 "$(test -d $intake && echo 1)"
check "slave version from the start-up D" "01.10.00.00" "$(cat /tmp/slave_version.txt)"

# A: lid open and paper out; then a low charge turns the error code into 03.
sim status=00000003
cmd A
check "A 00000003: positions 0 and 2" "1 1" "$(status 0 0) $(status 2 2)"
check "A 00000003: position 1" "0" "$(status 1 1)"
check "A 00000003: error code" "01" "$(status 7 8)"
check "status string length" 23 "$(wc -c < /tmp/return.dat)"
sim charge=15
cmd Q
check "Q: response file" "08000,15,0" "$(cat /tmp/query_response.txt)"
check "Q alone does not write the status file" "00" "$(status 5 6)"
cmd A
check "Q: charge into positions 5-6" "15" "$(status 5 6)"
check "A with a charge of 15 %: error code" "03" "$(status 7 8)"
sim status=00000002
cmd A
check "paper out alone, low charge: still 03" "03" "$(status 7 8)"

# The charge filter: 80 after 15 is a jump and not taken; readings 80, 50, 52 give 80, 80, 52.
sim charge=80; cmd Q
sim charge=80; cmd Q
check "charge 80 accepted once it is steady" "80" "$(cut -d, -f2 /tmp/query_response.txt)"
sim charge=50; cmd Q
check "charge 50 after 80 is not taken" "80" "$(cut -d, -f2 /tmp/query_response.txt)"
sim charge=52 battery=7321 charging=1; cmd Q
check "charge 52 after 50 is taken" "07321,52,1" "$(cat /tmp/query_response.txt)"
sim status=00000000; cmd A
check "positions 5-6 follow the accepted charge" "52" "$(status 5 6)"
check "no error, charge 52" "00" "$(status 7 8)"

# T: 08 25 is 2085 mV, about 27 degrees.
sim thermistor=0x0825 thermflag=0
rm -f /tmp/temperature.txt
cmd T
check "T: temperature file" "2085" "$(cat /tmp/temperature.txt)"
check "T: positions 10-11" "27" "$(status 10 11)"
check "T: position 3 clear" "0" "$(status 3 3)"
sim thermflag=1; cmd T
check "T with d2 set: position 3" "1" "$(status 3 3)"
sim thermflag=0 thermistor=800; cmd T
check "T: hot head" "0800 71" "$(cat /tmp/temperature.txt) $(status 10 11)"
sim thermistor=3200; cmd T
check "T: below freezing counts as 0" "3200 00" "$(cat /tmp/temperature.txt) $(status 10 11)"

# Power state: five replies in a row with 0x80000, or one with 0x10000000 as well.
sim status=00080000
for i in 1 2 3 4; do cmd A; done
check "power state after four replies" "0" "$(status 4 4)"
cmd A
check "power state after the fifth" "1" "$(status 4 4)"
sim status=00000000
cmd A; cmd A
check "two replies without the bit do not switch back" "1" "$(status 4 4)"
sim status=10000000
cmd A
check "0x10000000 switches at once" "0" "$(status 4 4)"
check "0x10000000 sets position 9" "1" "$(status 9 9)"
sim status=10080000
cmd A
check "0x10080000 switches on at once" "1" "$(status 4 4)"
sim status=00000000; for i in 1 2 3 4 5; do cmd A; done
check "five clear replies switch off" "0 0" "$(status 4 4) $(status 9 9)"

# D: the slave version file (0xF2 counts as 0x0D) and the firmware version in positions 12-22.
sim version=2.7.242.9
sim_keyset /home/oem_config.cfg PrinterInfo firmwareVersion 03.14.15.92
rm -f /tmp/slave_version.txt
cmd D
check "D: slave version file" "02.07.13.09" "$(cat /tmp/slave_version.txt)"
cmd A
check "D: firmware version in positions 12-22" "03.14.15.92" "$(status 12 22)"
check "D: the string keeps its length" 23 "$(wc -c < /tmp/return.dat)"
cmd T
check "T keeps the firmware version" "03.14.15.92" "$(status 12 22)"

# H: adds to the head-life counter; a sum past 0xFEFFFFFE keeps the count.
rm -f /headlife/liferecode
sim headlife=250
cmd H
check "H on no counter" "250" "$(cat /headlife/liferecode)"
cmd H
check "H adds" "500" "$(cat /headlife/liferecode)"
printf '%u' 4278190000 > /headlife/liferecode
sim headlife=100
cmd H
check "H past 0xFEFFFFFE keeps the count" "4278190000" "$(cat /headlife/liferecode)"
sim headlife=0x0E
printf '%u' 4278190064 > /headlife/liferecode
cmd H
check "H up to 0xFEFFFFFE is added" "4278190078" "$(cat /headlife/liferecode)"

# L: sensor levels.
sim front=258 rear=16
printf '\x02L\x00\x00\x00\x00\x03' > $intake/command-L
wait_gone $intake/command-L
check "L: sensor file" "[sensors]|front=00258|rear=00016" "$(tr '\n' '|' < /tmp/sensor_response.cfg | sed 's/|$//')"

# N: with data it is sent and not answered; with zero data the measurement is stored.
cat > /home/label_config.cfg <<'CFG'
[LabelConfig]
LabelLength=800
GapWidth=16
Sensorthreshold=64
CFG
sim label_length=1600 label_gap=24 label_threshold=8
before=$(frames N)
cmd N 1
check "N 1 sends the label settings" "N 02 4e 03 20 10 04 03" "$(slave_sim log | grep '^N ' | tail -n 1)"
check "N 1 stores nothing" "800" "$(sed -n 's/^LabelLength=//p' /home/label_config.cfg)"
cmd A
check "the link is in step after N 1" "00" "$(status 7 8)"
cmd N
check "N query frame" "N 02 4e 00 00 00 00 03" "$(slave_sim log | grep '^N ' | tail -n 1)"
check "N query stores the measurement" "1576 24 128" \
  "$(sed -n 's/^LabelLength=//p' /home/label_config.cfg) $(sed -n 's/^GapWidth=//p' /home/label_config.cfg) $(sed -n 's/^Sensorthreshold=//p' /home/label_config.cfg)"
check "two N frames" "$((before + 2))" "$(frames N)"
sim label_length=65535
cmd N
check "no label found: settings stay" "1576" "$(sed -n 's/^LabelLength=//p' /home/label_config.cfg)"

# Z: the paper-run gate.
touch /tmp/run_index.txt
sim run=0; cmd Z
check "Z 0 removes the run gate" 0 "$(test -e /tmp/run_index.txt && echo 1 || echo 0)"
sim run=1; cmd Z
check "Z 1 sets the run gate" 1 "$(test -e /tmp/run_index.txt && echo 1 || echo 0)"
sim run=7; cmd Z
check "Z 7 leaves it" 1 "$(test -e /tmp/run_index.txt && echo 1 || echo 0)"
sim run=0; cmd Z

# Y: the print engine variant that fits the power source.
fake=$VPRINTER_BUILD_DIR/tests/slave/fake_engine
cp "$fake" /root/dot_feeder
cp "$fake" /root/dot_feeder_battery
running() { pidof "$1" > /dev/null && echo 1 || echo 0; }
wait_running() { for _ in $(seq 60); do [ "$(running "$1")" = "$2" ] && return; sleep 0.05; done; }
sim power=0; cmd Y
wait_running dot_feeder_battery 1
check "Y with d0 0: battery variant runs" "0 1" "$(running dot_feeder) $(running dot_feeder_battery)"
sim power=1; cmd Y
wait_running dot_feeder 1; wait_running dot_feeder_battery 0
check "Y with d0 1: mains variant runs" "1 0" "$(running dot_feeder) $(running dot_feeder_battery)"
sim power=2; cmd Y
wait_running dot_feeder_battery 1; wait_running dot_feeder 0
check "Y with d0 2: battery variant" "0 1" "$(running dot_feeder) $(running dot_feeder_battery)"

# Frames go out unchanged.
cmd J 1a2b3c ff
check "J goes out as written" "J 02 4a 1a 2b 3c 78 03" "$(slave_sim log | grep '^J ' | tail -n 1)"
check "J acknowledged through the ack file" "0" "$(cat /tmp/ackfile)"

finish
