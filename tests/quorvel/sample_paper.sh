# The line-printer report sample printed the way a user prints it (`./vprinter print ...
# --emulation QUORVEL`): two pages with the logo, text at several pitches and double size read
# back by tesseract, and the Code 128 barcode decoded. Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
out=$(mktemp -d /tmp/quorvel_sample_paper.XXXXXX)
trap 'rm -rf "$out"' EXIT

check_true "the report prints" "$root/vprinter" print --no-build "$root/samples/report.quorvel" \
  --emulation QUORVEL --out "$out"
rows=$(head -2 "$out/paper.pbm" | tail -1 | cut -d' ' -f2)
check_true "both pages on the paper ($rows rows)" test "${rows:-0}" -ge 800 -a "${rows:-0}" -le 1200
check "paper width" 1728 "$(head -2 "$out/paper.pbm" | tail -1 | cut -d' ' -f1)"

check "the barcode" "CODE-128:RPT-2024-Q3" "$(zbarimg -q "$out/paper.png" 2>/dev/null)"
tesseract "$out/paper.png" "$out/ocr" >/dev/null 2>&1
for word in QUARTERLY REPORT Region Coffee Cocoa condensed Fifteen TOTAL PAGE NOTES delivery manager; do
  check_true "tesseract reads $word on the paper" grep -q -w "$word" "$out/ocr.txt"
done
finish
