# ./vprinter selftest as a user runs it: the configuration page on paper.png, readable. Runs outside
# the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
out=$(mktemp -d /tmp/vprinter_selftest.XXXXXX)
trap 'rm -rf "$out"' EXIT

summary=$("$root/vprinter" selftest --no-build --out "$out" 2>/dev/null)
check "exit status" 0 $?
check_true "summary ($summary)" grep -q "^configuration page: [0-9]* rows" <<<"$summary"
check_true "paper.png and logs" test -s "$out/paper.png" -a -d "$out/logs"
convert "$out/paper.pbm" -resize 200% -bordercolor white -border 40 "$out/big.png"
tesseract "$out/big.png" "$out/ocr" > /dev/null 2>&1
check_true "tesseract reads the model" grep -qF "Model: KVX8" "$out/ocr.txt"
check_true "and the serial number" grep -qF "Serial number: 10000001" "$out/ocr.txt"
finish
