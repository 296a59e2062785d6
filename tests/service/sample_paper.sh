# The service-language sample printed the way a user prints it (`./vprinter print ...
# --emulation VELTRA`): the identity lines on the simulated paper, read back by tesseract.
# Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
out=$(mktemp -d /tmp/veltra_sample_paper.XXXXXX)
trap 'rm -rf "$out"' EXIT

check_true "the identity sample prints" "$root/vprinter" print --no-build "$root/samples/identity.veltra" \
  --emulation VELTRA --out "$out"
tesseract "$out/paper.png" "$out/ocr" >/dev/null 2>&1
# The values of the device image's key files (the serial number's digits are left out: OCR takes
# its zeros for nines now and then).
for word in KVX8 Telmaron 2024-05-17 01.05.00.00; do
  check_true "tesseract reads $word on the paper" grep -q -F "$word" "$out/ocr.txt"
done
finish
