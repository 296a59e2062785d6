# The service language on the booted virtual printer: set-up mode and the busy check, every setting
# command with the key file it changes and the slave commands and scripts it runs, factory defaults
# restoring every file of the factory set, the identity printout read back from the paper.
. "$(dirname "$0")/veltra_lib.sh"

# A job that was waiting before the interpreter started is taken first.
for pid in $(pidof zpl_interp); do kill "$pid"; done
until_true 100 not_running zpl_interp
printf 'waiting-job' > "$work/waiting"
mv "$work/waiting" /tmp/engine_intake/printjob-waiting
check_true "veltra_interp runs" start_veltra
check_true "the job waiting at start is taken" until_true 100 grep -q waiting-job "$VLOG"
slave_sim set fast=1 > /dev/null

# Busy (the slave reports a page in progress): set-up mode is refused, set-up commands do nothing.
slave_sim set status=00000080 thermflag=1 > /dev/null
until_true 100 grep -q '^...1' /tmp/return.dat
paper_before=$(cat /home/paper_config.cfg)
send_bytes '\x1d\x1a\x1b\x1c\x1dMODE\x01\x1d\x06\x02'
check_true "busy: set-up mode refused" reported "setup mode refused: the printer is busy"
check "busy: paper file unchanged" "$paper_before" "$(cat /home/paper_config.cfg)"
slave_sim set status=00000000 thermflag=0 > /dev/null
until_true 100 grep -q '^...0' /tmp/return.dat

# Set-up mode, then paper sensing: the key and the slave's configuration commands in order.
slave_sim log --clear
send_bytes '\x1d\x1a\x1b\x1c\x1dMODE\x01\x1d\x06\x02'
slave_sim wait-frame Y --timeout 10
check "paper sensing: configMarkSeek" 2 "$(sed -n 's/^configMarkSeek=//p' /home/paper_config.cfg)"
check "paper sensing: slave commands C M P K E Y" "CMPKEY" "$(letters)"

# Head-life counter.
echo 4242 > /headlife/liferecode
send_bytes '\x1d\x03\x01\x04'
check "head life cleared" 0 "$(cat /headlife/liferecode)"

# Contrast 7: the preset becomes the paper file, the burn tables are rebuilt, the engine restarted.
old_feeder=$(pidof dot_feeder)
slave_sim log --clear
send_bytes '\x1d\x08\x07'
slave_sim wait-frame R --timeout 20
check "contrast: the preset is the paper file" "$(cat /home/contrast/7.cfg)" "$(cat /home/paper_config.cfg)"
check "contrast: Y then R" "YR" "$(letters)"
check "contrast: R 1" "R 02 52 01 00 00 00 03" "$(slave_sim log | grep '^R ' | tail -n 1)"
check_true "contrast: a new print engine" restarted dot_feeder "$old_feeder"

# Wi-Fi modes: the address method, the script, the host link restarted.
: > $calls
old_link=$(pidof host_link)
send_bytes '\x1d\x07\x01'
check "Wi-Fi 1: access point" AccessPoint "$(sed -n 's/^LANAddressMethod=//p' /networkConfig/network_config.cfg)"
check "Wi-Fi 1: calls" "killall host_link;/home/access_point_wifi.sh;" "$(tr '\n' ';' < $calls)"
check_true "Wi-Fi 1: host_link again" restarted host_link "$old_link"
: > $calls
send_bytes '\x1d\x07\x02'
check "Wi-Fi 2: DHCP" DHCP "$(sed -n 's/^LANAddressMethod=//p' /networkConfig/network_config.cfg)"
check "Wi-Fi 2: calls" "killall host_link;/home/udhcp_wifi.sh;" "$(tr '\n' ';' < $calls)"
: > $calls
network_before=$(cat /networkConfig/network_config.cfg)
old_link=$(pidof host_link)
send_bytes '\x1d\x07\x03'
check "Wi-Fi 3: only the host link restarts" "killall host_link;" "$(tr '\n' ';' < $calls)"
check "Wi-Fi 3: network file unchanged" "$network_before" "$(cat /networkConfig/network_config.cfg)"
check_true "Wi-Fi 3: host_link again" restarted host_link "$old_link"

# Factory defaults: every file of the factory set changed first, every one restored.
pairs="networkConfig/network_config.cfg:/networkConfig/network_config.cfg
Wireless/wireless.cfg:/etc/Wireless/wireless.cfg
networkConfig/wpa_supplicant.conf:/etc/wpa_supplicant.conf
hexdump_config.cfg:/home/hexdump_config.cfg
escpos_emu.cfg:/home/escpos_emu.cfg
image_config.cfg:/imageConfig/image_config.cfg
bluetooth/blueTooth.cfg:/btConfig/blueTooth.cfg
bluetooth/main.conf:/etc/bluetooth/main.conf
inch_device_config.cfg:/home/inch_device_config.cfg
mm_device_config.cfg:/home/mm_device_config.cfg
paper_config.cfg:/home/paper_config.cfg
inch_mark_config.cfg:/home/inch_mark_config.cfg
mm_mark_config.cfg:/home/mm_mark_config.cfg
device_config_units.cfg:/home/device_config_units.cfg
default_language.cfg:/home/default_language.cfg
selectedLanguage.cfg:/home/selectedLanguage.cfg"
for p in $pairs; do echo "# changed by the test" >> "${p#*:}"; done
: > $calls
slave_sim log --clear
send_bytes '\x1d\x02\x02'
slave_sim wait-frame R --timeout 20
for p in $pairs; do
  check_true "factory defaults restore ${p#*:}" cmp -s "/home/factoryDefaults/${p%%:*}" "${p#*:}"
done
check "factory defaults: slave commands C M P E Y R" "CMPEYR" "$(letters)"
check "factory defaults: scripts" "php /home/access_point_ssid.php;/home/bluez_update_config.sh;" \
  "$(grep -e access_point_ssid -e bluez_update $calls | tr '\n' ';')"

# The identity printout: three lines on the paper, read back.
until_true 100 pidof dot_feeder
slave_sim paper reset > /dev/null
send_bytes '\x1d\x01\x02\x1d\x01\x04\x1d\x01\x12'
check_true "identity printed" slave_sim wait-idle --rows 60 --timeout 60
slave_sim paper > /dev/null
convert /sim/paper.pbm -resize 200% -bordercolor white -border 40 "$work/identity.png"
tesseract "$work/identity.png" "$work/identity" > /dev/null 2>&1
for word in model: KVX8 S/N: 10000001 firmwareVersion: 01.05.00.00; do
  check_true "identity: tesseract reads $word" grep -qF "$word" "$work/identity.txt"
done

# Leaving set-up mode: set-up commands are ignored again; the next job still ends with a page.
send_bytes '\x1d\x1a\x1b\x1c\x1dMODE\x02\x1d\x03\x01\x04'
check "outside set-up mode: head life untouched" 0 "$(cat /headlife/liferecode)"
echo 7 > /headlife/liferecode
send_bytes '\x1d\x03\x01\x04'
check "outside set-up mode: ignored" 7 "$(cat /headlife/liferecode)"
finish
