# A slave that never acknowledges a firmware transfer: the wait ends after 30 s, the failure is
# reported, the image is not sent, and the print engine and host link come back.
. "$(dirname "$0")/veltra_lib.sh"

check_true "veltra_interp runs" start_veltra
slave_sim set silent=1 > /dev/null
{ printf '\x1b@\xa5['; head -c 4000 /dev/urandom; } > "$work/slave.job"
t0=$(date +%s)
send "$work/slave.job"
check_true "the wait ends and is reported" reported "slave firmware not sent: the slave did not acknowledge the transfer within 30 s" 300
elapsed=$(($(date +%s) - t0))
check_true "waited about 30 s ($elapsed s)" test "$elapsed" -ge 29 -a "$elapsed" -le 40
slave_sim set silent=0 > /dev/null
check "nothing reached the slave" no "$(test -e /sim/firmware.bin && echo yes || echo no)"
check_true "host_link back" until_true 100 pidof host_link
check_true "print engine back" until_true 100 pidof dot_feeder
check_true "modprobe g_printer" grep -qx "modprobe g_printer" $calls
check_true "the service language still takes jobs" pidof veltra_interp
rm -rf "$work"
finish
