# The receipt with a raster logo, a Code 128, an EAN-13 and a QR Code printed the way a user
# prints it (`./vprinter print ... --emulation ESCPOS`): the symbols decode from the paper with
# zbarimg and ZXingReader, tesseract reads the text, and the logo lies on the paper dot for dot.
# Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
work=$(mktemp -d /tmp/receipt_logo_paper.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The committed sample is the one its script writes.
python3 "$root/samples/make_receipt_logo.py" "$work/made.escpos"
check_true "samples/receipt-logo.escpos is what make_receipt_logo.py writes" cmp -s "$work/made.escpos" "$root/samples/receipt-logo.escpos"

check_true "the receipt prints" "$root/vprinter" print --no-build "$root/samples/receipt-logo.escpos" --emulation ESCPOS --out "$work/out"
paper=$work/out/paper.png

zbar=$(zbarimg -q "$paper" 2>/dev/null)
check_true "zbarimg reads the Code 128" grep -qx 'CODE-128:RCPT-004217' <<<"$zbar"
check_true "zbarimg reads the EAN-13 with its check digit" grep -qx 'EAN-13:4006381333931' <<<"$zbar"
check_true "zbarimg reads the QR Code" grep -qx 'QR-Code:https://cornerbakery.example/r/004217' <<<"$zbar"
zxing() { ZXingReader -format "$1" "$paper" 2>/dev/null | sed -n 's/^Text: *"\(.*\)"$/\1/p' | head -1; }
check "ZXingReader reads the Code 128" "RCPT-004217" "$(zxing Code128)"
check "ZXingReader reads the EAN-13" "4006381333931" "$(zxing EAN-13)"
check "ZXingReader reads the QR Code" "https://cornerbakery.example/r/004217" "$(zxing QRCode)"

convert "$paper" -bordercolor white -border 20 "$work/ocr.png"
tesseract "$work/ocr.png" "$work/eng" >/dev/null 2>&1
for word in CORNER BAKERY Springfield Croissant Sourdough Cappuccino TOTAL Thank visit; do
  check_true "tesseract reads $word on the paper" grep -q -w -- "$word" "$work/eng.txt"
done

# The logo: the first 200 rows of ink, at the receipt's left margin (576 dots), equal the
# logo's own dots.
python3 "$root/samples/make_receipt_logo.py" --logo "$work/logo.pbm"
top=$(python3 - "$work/out/paper.pbm" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
head, pos = [], 0
while len(head) < 3:
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    head.append(data[pos:end])
    pos = end
pos += 1
w, h = int(head[1]), int(head[2])
stride = (w + 7) // 8
print(next(y for y in range(h) if any(data[pos + y * stride:pos + (y + 1) * stride])))
PY
)
convert "$work/out/paper.pbm" -crop "576x200+576+$top" +repage "$work/logo_on_paper.pbm"
diff=$(compare -metric AE "$work/logo.pbm" "$work/logo_on_paper.pbm" null: 2>&1 || true)
check "the logo is on the paper dot for dot" "0" "${diff%% *}"
check "nothing left of the logo" "1" "$(convert "$work/out/paper.pbm" -crop "576x200+0+$top" +repage -format '%[fx:mean==1?1:0]' info: 2>/dev/null)"
finish
