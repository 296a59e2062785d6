# ./vprinter update as a user runs it: a good archive is installed (the printer restarts on it), a
# bad one is refused with its reason. Runs outside the virtual printer.
. "$TESTS_DIR/sandbox/lib.sh"
root=$(cd "$TESTS_DIR/.." && pwd)
work=$(mktemp -d /tmp/vprinter_update.XXXXXX)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/tree/home"
echo "installed by vprinter update" > "$work/tree/home/update_note.txt"
tar -C "$work/tree" -czf "$work/good.tgz" home/update_note.txt
out=$("$root/vprinter" update --no-build "$work/good.tgz" --out "$work/good-out" 2>/dev/null)
check "good archive: exit status" 0 $?
check "good archive: verdict" "installed: the printer restarted on the new files" "$out"
check_true "good archive: logs handed back" test -s "$work/good-out/logs/reboot.log"

ln -s /etc/shadow "$work/tree/shadow"
tar -C "$work/tree" -czf "$work/bad.tgz" shadow
out=$("$root/vprinter" update --no-build "$work/bad.tgz" --out "$work/bad-out" 2>/dev/null)
check "bad archive: exit status" 1 $?
check "bad archive: verdict" "not installed: archive refused: the absolute symbolic link shadow -> /etc/shadow" "$out"
finish
