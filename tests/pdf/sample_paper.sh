# The delivery-note sample printed the way a user prints it (`./vprinter print ... --emulation PDF`):
# one A4 page on the simulated paper, its words read back by tesseract; and the picture sample
# (--emulation IMAGE) scaled to the head. Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
out=$(mktemp -d /tmp/pdf_sample_paper.XXXXXX)
trap 'rm -rf "$out"' EXIT

check_true "the delivery note prints" "$root/vprinter" print --no-build "$root/samples/delivery-note.pdf" \
  --emulation PDF --out "$out"
rows=$(head -2 "$out/paper.pbm" | tail -1 | cut -d' ' -f2)
# A4 scaled to the 1728-dot head is 2445 rows.
check_true "one A4 page of paper ($rows rows)" test "${rows:-0}" -ge 2400 -a "${rows:-0}" -le 2600
check "paper width" 1728 "$(head -2 "$out/paper.pbm" | tail -1 | cut -d' ' -f1)"

tesseract "$out/paper.png" "$out/ocr" >/dev/null 2>&1
for word in DELIVERY NOTE Northwind Harbour Southampton Coffee frother PARCELS Signature; do
  check_true "tesseract reads $word on the paper" grep -q -w "$word" "$out/ocr.txt"
done

pic=$out/picture
check_true "the picture prints" "$root/vprinter" print --no-build "$root/samples/picture.png" --emulation IMAGE --out "$pic"
# 600 x 400 pixels scaled to 1728 dots: 1152 rows.
check "picture rows" "1728 1152" "$(head -2 "$pic/paper.pbm" | tail -1)"
finish
