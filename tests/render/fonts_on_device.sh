# The font rules of the device image are the ones fontconfig reads on the printer.
. "$TESTS_DIR/sandbox/lib.sh"

check_true "rules installed at /etc/fonts/local.conf" test -f /etc/fonts/local.conf
match() { fc-match -f '%{file}' "$1"; }
check "OCR B Std" /usr/share/fonts/opentype/ocr-b/OCRB.otf "$(match 'OCR B Std')"
check "OCRA" /usr/share/fonts/truetype/ocr-a/OCRA.ttf "$(match OCRA)"
check "simhei" /usr/share/fonts/truetype/wqy/wqy-zenhei.ttc "$(match simhei)"
check "simsun" /usr/share/fonts/truetype/arphic/uming.ttc "$(match simsun)"
check "Atrian 3 bold" /usr/share/fonts/truetype/liberation/LiberationSansNarrow-Bold.ttf "$(match 'Atrian 3:bold')"
check "Helvetica" /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf "$(match Helvetica)"
check "unifont" /usr/share/fonts/opentype/unifont/unifont.otf "$(match unifont)"
check "Liberation Mono" /usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf "$(match 'Liberation Mono')"
finish
