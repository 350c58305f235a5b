# Counting checks for the project's check scripts (sourced): check runs a
# command and counts it passed or failed; report prints the closing line
# "NAME: N passed, N failed" and fails when anything did.
passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() {  # check DESCRIPTION COMMAND...: passes when the command succeeds
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
eventually() {  # eventually COMMAND...: succeeds once the command does, within 5 s
  local _
  for _ in $(seq 50); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
report() {  # report NAME
  echo "$1: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}
