# The JPL sample label printed the way a user prints it (`./vprinter print ... --emulation JPL`):
# every symbol on the simulated paper decodes to what was sent, and the text reads. Runs outside
# the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
out=$(mktemp -d /tmp/jpl_sample_paper.XXXXXX)
trap 'rm -rf "$out"' EXIT

check_true "the sample prints" "$root/vprinter" print --no-build "$root/samples/label.jpl" --emulation JPL --out "$out"
rows=$(head -2 "$out/paper.pbm" | tail -1 | cut -d' ' -f2)
check_true "6 in of paper ($rows rows)" test "$rows" -ge 1218 -a "$rows" -le 1300

convert "$out/paper.pbm" "$out/paper.pgm"
symbols=$(/usr/bin/python3 "$TESTS_DIR/zpl/read_symbols.py" "$out/paper.pgm")
check_true "Code 128 tracking number" grep -qx "Code128.*1Z999AA10123456784" <<<"$symbols"
check_true "Code 39 route with its check character" grep -qx "Code39.*ROUTE4201" <<<"$symbols"
check_true "QR Code" grep -qx "QRCode.*https://track.example.net/1Z999AA10123456784" <<<"$symbols"
check_true "Data Matrix" grep -qx "DataMatrix.*1Z999AA10123456784 PARCEL 1/3" <<<"$symbols"
check_true "PDF417" grep -qx "PDF417.*PO 778812 / DEPT 42 / BOX 1 OF 3 / WEIGHT 2 LB" <<<"$symbols"
convert "$out/paper.pgm" -crop 700x260+25+155 +repage -scale 200% -bordercolor white -border 20 "$out/address.png"
address=$(tesseract "$out/address.png" stdout --psm 6 2>/dev/null | tr -d ' ')
check_true "the receiver's name reads" grep -q "HARBOURSTORES" <<<"$address"
check_true "the dock reads" grep -q "ATTN:RECEIVINGDOCK4" <<<"$address"
check_true "the town reads" grep -q "SPRINGFIELDCA90210" <<<"$address"
finish
