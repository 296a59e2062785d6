# Helpers of the ZPL tests in the booted virtual printer: jobs sent to the USB gadget as a host
# sends them, the paper compared with a reference printed the same way.
. "$TESTS_DIR/sandbox/lib.sh"

work=$(mktemp -d /tmp/zpl_booted.XXXXXX)
intake=/tmp/engine_intake
images=/tmp/dot_feeder_intake

# wait_for CMD...: until CMD succeeds (30 s at most: the machine may be busy)
wait_for() {
  for _ in $(seq 600); do
    "$@" > /dev/null 2>&1 && return 0
    sleep 0.05
  done
  return 1
}

link_pid() { pidof host_link | cut -d' ' -f1; }
# host_link has read all the host wrote and closed its job file
link_idle() {
  [ "$(usb_host pending)" = 0 ] && ! ls -l "/proc/$(link_pid)/fd" 2>/dev/null | grep -q "$intake/printjob"
}
# send FILE: as a host, then until host_link has closed the job file
send() {
  usb_host send "$1" || echo "usb_host send $1 failed"
  wait_for link_idle || echo "host_link did not finish reading"
}

rows() { slave_sim stats | sed -n 's/^rows=\([0-9]*\).*/\1/p'; }
new_paper() { slave_sim paper reset > /dev/null; }
# printed [ROWS]: the paper has at least ROWS rows (default 1) and has stood still
printed() {
  slave_sim wait-idle --rows "${1:-1}" --quiet 1000 --timeout 90 > /dev/null && return 0
  echo "the printer did not settle: $(slave_sim stats); engine files: $(ls $images /tmp/profiler_intake /tmp/profilesize 2>/dev/null | tr '\n' ' ')"
  return 1
}
# paper_copy OUT: the paper as it is now
paper_copy() { slave_sim paper > /dev/null; cp /sim/paper.pbm "$1"; }

# label FILE TEXT...: one ZPL label per TEXT (a line of text and a black bar)
label() {
  local out=$1 t
  shift
  : > "$out"
  for t in "$@"; do
    printf '^XA^FO50,50^A0N,80,0^FD%s^FS^FO50,200^GB1500,150,150^FS^XZ\r\n' "$t" >> "$out"
  done
}

# written PID: the bytes the process has written so far (its dot images among them)
written() { sed -n 's/^wchar: //p' "/proc/$1/io" 2>/dev/null; }
