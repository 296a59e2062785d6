# The virtual printer's sandbox: private, writable device paths on one filesystem.
. "$(dirname "$0")/lib.sh"

check "no network but loopback" "lo" "$(ls /sys/class/net 2>/dev/null || ip -o link | awk -F': ' '{print $2}' | tr '\n' ' ' | sed 's/ $//')"
check "device programs staged in /root" 1 "$(test -x /root/engine_cmd && echo 1)"
check "key files at their device paths" 1 "$(test -f /home/globalDefines.cfg && echo 1)"

# Writable device paths; a rename between the job intake and the engine intake stays a rename.
mkdir -p /jobIntake /tmp/engine_intake
echo job > /jobIntake/printjob-1
check "job intake and engine intake on one filesystem" \
  "$(stat -c %d /jobIntake)" "$(stat -c %d /tmp/engine_intake)"
check_true "rename across intake folders" mv -T /jobIntake/printjob-1 /tmp/engine_intake/printjob-1
check "renamed file content" job "$(cat /tmp/engine_intake/printjob-1)"

# GPIO stand-in folder is writable.
mkdir -p /sys/class/gpio/pioC6
echo 1 > /sys/class/gpio/pioC6/value
check "gpio stand-in" 1 "$(cat /sys/class/gpio/pioC6/value)"

# Pseudo-terminals of our own.
check_true "private devpts" test -c /dev/pts/ptmx

echo marker > /root/vprinter-sandbox-marker
finish
