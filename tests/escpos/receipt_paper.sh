# The sample receipt printed the way a user prints it (`./vprinter print ... --emulation ESCPOS`):
# tesseract reads its words and its Chinese line from the paper, the paper streamed line by line
# equals the receipt rendered as one page, and a receipt in three code pages reads back.
# Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
work=$(mktemp -d /tmp/receipt_paper.XXXXXX)
trap 'rm -rf "$work"' EXIT

# ink_crop IN OUT: the rows and columns that hold ink, as a PBM
ink_crop() { convert "$1" -bordercolor white -border 1 -trim +repage "$2"; }
# bands PBM: "top height" of each run of rows with ink, top to bottom
bands() {
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
fields, pos = [], 0
while len(fields) < 3:
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
pos += 1
w, h = int(fields[1]), int(fields[2])
stride = (w + 7) // 8
top = None
for y in range(h + 1):
    ink = y < h and any(data[pos + y * stride:pos + (y + 1) * stride])
    if ink and top is None:
        top = y
    if not ink and top is not None:
        print(top, y - top)
        top = None
PY
}
# ocr_band PBM N LANG OUT: band N (1 = first, -1 = last) read by tesseract in language LANG
ocr_band() {
  local band
  band=$(bands "$1" | { if [ "$2" -lt 0 ]; then tac | sed -n "$((-$2))p"; else sed -n "$2p"; fi; })
  set -- "$1" "$2" "$3" "$4" $band
  convert "$1" -crop "1728x$(($6 + 8))+0+$(($5 - 4))" +repage -trim +repage -bordercolor white -border 20 -scale 200% "$4.png"
  tesseract "$4.png" "$4" -l "$3" --psm 7 >/dev/null 2>&1
  tr -d ' \n' < "$4.txt"
}

check_true "the sample prints" "$root/vprinter" print --no-build "$root/samples/receipt.escpos" --emulation ESCPOS --out "$work/out"

convert "$work/out/paper.png" -bordercolor white -border 20 "$work/paper.png"
tesseract "$work/paper.png" "$work/eng" >/dev/null 2>&1
for word in CORNER BAKERY Springfield Croissant Sourdough Cappuccino Subtotal TOTAL payment Thank visit; do
  check_true "tesseract reads $word on the paper" grep -q -w -- "$word" "$work/eng.txt"
done
# The Chinese line is the third line from the bottom.
check "tesseract reads the Chinese line" "谢谢光临" "$(ocr_band "$work/out/paper.pbm" -3 chi_sim "$work/chi")"

# The paper, streamed line by line, against the receipt rendered as one page.
"$ESCPOS_RENDER" "$root/samples/receipt.escpos" "$work/ref.pbm" > /dev/null
check_true "the reference renders" test -s "$work/ref.pbm"
ink_crop "$work/out/paper.pbm" "$work/paper_ink.pbm"
ink_crop "$work/ref.pbm" "$work/ref_ink.pbm"
size() { identify -format '%w %h' "$1"; }
check "the streamed paper has the size of the receipt as one page" "$(size "$work/ref_ink.pbm")" "$(size "$work/paper_ink.pbm")"
check "the streamed paper has the lines of the receipt as one page" "$(bands "$work/ref_ink.pbm" | tr '\n' ' ')" \
  "$(bands "$work/paper_ink.pbm" | tr '\n' ' ')"
diff=$(compare -metric AE "$work/ref_ink.pbm" "$work/paper_ink.pbm" null: 2>&1 || true)
check_true "the streamed paper equals the receipt as one page ($diff dots differ)" test "${diff%% *}" -le 50 2>/dev/null

# Three code pages on one receipt: PC437, WPC1252 and PC850, each line read in its language.
printf '\x1b@\x1bt\x00Se\xa4or Garc\xa1a\n\x1bt\x10Caf\xe9 cr\xe8me\n\x1bt\x02M\x81ller Stra\xe1e\n\x1bd\x03' > "$work/codepages.escpos"
check_true "the code page receipt prints" "$root/vprinter" print --no-build "$work/codepages.escpos" --emulation ESCPOS --out "$work/cp"
check "PC437 line" "SeñorGarcía" "$(ocr_band "$work/cp/paper.pbm" 1 spa "$work/cp1")"
check "WPC1252 line" "Cafécrème" "$(ocr_band "$work/cp/paper.pbm" 2 fra "$work/cp2")"
check "PC850 line" "MüllerStraße" "$(ocr_band "$work/cp/paper.pbm" 3 deu "$work/cp3")"
finish
