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

# eventually CMD...: until CMD succeeds, looking again every 50 ms; after 30 s (the machine may be
# busy) its last status. For the checks that wait for something to happen instead of a fixed pause.
eventually() {
  local i
  for i in $(seq 600); do
    "$@" 2>/dev/null && return 0
    sleep 0.05
  done
  "$@"
}

# hex FILE: the bytes of FILE as space-separated hex
hex() { od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
