# The configuration page on the booted virtual printer, asked for as engine_watch asks for it
# ("/home/create_testpage.sh"): tesseract reads the identity and the interface lines, the company
# QR Code decodes; Wi-Fi shows its block instead of the USB set-up address; without a battery
# reading the page waits at most 3 s and shows the battery as unknown; a second start while a
# profile waits prints nothing.
. "$TESTS_DIR/sandbox/lib.sh"
work=$(mktemp -d /tmp/selftest_page.XXXXXX)
slave_sim set fast=1 charge=74 > /dev/null

# page NAME: prints the page and leaves NAME.png (the paper) and NAME.txt (tesseract's reading).
page() {
  slave_sim paper reset > /dev/null
  /home/create_testpage.sh >> /sim/log/selftest_interp.log 2>&1
  slave_sim wait-idle --rows 500 --quiet 500 --timeout 120 > /dev/null
  slave_sim paper > /dev/null
  convert /sim/paper.pbm -resize 200% -bordercolor white -border 40 "$work/$1.png"
  tesseract "$work/$1.png" "$work/$1" > /dev/null 2>&1
}
reads() { grep -qF "$2" "$work/$1.txt"; }

page usb
for text in "Model: KVX8" "Firmware version: 01.05.00.00" "Serial number: 10000001" "Interfaces" "USB active" \
            "169.254.200.1" "Discharging:74%"; do
  check_true "USB page: tesseract reads \"$text\"" reads usb "$text"
done
check_true "USB page: no Wi-Fi block" test -z "$(grep -F "Wi-Fi active" "$work/usb.txt")"
check "USB page: the company QR Code" "QR-Code:www.telmaron.example" "$(zbarimg -q "$work/usb.png" 2>/dev/null | grep '^QR-Code')"
check "USB page: no dot image left" "" "$(ls /tmp/dot_feeder_intake)"
check "USB page: no markup file left" no "$(test -e /tmp/setup_testpage.txt && echo yes || echo no)"

sim_keyset /home/interface_config.cfg Interface configInterface WIFI
sim_keyset /home/wifiMAC.cfg MACAddress WIFI_ADDR 02:11:22:33:44:55
page wifi
for text in "Wi-Fi active" "Address method: DHCP" "IP address: 192.168.1.100" "Port: 6101" "02:11:22:33:44:55"; do
  check_true "Wi-Fi page: tesseract reads \"$text\"" reads wifi "$text"
done
check_true "Wi-Fi page: no USB set-up address" test -z "$(grep -F "169.254.200.1" "$work/wifi.txt")"
check_true "Wi-Fi page: the MAC address as Code 128" grep -qx "CODE-128:02:11:22:33:44:55" <(zbarimg -q "$work/wifi.png" 2>/dev/null)
sim_keyset /home/interface_config.cfg Interface configInterface USB

# No battery reading (nobody takes the command files: engine_watch stopped, so even engine_cmd
# waits for ever): the page waits at most 3 s, then shows the battery as unknown.
kill "$(cat /sim/run/engine_watch.pid)"
for _ in $(seq 100); do pidof engine_watch > /dev/null || break; sleep 0.05; done
t0=$(date +%s%N)
slave_sim paper reset > /dev/null
/home/create_testpage.sh >> /sim/log/selftest_interp.log 2>&1
ms=$((($(date +%s%N) - t0) / 1000000))
sim_restart engine_watch
check_true "no battery reading: the page waited at most about 3 s ($ms ms)" test $ms -ge 2900 -a $ms -lt 8000
slave_sim wait-idle --rows 500 --quiet 500 --timeout 120 > /dev/null
slave_sim paper > /dev/null
convert /sim/paper.pbm -resize 200% -bordercolor white -border 40 "$work/unknown.png"
tesseract "$work/unknown.png" "$work/unknown" > /dev/null 2>&1
check_true "no battery reading: the battery is unknown" reads unknown "(unknown)"

# A second start while a profile is waiting to be printed (a size file the engine holds) prints nothing.
slave_sim paper reset > /dev/null
echo 0 > /tmp/profilesize/prosize
/home/create_testpage.sh >> /sim/log/selftest_interp.log 2>&1
check "busy engine: no page" "" "$(ls /tmp/dot_feeder_intake)"
rm -f /tmp/profilesize/prosize
sleep 1
check "busy engine: nothing printed" 0 "$(slave_sim stats | sed -n 's/.*rows=\([0-9]*\).*/\1/p')"
rm -rf "$work"
finish
