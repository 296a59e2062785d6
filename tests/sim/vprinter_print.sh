#!/usr/bin/env bash
# `./vprinter print` tells the truth: arguments that cannot work are refused before booting, no
# paper of an earlier run is left beside a run that printed nothing, and Ctrl-C (to the process
# or to its process group) stops, keeps the paper printed so far, says so and exits 130; a
# Ctrl-C before the job went out means the job is not sent. Run on the machine.
set -u
. "$(dirname "$0")/../sandbox/lib.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vprinter_print.XXXXXX")
trap 'rm -rf "$work"' EXIT

for i in 1 2 3 4 5 6 7 8 9 10; do
  printf '^XA^FO50,50^A0N,80,0^FDLABEL %d^FS^FO50,200^GB1500,150,150^FS^XZ\r\n' "$i"
done > "$work/ten.zpl"
full_rows=3000   # the ten labels are more than this many rows

# print OUT [ARG...]: ./vprinter print of the ten labels, stderr in $work/err, status in $rc
print() {
  local out=$1
  shift
  "$root/vprinter" print --no-build "$work/ten.zpl" --out "$out" "$@" > "$work/out" 2> "$work/err"
  rc=$?
}
height() { head -c 64 "$1" 2>/dev/null | sed -n '2s/^[0-9]* \([0-9]*\).*/\1/p'; }
booted() { grep -q "booting" "$work/err" && echo yes || echo no; }

# ---- refused before booting -------------------------------------------------------------------
print "$work/a" --emulation NOPE
check "unknown emulation: exit status" 2 "$rc"
check_true "unknown emulation: the message names it" grep -q 'unknown emulation "NOPE"' "$work/err"
check "unknown emulation: nothing booted" no "$(booted)"
check_true "unknown emulation: nothing written" test ! -e "$work/a"

print /proc/vprinter-print-test
check "an --out that cannot be made: exit status" 1 "$rc"
check_true "an --out that cannot be made: the message says so" grep -q "cannot write to /proc/vprinter-print-test" "$work/err"
check "an --out that cannot be made: nothing booted" no "$(booted)"
print /proc
check "an --out that cannot be written: exit status" 1 "$rc"
check "an --out that cannot be written: nothing booted" no "$(booted)"
if [ "$(id -u)" != 0 ]; then
  mkdir "$work/ro" && chmod 500 "$work/ro"
  print "$work/ro"
  check "a read-only --out: exit status" 1 "$rc"
  chmod 700 "$work/ro"
fi

# ---- nothing printed: no paper of an earlier run is left ----------------------------------------
mkdir -p "$work/stale/logs"
for f in paper.png paper.pbm profile.bin rows.log logs/old.log; do echo old > "$work/stale/$f"; done
printf 'no label in here\n' > "$work/nothing.zpl"
VPRINTER_PRINT_WAIT=4 "$root/vprinter" print --no-build "$work/nothing.zpl" --out "$work/stale" > /dev/null 2> "$work/err"
check "nothing printed: exit status" 1 "$?"
check_true "nothing printed: the message says so" grep -q "nothing printed" "$work/err"
check "nothing printed: no \"the paper is in\" line" "" "$(grep 'the paper is in' "$work/err")"
check "nothing printed: no paper files, old or new" "" \
  "$(cd "$work/stale" && ls paper.png paper.pbm profile.bin rows.log logs/old.log 2>/dev/null)"
check_true "nothing printed: the logs of this run are there" test -s "$work/stale/logs/calls.log"

# ---- Ctrl-C -------------------------------------------------------------------------------------
# interrupt HOW WHEN OUT: starts the print (SIGINT not ignored, in a process group of its own),
# waits until stderr shows WHEN, sends SIGINT to the process (HOW=process) or its group
# (HOW=group), waits for the end; status in $rc.
interrupt() {
  local how=$1 when=$2 out=$3 pid n
  rm -f "$work/err"
  setsid env --default-signal=INT "$root/vprinter" print --no-build "$work/ten.zpl" --out "$out" \
    > "$work/out" 2> "$work/err" &
  pid=$!
  for n in $(seq 1200); do grep -qs "$when" "$work/err" && break; sleep 0.05; done
  if [ "$how" = group ]; then kill -INT -- "-$pid"; else kill -INT "$pid"; fi
  wait "$pid"
  rc=$?
}
for how in process group; do
  interrupt $how "printing:" "$work/int-$how"
  rows=$(sed -n 's/.*interrupted after \([0-9]*\) rows.*/\1/p' "$work/err")
  check "Ctrl-C to the $how while printing: exit status" 130 "$rc"
  check_true "Ctrl-C to the $how: \"interrupted after N rows\" ($rows)" test -n "$rows"
  check_true "Ctrl-C to the $how: it stopped before the end of the job" test "${rows:-0}" -gt 0 -a "${rows:-0}" -lt "$full_rows"
  check "Ctrl-C to the $how: the partial paper is kept" "${rows:-x}" "$(height "$work/int-$how/paper.pbm")"
  check "Ctrl-C to the $how: no summary line" "" "$(cat "$work/out")"
done

interrupt process "booting" "$work/early"
check "an early Ctrl-C: exit status" 130 "$rc"
check_true "an early Ctrl-C: interrupted after 0 rows" grep -q "interrupted after 0 rows" "$work/err"
check "an early Ctrl-C: the job was not sent" "" "$(grep 'sent to the USB gadget' "$work/err")"
check_true "an early Ctrl-C: no paper" test ! -e "$work/early/paper.pbm"

finish
