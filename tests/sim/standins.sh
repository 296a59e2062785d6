# Stand-ins for the outside scripts and tools: each call is logged under /sim, each does the one
# effect the system relies on.
. "$(dirname "$0")/../sandbox/lib.sh"
fake=$VPRINTER_BUILD_DIR/tests/slave/fake_engine
log=/sim/log/calls.log
rm -f $log
running() { pidof "$1" > /dev/null && echo 1 || echo 0; }
wait_running() { for _ in $(seq 60); do [ "$(running "$1")" = "$2" ] && return; sleep 0.05; done; }

check_true "stand-ins are not part of the device image" test ! -e "$VPRINTER_BUILD_DIR/image/home/recode_headlife.sh"
check_true "nor the simulator" test ! -e "$VPRINTER_BUILD_DIR/image/sim"
check_true "the abort script is the device's own, not a stand-in" grep -q "cancels the job" /home/abort_deal.sh

sh -c '/home/recode_headlife.sh &'
/home/recd_wifi_log.sh start
/home/recd_wifi_log.sh stop
php /home/ipoverusbUP.php
sh -c 'php /home/ipoverusbDOWN.php &'
sh -c '. /home/bluez_update_config.sh; echo sourced-ok' > /tmp/sourced
/home/access_point_wifi.sh
/home/udhcp_wifi.sh
# The stand-ins started in the background log when they get to it.
eventually grep -qxF "/home/recode_headlife.sh" $log
eventually grep -qxF "php /home/ipoverusbDOWN.php" $log
for line in "/home/recode_headlife.sh" "/home/recd_wifi_log.sh start" "/home/recd_wifi_log.sh stop" \
            "php /home/ipoverusbUP.php" "php /home/ipoverusbDOWN.php" "/home/bluez_update_config.sh" \
            "/home/access_point_wifi.sh" "/home/udhcp_wifi.sh"; do
  check_true "logged: $line" grep -qxF "$line" $log
done
check "sourced stand-in leaves the caller running" "sourced-ok" "$(cat /tmp/sourced)"

# hcitool dev: one line for hci0 with a tab, the name, a tab, the address.
hcitool dev | grep hci0 > /tmp/bluetooth_mac
check "hcitool dev" "$(printf '\thci0\t00:1A:7D:DA:71:13')" "$(head -n 1 /tmp/bluetooth_mac)"
check_true "hcitool logged" grep -qxF "hcitool dev" $log

# bcast.sh brings ipAddress up to date; NSCBT_setup R fills the Bluetooth MAC file.
/home/bcast.sh
check "bcast.sh: address" "127.0.0.1" "$(sed -n 's/^ipAddress=//p' /home/oem_config.cfg)"
/root/NSCBT_setup R
check "NSCBT_setup R: module address" "00:1b:35:00:00:01" "$(sed -n 's/^BT_ADDR=//p' /home/btMAC.cfg)"
/root/NSCBT_setup W
check_true "NSCBT_setup W logged" grep -qxF "/root/NSCBT_setup W" $log

# killall finds a program by its name also when that is longer than the kernel's 15 characters.
cp "$fake" /root/dot_feeder_battery
cp "$fake" /root/dot_feeder
/root/dot_feeder_battery & batt=$!
/root/dot_feeder & mains=$!
wait_running dot_feeder_battery 1
wait_running dot_feeder 1
killall dot_feeder_battery
check "killall dot_feeder_battery" "0 1" "$(wait_running dot_feeder_battery 0; running dot_feeder_battery) $(running dot_feeder)"
killall dot_feeder
check "killall dot_feeder" "0" "$(wait_running dot_feeder 0; running dot_feeder)"
check "killall of nothing fails" "1" "$(killall host_link 2>/dev/null; echo $?)"
cp "$fake" /root/host_link
cp "$fake" /root/selftest_interp

# The interface script starts host_link (once); the test page script of the device image starts
# selftest_interp.
php /home/interface_launch.php
php /home/interface_launch.php
wait_running host_link 1
check "interface_launch.php: one host_link" 1 "$(pidof host_link | wc -w)"
sh -c '/home/create_testpage.sh &'
wait_running selftest_interp 1
check "create_testpage.sh: selftest_interp" 1 "$(running selftest_interp)"

# modprobe is logged.
modprobe -r g_printer
check_true "modprobe logged" grep -qxF "modprobe -r g_printer" $log

for p in host_link selftest_interp; do
  for pid in $(pidof $p); do kill "$pid"; done
done
finish
