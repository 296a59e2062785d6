# The README's main command: `./vprinter print` boots the virtual printer, writes the job to the
# USB gadget and hands back the paper. Run on the machine (it starts its own sandbox).
. "$(dirname "$0")/../sandbox/lib.sh"
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d "${TMPDIR:-/tmp}/print_test.XXXXXX")
trap 'rm -rf "$out"' EXIT

"$root/vprinter" print --no-build "$root/samples/shipping_label.zpl" --out "$out/label" > "$out/stdout" 2> "$out/stderr"
rc=$?
check "exit status" 0 "$rc"
[ "$rc" = 0 ] || tail -20 "$out/stderr"
check_true "a one-line summary: $(cat "$out/stdout")" grep -qE '^printed [1-9][0-9]* rows, [0-9]+\.[0-9]{2} in of paper, in [0-9]+\.[0-9] s$' "$out/stdout"
check "paper.pbm is the burned paper, as wide as the head" "P4 1728" "$(head -c 7 "$out/label/paper.pbm" | tr '\n' ' ')"
check_true "profile.bin holds the blocks" test -s "$out/label/profile.bin"
check_true "the logs come along" test -s "$out/label/logs/calls.log"
tesseract "$out/label/paper.png" "$out/ocr" > /dev/null 2>&1
for word in SHIP HARBOUR STORES Harbour Road 90210 TRACKING; do
  check_true "tesseract reads $word on paper.png" grep -qw "$word" "$out/ocr.txt"
done

# A job that prints nothing: non-zero and a clear message.
printf 'no label in here\n' > "$out/nothing.zpl"
VPRINTER_PRINT_WAIT=4 "$root/vprinter" print --no-build "$out/nothing.zpl" --out "$out/nothing" > /dev/null 2> "$out/stderr2"
check "nothing printed: exit status" 1 "$?"
check_true "nothing printed: the message says so" grep -q "nothing printed" "$out/stderr2"

finish
