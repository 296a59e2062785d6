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

check_true "the sample prints" "$root/vprinter" print --no-build "$root/samples/receipt.escpos" --emulation ESCPOS --out "$work/out"
check_true "escpos_interp rendered it" grep -q "escpos" <<<"$(ls "$work/out/logs" 2>/dev/null) $(cat "$work/out/logs/"*.log 2>/dev/null | head -c 100000)"

convert "$work/out/paper.png" -bordercolor white -border 20 "$work/paper.png"
tesseract "$work/paper.png" "$work/eng" >/dev/null 2>&1
for word in CORNER BAKERY Springfield Croissant Sourdough Cappuccino Subtotal TOTAL 23.60 Thank visit; do
  check_true "tesseract reads $word on the paper" grep -q -w -- "$word" "$work/eng.txt"
done

# The Chinese line: where the reference rendering has it (the 19th line of text), read with chi_sim.
"$ESCPOS_RENDER" "$root/samples/receipt.escpos" "$work/ref.pbm" > /dev/null
check_true "the reference renders" test -s "$work/ref.pbm"
ink_crop "$work/out/paper.pbm" "$work/paper_ink.pbm"
ink_crop "$work/ref.pbm" "$work/ref_ink.pbm"
size() { identify -format '%w %h' "$1"; }
check "the streamed paper has the size of the receipt as one page" "$(size "$work/ref_ink.pbm")" "$(size "$work/paper_ink.pbm")"
diff=$(compare -metric AE "$work/ref_ink.pbm" "$work/paper_ink.pbm" null: 2>&1 || true)
check_true "the streamed paper equals the receipt as one page ($diff dots differ)" test "${diff%% *}" -le 50 2>/dev/null

# Chinese: the line above the accented one, found in the reference by its rows of ink.
line_top=$(( $(identify -format '%h' "$work/ref_ink.pbm") - 170 ))
convert "$work/paper_ink.pbm" -crop 700x40+0+$line_top +repage -bordercolor white -border 20 "$work/chinese.png"
tesseract "$work/chinese.png" "$work/chi" -l chi_sim --psm 6 >/dev/null 2>&1
check "tesseract reads the Chinese line" "谢谢光临" "$(tr -d ' \n' < "$work/chi.txt" | grep -o '谢谢光临')"

# Three code pages on one receipt: PC437, WPC1252 and PC850, each with its own accented bytes.
printf '\x1b@\x1bt\x00Se\xa4or Garc\xa1a\n\x1bt\x10Caf\xe9 cr\xe8me\n\x1bt\x02M\x81ller Stra\xe1e\n\x1bd\x03' > "$work/codepages.escpos"
check_true "the code page receipt prints" "$root/vprinter" print --no-build "$work/codepages.escpos" --emulation ESCPOS --out "$work/cp"
convert "$work/cp/paper.png" -bordercolor white -border 20 -scale 200% "$work/cp.png"
tesseract "$work/cp.png" "$work/cp" >/dev/null 2>&1
for word in Señor García Café crème Müller Straße; do
  check_true "tesseract reads $word (code pages)" grep -q -- "$word" "$work/cp.txt"
done
finish
