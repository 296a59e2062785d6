# The sandbox works for an ordinary user too (through a user namespace). Run on the machine itself.
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tests/sandbox/lib.sh"

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
  if ! "${as_user[@]}" test -x "$here/vprinter" -a -r "$VPRINTER_BUILD_DIR/image/root/engine_cmd"; then
    echo "skipped: the source tree is not readable by an ordinary user here"
    finish
    exit 0
  fi
fi
out=$(env -u HOME TMPDIR=/var/tmp "${as_user[@]}" "$here/vprinter" run --no-build bash "$here/tests/sandbox/sandbox_isolation.sh" 2>&1)
echo "$out" | tail -5
check "isolation checks pass as an ordinary user" "0 failed" "$(echo "$out" | tail -1 | grep -o '0 failed')"
finish
