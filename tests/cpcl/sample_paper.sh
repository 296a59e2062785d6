# The CPCL samples printed the way a user prints them (`./vprinter print ... --emulation CPCL`):
# the delivery label comes out three times with its counters counted up and every symbol
# readable; the ticket has its running text between two labels. Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
out=$(mktemp -d /tmp/cpcl_sample_paper.XXXXXX)
trap 'rm -rf "$out"' EXIT

check_true "the delivery label prints" \
  "$root/vprinter" print --no-build "$root/samples/delivery.cpcl" --emulation CPCL --out "$out/delivery"
paper=$out/delivery/paper.png
rows=$(head -2 "$out/delivery/paper.pbm" | tail -1 | cut -d' ' -f2)
check_true "three 4-inch labels of paper ($rows rows)" test "$rows" -ge $((3 * 812)) -a "$rows" -le $((3 * 812 + 200))

zbar=$(zbarimg -q "$paper" 2>/dev/null | sort)
for n in 1 2 3; do
  check_true "Code 128 of parcel $n" grep -qx "CODE-128:PCL-000045$n" <<<"$zbar"
done
check "the QR Code on each label" 3 "$(grep -cx 'QR-Code:https://track.example.net/delivery/NW-77812' <<<"$zbar")"

# Each label on its own: the counted text, read by tesseract, and the Code 128 by ZXing too.
for n in 1 2 3; do
  top=$(((n - 1) * rows / 3))
  convert "$paper" -crop 520x44+20+$((top + 370)) +repage -bordercolor white -border 20 -scale 200% "$out/parcel$n.png"
  check "label $n counts its parcel" "PARCEL $n OF 3" "$(tesseract "$out/parcel$n.png" stdout --psm 7 2>/dev/null | head -n 1)"
  convert "$paper" -crop 560x110+10+$((top + 410)) +repage "$out/bars$n.png"
  zx=$(ZXingReader -format Code128 "$out/bars$n.png" 2>/dev/null | sed -n 's/^Text: *"\(.*\)"$/\1/p' | head -n 1)
  check "ZXing reads parcel $n" "PCL-000045$n" "$zx"
done
tesseract "$paper" "$out/ocr" > /dev/null 2>&1
for word in DELIVERY ACME HARDWARE SPRINGFIELD WEIGHT; do
  check_true "tesseract reads $word" grep -qw "$word" "$out/ocr.txt"
done

check_true "the ticket prints" \
  "$root/vprinter" print --no-build "$root/samples/ticket-lp.cpcl" --emulation CPCL --out "$out/ticket"
zbar=$(zbarimg -q "$out/ticket/paper.png" 2>/dev/null)
check_true "ticket Code 128" grep -qx "CODE-128:TKT48213" <<<"$zbar"
check_true "ticket QR Code" grep -qx "QR-Code:https://tickets.example.net/TKT48213" <<<"$zbar"
tesseract "$out/ticket/paper.png" "$out/ticket_ocr" > /dev/null 2>&1
for word in TRAM CENTRAL HARBOUR TOTAL KEEP; do
  check_true "tesseract reads $word on the ticket" grep -qw "$word" "$out/ticket_ocr.txt"
done
finish
