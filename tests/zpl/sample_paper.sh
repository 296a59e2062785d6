# The shipping-label sample printed the way a user prints it (`./vprinter print`): every barcode
# on the simulated paper decodes to what was sent. Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
out=$(mktemp -d /tmp/sample_paper.XXXXXX)
trap 'rm -rf "$out"' EXIT

check_true "the sample prints" "$root/vprinter" print --no-build "$root/samples/shipping_label.zpl" --out "$out"
rows=$(head -2 "$out/paper.pbm" | tail -1 | cut -d' ' -f2)
check_true "6 in of paper ($rows rows)" test "$rows" -ge 1218 -a "$rows" -le 1300

zbar=$(zbarimg -q "$out/paper.png" 2>/dev/null)
check_true "Code 128 tracking number" grep -qx "CODE-128:1Z999AA10123456784" <<<"$zbar"
check_true "Code 128 routing code" grep -qx "CODE-128:42090210" <<<"$zbar"
check_true "QR Code" grep -qx "QR-Code:https://track.example.net/1Z999AA10123456784" <<<"$zbar"
# zxing TEXT: the decoded text of the one symbol of FORMAT
zxing() { ZXingReader -format "$1" "$out/paper.png" 2>/dev/null | sed -n 's/^Text: *"\(.*\)"$/\1/p' | head -n 1; }
check "PDF417" "PO 778812 / DEPT 42 / BOX 1 OF 3 / WEIGHT 2 LB" "$(zxing PDF417)"
# The MaxiCode reader wants the symbol alone: the part of the paper around ^FO40,430.
convert "$out/paper.png" -crop 245x235+30+420 +repage "$out/maxicode.png"
maxi=$(ZXingReader -format MaxiCode "$out/maxicode.png" 2>/dev/null | sed -n 's/^Text: *"\(.*\)"$/\1/p' | head -n 1)
# What a scanner reads: the carrier message with its separators, the postal code, country and
# class of service back in their places.
check "MaxiCode" "$(printf '[)>\x1e01\x1d96152382802\x1d840\x1d001\x1d1Z00004951\x1dUPSN\x1d06X610\x1d159\x1d1234567\x1d1/1\x1d\x1dY\x1d634 ALPHA DR\x1dPITTSBURGH\x1dPA\x1e\x04')" "$maxi"
finish
