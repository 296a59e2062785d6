# Shared helpers for the tests that run inside the virtual printer.
passed=0
failed=0

# check NAME EXPECTED ACTUAL
check() {
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}

# check_true NAME COMMAND...
check_true() {
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $name"; fi
}

# hex FILE: the bytes of FILE as space-separated hex
hex() { od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
