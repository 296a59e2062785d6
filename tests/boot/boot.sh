# boot_supervisor's start-up sequence, with the virtual printer's stand-ins for the outside
# scripts (their calls are logged in /sim/log/calls.log) and a stand-in slave link.
. "$(dirname "$0")/../sandbox/lib.sh"

calls=/sim/log/calls.log
requests=/tmp/slave_requests

# The programs the start-up starts are replaced by stand-ins that log their call the same way.
logger() { printf '#!/bin/sh\nprintf "%%s\\n" "$0${*:+ $*}" >> %s\n%s\n' "$calls" "${2:-}" > "$1"; chmod +x "$1"; }
logger /root/dot_feeder
logger /home/start_emulation.sh
logger /root/host_link 'while :; do sleep 1; done'

# engine_watch's part: takes command files; answers the version request number $1 (0: never).
slave_link_pid=""
start_slave_link() {
  : > "$requests"
  (
    n=0
    while :; do
      if [ -e /tmp/command_intake/command-D ]; then
        rm -f /tmp/command_intake/command-D
        n=$((n + 1))
        echo "D $n" >> "$requests"
        [ "$n" = "$1" ] && printf '02.03.04.05' > /tmp/slave_version.txt
      fi
      rm -f /tmp/command_intake/command-*
      sleep 0.02
    done
  ) &
  slave_link_pid=$!
}
stop_slave_link() { [ -n "$slave_link_pid" ] && kill "$slave_link_pid"; slave_link_pid=""; }

set_key() { sed -i "s|^$2=.*|$2=$3|" "$1"; }
set_key /home/oem_config.cfg printerName P
set_key /home/serial_number.cfg configSN 123

# boot: runs boot_supervisor from a working folder and home other than "/"; sets $took (seconds).
boot() {
  mkdir -p /tmp/elsewhere
  : > "$calls"
  local t0=$(date +%s%N)
  (cd /tmp/elsewhere && HOME=/tmp/elsewhere /root/boot_supervisor)
  boot_status=$?
  took=$((($(date +%s%N) - t0) / 1000000))
}
# the calls in order, one line, without the background ones whose log line may come at any time
ordered_calls() { grep -v -e modprobeUSB -e '^/root/host_link$' -e '^/root/dot_feeder$' "$calls" | tr '\n' ';'; }
no_host_link() { ! pgrep -x host_link > /dev/null; }
stop_host_links() { pkill -x host_link; eventually no_host_link; }

# ---- 1. Bluetooth; host name to change; the slave answers only the second version request ------
mkdir -p /command_intake /tmp/engine_intake /emuIntake /jobIntake/reprint/sub /tmp/command_intake
echo x > /command_intake/command-G
echo x > /tmp/engine_intake/printjob-3
echo x > /emuIntake/job
echo x > /jobIntake/printjob-Ab12Cd
echo x > /jobIntake/.partial
echo "last job" > /jobIntake/reprint/printjob-1
echo "kept too" > /jobIntake/reprint/sub/file
printf 'P-1234\n' > /etc/hostname
set_key /home/interface_config.cfg configInterface BT
rm -f /tmp/slave_version.txt
start_slave_link 2
boot
stop_slave_link
check "exit status" "0" "$boot_status"
check "the start-up order" "php /home/update_interface_config.php;/home/bluez_update_config.sh;php /home/access_point_ssid.php;/home/start_emulation.sh ZPL;php /home/interface_launch.php;hcitool dev;" "$(ordered_calls)"
check "the USB gadget is loaded first" "php /home/modprobeUSB.php" "$(grep -m1 modprobeUSB $calls)"
check_true "host_link is started through the interface script" grep -qx /root/host_link "$calls"
check_true "the print engine is started" grep -qx /root/dot_feeder "$calls"
check "intake folders emptied" "" "$(find /command_intake /tmp/engine_intake /emuIntake -mindepth 1)"
check "the job intake keeps only the reprint folder" "reprint" "$(ls -A /jobIntake)"
check "the reprint folder keeps its content, whatever the home folder" "last job|kept too" "$(cat /jobIntake/reprint/printjob-1)|$(cat /jobIntake/reprint/sub/file)"
check "a slave answering the second request still gives the version" "D 1 D 2" "$(cat $requests | tr '\n' ' ' | sed 's/ $//')"
check "the version is stored" "02.03.04.05" "$(sed -n 's/^slaveVersion=//p' /home/oem_config.cfg)"
check_true "other keys and comments of oem_config.cfg stay" grep -q '^# 21 characters' /home/oem_config.cfg
check "host name P-123 replaces P-1234 (whole line compared), written without a shell" "P-123" "$(cat /etc/hostname)"
check "the Bluetooth MAC record" "$(printf '[MACAddress]\nBT_ADDR=00:1A:7D:DA:71:13')" "$(cat /home/btMAC.cfg)"
check "no IP over USB when the slave answered" "" "$(grep ipoverusb $calls)"
stop_host_links

# ---- 2. Wi-Fi; host name already right; a slave that never answers --------------------------
# A version file caught half-written is no version; an old request that nobody takes must not
# hold the start-up (no engine_watch at all here).
printf 'P-123\n' > /etc/hostname
set_key /home/oem_config.cfg slaveVersion 01.10.00.00-20240517A
set_key /home/interface_config.cfg configInterface WIFI
printf '02.0' > /tmp/slave_version.txt
echo x > /tmp/command_intake/command-D
wifi=0
if ip link add wlan0 type veth peer name wpeer 2>/dev/null && ip link set wlan0 address 02:11:22:33:44:55; then
  wifi=1
fi
boot
check "exit status" "0" "$boot_status"
check_true "the start-up does not wait long for a silent slave (${took} ms)" test "$took" -lt 8000
check "no engine_cmd left waiting" "" "$(pgrep -x engine_cmd)"
check "host name P-123 left alone" "php /home/update_interface_config.php;/home/start_emulation.sh ZPL;php /home/interface_launch.php;php /home/ipoverusbUP.php;" "$(ordered_calls)"
check "P-123 kept" "P-123" "$(cat /etc/hostname)"
check "an incomplete version is not stored" "01.10.00.00-20240517A" "$(sed -n 's/^slaveVersion=//p' /home/oem_config.cfg)"
if [ $wifi = 1 ]; then
  check "the Wi-Fi MAC record" "$(printf '[MACAddress]\nWIFI_ADDR=02:11:22:33:44:55')" "$(cat /home/wifiMAC.cfg)"
  ip link del wlan0
else
  echo "SKIP Wi-Fi MAC record: no virtual network link here"
fi
before=$(cat /home/wifiMAC.cfg)
rm -f /tmp/slave_version.txt /tmp/command_intake/*
printf '02.03.04.05' > /tmp/slave_version.txt
boot
check "without wlan0 the Wi-Fi record is untouched" "$before" "$(cat /home/wifiMAC.cfg)"
stop_host_links

# ---- 3. Serial Bluetooth module: host_link is stopped during the module set-up ---------------
set_key /home/interface_config.cfg configInterface NSCBT
rm -f /tmp/slave_version.txt
start_slave_link 1
boot
stop_slave_link
check "the module set-up order" "php /home/update_interface_config.php;/home/start_emulation.sh ZPL;php /home/interface_launch.php;killall host_link;/root/NSCBT_setup R;/root/NSCBT_setup W;" "$(ordered_calls)"
# host_link is started in the background: its log line and its process come when they come.
restarted_last() { [ "$(tail -1 $calls)" = /root/host_link ] && pgrep -x host_link > /dev/null; }
eventually restarted_last
check "and started again at the end" "/root/host_link" "$(tail -1 $calls)"
check "host_link runs again afterwards, once" "1" "$(pgrep -xc host_link)"
check "the module's address is recorded" "$(printf '[MACAddress]\nBT_ADDR=00:1b:35:00:00:01')" "$(cat /home/btMAC.cfg)"
stop_host_links

finish
