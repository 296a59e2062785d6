# `./vprinter print --via`: the ZPL sample sent over Wi-Fi, Bluetooth (serial-port profile) and the
# serial Bluetooth module gives the same paper as over USB. Run on the machine (each print boots a
# virtual printer of its own).
. "$(dirname "$0")/../sandbox/lib.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d "${TMPDIR:-/tmp}/via_paper.XXXXXX")
trap 'rm -rf "$out"' EXIT

for via in usb wifi bt serial; do
  "$root/vprinter" print --no-build "$root/samples/shipping_label.zpl" --via $via --out "$out/$via" \
    > "$out/$via.stdout" 2> "$out/$via.stderr"
  rc=$?
  check "--via $via: exit status" 0 "$rc"
  [ "$rc" = 0 ] || tail -5 "$out/$via.stderr"
  check_true "--via $via: the job went over $via" grep -q "bytes sent over $via" "$out/$via.stderr"
done
check_true "the USB paper has rows" test -s "$out/usb/paper.pbm"
for via in wifi bt serial; do
  check_true "--via $via: the same paper as over USB" cmp -s "$out/usb/paper.pbm" "$out/$via/paper.pbm"
done
finish
